"""The dialogue as people type, in a real terminal (tmux): a long path
mended in the middle, a refused answer brought back with Up, Ctrl-D, the
lines left in the shell after exit, and the percentage a long step shows.
The output refused at its prompt is in stereoknit_test."""

import re
import shlex
import struct
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

RIP_PROMPT = "   Wave file to process?"
LEFT_PROMPT = "   Left channel Wave file?"
RIGHT_PROMPT = "   Right channel Wave file?"
OUTPUT_PROMPT = "   Output Wave file?"
RIP_COLUMN = 27
KNIT_COLUMN = 29
READING_STEP = "   Reading input file..."
FINAL_LINE = "   press any key to quit"
START_TIMEOUT = 15
JOB_TIMEOUT = 30


def with_answer(prompt, column, text):
    return prompt + " " * (column - 1 - len(prompt)) + text


def box_text(rows):
    """The words inside the message box, its wrapped lines joined."""
    inside = [r[r.index("│") + 1:r.rindex("│")] for r in rows if r.count("│") >= 2]
    return " ".join(" ".join(inside).split())


class EditingCase(td.FolderTestCase):
    folder_prefix = "editing-test-"

    def start(self, name, redirect_errors=None, prefix="", wrap=()):
        """Starts `name` in the folder under a shell that prints "before",
        then "after STATUS" when it ends; standard error goes to the file
        `redirect_errors` when one is named."""
        command = shlex.join([*wrap, str(td.program(name))])
        if redirect_errors:
            command += " 2>" + shlex.quote(redirect_errors)
        terminal = td.TmuxTerminal(f"{prefix}printf 'before\\n'; {command}; printf 'after %s\\n' \"$?\"; "
                                   "exec sleep 600", cwd=self.folder)
        self.addCleanup(terminal.close)
        prompt = RIP_PROMPT if name == "stereorip" else LEFT_PROMPT
        terminal.wait_for(lambda rows: rows[7] == prompt, "the first prompt", START_TIMEOUT)
        return terminal

    def write_pair(self):
        (self.folder / "left.wav").write_bytes(td.wave_bytes(1, 100, 16, bytes(range(100))))
        (self.folder / "right.wav").write_bytes(td.wave_bytes(1, 100, 16, bytes(range(100, 200))))

    def answer(self, terminal, row, prompt, column, text):
        terminal.wait_for_row(row, prompt)
        terminal.send_text(text)
        terminal.wait_for_row(row, with_answer(prompt, column, text))
        terminal.send_keys("Enter")

    def close_box(self, terminal):
        terminal.send_keys("Enter")
        return terminal.wait_for(lambda rows: not any("ERROR" in r for r in rows), "the box to close")

    def quit(self, terminal):
        """Presses the final key; returns the "after" line's row and the status."""
        terminal.wait_for_text(FINAL_LINE, JOB_TIMEOUT)
        terminal.send_text("q")
        return terminal.wait_for_after_line(JOB_TIMEOUT)

    def shell_lines(self, terminal):
        """Returns the rows the program left between "before" and "after"."""
        after_row, _ = terminal.wait_for_after_line(JOB_TIMEOUT)
        rows = terminal.rows()
        self.assertEqual(rows[0], "before", terminal.screen_dump())
        return [r for r in rows[1:after_row - 1] if r]

    def assert_restored(self, terminal):
        flags = terminal.flags()
        self.assertFalse(flags["alternate_on"], "still on the alternate screen")
        self.assertTrue(flags["cursor_flag"], "cursor left hidden")


class Editing(EditingCase):
    def test_long_path_is_mended_in_the_middle(self):
        folder = "recordings/session two/" + "microphone " * 4
        (self.folder / folder).mkdir(parents=True)
        path = folder + "/take1.wav"
        (self.folder / path).write_bytes(td.wave_bytes(2, 200, 16, bytes(range(200))))
        typo = path.replace("session", "sesion").replace("take1", "tkae1")
        terminal = self.start("stereorip")
        terminal.send_text(typo)
        first_row_cells = 80 - RIP_COLUMN + 1
        terminal.wait_for_row(9, typo[first_row_cells:])

        # "sesion": to its first "s" from the start of the answer, one more "s".
        terminal.send_keys("Home", *["Right"] * len("recordings/ses"))
        terminal.send_text("s")
        # "tkae1" lies on the wrapped row: from the end, swap "ka" by Delete and typing.
        terminal.send_keys("End", *["Left"] * len("kae1.wav"), "DC", "DC")
        terminal.send_text("ak")
        rows = terminal.wait_for_row(9, path[first_row_cells:])
        self.assertEqual(rows[7], with_answer(RIP_PROMPT, RIP_COLUMN, path[:first_row_cells]))
        self.assertEqual(terminal.cursor(), (9, len(path) - first_row_cells - len("e1.wav") + 1))
        terminal.send_keys("Enter")
        rows = terminal.wait_for_text("FILE DATA")
        self.assertFalse(any("ERROR" in r for r in rows), terminal.screen_dump())
        self.quit(terminal)
        self.assertTrue((self.folder / folder / "take1 left channel.wav").is_file())

    def test_up_after_a_refusal_brings_the_answer_back(self):
        self.write_pair()
        terminal = self.start("stereoknit")
        self.answer(terminal, 8, LEFT_PROMPT, KNIT_COLUMN, "left.wav")
        self.answer(terminal, 9, RIGHT_PROMPT, KNIT_COLUMN, "rihgt.wav")
        terminal.wait_for_text("File not found.")
        self.close_box(terminal)
        terminal.wait_for_row(9, RIGHT_PROMPT)
        terminal.send_keys("Up")
        terminal.wait_for_row(9, with_answer(RIGHT_PROMPT, KNIT_COLUMN, "rihgt.wav"))
        terminal.send_keys("C-a", "Right", "Right", "DC", "DC")
        terminal.send_text("gh")
        terminal.wait_for_row(9, with_answer(RIGHT_PROMPT, KNIT_COLUMN, "right.wav"))
        terminal.send_keys("Enter")
        rows = terminal.wait_for_row(12, OUTPUT_PROMPT)
        self.assertEqual(rows[7], with_answer(LEFT_PROMPT, KNIT_COLUMN, "left.wav"))

    def test_ctrl_d_on_an_empty_answer_ends_with_status_1(self):
        self.write_pair()
        terminal = self.start("stereoknit")
        self.answer(terminal, 8, LEFT_PROMPT, KNIT_COLUMN, "left.wav")
        terminal.wait_for_row(9, RIGHT_PROMPT)
        # On an answer Ctrl-D removes the character under the cursor instead.
        terminal.send_text("ab")
        terminal.send_keys("Left", "C-d")
        terminal.wait_for_row(9, with_answer(RIGHT_PROMPT, KNIT_COLUMN, "a"))
        terminal.send_keys("C-u", "C-d")
        self.assertEqual(terminal.wait_for_after_line()[1], 1)
        self.assert_restored(terminal)
        self.assertEqual(self.shell_lines(terminal), [])

        rip = self.start("stereorip")
        rip.send_keys("C-d")
        self.assertEqual(rip.wait_for_after_line()[1], 1)
        self.assert_restored(rip)


