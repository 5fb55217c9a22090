"""Faults through the real programs in a terminal (tmux): a full disk, stop
signals during a job, inputs that change under the program, hostile names
and hostile headers. Whatever happens, the user's files stay as they were and
no unfinished output is left behind."""

import hashlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

RIP_PROMPT = "Wave file to process?"
LEFT_PROMPT = "Left channel Wave file?"
RIGHT_PROMPT = "Right channel Wave file?"
OUTPUT_PROMPT = "Output Wave file?"
READING = "Reading input file"
FINAL_LINE = "press any key to quit"
NOT_FOUND = "File not found."
WAIT = 20
# A job on this many bytes of sample data runs long enough to be caught
# while it writes.
BIG_DATA_BYTES = 400 * 1024 * 1024


# WAV bytes.

def wave_header(data_size, channels=2, bits=16, rate=44100, tag=1, byte_rate=None, block_align=None,
                channel_field=None):
    """Returns a canonical 44-byte header with any field set."""
    width = (bits + 7) // 8
    align = channels * width if block_align is None else block_align
    rate_bytes = rate * align if byte_rate is None else byte_rate
    field = channels if channel_field is None else channel_field
    return (b"RIFF" + struct.pack("<I", (data_size + 36) & 0xFFFFFFFF) + b"WAVEfmt "
            + struct.pack("<IHHIIHH", 16, tag, field, rate, rate_bytes & 0xFFFFFFFF, align & 0xFFFF, bits)
            + b"data" + struct.pack("<I", data_size))


def wave_file(samples, **fields):
    return wave_header(len(samples), **fields) + samples


def pattern(count, seed=1):
    """Returns `count` bytes in which every position is told from its
    neighbours, so a misplaced byte shows."""
    return bytes((seed + i * 7 + (i >> 8)) & 0xFF for i in range(count))


def split_samples(samples, width):
    frames = len(samples) // (2 * width)
    left = b"".join(samples[2 * f * width:(2 * f + 1) * width] for f in range(frames))
    right = b"".join(samples[(2 * f + 1) * width:(2 * f + 2) * width] for f in range(frames))
    return left, right


def interleave(left, right, width):
    longer = max(len(left), len(right))
    left = left.ljust(longer, b"\0")
    right = right.ljust(longer, b"\0")
    return b"".join(left[i:i + width] + right[i:i + width] for i in range(0, longer, width))


def chunks(data):
    """Returns {chunk id: (offset of its body, declared size)} of a RIFF file,
    or of an RF64 or BW64 file, whose "data" size 0xFFFFFFFF stands for the
    64-bit size in its "ds64" chunk."""
    found = {}
    ds64_data_size = None
    if data[:4] in (b"RF64", b"BW64") and data[12:16] == b"ds64":
        ds64_data_size = struct.unpack("<Q", data[28:36])[0]
    position = 12
    while position + 8 <= len(data):
        ident = data[position:position + 4]
        size = struct.unpack("<I", data[position + 4:position + 8])[0]
        if ident == b"data" and size == 0xFFFFFFFF and ds64_data_size is not None:
            size = ds64_data_size
        found.setdefault(ident, (position + 8, size))
        position += 8 + size + (size & 1)
    return found


def data_of(data):
    offset, size = chunks(data)[b"data"]
    return data[offset:offset + size]


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def sparse_wave(path, data_bytes, channels):
    """Writes a WAV file of `data_bytes` silent sample bytes that takes
    almost no disk space."""
    with open(path, "wb") as f:
        f.write(wave_header(data_bytes, channels=channels))
        f.truncate(44 + data_bytes)


# The programs.

def box_text(rows):
    """Returns the text inside the error box, lines joined by blanks."""
    inside = [m.group(1).strip() for r in rows for m in [re.search("│(.*)│", r)] if m]
    return " ".join(t for t in inside if t)


