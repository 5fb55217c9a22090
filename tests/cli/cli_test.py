"""Real runs of stereorip and stereoknit from the command line, without a
terminal (standard input from /dev/null, output captured): batches of good
and bad files, existing outputs with and without --force, -o, --pairs, dry
runs, usage errors, a stop by SIGINT, and the progress line on a
pseudo-terminal. The programs' folder comes from STEREOTOOLS_BIN."""

import fcntl
import os
import pty
import re
import select
import shlex
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "pty"))
import termdrive as td  # noqa: E402

RUN_TIMEOUT = 60
COMPLETION = Path(__file__).resolve().parents[2] / "doc" / "bash-completion" / "stereotools"


def samples(count, seed=1):
    """`count` bytes that differ from their neighbours and from other seeds."""
    return bytes((seed * 7 + i * 13 + (i >> 8)) & 0xFF for i in range(count))


def split_expected(rate, bits, interleaved, format_tag=1):
    """The two mono files a stereo file of these samples splits into."""
    width = bits // 8
    left = b"".join(interleaved[i:i + width] for i in range(0, len(interleaved), 2 * width))
    right = b"".join(interleaved[i + width:i + 2 * width] for i in range(0, len(interleaved), 2 * width))
    return td.wave_bytes(1, rate, bits, left, format_tag), td.wave_bytes(1, rate, bits, right, format_tag)


def join_expected(rate, bits, left, right):
    """The stereo file two mono files of equal length join into."""
    width = bits // 8
    frames = b"".join(left[i:i + width] + right[i:i + width] for i in range(0, len(left), width))
    return td.wave_bytes(2, rate, bits, frames)


def wrote_two(program, stem):
    return f"{program}: wrote '{stem} left channel.wav' and '{stem} right channel.wav'"


def usage_hint(program):
    return f"Try '{program} --help' for more information."


class Folder(td.FolderTestCase):
    """A test with a private folder to run the programs in."""

    folder_prefix = "cli-test-"

    def stereo(self, name, rate=44100, bits=16, count=400, seed=1, format_tag=1):
        """Writes a stereo file; returns the two mono files it splits into."""
        interleaved = samples(count, seed)
        self.write(name, td.wave_bytes(2, rate, bits, interleaved, format_tag))
        return split_expected(rate, bits, interleaved, format_tag)

    def mono(self, name, rate=44100, bits=16, count=200, seed=1):
        """Writes a mono file; returns its samples."""
        data = samples(count, seed)
        self.write(name, td.wave_bytes(1, rate, bits, data))
        return data

    def run_tool(self, name, *arguments):
        return td.run_without_terminal([td.program(name), *arguments], cwd=self.folder, timeout=RUN_TIMEOUT)

    def snapshot(self):
        """Every name below the folder, with the bytes and time of each file."""
        found = {}
        for path in sorted(self.folder.rglob("*")):
            info = path.lstat()
            found[str(path.relative_to(self.folder))] = (path.read_bytes() if path.is_file() else None,
                                                          info.st_mtime_ns)
        return found

    def assert_no_hidden_files(self):
        hidden = [p.name for p in self.folder.rglob(".*")]
        self.assertEqual(hidden, [], "a temporary file was left")

    def assert_file(self, name, content):
        path = self.folder / name
        self.assertTrue(path.is_file(), f"{name} was not written")
        self.assertEqual(path.read_bytes(), content, name)


