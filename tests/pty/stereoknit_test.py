"""Whole runs of stereoknit in a real terminal (tmux): the screen and the
stereo file of a join, a refused right input asked again in place, a rate
mismatch restarting the dialogue, an output that replaces its left input,
and an output in a folder that does not exist, asked for again in place."""

import re
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

LEFT_PROMPT = "   Left channel Wave file?"
RIGHT_PROMPT = "   Right channel Wave file?"
OUTPUT_PROMPT = "   Output Wave file?"
COLUMN = 29
START_TIMEOUT = 15
JOB_TIMEOUT = 30
JOB_TIME = re.compile(r"^   Job completed in (0|[1-9]\d*(\.[1-9])?|\.[1-9]) seconds$")
TEXT, PROMPT_COLOURS = (0, 15), (8, 15)


def with_answer(prompt, text):
    return prompt + " " * (COLUMN - 1 - len(prompt)) + text


# The pair of the output-writing example: 16-bit mono at 100 Hz (byte rate 200,
# block align 2) with 100 and 120 data bytes.
LEFT_SAMPLES = bytes(range(1, 101))
RIGHT_SAMPLES = bytes(range(201, 256)) + bytes(range(65))


def example_join():
    """The 284-byte stereo file the example pair joins into: 60 frames, the
    left channel zero-filled past its 50 samples."""
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 276, b"WAVE", b"fmt ", 16, 1, 2, 100, 400, 4, 16,
                         b"data", 240)
    left = LEFT_SAMPLES + bytes(20)
    frames = b"".join(left[i:i + 2] + RIGHT_SAMPLES[i:i + 2] for i in range(0, 120, 2))
    return header + frames


class KnitRun(td.FolderTestCase):
    folder_prefix = "stereoknit-test-"

    def write_example_pair(self):
        self.left_source = td.wave_bytes(1, 100, 16, LEFT_SAMPLES)
        self.right_source = td.wave_bytes(1, 100, 16, RIGHT_SAMPLES)
        self.write("left.wav", self.left_source)
        self.write("right.wav", self.right_source)

    def start(self):
        terminal = td.TmuxTerminal(td.shell_around([td.program("stereoknit")]), cwd=self.folder)
        self.addCleanup(terminal.close)
        terminal.wait_for(lambda rows: rows[7] == LEFT_PROMPT, "the left prompt", START_TIMEOUT)
        return terminal

    def answer(self, terminal, row, prompt, name):
        terminal.wait_for_row(row, prompt)
        terminal.send_text(name)
        terminal.wait_for_row(row, with_answer(prompt, name))
        terminal.send_keys("Enter")

    def answer_all(self, terminal, left, right, output):
        self.answer(terminal, 8, LEFT_PROMPT, left)
        self.answer(terminal, 9, RIGHT_PROMPT, right)
        self.answer(terminal, 12, OUTPUT_PROMPT, output)

    def close_box(self, terminal):
        terminal.send_keys("Enter")
        return terminal.wait_for(lambda rows: not any("ERROR" in r for r in rows), "the box to close")

    def quit(self, terminal):
        """Presses the final key and returns the exit status."""
        terminal.send_text("q")
        return terminal.wait_for_after_line(timeout=JOB_TIMEOUT)[1]

    def finish_successfully(self, terminal):
        rows = terminal.wait_for_row(26, "   press any key to quit", JOB_TIMEOUT)
        self.assertEqual(self.quit(terminal), 0)
        return rows

    def folder_listing(self):
        return sorted(p.name for p in self.folder.iterdir())


class JoinRun(KnitRun):
    def test_example_pair_screen_and_file(self):
        self.write_example_pair()
        terminal = self.start()
        self.answer_all(terminal, "left.wav", "right.wav", "joined take.wav")
        rows = terminal.wait_for_row(26, "   press any key to quit", JOB_TIMEOUT)

        expected = {
            2: "   Stereoknit",
            8: with_answer(LEFT_PROMPT, "left.wav"),
            9: with_answer(RIGHT_PROMPT, "right.wav"),
            12: with_answer(OUTPUT_PROMPT, "joined take.wav"),
            17: "   Reading input files...",
            18: "   Done",
            20: "   Writing output files...",
            21: "   Done",
            26: "   press any key to quit",
        }
        for number, text in expected.items():
            with self.subTest(row=number):
                self.assertEqual(rows[number - 1], text, terminal.screen_dump())
        self.assertRegex(rows[24], JOB_TIME)
        empty = [1, 5, 6, 7, 10, 11, 13, 14, 15, 16, 19, 22, 23, 24, 27, 28]
        self.assertEqual([n for n in empty if rows[n - 1]], [], terminal.screen_dump())
        self.assertEqual(terminal.cursor()[0], 27)

        cells = terminal.cell_colours()

        def colours(row, first, last):
            return {(fg, bg) for ch, fg, bg in cells[row - 1][first - 1:last] if ch != " "}

        for row in (8, 9, 12):
            with self.subTest(colour_row=row):
                self.assertEqual(colours(row, 1, COLUMN - 1), {PROMPT_COLOURS})
                self.assertEqual(colours(row, COLUMN, 80), {TEXT})
        for row, pair in ((17, PROMPT_COLOURS), (18, TEXT), (20, PROMPT_COLOURS), (21, TEXT), (25, TEXT),
                          (26, PROMPT_COLOURS)):
            with self.subTest(colour_row=row):
                self.assertEqual(colours(row, 1, 80), {pair})

        self.assertEqual(self.quit(terminal), 0)
        joined = (self.folder / "joined take.wav").read_bytes()
        self.assertEqual(len(joined), 284)
        self.assertEqual(joined, example_join())
        self.assertEqual((self.folder / "left.wav").read_bytes(), self.left_source)
        self.assertEqual((self.folder / "right.wav").read_bytes(), self.right_source)
        self.assertEqual(self.folder_listing(), ["joined take.wav", "left.wav", "right.wav"])


class Refusals(KnitRun):
    def test_stereo_right_input_erased_and_asked_again_in_place(self):
        self.write_example_pair()
        self.write("stereo.wav", td.wave_bytes(2, 100, 16, bytes(40)))
        self.write("another stereo take.wav", td.wave_bytes(2, 100, 16, bytes(40)))
        terminal = self.start()
        self.answer(terminal, 8, LEFT_PROMPT, "left.wav")

        for refused in ("another stereo take.wav", "stereo.wav"):
            with self.subTest(refused):
                self.answer(terminal, 9, RIGHT_PROMPT, refused)
                rows = terminal.wait_for_text("This is not a mono Wave file")
                self.assertEqual(rows[8], with_answer(RIGHT_PROMPT, refused))
                rows = self.close_box(terminal)
                rows = terminal.wait_for_row(9, RIGHT_PROMPT)
                self.assertEqual(rows[1], "   Stereoknit")
                self.assertEqual(rows[7], with_answer(LEFT_PROMPT, "left.wav"))
                self.assertEqual([r for r in rows[9:] if r], [], terminal.screen_dump())
                self.assertEqual(terminal.cursor(), (9, COLUMN))

        self.answer(terminal, 9, RIGHT_PROMPT, "right.wav")
        self.answer(terminal, 12, OUTPUT_PROMPT, "out.wav")
        self.finish_successfully(terminal)
        self.assertEqual((self.folder / "out.wav").read_bytes(), example_join())


if __name__ == "__main__":
    unittest.main(verbosity=2)