class ShellRecord(EditingCase):
    def test_the_files_written_stay_in_the_shell(self):
        (self.folder / "take1.wav").write_bytes(td.wave_bytes(2, 200, 16, bytes(range(200))))
        terminal = self.start("stereorip")
        self.answer(terminal, 8, RIP_PROMPT, RIP_COLUMN, "take1.wav")
        self.assertEqual(self.quit(terminal)[1], 0)
        self.assertEqual(self.shell_lines(terminal), ["stereorip: wrote 'take1 left channel.wav'",
                                                      "stereorip: wrote 'take1 right channel.wav'"])

    def test_a_failed_job_leaves_its_error_on_standard_error(self):
        samples = bytes(range(256)) * 8 * 1024
        (self.folder / "left.wav").write_bytes(td.wave_bytes(1, 44100, 16, samples))
        (self.folder / "right.wav").write_bytes(td.wave_bytes(1, 44100, 16, samples))
        # The joined file passes the file-size limit the shell sets.
        terminal = self.start("stereoknit", redirect_errors="errors.txt", prefix="ulimit -f 1024; ")
        self.answer(terminal, 8, LEFT_PROMPT, KNIT_COLUMN, "left.wav")
        self.answer(terminal, 9, RIGHT_PROMPT, KNIT_COLUMN, "right.wav")
        self.answer(terminal, 12, OUTPUT_PROMPT, KNIT_COLUMN, "out.wav")
        rows = terminal.wait_for_text("ERROR", JOB_TIMEOUT)
        message = box_text(rows)
        self.close_box(terminal)
        self.assertEqual(self.quit(terminal)[1], 1)
        self.assertEqual(self.shell_lines(terminal), [], "nothing on standard output")
        errors = (self.folder / "errors.txt").read_text()
        self.assertRegex(errors, r"^stereoknit: Cannot \w+ 'out\.wav': File too large\n$")
        # The same words as the box, which wraps them over its rows.
        self.assertIn(" ".join(errors.split()[1:]), message)


class Progress(EditingCase):
    def test_the_percentage_shows_on_a_long_step_and_goes_when_it_is_done(self):
        # Six blocks, under the size where the job takes a second thread: the
        # split writes each block's left and right half, then reports.
        data_bytes = 6 * 1024 * 1024
        with open(self.folder / "big.wav", "wb") as f:
            f.write(struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + data_bytes, b"WAVE", b"fmt ", 16, 1, 2,
                                44100, 176400, 4, 16, b"data", data_bytes))
            f.truncate(44 + data_bytes)
        hold = td.WriteHold(self, points=(1, 3))
        terminal = self.start("stereorip", wrap=hold.wrap())
        self.answer(terminal, 8, RIP_PROMPT, RIP_COLUMN, "big.wav")
        hold.wait_held(1, JOB_TIMEOUT, terminal.screen_dump)
        self.assertEqual(terminal.row(27), READING_STEP, "a percentage before the step ran for a second")
        # Held, the step runs for over a second; the writes after it report
        # the progress before the next hold.
        time.sleep(1.2)
        hold.release(1)
        hold.wait_held(3, JOB_TIMEOUT, terminal.screen_dump)
        shown = terminal.wait_for(lambda rows: "%" in rows[26], "a percentage", JOB_TIMEOUT)[26]
        match = re.fullmatch(re.escape(READING_STEP) + r"( +)(\d+)%", shown)
        self.assertIsNotNone(match, shown)
        self.assertEqual(len(match.group(1) + match.group(2)), 4, shown)
        self.assertLessEqual(int(match.group(2)), 100)
        hold.release(3)

        rows = terminal.wait_for_row(28, "   Done", JOB_TIMEOUT)
        self.assertEqual(rows[26], READING_STEP)
        self.assertEqual(self.quit(terminal)[1], 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