class SplitBatch(Folder):
    def test_splits_several_files_of_several_kinds(self):
        expected = {
            "a": self.stereo("a.wav", bits=16, seed=1),
            "b b": self.stereo("b b.wav", rate=96000, bits=24, count=600, seed=2),
            "c": self.stereo("c.wav", rate=48000, bits=32, count=800, seed=3, format_tag=3),
        }
        for jobs in ("1", "3"):
            with self.subTest(jobs=jobs):
                result = self.run_tool("stereorip", "-f", "-j", jobs, "a.wav", "b b.wav", "c.wav")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                lines = result.stdout.splitlines()
                if jobs == "1":
                    self.assertEqual(lines, [wrote_two("stereorip", s) for s in ("a", "b b", "c")])
                else:
                    # Jobs end in any order, but each line is printed whole.
                    self.assertEqual(sorted(lines), [wrote_two("stereorip", s) for s in ("a", "b b", "c")])
                for stem, (left, right) in expected.items():
                    self.assert_file(f"{stem} left channel.wav", left)
                    self.assert_file(f"{stem} right channel.wav", right)
                self.assert_no_hidden_files()

    def test_a_bad_file_fails_alone(self):
        good = self.stereo("good.wav", seed=1)
        also_good = self.stereo("z.wav", seed=2)
        self.mono("mono.wav")
        self.write("text.wav", b"not a wave file at all, just text" * 4)
        result = self.run_tool("stereorip", "good.wav", "mono.wav", "missing.wav", "text.wav", "z.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), [
            "stereorip: mono.wav: This is not a stereo Wave file",
            "stereorip: missing.wav: File not found. (No such file or directory)",
            "stereorip: text.wav: This is not a Wave file",
        ])
        self.assertEqual(sorted(result.stdout.splitlines()),
                         [wrote_two("stereorip", "good"), wrote_two("stereorip", "z")])
        self.assert_file("good left channel.wav", good[0])
        self.assert_file("z right channel.wav", also_good[1])
        self.assertFalse((self.folder / "mono left channel.wav").exists())
        self.assertFalse((self.folder / "text left channel.wav").exists())

    def test_an_existing_output_needs_force(self):
        left, right = self.stereo("take.wav")
        self.write("take right channel.wav", b"keep me")
        result = self.run_tool("stereorip", "take.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr,
                         "stereorip: take.wav: 'take right channel.wav' exists; use --force to replace it\n")
        self.assertFalse((self.folder / "take left channel.wav").exists(), "nothing of the input is written")
        self.assert_file("take right channel.wav", b"keep me")

        result = self.run_tool("stereorip", "--force", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_file("take left channel.wav", left)
        self.assert_file("take right channel.wav", right)

    def test_one_output_written_twice_fails_the_later_input_even_with_force(self):
        left, _ = self.stereo("take.wav")
        result = self.run_tool("stereorip", "-f", "take.wav", "./take.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [wrote_two("stereorip", "take")])
        self.assertEqual(result.stderr, "stereorip: ./take.wav: './take left channel.wav' is written by "
                                        "'take.wav' earlier in this run\n")
        self.assert_file("take left channel.wav", left)

    def test_output_folder(self):
        left, right = self.stereo("in/take.wav")
        (self.folder / "out").mkdir()
        result = self.run_tool("stereorip", "in/take.wav", "--output-dir", "out")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereorip: wrote 'out/take left channel.wav' and "
                                        "'out/take right channel.wav'\n")
        self.assert_file("out/take left channel.wav", left)
        self.assert_file("out/take right channel.wav", right)
        self.assertEqual(sorted(p.name for p in (self.folder / "in").iterdir()), ["take.wav"])

        self.write("plain", b"")
        for folder, reason in (("none", "No such file or directory"), ("plain", "Not a folder")):
            with self.subTest(folder):
                before = self.snapshot()
                result = self.run_tool("stereorip", "-f", "-o", folder, "in/take.wav")
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr, f"stereorip: {folder}: Cannot use as output folder: {reason}\n")
                self.assertEqual(self.snapshot(), before)

    def test_a_failed_write_to_standard_output_fails_the_run(self):
        left, _ = self.stereo("take.wav")
        with open("/dev/full", "w") as full:
            result = subprocess.run([str(td.program("stereorip")), "take.wav"], cwd=self.folder,
                                    stdin=subprocess.DEVNULL, stdout=full, stderr=subprocess.PIPE,
                                    env=td.base_environment(), timeout=RUN_TIMEOUT, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "stereorip: write error: No space left on device\n")
        self.assert_file("take left channel.wav", left)

    def test_keep_metadata_carries_the_chunks(self):
        interleaved = samples(400)
        info = b"INFOINAM\x06\x00\x00\x00take 1"
        listed = td.wave_bytes(2, 44100, 16, interleaved)
        # A LIST chunk between "fmt " and "data"; the RIFF size grows with it.
        listed = (listed[:4] + struct.pack("<I", len(listed) - 8 + 8 + len(info)) + listed[8:36]
                  + b"LIST" + struct.pack("<I", len(info)) + info + listed[36:])
        self.write("take.wav", listed)
        result = self.run_tool("stereorip", "--keep-metadata", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        for side in ("left", "right"):
            self.assertIn(b"LIST" + struct.pack("<I", len(info)) + info,
                          (self.folder / f"take {side} channel.wav").read_bytes())
        result = self.run_tool("stereorip", "-f", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_file("take left channel.wav", split_expected(44100, 16, interleaved)[0])

    def test_quiet_prints_only_errors(self):
        self.stereo("take.wav")
        result = self.run_tool("stereorip", "-q", "take.wav", "missing.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "stereorip: missing.wav: File not found. (No such file or directory)\n")
        self.assertTrue((self.folder / "take left channel.wav").is_file())

    def test_dry_run_reports_and_writes_nothing(self):
        self.stereo("take.wav", rate=8000, bits=16, count=4 * 16050)
        self.stereo("x.wav", rate=44100, bits=24, count=6 * 441)
        self.mono("mono.wav")
        before = self.snapshot()
        result = self.run_tool("stereorip", "-n", "take.wav", "x.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.stdout.splitlines(), [
            "stereorip: take.wav: channels 2, sample rate 8000 Hz, resolution 16 bits, length 16050 samples, "
            "duration 2.01 seconds",
            "stereorip: would write 'take left channel.wav' and 'take right channel.wav'",
            "stereorip: x.wav: channels 2, sample rate 44100 Hz, resolution 24 bits, length 441 samples, "
            "duration 0.01 seconds",
            "stereorip: would write 'x left channel.wav' and 'x right channel.wav'",
        ])
        self.assertEqual(self.snapshot(), before)

        # A dry run fails where the run would.
        self.write("x left channel.wav", b"old")
        before = self.snapshot()
        result = self.run_tool("stereorip", "--dry-run", "x.wav", "mono.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr.splitlines(), [
            "stereorip: x.wav: 'x left channel.wav' exists; use --force to replace it",
            "stereorip: mono.wav: This is not a stereo Wave file",
        ])
        self.assertEqual(self.snapshot(), before)


def interleave(channels, width):
    """The frames of the mono sample strings `channels`, all of one length."""
    return b"".join(channel[i:i + width] for i in range(0, len(channels[0]), width) for channel in channels)


def extensible_fmt(channels, rate, bits, mask=0):
    """The 40-byte body of an extensible PCM "fmt " chunk."""
    block_align = channels * bits // 8
    return (struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * block_align, block_align, bits, 22, bits, mask)
            + b"\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71")


def rf64_bytes(channels, rate, bits, data):
    """An RF64 file of `data` with an extensible "fmt ", as multitrack recorders write it."""
    fmt = extensible_fmt(channels, rate, bits)
    frames = len(data) // (channels * bits // 8)
    riff_size = 4 + (8 + 28) + (8 + len(fmt)) + (8 + len(data))
    ds64 = struct.pack("<QQQI", riff_size, len(data), frames, 0)
    return (b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + b"ds64" + struct.pack("<I", len(ds64)) + ds64
            + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + data)


def read_chunks(wave):
    """The chunks of a RIFF file, by id: {id: body}."""
    chunks = {}
    at = 12
    while at + 8 <= len(wave):
        chunk_id, size = struct.unpack_from("<4sI", wave, at)
        chunks[chunk_id.decode("latin-1")] = wave[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return chunks


def ffprobe_stream(path):
    """What ffprobe says of the channels of `path`, or None without ffprobe."""
    try:
        result = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=channels,channel_layout",
                                 "-of", "default=noprint_wrappers=1", str(path)], capture_output=True, text=True)
    except FileNotFoundError:
        return None
    return result.stdout