class Run:
    """One program in tmux under a shell that reports its exit status."""

    def __init__(self, case, name, cwd, limit_kib=None, wrap=None, core_dump=True):
        argv = [td.program(name)] if wrap is None else [*wrap, td.program(name)]
        command = td.shell_around(argv)
        if limit_kib is not None:
            command = f"ulimit -f {limit_kib}; " + command
        if not core_dump:
            command = "ulimit -c 0; " + command
        self.terminal = td.TmuxTerminal(command, cwd=cwd)
        case.addCleanup(self.terminal.close)
        self.case = case

    def answer(self, prompt, text):
        self.terminal.wait_for_text(prompt, WAIT)
        self.type_answer(text)

    def type_answer(self, text):
        if isinstance(text, bytes):
            self.send_bytes(text)
        else:
            self.terminal.send_text(text)
        self.terminal.send_keys("Enter")

    def send_bytes(self, raw):
        """Types raw bytes, invalid UTF-8 included."""
        subprocess.run(["tmux", "-L", self.terminal.socket, "send-keys", "-t", "main", "-H",
                        *(f"{b:02x}" for b in raw)], check=True, env=td.base_environment(), timeout=10)

    def error_box(self):
        """Waits for the error box and returns its text; fails at once when
        the program ends instead."""
        rows = self.terminal.wait_for(lambda r: td.has_whole_box(r) or not self.terminal.child_pids(),
                                      "an error box", WAIT)
        if not any("ERROR" in x for x in rows):
            self.case.fail("the program ended without an error box\n" + self.terminal.screen_dump())
        return box_text(rows)

    def close_box(self):
        self.terminal.send_keys("Enter")
        self.terminal.wait_for(lambda r: not any("ERROR" in x for x in r), "the box to close", WAIT)

    def finish(self):
        """Presses the final key and returns the exit status."""
        self.terminal.wait_for_text(FINAL_LINE, WAIT)
        self.terminal.send_keys("q")
        return self.status()

    def status(self, timeout=WAIT):
        _, status = self.terminal.wait_for_after_line(timeout)
        return status

    def program_pid(self):
        children = self.terminal.child_pids()
        self.case.assertEqual(len(children), 1, self.terminal.screen_dump())
        return children[0]

    def assert_terminal_restored(self):
        flags = self.terminal.flags()
        self.case.assertFalse(flags["alternate_on"], "still on the alternate screen")
        self.case.assertTrue(flags["cursor_flag"], "cursor left hidden")
        rows = self.terminal.rows()
        self.case.assertEqual(rows[0], "before", self.terminal.screen_dump())


class FolderCase(td.FolderTestCase):
    folder_prefix = "reliability-test-"

    def names(self, folder=None):
        return sorted(os.listdir(folder or self.folder))

    def write(self, name, data, folder=None):
        path = (folder or self.folder) / name
        path.write_bytes(data)
        return path

    def held_run(self, name, **options):
        """Starts `name` held at its first write of samples (see hold_mid_job)."""
        self.hold = td.WriteHold(self)
        return Run(self, name, self.folder, wrap=self.hold.wrap(), **options)

    def hold_mid_job(self, run):
        """Stops the program, started by held_run, while it writes (a temporary
        output exists and no "Done" shows) and returns its pid; it goes on
        when continued."""
        self.hold.wait_held(1, WAIT, run.terminal.screen_dump)
        pid = run.program_pid()
        os.kill(pid, signal.SIGSTOP)
        self.addCleanup(lambda: _quiet_kill(pid, signal.SIGCONT))
        self.hold.release(1)
        rows = run.terminal.rows()
        self.assertTrue(any(READING in r for r in rows), run.terminal.screen_dump())
        self.assertFalse(any(r.strip() == "Done" for r in rows), run.terminal.screen_dump())
        self.assertTrue(any(n.startswith(".") for n in self.names()), "no temporary output")
        return pid


# A full disk.

