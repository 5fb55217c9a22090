"""The checkout's run script started by path from another folder, as a user
starts it from their audio folder: the program must run in that folder, so a
relative name typed there is found there and the outputs land beside it.

It runs against this checkout's build/, which must be up to date: the test
refuses to let run build while other tests use the programs."""

import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

REPOSITORY = Path(__file__).resolve().parents[2]
PROMPT = "   Wave file to process?"
INDENT = " " * 26
START_TIMEOUT = 60  # run first checks the packages and the build


class RunFromAnotherFolder(unittest.TestCase):
    def setUp(self):
        plan = subprocess.run(
            ["cmake", "--build", "--preset", "programs", "--", "-n"],
            cwd=REPOSITORY, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if plan.stdout.strip() != "ninja: no work to do.":
            self.fail(f"{REPOSITORY}/build is not up to date; build it before the tests\n{plan.stdout}{plan.stderr}")
        folder = tempfile.TemporaryDirectory(prefix="run-test-")
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def test_relative_name_is_found_in_the_callers_folder(self):
        samples = bytes(range(16))  # four 16-bit stereo frames
        source = td.wave_bytes(2, 8000, 16, samples)
        (self.folder / "take.wav").write_bytes(source)

        terminal = td.TmuxTerminal(td.shell_around([REPOSITORY / "run", "stereorip"]), cwd=self.folder)
        self.addCleanup(terminal.close)
        terminal.wait_for(lambda rows: PROMPT in rows, "the prompt", START_TIMEOUT)
        terminal.send_text("take.wav")
        terminal.send_keys("Enter")
        rows = terminal.wait_for(lambda rows: "   press any key to quit" in rows or any("ERROR" in r for r in rows),
                                 "the end of the job or an error box", 30)
        self.assertFalse(any("ERROR" in r for r in rows), terminal.screen_dump())
        for text in (INDENT + "FILE DATA", INDENT + "Channels     2", INDENT + "Length       4 samples"):
            with self.subTest(row=text):
                self.assertIn(text, rows, terminal.screen_dump())

        terminal.send_text("q")
        self.assertEqual(terminal.wait_for_after_line(timeout=30)[1], 0, terminal.screen_dump())
        self.assertEqual(
            (self.folder / "take left channel.wav").read_bytes(),
            td.wave_bytes(1, 8000, 16, samples[0:2] + samples[4:6] + samples[8:10] + samples[12:14]))
        self.assertEqual(
            (self.folder / "take right channel.wav").read_bytes(),
            td.wave_bytes(1, 8000, 16, samples[2:4] + samples[6:8] + samples[10:12] + samples[14:16]))


if __name__ == "__main__":
    unittest.main()