class ManyChannels(Folder):
    def poly(self, name, channels, bits=24, frames=300, rate=48000):
        """Writes a file of `channels` channels; returns its channels' samples."""
        width = bits // 8
        mono = [samples(frames * width, seed=c + 1) for c in range(channels)]
        self.write(name, td.wave_bytes(channels, rate, bits, interleave(mono, width)))
        return mono

    def test_splits_a_poly_file_into_numbered_files_and_joins_them_back(self):
        mono = self.poly("take.wav", 3)
        result = self.run_tool("stereorip", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        names = [f"take channel {k}.wav" for k in (1, 2, 3)]
        self.assertEqual(result.stdout, "stereorip: wrote 'take channel 1.wav', 'take channel 2.wav' and "
                                        "'take channel 3.wav'\n")
        for name, channel in zip(names, mono):
            self.assert_file(name, td.wave_bytes(1, 48000, 24, channel))

        result = self.run_tool("stereoknit", *names, "joined.wav")
        self.assertEqual((result.returncode, result.stdout), (0, "stereoknit: wrote 'joined.wav'\n"), result.stderr)
        chunks = read_chunks((self.folder / "joined.wav").read_bytes())
        self.assertEqual(chunks["fmt "], extensible_fmt(3, 48000, 24, mask=0))
        self.assertEqual(chunks["data"], interleave(mono, 3))
        probe = ffprobe_stream(self.folder / "joined.wav")
        if probe is not None:
            self.assertIn("channels=3\n", probe)

    def test_pads_the_channel_number_and_shows_every_output_in_a_dry_run(self):
        self.poly("T01.WAV", 12, bits=16, frames=4800)
        before = self.snapshot()
        result = self.run_tool("stereorip", "-n", "T01.WAV")
        self.assertEqual(result.returncode, 0, result.stderr)
        outputs = ", ".join(f"'T01 channel {k:02}.wav'" for k in range(1, 12))
        self.assertEqual(result.stdout.splitlines(), [
            "stereorip: T01.WAV: channels 12, sample rate 48000 Hz, resolution 16 bits, length 4800 samples, "
            "duration 0.10 seconds",
            f"stereorip: would write {outputs} and 'T01 channel 12.wav'",
        ])
        self.assertEqual(self.snapshot(), before)

    def test_a_sixteen_channel_rf64_recording_splits_exactly_and_joins_back(self):
        width = 3
        mono = [samples(4000 * width, seed=c + 1) for c in range(16)]
        data = interleave(mono, width)
        self.write("REC001.WAV", rf64_bytes(16, 48000, 24, data))
        result = self.run_tool("stereorip", "REC001.WAV")
        self.assertEqual(result.returncode, 0, result.stderr)
        names = [f"REC001 channel {k:02}.wav" for k in range(1, 17)]
        for name, channel in zip(names, mono):
            self.assert_file(name, td.wave_bytes(1, 48000, 24, channel))
        result = self.run_tool("stereoknit", *names, "REC001 joined.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        chunks = read_chunks((self.folder / "REC001 joined.wav").read_bytes())
        self.assertEqual(chunks["fmt "], extensible_fmt(16, 48000, 24, mask=0))
        self.assertEqual(chunks["data"], data)

    def test_a_mono_file_is_still_refused(self):
        self.mono("mono.wav")
        result = self.run_tool("stereorip", "mono.wav")
        self.assertEqual((result.returncode, result.stdout), (1, ""))
        self.assertEqual(result.stderr, "stereorip: mono.wav: This is not a stereo Wave file\n")

    def test_channels_writes_only_those_listed(self):
        mono = self.poly("take.wav", 6, bits=16)
        result = self.run_tool("stereorip", "--channels=1,3-4", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereorip: wrote 'take channel 1.wav', 'take channel 3.wav' and "
                                        "'take channel 4.wav'\n")
        self.assertEqual(sorted(p.name for p in self.folder.iterdir()),
                         ["take channel 1.wav", "take channel 3.wav", "take channel 4.wav", "take.wav"])
        self.assert_file("take channel 3.wav", td.wave_bytes(1, 48000, 16, mono[2]))

        # A stereo file keeps its names for the channel chosen.
        _, right = self.stereo("st.wav")
        result = self.run_tool("stereorip", "--channels", "2", "st.wav")
        self.assertEqual(result.stdout, "stereorip: wrote 'st right channel.wav'\n", result.stderr)
        self.assert_file("st right channel.wav", right)

    def test_a_channel_past_the_file_fails_that_input_before_anything_is_written(self):
        self.poly("four.wav", 4, bits=16)
        mono = self.poly("eight.wav", 8, bits=16)
        before = self.snapshot()
        result = self.run_tool("stereorip", "-n", "--channels=2,5-8", "four.wav", "eight.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "stereorip: four.wav: This file has 4 channels: there is no channel 5\n")
        self.assertEqual(self.snapshot(), before)
        result = self.run_tool("stereorip", "--channels=2,5-8", "four.wav", "eight.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "stereorip: four.wav: This file has 4 channels: there is no channel 5\n")
        self.assertFalse(any(p.name.startswith("four channel") for p in self.folder.iterdir()))
        self.assert_file("eight channel 8.wav", td.wave_bytes(1, 48000, 16, mono[7]))

    def test_skip_silent_leaves_out_channels_of_zeros_and_says_which(self):
        width = 2
        mono = [samples(200 * width, seed=1), bytes(200 * width), samples(200 * width, seed=3), bytes(200 * width)]
        # A channel silent but for its last sample is kept.
        mono.append(bytes(199 * width) + b"\x00\x01")
        self.write("take.wav", td.wave_bytes(5, 44100, 16, interleave(mono, width)))
        result = self.run_tool("stereorip", "--skip-silent", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereorip: wrote 'take channel 1.wav', 'take channel 3.wav' and "
                                        "'take channel 5.wav'; left out the silent channels 2 and 4\n")
        self.assertEqual(sorted(p.name for p in self.folder.iterdir()),
                         ["take channel 1.wav", "take channel 3.wav", "take channel 5.wav", "take.wav"])
        self.assert_file("take channel 5.wav", td.wave_bytes(1, 44100, 16, mono[4]))
        self.assert_no_hidden_files()

        self.write("quiet.wav", td.wave_bytes(2, 44100, 16, bytes(400)))
        result = self.run_tool("stereorip", "--skip-silent", "quiet.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereorip: wrote nothing; left out the silent channels 1 and 2\n")
        self.assertFalse((self.folder / "quiet left channel.wav").exists())

    def test_names_as_a_recorder_writes_them(self):
        mono = self.poly("in/T01.WAV", 2, bits=16)
        (self.folder / "out").mkdir()
        result = self.run_tool("stereorip", "--names", "{name}_{n}.wav", "in/T01.WAV")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereorip: wrote 'in/T01_1.wav' and 'in/T01_2.wav'\n")
        self.assert_file("in/T01_2.wav", td.wave_bytes(1, 48000, 16, mono[1]))
        result = self.run_tool("stereorip", "--names={name}_Tr{n}.wav", "-o", "out", "in/T01.WAV")
        self.assertEqual(result.stdout, "stereorip: wrote 'out/T01_Tr1.wav' and 'out/T01_Tr2.wav'\n", result.stderr)

        # The planner's checks hold for templated names too.
        result = self.run_tool("stereorip", "--names", "{name}_{n}.wav", "in/T01.WAV")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "stereorip: in/T01.WAV: 'in/T01_1.wav' exists; use --force to replace it\n")
        self.poly("in/T01.wave", 2, bits=16)
        result = self.run_tool("stereorip", "-f", "--names", "T{n}.wav", "in/T01.WAV", "in/T01.wave")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "stereorip: in/T01.wave: 'in/T1.wav' is written by 'in/T01.WAV' earlier "
                                        "in this run\n")



class Takes(Folder):
    def track(self, name, seed, frames=100):
        data = samples(frames * 2, seed)
        self.write(name, td.wave_bytes(1, 48000, 16, data))
        return data

    def test_joins_each_naming_style_in_number_order(self):
        takes = {
            "take.wav": ["take channel 1.wav", "take channel 2.wav", "take channel 3.wav"],
            "T01.wav": ["T01_1.WAV", "T01_2.WAV"],
            "Scene001-T001.wav": [f"Scene001-T001_Tr{k}.wav" for k in range(1, 11)],
            "LOUD.wav": ["LOUD CHANNEL 1.WAV", "LOUD CHANNEL 2.WAV"],
        }
        expected = {}
        seed = 0
        for joined, files in takes.items():
            tracks = []
            for name in files:
                seed += 1
                tracks.append(self.track(name, seed))
            expected[joined] = interleave(tracks, 2)
        operands = sorted(p.name for p in self.folder.iterdir())  # Tr10 before Tr2, as a shell gives them
        result = self.run_tool("stereoknit", "--takes", *operands)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(result.stdout.splitlines()),
                         sorted(f"stereoknit: wrote '{joined}'" for joined in takes))
        for joined, data in expected.items():
            chunks = read_chunks((self.folder / joined).read_bytes())
            self.assertEqual(chunks["data"], data, joined)
        # Two files join into plain stereo, as a pair does.
        self.assert_file("T01.wav", td.wave_bytes(2, 48000, 16, expected["T01.wav"]))

    def test_a_gap_and_a_lone_file_fail_and_spare_the_others(self):
        for k in (1, 2, 4):
            self.track(f"gap_{k}.wav", k)
        self.track("lone_1.wav", 9)
        self.track("plain.wav", 10)
        good = [self.track(f"ok_Tr{k}.wav", 20 + k) for k in (1, 2)]
        (self.folder / "out").mkdir()
        before = self.snapshot()
        arguments = ["--takes", "-o", "out", "gap_1.wav", "gap_2.wav", "gap_4.wav", "lone_1.wav", "plain.wav",
                     "ok_Tr1.wav", "ok_Tr2.wav"]
        errors = [
            "stereoknit: gap_1.wav: Channel 3 of this take is missing",
            "stereoknit: lone_1.wav: This is the only file of its take",
            "stereoknit: plain.wav: This name ends in no channel number of a take "
            "(NAME channel K.wav, NAME_K.wav, NAME_TrK.wav)",
        ]
        result = self.run_tool("stereoknit", "-n", *arguments)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), errors)
        self.assertEqual(result.stdout.splitlines()[-1], "stereoknit: would write 'out/ok.wav'")
        self.assertEqual(self.snapshot(), before)
        result = self.run_tool("stereoknit", *arguments)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), errors)
        self.assertEqual(result.stdout, "stereoknit: wrote 'out/ok.wav'\n")
        self.assertEqual(sorted(p.name for p in (self.folder / "out").iterdir()), ["ok.wav"])
        self.assert_file("out/ok.wav", td.wave_bytes(2, 48000, 16, interleave(good, 2)))