class FullDisk(FolderCase):
    def mount_small_tmpfs(self, kib):
        point = self.folder / "disk"
        point.mkdir()
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={kib}k", "tmpfs", str(point)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest(f"cannot mount a tmpfs here ({result.stderr.strip()}); the file-size limit cases run instead")
        self.addCleanup(subprocess.run, ["umount", "-l", str(point)], capture_output=True)
        return point

    def check_split_refused(self, run, folder, before):
        run.answer(RIP_PROMPT, "take.wav")
        message = run.error_box()
        self.assertIn("Cannot", message)
        self.assertIn("channel.wav", message)
        run.close_box()
        self.assertEqual(run.finish(), 1)
        self.assertEqual(self.names(folder), sorted(before))
        for name, hexdigest in before.items():
            self.assertEqual(digest(folder / name), hexdigest, name)

    def split_setup(self, folder, data_bytes):
        self.write("take.wav", wave_file(pattern(data_bytes)), folder)
        self.write("take left channel.wav", b"the user's own left file", folder)
        return {n: digest(folder / n) for n in ("take.wav", "take left channel.wav")}

    def join_setup(self, folder, data_bytes):
        self.write("l.wav", wave_file(pattern(data_bytes, 3), channels=1), folder)
        self.write("r.wav", wave_file(pattern(data_bytes, 5), channels=1), folder)
        return {n: digest(folder / n) for n in ("l.wav", "r.wav")}

    def check_join_refused(self, run, folder, before):
        run.answer(LEFT_PROMPT, "l.wav")
        run.answer(RIGHT_PROMPT, "r.wav")
        run.answer(OUTPUT_PROMPT, "l.wav")  # the output replaces an input
        message = run.error_box()
        self.assertIn("Cannot", message)
        self.assertIn("l.wav", message)
        run.close_box()
        self.assertEqual(run.finish(), 1)
        self.assertEqual(self.names(folder), sorted(before))
        for name, hexdigest in before.items():
            self.assertEqual(digest(folder / name), hexdigest, name)

    def test_split_on_full_tmpfs_keeps_existing_output(self):
        disk = self.mount_small_tmpfs(1024)
        before = self.split_setup(disk, 600 * 1024)
        run = Run(self, "stereorip", disk)
        self.check_split_refused(run, disk, before)

    def test_join_on_full_tmpfs_keeps_the_input_it_would_replace(self):
        disk = self.mount_small_tmpfs(1024)
        before = self.join_setup(disk, 300 * 1024)
        run = Run(self, "stereoknit", disk)
        self.check_join_refused(run, disk, before)

    def test_split_past_file_size_limit_fails_cleanly(self):
        # The limit strikes on write, after the space was reserved.
        before = self.split_setup(self.folder, 4 * 1024 * 1024)
        run = Run(self, "stereorip", self.folder, limit_kib=1024)
        self.check_split_refused(run, self.folder, before)

    def test_join_past_file_size_limit_fails_cleanly(self):
        before = self.join_setup(self.folder, 2 * 1024 * 1024)
        run = Run(self, "stereoknit", self.folder, limit_kib=1024)
        self.check_join_refused(run, self.folder, before)


# Stop signals during a job.

