"""One whole split and one whole join of the release programs under
valgrind's memcheck in a real terminal (tmux): no invalid access, no lost
memory. ncurses keeps still-reachable memory on purpose, so only definite
and indirect losses count."""

import os
import re
import shutil
import struct
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

WAIT = 90  # valgrind starts and runs many times slower
ERROR_STATUS = 99


def mono_or_stereo(path, channels, samples):
    header = (b"RIFF" + struct.pack("<I", len(samples) + 36) + b"WAVEfmt "
              + struct.pack("<IHHIIHH", 16, 1, channels, 44100, 44100 * 2 * channels, 2 * channels, 16)
              + b"data" + struct.pack("<I", len(samples)))
    Path(path).write_bytes(header + samples)


def sanitized(binary):
    """True when `binary` carries AddressSanitizer, which valgrind cannot run."""
    data = Path(binary).read_bytes()
    return b"__asan_init" in data or b"libasan" in data


class Memcheck(unittest.TestCase):
    def setUp(self):
        if shutil.which("valgrind") is None:
            self.skipTest("valgrind is not installed")
        if sanitized(td.program("stereorip")):
            self.skipTest("these programs are built with AddressSanitizer; valgrind runs on the release build")
        folder = tempfile.TemporaryDirectory(prefix="valgrind-test-")
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def run_under_valgrind(self, name, answers, log_name):
        log = self.folder / log_name
        argv = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
                "--errors-for-leak-kinds=definite,indirect", f"--error-exitcode={ERROR_STATUS}",
                f"--log-file={log}", td.program(name)]
        terminal = td.TmuxTerminal(td.shell_around(argv), cwd=self.folder)
        self.addCleanup(terminal.close)
        for prompt, answer in answers:
            terminal.wait_for_text(prompt, WAIT)
            terminal.send_text(answer)
            terminal.send_keys("Enter")
        terminal.wait_for_text("press any key to quit", WAIT)
        terminal.send_keys("q")
        _, status = terminal.wait_for_after_line(WAIT)
        report = log.read_text(errors="replace")
        self.assertEqual(status, 0, report)
        self.assertRegex(report, r"ERROR SUMMARY: 0 errors", report)
        for kind in ("definitely", "indirectly"):
            match = re.search(kind + r" lost: ([\d,]+) bytes", report)
            if match:  # absent when nothing at all was allocated and kept
                self.assertEqual(match.group(1), "0", report)
        return report

    def test_whole_split_and_whole_join_are_clean(self):
        samples = bytes((i * 7 + 3) & 0xFF for i in range(48000))
        mono_or_stereo(self.folder / "take.wav", 2, samples)
        self.run_under_valgrind("stereorip", [("Wave file to process?", "take.wav")], "split.log")
        self.assertTrue((self.folder / "take left channel.wav").is_file())

        self.run_under_valgrind("stereoknit", [("Left channel Wave file?", "take left channel.wav"),
                                               ("Right channel Wave file?", "take right channel.wav"),
                                               ("Output Wave file?", "joined.wav")], "join.log")
        self.assertEqual((self.folder / "joined.wav").read_bytes()[44:], samples)


if __name__ == "__main__":
    unittest.main(verbosity=2)