class ChannelMask(Folder):
    def tracks(self, count):
        names = []
        for k in range(1, count + 1):
            names.append(f"t{k}.wav")
            self.write(names[-1], td.wave_bytes(1, 48000, 24, samples(300, k)))
        return names

    def test_speaker_names_and_numbers_set_the_mask(self):
        names = self.tracks(6)
        for mask_text in ("FL,FR,FC,LFE,BL,BR", "63", "0x3f", "fl,fr,fc,lfe,bl,br"):
            with self.subTest(mask_text):
                result = self.run_tool("stereoknit", "-f", f"--channel-mask={mask_text}", *names, "surround.wav")
                self.assertEqual(result.returncode, 0, result.stderr)
                chunks = read_chunks((self.folder / "surround.wav").read_bytes())
                self.assertEqual(chunks["fmt "], extensible_fmt(6, 48000, 24, mask=0x3F))
        probe = ffprobe_stream(self.folder / "surround.wav")
        if probe is not None:
            self.assertEqual(probe, "channels=6\nchannel_layout=5.1\n")

    def test_a_mask_of_another_count_than_a_take_fails_that_take(self):
        for k in (1, 2):
            self.write(f"a_{k}.wav", td.wave_bytes(1, 48000, 24, samples(300, k)))
        for k in (1, 2, 3):
            self.write(f"b_{k}.wav", td.wave_bytes(1, 48000, 24, samples(300, k)))
        # Its count is known once the files are grouped.
        result = self.run_tool("stereoknit", "--takes", "--channel-mask=FL,FR,FC", "a_1.wav", "a_2.wav", "b_1.wav",
                               "b_2.wav", "b_3.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "stereoknit: a_1.wav: The channel mask names 3 speakers for the 2 files of this take\n")
        self.assertEqual(result.stdout, "stereoknit: wrote 'b.wav'\n")
        self.assertFalse((self.folder / "a.wav").exists())
        self.assertEqual(read_chunks((self.folder / "b.wav").read_bytes())["fmt "], extensible_fmt(3, 48000, 24, 7))


def with_data_size(wave, size):
    """`wave` (a canonical 44-byte-header file) with `size` in its data chunk's size field."""
    return wave[:40] + struct.pack("<I", size) + wave[44:]


class StreamedHeaders(Folder):
    """Writers to a pipe cannot go back to fill in the data size: they leave
    a placeholder, and the file holds the real samples."""

    def test_a_placeholder_size_runs_to_the_last_whole_frame(self):
        interleaved = samples(4002)  # 1000 stereo frames and a half
        whole = interleaved[:4000]
        left, right = split_expected(44100, 16, whole)
        for placeholder in (0x7FFFF000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF):
            with self.subTest(hex(placeholder)):
                self.write("piped.wav", with_data_size(td.wave_bytes(2, 44100, 16, interleaved), placeholder))
                result = self.run_tool("stereorip", "-f", "piped.wav")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                self.assert_file("piped left channel.wav", left)
                self.assert_file("piped right channel.wav", right)
        # libsndfile reads the same length from such a file.
        self.write("piped.wav", with_data_size(td.wave_bytes(2, 44100, 16, interleaved), 0x7FFFF000))
        try:
            info = subprocess.run(["sndfile-info", "piped.wav"], cwd=self.folder, capture_output=True, text=True)
        except FileNotFoundError:
            return
        self.assertRegex(info.stdout, r"\nFrames +: 1000\n")

    def test_a_join_of_a_streamed_file_is_as_long_as_its_samples(self):
        left = samples(600, 1)
        right = samples(200, 2)
        self.write("l.wav", with_data_size(td.wave_bytes(1, 22050, 16, left), 0x80000000))
        self.write("r.wav", td.wave_bytes(1, 22050, 16, right))
        result = self.run_tool("stereoknit", "l.wav", "r.wav", "lr.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_file("lr.wav", join_expected(22050, 16, left, right + bytes(400)))

    def test_any_other_size_past_the_end_is_filled_with_silence_and_said(self):
        interleaved = samples(400)
        self.write("cut.wav", with_data_size(td.wave_bytes(2, 44100, 16, interleaved), 1000))
        warning = ("stereorip: cut.wav: the header declares 1000 bytes of samples, the file holds 400; "
                   "the rest is written as silence\n")
        result = self.run_tool("stereorip", "-n", "cut.wav")
        self.assertEqual((result.returncode, result.stderr), (0, warning))
        result = self.run_tool("stereorip", "cut.wav")
        self.assertEqual((result.returncode, result.stderr), (0, warning))
        self.assert_file("cut left channel.wav", split_expected(44100, 16, interleaved + bytes(600))[0])


class RunPlanning(Folder):
    """What a run refuses before it writes anything."""

    def test_an_input_an_earlier_item_writes_fails_whatever_the_jobs(self):
        for jobs in ("1", "2"):
            with self.subTest(jobs=jobs):
                left, right = self.stereo("c.wav", seed=1)
                self.stereo("c left channel.wav", seed=2)
                result = self.run_tool("stereorip", "-f", "-j", jobs, "c.wav", "c left channel.wav")
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, "stereorip: c left channel.wav: 'c left channel.wav' is written by "
                                                "'c.wav' earlier in this run\n")
                self.assertEqual(result.stdout, wrote_two("stereorip", "c") + "\n")
                self.assert_file("c left channel.wav", left)
                self.assertFalse((self.folder / "c left channel left channel.wav").exists())

    def test_a_pair_whose_left_file_an_earlier_pair_writes_fails(self):
        self.mono("b.L left channel.wav", seed=1)
        self.mono("b.L right channel.wav", seed=2)
        self.mono("b.L.wav", seed=3)
        self.mono("b.R.wav", seed=4)
        result = self.run_tool("stereoknit", "-f", "--pairs", "b.L left channel.wav", "b.L.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "stereoknit: b.L.wav: 'b.L.wav' is written by 'b.L left channel.wav' earlier in this run\n")
        self.assertFalse((self.folder / "b.wav").exists())

    def test_two_items_reaching_one_file_through_a_link_fail_as_one_output_twice(self):
        a_left, _ = self.stereo("a.wav", seed=1)
        self.stereo("b.wav", seed=2)
        self.write("b left channel.wav", b"old")
        os.symlink("b left channel.wav", self.folder / "a left channel.wav")
        result = self.run_tool("stereorip", "-f", "a.wav", "b.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, wrote_two("stereorip", "a") + "\n")
        self.assertEqual(result.stderr, "stereorip: b.wav: 'b left channel.wav' is written by 'a.wav' earlier "
                                        "in this run\n")
        self.assert_file("b left channel.wav", a_left)
        self.assertFalse((self.folder / "b right channel.wav").exists())

    def test_a_dry_run_fails_where_the_run_would(self):
        self.mono("l.wav", seed=1)
        self.mono("r.wav", seed=2)
        refusal = "stereoknit: l.wav: Cannot create 'none/lr.wav': No such file or directory\n"
        dry = self.run_tool("stereoknit", "-n", "l.wav", "r.wav", "none/lr.wav")
        self.assertEqual((dry.returncode, dry.stdout, dry.stderr), (1, "", refusal))
        run = self.run_tool("stereoknit", "l.wav", "r.wav", "none/lr.wav")
        self.assertEqual((run.returncode, run.stdout, run.stderr), (1, "", refusal))


class OutputLines(Folder):
    def test_names_are_printed_shell_quoted(self):
        self.stereo("new\nline.wav")
        self.mono("\x1b[2Jx.wav")
        result = self.run_tool("stereorip", "new\nline.wav", "\x1b[2Jx.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "stereorip: wrote 'new'$'\\n''line left channel.wav' and "
                                        "'new'$'\\n''line right channel.wav'\n")
        self.assertEqual(result.stderr, "stereorip: $'\\033''[2Jx.wav': This is not a stereo Wave file\n")
        # The shell reads each quoted name back as the file's name.
        quoted = result.stdout.split("wrote ", 1)[1].rstrip("\n").split(" and ")
        script = "for name in " + " ".join(quoted) + "; do [ -f \"$name\" ] || exit 1; done"
        self.assertEqual(subprocess.run(["bash", "-c", script], cwd=self.folder).returncode, 0)

    def test_lines_come_in_the_order_of_the_inputs(self):
        # The first file is the largest, so with two jobs the others end first.
        self.stereo("big.wav", count=1 << 23)
        for i in range(4):
            self.stereo(f"s{i}.wav", seed=i)
        names = ["big.wav"] + [f"s{i}.wav" for i in range(4)]
        self.mono("mono.wav")
        result = self.run_tool("stereorip", "-j", "2", *names[:3], "mono.wav", *names[3:])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(),
                         [wrote_two("stereorip", name[:-4]) for name in names])
        self.assertEqual(result.stderr, "stereorip: mono.wav: This is not a stereo Wave file\n")

    def test_a_closed_standard_output_stops_the_lines_not_the_work(self):
        for i in range(3):
            self.stereo(f"t{i}.wav", seed=i)
        for names, status in ((["t0.wav", "t1.wav", "t2.wav"], 0), (["t0.wav", "missing.wav", "t2.wav"], 1)):
            with self.subTest(names=names):
                reader, writer = os.pipe()
                os.close(reader)  # as `| head -1` does once it has its line
                try:
                    result = subprocess.run([str(td.program("stereorip")), "-f", *names], cwd=self.folder,
                                            stdin=subprocess.DEVNULL, stdout=writer, stderr=subprocess.PIPE,
                                            env=td.base_environment(), timeout=RUN_TIMEOUT, text=True)
                finally:
                    os.close(writer)
                self.assertEqual(result.returncode, status)
                expected = "" if status == 0 else \
                    "stereorip: missing.wav: File not found. (No such file or directory)\n"
                self.assertEqual(result.stderr, expected)
                for name in names:
                    if name != "missing.wav":
                        self.assertTrue((self.folder / f"{name[:-4]} right channel.wav").is_file())


class Pairs(Folder):
    def test_pairs_of_every_file_join_each_pair_once(self):
        joined = {}
        for seed, (left, right, output) in enumerate([
                ("a left channel.wav", "a right channel.wav", "a.wav"),
                ("B Left Channel.WAV", "B Right Channel.WAV", "B.wav"),
                ("c.L.wave", "c.R.wave", "c.wav")]):
            joined[output] = join_expected(44100, 16, self.mono(left, seed=2 * seed), self.mono(right, seed=2 * seed + 1))
        operands = sorted(p.name for p in self.folder.iterdir())  # what `*.wav *.WAV *.wave` gives
        result = self.run_tool("stereoknit", "--pairs", *operands)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.stdout.splitlines(),
                         [f"stereoknit: wrote '{output}'" for output in ("B.wav", "a.wav", "c.wav")])
        for output, content in joined.items():
            self.assert_file(output, content)


class FailingJobs(Folder):
    def test_sixty_four_jobs_are_accepted(self):
        self.stereo("t.wav")
        result = self.run_tool("stereorip", "-j", "64", "t.wav")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_a_job_that_fails_while_running_fails_the_run_and_spares_the_others(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        disk = self.folder / "disk"
        disk.mkdir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(disk)],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs: " + mounted.stderr)
        self.addCleanup(subprocess.run, ["umount", str(disk)])
        small = {name: self.stereo(name, count=4000, seed=i) for i, name in enumerate(("a.wav", "c.wav"))}
        self.stereo("big.wav", count=4 << 20)  # 4 MiB of outputs on a disk of 1 MiB: planned, then full
        result = self.run_tool("stereorip", "-j", "1", "-o", "disk", "a.wav", "big.wav", "c.wav")
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, r"^stereorip: big\.wav: Cannot \w+ 'disk/big (left|right) channel\.wav': "
                                        r"No space left on device\n$")
        self.assertEqual(result.stdout.splitlines(), [f"stereorip: wrote 'disk/{s} left channel.wav' and "
                                                      f"'disk/{s} right channel.wav'" for s in ("a", "c")])
        for name, (left, right) in small.items():
            self.assert_file(f"disk/{name[:-4]} left channel.wav", left)
            self.assert_file(f"disk/{name[:-4]} right channel.wav", right)
        self.assertEqual(sorted(p.name for p in disk.iterdir()), sorted(
            f"{s} {side} channel.wav" for s in ("a", "c") for side in ("left", "right")))