class Interruption(FolderCase):
    def start_big_split(self, **options):
        sparse_wave(self.folder / "big.wav", BIG_DATA_BYTES, 2)
        self.write("big left channel.wav", b"kept as it was")
        before = {n: digest(self.folder / n) for n in ("big.wav", "big left channel.wav")}
        run = self.held_run("stereorip", **options)
        run.answer(RIP_PROMPT, "big.wav")
        return run, before

    def start_big_join(self, **options):
        sparse_wave(self.folder / "l.wav", BIG_DATA_BYTES // 2, 1)
        sparse_wave(self.folder / "r.wav", BIG_DATA_BYTES // 2, 1)
        self.write("out.wav", b"an older join")
        before = {n: digest(self.folder / n) for n in ("l.wav", "r.wav", "out.wav")}
        run = self.held_run("stereoknit", **options)
        run.answer(LEFT_PROMPT, "l.wav")
        run.answer(RIGHT_PROMPT, "r.wav")
        run.answer(OUTPUT_PROMPT, "out.wav")
        return run, before

    def check_untouched(self, before):
        self.assertEqual(self.names(), sorted(before), "an output or temporary file was left")
        for name, hexdigest in before.items():
            self.assertEqual(digest(self.folder / name), hexdigest, name)

    def test_stop_signals_during_split_and_join_remove_unfinished_outputs(self):
        # Every signal that would end the program stops it the same way.
        signals = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM,
                   signal.SIGVTALRM, signal.SIGXCPU, signal.SIGPWR)
        for starter in (self.start_big_split, self.start_big_join):
            for signum in signals:
                with self.subTest(job=starter.__name__, signal=signum.name):
                    for name in self.names():
                        os.unlink(self.folder / name)
                    run, before = starter()
                    pid = self.hold_mid_job(run)
                    os.kill(pid, signum)
                    os.kill(pid, signal.SIGCONT)
                    # Promptly: well before the job could have run to its end.
                    self.assertEqual(run.status(timeout=5), 128 + signum)
                    run.assert_terminal_restored()
                    self.check_untouched(before)
                    run.terminal.close()

    def test_crash_signals_during_a_job_remove_unfinished_outputs_and_restore_the_terminal(self):
        for starter, signum in ((self.start_big_split, signal.SIGSEGV), (self.start_big_join, signal.SIGABRT)):
            with self.subTest(job=starter.__name__, signal=signum.name):
                for name in self.names():
                    os.unlink(self.folder / name)
                run, before = starter(core_dump=False)
                pid = self.hold_mid_job(run)
                os.kill(pid, signum)
                os.kill(pid, signal.SIGCONT)
                # The shell's status for a program a signal ended.
                self.assertEqual(run.status(timeout=5), 128 + signum)
                run.assert_terminal_restored()
                self.check_untouched(before)
                run.terminal.close()

    def test_sigkill_leaves_only_a_temporary_file_and_a_later_run_works(self):
        run, before = self.start_big_split()
        pid = self.hold_mid_job(run)
        os.kill(pid, signal.SIGKILL)
        self.assertTrue(td.wait_for_process_gone(pid))
        run.terminal.close()
        stale = [n for n in self.names() if n not in before]
        self.assertTrue(stale and all(n.startswith(".big ") for n in stale), stale)
        for name, hexdigest in before.items():
            self.assertEqual(digest(self.folder / name), hexdigest, name)
        stale_digests = {n: digest(self.folder / n) for n in stale}

        again = Run(self, "stereorip", self.folder)
        again.answer(RIP_PROMPT, "big.wav")
        self.assertEqual(again.finish(), 0)
        for side in ("left", "right"):
            output = self.folder / f"big {side} channel.wav"
            self.assertEqual(output.stat().st_size, 44 + BIG_DATA_BYTES // 2)
            with open(output, "rb") as f:
                self.assertEqual(f.read(44), wave_header(BIG_DATA_BYTES // 2, channels=1))
        self.assertEqual({n: digest(self.folder / n) for n in stale}, stale_digests, "the stale file was touched")


def _quiet_kill(pid, signum):
    try:
        os.kill(pid, signum)
    except OSError:
        pass


# Inputs that change under the program.

class ChangingInputs(FolderCase):
    def start_join(self, left, right):
        self.write("l.wav", wave_file(left, channels=1))
        self.write("r.wav", wave_file(right, channels=1))
        run = Run(self, "stereoknit", self.folder)
        run.answer(LEFT_PROMPT, "l.wav")
        run.answer(RIGHT_PROMPT, "r.wav")
        run.terminal.wait_for_text(OUTPUT_PROMPT, WAIT)
        return run

    def test_left_input_deleted_before_the_job_gives_an_error(self):
        run = self.start_join(pattern(4000), pattern(4000, 9))
        os.unlink(self.folder / "l.wav")
        run.type_answer("out.wav")
        message = run.error_box()
        self.assertIn("Cannot open 'l.wav'", message)
        run.close_box()
        self.assertEqual(run.finish(), 1)
        self.assertEqual(self.names(), ["r.wav"])

    def test_left_input_shortened_before_the_job_is_zero_filled(self):
        left, right = pattern(4000), pattern(4000, 9)
        run = self.start_join(left, right)
        os.truncate(self.folder / "l.wav", 44 + 1000)
        run.type_answer("out.wav")
        self.assertEqual(run.finish(), 0)
        joined = (self.folder / "out.wav").read_bytes()
        self.assertEqual(data_of(joined), interleave(left[:1000] + bytes(3000), right, 2))

    def test_input_shortened_during_a_split_is_zero_filled(self):
        sparse_wave(self.folder / "big.wav", BIG_DATA_BYTES, 2)
        run = self.held_run("stereorip")
        run.answer(RIP_PROMPT, "big.wav")
        pid = self.hold_mid_job(run)
        os.truncate(self.folder / "big.wav", 44 + 4096)
        os.kill(pid, signal.SIGCONT)
        self.assertEqual(run.finish(), 0)
        for side in ("left", "right"):
            self.assertEqual((self.folder / f"big {side} channel.wav").stat().st_size, 44 + BIG_DATA_BYTES // 2)


# Hostile names.

class HostileNames(FolderCase):
    def test_special_files_and_overlong_names_are_refused_without_hanging(self):
        os.mkfifo(self.folder / "pipe.wav")
        (self.folder / "folder.wav").mkdir()
        cases = ["pipe.wav", "/dev/null", "folder.wav", "n" * 10000, "/dev/zero"]
        for program, prompt in (("stereorip", RIP_PROMPT), ("stereoknit", LEFT_PROMPT)):
            run = Run(self, program, self.folder)
            for name in cases:
                with self.subTest(program=program, name=name[:20]):
                    run.answer(prompt, name)
                    self.assertIn(NOT_FOUND, run.error_box())
                    run.close_box()
            run.terminal.send_keys("C-c")
            self.assertEqual(run.status(), 130)

    def test_odd_names_are_used_exactly_as_typed(self):
        samples = pattern(400)
        left, right = split_samples(samples, 2)
        names = [b"it's \"a\" take.wav", b" padded.wav ", b"back\\slash\\.wav", b"bad \xff\xfe utf8.wav",
                 b"cut \xe2\x82 \xe0\x80\xaf short.wav"]
        for raw in names:
            with self.subTest(name=raw):
                path = os.path.join(os.fsencode(self.folder), raw)
                with open(path, "wb") as f:
                    f.write(wave_file(samples))
                if not raw.isascii():
                    # Decoys: the name with its invalid bytes dropped or
                    # replaced must not be taken for it.
                    for decoy in (b"bad  utf8.wav", "bad \ufffd\ufffd utf8.wav".encode()):
                        with open(os.path.join(os.fsencode(self.folder), decoy), "wb") as f:
                            f.write(wave_file(pattern(400, 77)))
                run = Run(self, "stereorip", self.folder)
                run.terminal.wait_for_text(RIP_PROMPT, WAIT)
                # Enter in the same write as the name: a byte of no UTF-8
                # sequence must not take the bytes after it, Enter included.
                run.send_bytes(raw + b"\r")
                self.assertEqual(run.finish(), 0)
                stem = raw[:-4]
                folder = os.fsencode(self.folder)
                with open(os.path.join(folder, stem + b" left channel.wav"), "rb") as f:
                    self.assertEqual(data_of(f.read()), left)
                with open(os.path.join(folder, stem + b" right channel.wav"), "rb") as f:
                    self.assertEqual(data_of(f.read()), right)

    def test_join_output_name_with_quotes_and_blanks_is_used_exactly(self):
        self.write("l.wav", wave_file(pattern(100), channels=1))
        self.write("r.wav", wave_file(pattern(100, 2), channels=1))
        output = " 'mix' \"final\"\\ "
        run = Run(self, "stereoknit", self.folder)
        run.answer(LEFT_PROMPT, "l.wav")
        run.answer(RIGHT_PROMPT, "r.wav")
        run.answer(OUTPUT_PROMPT, output)
        self.assertEqual(run.finish(), 0)
        self.assertEqual(self.names(), sorted([output, "l.wav", "r.wav"]))
        self.assertEqual(data_of((self.folder / output).read_bytes()), interleave(pattern(100), pattern(100, 2), 2))


# Hostile headers.

class HostileHeaders(FolderCase):
    def split(self, data):
        """Splits `data` as take.wav; returns the two outputs' bytes."""
        self.write("take.wav", data)
        run = Run(self, "stereorip", self.folder)
        run.answer(RIP_PROMPT, "take.wav")
        self.assertEqual(run.finish(), 0, run.terminal.screen_dump())
        return [(self.folder / f"take {side} channel.wav").read_bytes() for side in ("left", "right")]

    def refused(self, data, message):
        self.write("take.wav", data)
        run = Run(self, "stereorip", self.folder)
        run.answer(RIP_PROMPT, "take.wav")
        self.assertIn(message, run.error_box())
        run.close_box()
        run.terminal.send_keys("C-c")
        self.assertEqual(run.status(), 130)
        self.assertEqual(self.names(), ["take.wav"])

    def test_data_size_past_the_end_is_zero_filled(self):
        samples = pattern(1000)
        left, right = split_samples(samples + bytes(3000), 2)
        outputs = self.split(wave_header(4000) + samples)
        self.assertEqual([data_of(o) for o in outputs], [left, right])
        self.assertEqual(outputs[0][:44], wave_header(2000, channels=1))

    def test_unknown_data_size_runs_to_the_end_of_the_file(self):
        samples = pattern(1000)
        left, right = split_samples(samples, 2)
        outputs = self.split(wave_header(0xFFFFFFFF - 36)[:40] + struct.pack("<I", 0xFFFFFFFF) + samples)
        self.assertEqual([data_of(o) for o in outputs], [left, right])
        self.assertEqual(outputs[1][:44], wave_header(500, channels=1))

    def test_extreme_rate_byte_rate_and_block_align_are_carried_halved(self):
        samples = pattern(64)
        outputs = self.split(wave_file(samples, rate=0x7FFFFFFF, byte_rate=0xFFFFFFFF, block_align=0xFFFF))
        rate, byte_rate, align = struct.unpack("<IIH", outputs[0][24:34])
        # Halved to the nearest integer, a half to the even one.
        self.assertEqual((rate, byte_rate, align), (0x7FFFFFFF, 0x80000000, 0x8000))
        self.assertEqual(data_of(outputs[0]), split_samples(samples, 2)[0])

    def test_sixty_four_bit_samples_split_and_sixty_five_are_refused(self):
        samples = pattern(8 * 2 * 10)
        outputs = self.split(wave_file(samples, bits=64))
        self.assertEqual([data_of(o) for o in outputs], list(split_samples(samples, 8)))
        for name in self.names():
            os.unlink(self.folder / name)
        self.refused(wave_file(pattern(9 * 2 * 4), bits=65), "This Wave file has an unsupported bit depth")

    def test_channel_field_low_byte_decides(self):
        self.refused(wave_file(pattern(255 * 2 * 2), channels=255), "This is not a stereo Wave file")
        for name in self.names():
            os.unlink(self.folder / name)
        samples = pattern(40)
        outputs = self.split(wave_file(samples, channels=2, channel_field=0xFF02))
        self.assertEqual([data_of(o) for o in outputs], list(split_samples(samples, 2)))

    def test_join_past_the_riff_size_limit_is_accepted(self):
        # Declared sizes honoured as zero fill, so the files stay tiny; the
        # 4 GiB output is not written: the run ends at the output prompt.
        self.write("l.wav", wave_header(2147483630, channels=1) + pattern(100))
        self.write("r.wav", wave_file(pattern(100), channels=1))
        run = Run(self, "stereoknit", self.folder)
        run.answer(LEFT_PROMPT, "l.wav")
        run.answer(RIGHT_PROMPT, "r.wav")
        run.terminal.wait_for_text(OUTPUT_PROMPT, WAIT)
        run.terminal.send_keys("C-c")
        self.assertEqual(run.status(), 130)
        self.assertEqual(self.names(), ["l.wav", "r.wav"])


# Files other programs wrote.

class OtherWriters(FolderCase):
    def round_trip(self, stereo_name):
        """Splits `stereo_name`, joins the halves back and checks every
        sample byte against the file's own data chunk."""
        original = (self.folder / stereo_name).read_bytes()
        fmt_offset, _ = chunks(original)[b"fmt "]
        bits = struct.unpack("<H", original[fmt_offset + 14:fmt_offset + 16])[0]
        width = (bits + 7) // 8
        samples = data_of(original)
        left, right = split_samples(samples, width)

        run = Run(self, "stereorip", self.folder)
        run.answer(RIP_PROMPT, stereo_name)
        self.assertEqual(run.finish(), 0, run.terminal.screen_dump())
        stem = stereo_name[:-4]
        left_bytes = (self.folder / f"{stem} left channel.wav").read_bytes()
        right_bytes = (self.folder / f"{stem} right channel.wav").read_bytes()
        self.assertEqual(data_of(left_bytes), left)
        self.assertEqual(data_of(right_bytes), right)

        run = Run(self, "stereoknit", self.folder)
        run.answer(LEFT_PROMPT, f"{stem} left channel.wav")
        run.answer(RIGHT_PROMPT, f"{stem} right channel.wav")
        run.answer(OUTPUT_PROMPT, "joined.wav")
        self.assertEqual(run.finish(), 0, run.terminal.screen_dump())
        self.assertEqual(data_of((self.folder / "joined.wav").read_bytes()), samples)

    def generate(self, argv, name):
        result = subprocess.run(argv, cwd=self.folder, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return name

    def test_sox_files(self):
        if shutil.which("sox") is None:
            self.skipTest("sox is not installed")
        for encoding, bits in (("signed-integer", 16), ("signed-integer", 24), ("floating-point", 32),
                               ("floating-point", 64), ("unsigned-integer", 8)):
            with self.subTest(encoding=encoding, bits=bits):
                for name in self.names():
                    os.unlink(self.folder / name)
                name = self.generate(["sox", "-n", "-r", "48000", "-c", "2", "-e", encoding, "-b", str(bits),
                                      "sox.wav", "synth", "0.05", "sine", "440", "sine", "660"], "sox.wav")
                self.round_trip(name)

    def test_ffmpeg_files(self):
        if shutil.which("ffmpeg") is None:
            self.skipTest("ffmpeg is not installed")
        for codec in ("pcm_s16le", "pcm_s24le", "pcm_f32le", "pcm_u8", "pcm_f64le"):
            with self.subTest(codec=codec):
                for name in self.names():
                    os.unlink(self.folder / name)
                # ffmpeg adds a LIST chunk; 24-bit and float stereo come extensible.
                name = self.generate(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                      "sine=frequency=440:duration=0.05", "-ac", "2", "-c:a", codec,
                                      "ffmpeg.wav"], "ffmpeg.wav")
                self.round_trip(name)

    def test_ffmpeg_rf64_files(self):
        if shutil.which("ffmpeg") is None:
            self.skipTest("ffmpeg is not installed")
        for codec in ("pcm_s16le", "pcm_s24le"):
            with self.subTest(codec=codec):
                for name in self.names():
                    os.unlink(self.folder / name)
                # RF64 from the start, with "bext" and "LIST" before the data.
                name = self.generate(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                      "sine=frequency=440:duration=0.05", "-ac", "2", "-c:a", codec,
                                      "-rf64", "always", "-write_bext", "1", "-metadata", "title=Take",
                                      "ffmpeg.wav"], "ffmpeg.wav")
                self.assertEqual((self.folder / name).read_bytes()[:4], b"RF64")
                self.round_trip(name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
