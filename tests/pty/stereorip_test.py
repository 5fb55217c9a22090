"""Whole runs of stereorip in a real terminal (tmux): the screen of a split,
the two mono files byte for byte, a refused file and the restart, a float
file, and an input refused because an output could not be written."""

import re
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

PROMPT = "   Wave file to process?"
COLUMN = 27
INDENT = " " * (COLUMN - 1)
START_TIMEOUT = 15
JOB_TIMEOUT = 30
JOB_TIME = re.compile(r"^   Job completed in (0|[1-9]\d*(\.[1-9])?|\.[1-9]) seconds$")
TEXT, PROMPT_COLOURS = (0, 15), (8, 15)


def split_expected(rate, bits, interleaved, format_tag=1):
    """The two mono files a stereo file of these samples splits into."""
    width = bits // 8
    left = b"".join(interleaved[i:i + width] for i in range(0, len(interleaved), 2 * width))
    right = b"".join(interleaved[i + width:i + 2 * width] for i in range(0, len(interleaved), 2 * width))
    return td.wave_bytes(1, rate, bits, left, format_tag), td.wave_bytes(1, rate, bits, right, format_tag)


def answer_row(text):
    """A prompt or label row with `text` from the answer column."""
    return lambda label: label + " " * (COLUMN - 1 - len(label)) + text


class RipRun(td.FolderTestCase):
    folder_prefix = "stereorip-test-"

    def start(self):
        terminal = td.TmuxTerminal(td.shell_around([td.program("stereorip")]), cwd=self.folder)
        self.addCleanup(terminal.close)
        terminal.wait_for(lambda rows: rows[7] == PROMPT, "the prompt", START_TIMEOUT)
        return terminal

    def answer(self, terminal, name):
        terminal.send_text(name)
        terminal.wait_for_row(8, answer_row(name)(PROMPT))
        terminal.send_keys("Enter")

    def quit(self, terminal):
        """Presses the final key and returns the exit status."""
        terminal.send_text("q")
        return terminal.wait_for_after_line(timeout=JOB_TIMEOUT)[1]

    def folder_listing(self):
        return sorted(str(p.relative_to(self.folder)) for p in self.folder.rglob("*"))


class SplitRun(RipRun):
    def test_16bit_split_screen_and_files(self):
        # 200 frames at 200 Hz: left samples count up, right ones count down.
        frames = [struct.pack("<hh", 100 * i - 9000, 7000 - 37 * i) for i in range(200)]
        interleaved = b"".join(frames)
        self.assertEqual(len(interleaved), 800)
        source = td.wave_bytes(2, 200, 16, interleaved)
        self.write("take 1.wav", source)

        terminal = self.start()
        self.answer(terminal, "take 1.wav")
        rows = terminal.wait_for_row(36, "   press any key to quit", JOB_TIMEOUT)

        expected = {
            2: "   Stereorip",
            8: answer_row("take 1.wav")(PROMPT),
            11: INDENT + "FILE DATA",
            13: INDENT + "Channels     2",
            14: INDENT + "Sample rate  200 Hz",
            15: INDENT + "Resolution   16 bits",
            16: INDENT + "Length       200 samples",
            17: INDENT + "Duration     1 seconds",
            21: answer_row("take 1 left channel.wav")("   Output files will be:"),
            22: INDENT + "take 1 right channel.wav",
            27: "   Reading input file...",
            28: "   Done",
            30: "   Writing output files...",
            31: "   Done",
            36: "   press any key to quit",
        }
        for number, text in expected.items():
            with self.subTest(row=number):
                self.assertEqual(rows[number - 1], text, terminal.screen_dump())
        self.assertRegex(rows[34], JOB_TIME)
        empty = [1, 5, 6, 7, 9, 10, 12, 18, 19, 20, 23, 24, 25, 26, 29, 32, 33, 34, 37, 38]
        self.assertEqual([n for n in empty if rows[n - 1]], [], terminal.screen_dump())
        self.assertEqual(terminal.cursor()[0], 37)

        cells = terminal.cell_colours()

        def colours(row, first, last):
            return {(fg, bg) for ch, fg, bg in cells[row - 1][first - 1:last] if ch != " "}

        colour_cases = [  # (row, first column, last column, colours)
            (8, 1, COLUMN - 1, PROMPT_COLOURS), (8, COLUMN, 80, TEXT), (11, 1, 80, TEXT),
            (13, 1, 80, PROMPT_COLOURS), (17, 1, 80, PROMPT_COLOURS),
            (21, 1, COLUMN - 1, PROMPT_COLOURS), (21, COLUMN, 80, TEXT), (22, 1, 80, TEXT),
            (27, 1, 80, PROMPT_COLOURS), (28, 1, 80, TEXT), (30, 1, 80, PROMPT_COLOURS), (31, 1, 80, TEXT),
            (35, 1, 80, TEXT), (36, 1, 80, PROMPT_COLOURS),
        ]
        for row, first, last, pair in colour_cases:
            with self.subTest(colour_row=row, first=first):
                self.assertEqual(colours(row, first, last), {pair})

        self.assertEqual(self.quit(terminal), 0)
        left, right = split_expected(200, 16, interleaved)
        self.assertEqual(len(left), 444)
        self.assertEqual((self.folder / "take 1 left channel.wav").read_bytes(), left)
        self.assertEqual((self.folder / "take 1 right channel.wav").read_bytes(), right)
        self.assertEqual((self.folder / "take 1.wav").read_bytes(), source)
        self.assertEqual(self.folder_listing(), ["take 1 left channel.wav", "take 1 right channel.wav", "take 1.wav"])

    def test_float_file_in_a_folder_keeps_format_code_3(self):
        values = [(0.5 - i / 64, -1.0 + i / 128) for i in range(96)]
        interleaved = b"".join(struct.pack("<ff", a, b) for a, b in values)
        self.write("takes/float take.wav", td.wave_bytes(2, 48000, 32, interleaved, format_tag=3))

        terminal = self.start()
        self.answer(terminal, "takes/float take.wav")
        rows = terminal.wait_for_row(36, "   press any key to quit", JOB_TIMEOUT)
        self.assertEqual(rows[20], answer_row("takes/float take left channel.wav")("   Output files will be:"))
        self.assertEqual(rows[14], INDENT + "Resolution   32 bits")
        self.assertEqual(self.quit(terminal), 0)

        left, right = split_expected(48000, 32, interleaved, format_tag=3)
        for name, expected, channel in (("left", left, 0), ("right", right, 1)):
            with self.subTest(name):
                written = (self.folder / f"takes/float take {name} channel.wav").read_bytes()
                self.assertEqual(struct.unpack_from("<H", written, 20)[0], 3)
                self.assertEqual(written, expected)
                samples = struct.unpack_from("<96f", written, 44)
                self.assertEqual(list(samples), [pair[channel] for pair in values])
        self.assertFalse((self.folder / "float take left channel.wav").exists(), "outputs belong beside the input")


if __name__ == "__main__":
    unittest.main(verbosity=2)