class JoinBatch(Folder):
    def test_joins_one_named_pair(self):
        left = self.mono("l.wav", seed=1)
        right = self.mono("r.wav", seed=2)
        result = self.run_tool("stereoknit", "l.wav", "r.wav", "out.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereoknit: wrote 'out.wav'\n")
        self.assertEqual(result.stderr, "")
        self.assert_file("out.wav", join_expected(44100, 16, left, right))

        self.mono("r48.wav", rate=48000)
        result = self.run_tool("stereoknit", "-f", "l.wav", "r48.wav", "out.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "stereoknit: l.wav: These two files have incompatible sample rates (44100 and 48000 Hz)\n")
        self.assert_file("out.wav", join_expected(44100, 16, left, right))

    def test_pairs_each_naming_pair_and_refuses_orphans_and_right_halves(self):
        pairs = {
            "take 1 left channel.wav": ("take 1 right channel.wav", "take 1.wav"),
            "b.L.wav": ("b.R.wav", "b.wav"),
            "c_l.wav": ("c_r.wav", "c.wav"),
            "d-L.WAV": ("d-R.WAV", "d.wav"),
        }
        expected = {}
        for seed, (left_name, (right_name, joined)) in enumerate(pairs.items()):
            left = self.mono(left_name, seed=2 * seed)
            right = self.mono(right_name, seed=2 * seed + 1)
            expected[joined] = join_expected(44100, 16, left, right)
        self.mono("e.L.wav")
        self.mono("orphan.wav")
        self.mono("f.R.wav")
        # b.R.wav comes with its left half, as `--pairs *.wav` gives it: skipped
        # quietly; f.R.wav comes alone.
        operands = list(pairs) + ["e.L.wav", "orphan.wav", "b.R.wav", "f.R.wav"]
        result = self.run_tool("stereoknit", "--pairs", *operands)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(result.stdout.splitlines()),
                         sorted(f"stereoknit: wrote '{joined}'" for joined in expected))
        self.assertEqual(result.stderr.splitlines(), [
            "stereoknit: e.R.wav: File not found. (No such file or directory)",
            "stereoknit: orphan.wav: This name pairs with no right channel file "
            "(NAME left channel.wav, NAME.L.wav, NAME_L.wav, NAME-L.wav)",
            "stereoknit: f.R.wav: This is the right channel file of a pair: name its left channel file",
        ])
        for joined, content in expected.items():
            self.assert_file(joined, content)
        self.assertFalse((self.folder / "e.wav").exists())
        self.assert_no_hidden_files()

    def test_pairs_into_an_output_folder_and_dry_run(self):
        left = self.mono("in/x.L.wav", rate=8000, count=16000, seed=1)
        right = self.mono("in/x.R.wav", rate=8000, count=16000, seed=2)
        (self.folder / "out").mkdir()
        before = self.snapshot()
        result = self.run_tool("stereoknit", "-n", "--pairs", "-o", "out", "in/x.L.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [
            "stereoknit: in/x.L.wav: channels 1, sample rate 8000 Hz, resolution 16 bits, length 8000 samples, "
            "duration 1.00 seconds",
            "stereoknit: in/x.R.wav: channels 1, sample rate 8000 Hz, resolution 16 bits, length 8000 samples, "
            "duration 1.00 seconds",
            "stereoknit: would write 'out/x.wav'",
        ])
        self.assertEqual(self.snapshot(), before)

        result = self.run_tool("stereoknit", "--pairs", "-o", "out", "in/x.L.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "stereoknit: wrote 'out/x.wav'\n")
        self.assert_file("out/x.wav", join_expected(8000, 16, left, right))
        self.assertFalse((self.folder / "in/x.wav").exists())


class Usage(Folder):
    def test_usage_errors_exit_2_with_a_hint(self):
        cases = [
            ("stereorip", ["-x", "a.wav"], "stereorip: invalid option -- 'x'"),
            ("stereorip", ["--pairs", "a.wav"], "stereorip: unrecognized option '--pairs'"),
            ("stereorip", ["-q"], "stereorip: missing file operand"),
            ("stereorip", ["a.wav", "-j"], "stereorip: option requires an argument -- 'j'"),
            ("stereoknit", ["l.wav", "r.wav"], "stereoknit: expected LEFT RIGHT OUTPUT, got 2 names"),
            ("stereoknit", ["--pairs"], "stereoknit: missing file operand"),
            ("stereoknit", ["-j", "0", "--pairs", "a.L.wav"], "stereoknit: invalid number of jobs '0' (1 to 64)"),
            ("stereorip", ["--channels=3-1", "a.wav"], "stereorip: invalid channel list '3-1' (numbers from 1 and "
                                                       "ranges, each channel once, e.g. 1,3-6)"),
            ("stereorip", ["--names", "{name}.wav", "a.wav"], "stereorip: the name template '{name}.wav' gives every "
                                                              "channel of a file the same name: add {n}"),
            ("stereorip", ["--names", "mono/{name}_{n}.wav", "a.wav"], "stereorip: the name template holds a '/'"),
            ("stereoknit", ["--channel-mask=FL,FR,FC", "a.wav", "b.wav", "c.wav", "d.wav", "o.wav"],
             "stereoknit: the channel mask names 3 speakers for 4 channels"),
        ]
        for program, arguments, message in cases:
            with self.subTest(program=program, arguments=arguments):
                before = self.snapshot()
                result = self.run_tool(program, *arguments)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr.splitlines(), [message, usage_hint(program)])
                self.assertEqual(self.snapshot(), before)

    def test_help_and_version_on_standard_output(self):
        version = os.environ.get("STEREOTOOLS_VERSION", "")
        for program in ("stereorip", "stereoknit"):
            for option in ("--help", "-h"):
                with self.subTest(program=program, option=option):
                    result = self.run_tool(program, option)
                    self.assertEqual(result.returncode, 0)
                    self.assertEqual(result.stderr, "")
                    self.assertTrue(result.stdout.startswith(f"Usage: {program} [OPTION]..."), result.stdout)
            for option in ("--version", "-V"):
                with self.subTest(program=program, option=option):
                    result = self.run_tool(program, option)
                    self.assertEqual(result.returncode, 0)
                    self.assertEqual(result.stderr, "")
                    self.assertRegex(result.stdout, rf"^{program} \(stereotools\) \d+\.\d+\.\d+\n$")
                    if version:
                        self.assertEqual(result.stdout, f"{program} (stereotools) {version}\n")

    def test_no_arguments_and_no_terminal_points_to_the_command_line(self):
        for program in ("stereorip", "stereoknit"):
            with self.subTest(program):
                result = self.run_tool(program)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn("interactive terminal", lines[0])
                self.assertIn("command line", lines[0])


class Stop(Folder):
    FILES = 40
    FRAMES = 1 << 20  # 4 MiB of 16-bit stereo frames a file

    def test_sigint_keeps_finished_outputs_and_leaves_nothing_half_written(self):
        block = samples(1 << 16, 5)
        data = block * (self.FRAMES * 4 // len(block))
        header = td.wave_bytes(2, 44100, 16, b"")[:40] + struct.pack("<I", len(data))
        names = [f"take{i:02}.wav" for i in range(self.FILES)]
        for name in names:
            self.write(name, header + data)
        left, right = split_expected(44100, 16, data)
        process = subprocess.Popen([str(td.program("stereorip")), "-j", "2", *names], cwd=self.folder,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=td.base_environment(), text=True)
        try:
            first = process.stdout.readline()
            self.assertTrue(first.startswith("stereorip: wrote "), first)
            process.send_signal(signal.SIGINT)
            # Read through the pipe's own buffer, which readline filled:
            # communicate() would pass over what it holds.
            rest = process.stdout.read()
            errors = process.stderr.read()
            process.wait(timeout=RUN_TIMEOUT)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.assertEqual(process.returncode, 130, errors)
        self.assertEqual(errors, "")
        wrote = (first + rest).splitlines()
        self.assertLess(len(wrote), self.FILES, "the stop came after the last file")
        finished = []
        for line in wrote:
            match = re.fullmatch(r"stereorip: wrote '(take\d\d) left channel\.wav' and '\1 right channel\.wav'", line)
            self.assertIsNotNone(match, line)
            finished.append(match.group(1))
        outputs = sorted(p.name for p in self.folder.iterdir() if "channel" in p.name)
        self.assertEqual(outputs, sorted(f"{stem} {side} channel.wav" for stem in finished
                                         for side in ("left", "right")))
        for stem in finished:
            self.assert_file(f"{stem} left channel.wav", left)
            self.assert_file(f"{stem} right channel.wav", right)
        self.assert_no_hidden_files()


class ProgressLine(Folder):
    def run_with_stderr_on_a_terminal(self, *arguments, term="xterm-256color"):
        """Runs stereorip with standard error on a pseudo-terminal of type
        `term`. Returns the exit status, standard output and what the
        terminal received."""
        main, secondary = pty.openpty()
        try:
            process = subprocess.Popen([str(td.program("stereorip")), *arguments], cwd=self.folder,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=secondary,
                                       env=td.base_environment({"TERM": term}))
            os.close(secondary)
            received = b""
            deadline = time.monotonic() + RUN_TIMEOUT
            while time.monotonic() < deadline:
                ready, _, _ = select.select([main], [], [], 0.5)
                if not ready:
                    if process.poll() is not None:
                        break
                    continue
                try:
                    chunk = os.read(main, 4096)
                except OSError:  # the terminal is gone with the last writer
                    break
                if not chunk:
                    break
                received += chunk
            output = process.stdout.read().decode()
            process.wait(timeout=RUN_TIMEOUT)
        finally:
            os.close(main)
        return process.returncode, output, received.decode()

    def test_drawn_in_place_and_cleared_at_the_end(self):
        for i in range(4):
            self.stereo(f"t{i}.wav", count=4000, seed=i)
        self.write("t3 left channel.wav", b"old")  # refused at planning: no file of the progress line
        status, output, screen = self.run_with_stderr_on_a_terminal("t0.wav", "t1.wav", "t3.wav", "t2.wav")
        self.assertEqual(status, 1)
        self.assertEqual(sorted(output.splitlines()), [wrote_two("stereorip", f"t{i}") for i in range(3)])
        self.assertIn("\rstereorip: 0 of 3 files, 0%, ", screen)
        self.assertIn("\rstereorip: 3 of 3 files, 100%, ", screen)
        self.assertEqual(screen.count("\n"), 1, "only the refusal is a line")
        screen = screen.replace("stereorip: t3.wav: 't3 left channel.wav' exists; use --force to replace it\r\n", "")
        # Each drawing erases what a longer one left; the last thing on the
        # terminal erases the line, the cursor at its start.
        self.assertIn("\rstereorip: 3 of 3 files, 100%, ", screen)
        self.assertRegex(screen, r"^(\r[^\r\x1b]*\x1b\[K)+$")
        self.assertTrue(screen.endswith("\r\x1b[K"), screen)

    def test_not_drawn_when_quiet_or_on_a_dumb_terminal(self):
        self.stereo("t.wav")
        status, output, screen = self.run_with_stderr_on_a_terminal("-q", "t.wav")
        self.assertEqual((status, output, screen), (0, "", ""))
        status, output, screen = self.run_with_stderr_on_a_terminal("-f", "t.wav", term="dumb")
        self.assertEqual((status, output, screen), (0, wrote_two("stereorip", "t") + "\n", ""))

    def test_fits_a_narrow_terminal(self):
        self.stereo("t.wav", count=4000)
        main, secondary = pty.openpty()
        try:
            # A narrow window: a drawing is cut to one column less, so it never wraps.
            fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 30, 0, 0))
            process = subprocess.Popen([str(td.program("stereorip")), "t.wav"], cwd=self.folder,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=secondary,
                                       env=td.base_environment({"TERM": "xterm"}))
            os.close(secondary)
            received = b""
            while True:
                try:
                    chunk = os.read(main, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                received += chunk
            self.assertEqual(process.wait(timeout=RUN_TIMEOUT), 0)
        finally:
            os.close(main)
        drawn = [part[:-3] for part in received.decode().split("\r") if part.endswith("\x1b[K") and part != "\x1b[K"]
        self.assertTrue(drawn, received)
        self.assertEqual(drawn[0], "stereorip: 0 of 1 files, 0%, 0.0 MB/s"[:29])
        self.assertTrue(all(len(line) <= 29 for line in drawn), drawn)


class Completion(Folder):
    def complete(self, *words):
        """Returns what the completion offers for the last of `words`, in a
        shell whose working folder is the test's."""
        script = (f"source {shlex.quote(str(COMPLETION))}\n"
                  f"COMP_WORDS=({shlex.join(words)}); COMP_CWORD={len(words) - 1}\n"
                  '_stereotools "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"\n'
                  'printf "%s\\n" "${COMPREPLY[@]}"\n')
        result = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], cwd=self.folder,
                                capture_output=True, text=True, timeout=RUN_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        return sorted(line for line in result.stdout.splitlines() if line)

    def test_options_of_each_program(self):
        self.assertEqual(self.complete("stereorip", "--f"), ["--force"])
        self.assertEqual(self.complete("stereorip", "--p"), [])
        self.assertEqual(self.complete("stereoknit", "--p"), ["--pairs"])
        self.assertEqual(self.complete("/usr/bin/stereoknit", "a.wav", "--pa"), ["--pairs"])
        self.assertEqual(self.complete("stereorip", "--ch"), ["--channels="])
        self.assertEqual(self.complete("stereoknit", "--ch"), ["--channel-mask="])

    def test_option_values(self):
        self.write("a.wav", b"")
        self.assertEqual(self.complete("stereoknit", "--channel-mask", "=", "FL,FR,B"), ["FL,FR,BL,BR"])
        self.assertEqual(self.complete("stereorip", "--channels", ""), [])
        self.assertEqual(self.complete("stereorip", "--names", ""), [])

    def test_offers_every_long_option_help_lists(self):
        for program in ("stereorip", "stereoknit"):
            with self.subTest(program):
                usage = self.run_tool(program, "--help").stdout
                listed = sorted(set(re.findall(r"^\s+(?:-\w, )?(--[a-z-]+=?)", usage, re.MULTILINE)))
                self.assertIn("--keep-metadata", listed)
                self.assertEqual(self.complete(program, "--"), listed)

    def test_wav_files_and_folders(self):
        for name in ("a.wav", "b.WAV", "c.wave", "notes.txt", "dir/x.wav", "-odd.wav"):
            self.write(name, b"")
        self.assertEqual(self.complete("stereorip", ""), ["-odd.wav", "a.wav", "b.WAV", "c.wave", "dir"])
        self.assertEqual(self.complete("stereoknit", "--pairs", "d"), ["dir"])
        self.assertEqual(self.complete("stereorip", "dir/"), ["dir/x.wav"])
        self.assertEqual(self.complete("stereorip", "-o", ""), ["dir"])
        self.assertEqual(self.complete("stereorip", "--output-dir", "=", ""), ["dir"])
        self.assertEqual(self.complete("stereorip", "--", "-"), ["-odd.wav"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
