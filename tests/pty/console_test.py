"""The console of both programs in a real terminal (tmux): the banner and
prompts, the error box and the restart, character echo, small and resized
terminals, and every way out leaving the terminal as it was found."""

import re
import shlex
import signal
import sys
import tempfile
import unittest
import wave
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

RIP_PROMPT = "   Wave file to process?"
KNIT_PROMPT = "   Left channel Wave file?"
PROMPT_ROW = 8
RIP_COLUMN = 27
KNIT_COLUMN = 29
PROMPT_BY_PROGRAM = {"stereorip": (RIP_PROMPT, RIP_COLUMN), "stereoknit": (KNIT_PROMPT, KNIT_COLUMN)}
BANNER_NAME = {"stereorip": "   Stereorip", "stereoknit": "   Stereoknit"}
FOUND_TEXT = "File not found."
VALID_TEXT = "Please enter a valid filename"
PROMPT_TIMEOUT = 15
# What a split of "take 1.wav" leaves in the shell.
RECORD_OF_TAKE_1 = ["stereorip: wrote 'take 1 left channel.wav'", "stereorip: wrote 'take 1 right channel.wav'"]


class TerminalTestCase(td.FolderTestCase):
    folder_prefix = "console-test-"

    def start(self, name, width=80, height=40, around=True):
        """Starts program `name` in the temporary folder; with `around` the
        shell prints "before" first and "after STATUS" at its end."""
        argv = [td.program(name)]
        self.program_path = str(argv[0])
        command = td.shell_around(argv) if around else argv
        terminal = td.TmuxTerminal(command, cwd=self.folder, width=width, height=height)
        self.addCleanup(terminal.close)
        return terminal

    def wait_for_prompt(self, terminal, name):
        prompt, _ = PROMPT_BY_PROGRAM[name]
        return terminal.wait_for(lambda rows: rows[PROMPT_ROW - 1].startswith(prompt), "the first prompt",
                                 PROMPT_TIMEOUT)

    def program_pid(self, terminal):
        children = terminal.child_pids()
        self.assertEqual(len(children), 1, "the shell should run exactly the program")
        return children[0]

    def assert_terminal_clean(self, terminal, shell_notice=None, record=()):
        """The program is gone: the normal screen shows the shell's lines
        and the `record` lines a program whose job ran leaves, in default
        colours, with the cursor visible and no modes left."""
        after_row, _ = terminal.wait_for_after_line()
        rows = terminal.rows()
        self.assertEqual(rows[0], "before", terminal.screen_dump())
        self.assertEqual(rows[1:1 + len(record)], list(record), terminal.screen_dump())
        # The shell's own notice (say of a crash) may wrap over several rows.
        left = "".join(rows[1 + len(record):after_row - 1])
        if shell_notice:
            left = re.sub(r"^.*?" + re.escape(shell_notice) + r"\s*" + re.escape(self.program_path), "", left)
        self.assertEqual(left.strip(), "", "program output left on the normal screen\n" + terminal.screen_dump())
        flags = terminal.flags()
        self.assertFalse(flags["alternate_on"], "still on the alternate screen")
        self.assertTrue(flags["cursor_flag"], "cursor left hidden")
        self.assertFalse(flags["keypad_cursor_flag"], "keypad mode left on")
        self.assertFalse(flags["mouse_any_flag"], "mouse reporting left on")
        coloured = terminal.coloured_rows()[after_row - 1]
        self.assertEqual(coloured, rows[after_row - 1], "colours left set for the shell's text")

    def make_stereo_wave(self, name):
        with wave.open(str(self.folder / name), "wb") as out:
            out.setnchannels(2)
            out.setsampwidth(2)
            out.setframerate(44100)
            out.writeframes(bytes(range(256)) * 4)


class BannerAndPrompt(TerminalTestCase):
    def test_banner_rows_and_first_prompt(self):
        for name in ("stereorip", "stereoknit"):
            with self.subTest(name):
                terminal = self.start(name)
                rows = self.wait_for_prompt(terminal, name)
                prompt, column = PROMPT_BY_PROGRAM[name]
                self.assertEqual(rows[0], "")
                self.assertEqual(rows[1], BANNER_NAME[name])
                for banner_row in rows[2:4]:
                    self.assertTrue(banner_row.startswith("   ") and banner_row[3:4].strip(),
                                    f"banner line {banner_row!r} should start with three blanks")
                self.assertEqual(rows[4:7], ["", "", ""])
                self.assertEqual(rows[PROMPT_ROW - 1], prompt)
                self.assertEqual(terminal.cursor(), (PROMPT_ROW, column))

    def test_colours_black_and_dark_grey_on_bright_white(self):
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_text("x.wav")
        terminal.wait_for(lambda rows: rows[PROMPT_ROW - 1].endswith("x.wav"), "the echo")
        cells = terminal.cell_colours()

        def colours_of(row, start, length):
            return {(fg, bg) for ch, fg, bg in cells[row - 1][start - 1:start - 1 + length] if ch != " "}

        text, prompt = (0, 15), (8, 15)  # palette: black, dark grey, on bright white
        self.assertEqual(colours_of(2, 1, 12), {text})
        self.assertEqual(colours_of(PROMPT_ROW, 1, len(RIP_PROMPT)), {prompt})
        self.assertEqual(colours_of(PROMPT_ROW, RIP_COLUMN, len("x.wav")), {text})
        blanks = {bg for ch, fg, bg in cells[4] if ch == " "}
        self.assertEqual(blanks, {15}, "empty rows should show the window's background")


class ErrorBox(TerminalTestCase):
    def test_unknown_name_shows_box_then_restarts(self):
        for close_key in ("Enter", "Space", "Escape"):
            with self.subTest(close_key):
                terminal = self.start("stereorip")
                self.wait_for_prompt(terminal, "stereorip")
                terminal.send_text("no such take.wav")
                terminal.send_keys("Enter")
                # The terminal may show the box before all of it has arrived:
                # wait for its bottom border.
                rows = terminal.wait_for(lambda r: any(VALID_TEXT in x for x in r) and any("└" in x for x in r),
                                         "the whole box")
                caption = [r for r in rows if "ERROR" in r]
                self.assertEqual(len(caption), 1, terminal.screen_dump())
                found_row = next(i for i, r in enumerate(rows) if FOUND_TEXT in r)
                valid_row = next(i for i, r in enumerate(rows) if VALID_TEXT in r)
                self.assertEqual(valid_row, found_row + 1, "the \\n of the message should break the line")
                self.assertNotIn("\\n", "".join(rows))
                self.assertIn("OK", "".join(rows[valid_row:]))
                # The box lies over the window without changing what is beneath it.
                self.assertEqual(rows[1], BANNER_NAME["stereorip"])
                self.assertEqual(rows[PROMPT_ROW - 1], RIP_PROMPT + "  no such take.wav")

                terminal.send_keys(close_key)
                rows = terminal.wait_for(lambda r: not any("ERROR" in x for x in r), "the box to close")
                rows = terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT)
                self.assertEqual(rows[1], BANNER_NAME["stereorip"])
                self.assertFalse(any(VALID_TEXT in r for r in rows))
                self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN))

    def test_other_keys_leave_the_box_open(self):
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_keys("Enter")
        terminal.wait_for_text(VALID_TEXT)
        # None of these may close the box: had one done so, the keys after it
        # would reach the restarted prompt and the Enter would refuse again.
        terminal.send_text("q")
        terminal.send_keys("Up", "F1", "BSpace", "Tab")
        terminal.send_text("x")
        terminal.send_keys("Enter")
        terminal.send_text("z")
        rows = terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT + "  z")
        self.assertFalse(any("ERROR" in r for r in rows), terminal.screen_dump())

    def test_resize_redraws_box_and_window(self):
        terminal = self.start("stereorip", width=80, height=40)
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_text("gone.wav")
        terminal.send_keys("Enter")
        terminal.wait_for_text(VALID_TEXT)
        terminal.resize(50, 20)
        rows = terminal.wait_for(lambda r: any(VALID_TEXT in x for x in r) and r[1] == BANNER_NAME["stereorip"],
                                 "the box redrawn at 50x20")
        self.assertTrue(all(len(r) <= 50 for r in rows), terminal.screen_dump())
        box_rows = [i for i, r in enumerate(rows) if "│" in r or "┌" in r or "└" in r]
        self.assertTrue(box_rows, terminal.screen_dump())
        middle = (box_rows[0] + box_rows[-1]) / 2
        self.assertLessEqual(abs(middle - (20 - 1) / 2), 1, "box should stay centred\n" + terminal.screen_dump())
        terminal.resize(80, 40)
        terminal.wait_for(lambda r: any(VALID_TEXT in x for x in r) and r[PROMPT_ROW - 1] == RIP_PROMPT + "  gone.wav",
                          "the box and the answer at 80x40")
        terminal.send_keys("Enter")
        rows = terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT)
        self.assertEqual(rows[1], BANNER_NAME["stereorip"])


class Echo(TerminalTestCase):
    def test_utf8_name_echoes_characters_and_backspace_removes_them(self):
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        answer_index = RIP_COLUMN - 1
        terminal.send_text("käse 日本.wav")
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1].endswith(".wav"), "the echo")
        self.assertEqual(rows[PROMPT_ROW - 1][answer_index:], "käse 日本.wav")
        # Eight narrow characters and two wide ones take 13 cells.
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + 13))

        cases = [  # (backspaces, answer left on screen, its width in cells)
            (4, "käse 日本", 9),
            (1, "käse 日", 7),
            (3, "käs", 3),
            (1, "kä", 2),
            (1, "k", 1),
            (3, "", 0),
        ]
        for backspaces, left, width in cases:
            with self.subTest(left=left):
                terminal.send_keys(*["BSpace"] * backspaces)
                rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1][answer_index:] == left,
                                         f"the answer to read {left!r}")
                self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + width))
        self.assertEqual(rows[PROMPT_ROW - 1], RIP_PROMPT)

    def test_a_character_the_terminal_cannot_measure_keeps_its_two_cells(self):
        # U+3098 lies in a block of wide characters but is unassigned: the
        # window gives it two cells, the terminal's own measure none. It shows
        # as a replacement character and a blank, and what follows stays put.
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        answer_index = RIP_COLUMN - 1
        terminal.send_text("a\u3098b")
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1].endswith("b"), "the echo")
        self.assertEqual(rows[PROMPT_ROW - 1][answer_index:], "a\ufffd b")
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + 4))
        terminal.send_keys("BSpace", "BSpace")
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1][answer_index:] == "a", "the answer to read 'a'")
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + 1))

    def test_utf8_name_opens_the_file_of_those_bytes(self):
        self.make_stereo_wave("käse 日本.wav")
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_text("käse 日本.wav")
        terminal.send_keys("Enter")
        rows = terminal.wait_for(lambda r: any(FOUND_TEXT in x or "käse 日本 left channel.wav" in x for x in r),
                                 "the file to be accepted or refused")
        self.assertFalse(any(FOUND_TEXT in r for r in rows), terminal.screen_dump())


class SmallTerminal(TerminalTestCase):
    def test_80x24_shows_prompt_answer_and_final_lines(self):
        self.make_stereo_wave("take 1.wav")
        terminal = self.start("stereorip", width=80, height=24)
        rows = self.wait_for_prompt(terminal, "stereorip")
        self.assertEqual(rows[1], BANNER_NAME["stereorip"])
        terminal.send_text("take 1.wav")
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1] == RIP_PROMPT + "  take 1.wav", "the echo")
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + len("take 1.wav")))
        terminal.send_keys("Enter")
        # The job's last lines lie below row 24: the view follows the cursor.
        rows = terminal.wait_for_text("press any key to quit", PROMPT_TIMEOUT)
        cursor_row, _ = terminal.cursor()
        self.assertLessEqual(cursor_row, 24)
        self.assertIn("press any key to quit", rows[cursor_row - 2], terminal.screen_dump())
        terminal.send_text("q")
        self.assertEqual(terminal.wait_for_after_line()[1], 0)
        self.assert_terminal_clean(terminal, record=RECORD_OF_TAKE_1)

    def test_narrow_terminal_follows_the_cursor(self):
        answer = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN"
        terminal = self.start("stereorip", width=60, height=15)
        terminal.wait_for_text("Wave file")
        terminal.send_text(answer)
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1].endswith("LMN"), "the end of the answer in view")
        self.assertTrue(all(len(r) <= 60 for r in rows))
        row, column = terminal.cursor()
        self.assertEqual(row, PROMPT_ROW)
        self.assertEqual(column, len(rows[PROMPT_ROW - 1]) + 1, "cursor should stand after the echo")

        terminal.resize(80, 40)
        rows = terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT + "  " + answer)
        self.assertEqual(rows[1], BANNER_NAME["stereorip"])
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, RIP_COLUMN + len(answer)))

    def test_tiny_terminal_survives_and_recovers(self):
        terminal = self.start("stereorip", width=80, height=40)
        self.wait_for_prompt(terminal, "stereorip")
        for width, height in ((20, 5), (4, 2), (1, 1), (80, 40)):
            terminal.resize(width, height)
        terminal.send_text("ok")
        rows = terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT + "  ok")
        self.assertEqual(rows[1], BANNER_NAME["stereorip"])
        self.assertFalse(terminal.dead())


class WaysOut(TerminalTestCase):
    def test_stop_signals_end_promptly_with_their_status(self):
        cases = [(signal.SIGTERM, 143), (signal.SIGHUP, 129), (signal.SIGINT, 130)]
        for signum, status in cases:
            with self.subTest(signal=signum.name):
                terminal = self.start("stereorip")
                self.wait_for_prompt(terminal, "stereorip")
                terminal.send_text("half typed")
                terminal.wait_for(lambda r: r[PROMPT_ROW - 1].endswith("half typed"), "the echo")
                terminal.send_signal(signum, self.program_pid(terminal))
                self.assertEqual(terminal.wait_for_after_line(timeout=5)[1], status)
                self.assert_terminal_clean(terminal)

    def test_ctrl_c_ends_the_program(self):
        terminal = self.start("stereoknit")
        self.wait_for_prompt(terminal, "stereoknit")
        terminal.send_keys("C-c")
        self.assertEqual(terminal.wait_for_after_line(timeout=5)[1], 130)
        self.assert_terminal_clean(terminal)

    def test_stop_signal_closes_an_open_box(self):
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_keys("Enter")
        terminal.wait_for_text(VALID_TEXT)
        terminal.send_signal(signal.SIGTERM, self.program_pid(terminal))
        self.assertEqual(terminal.wait_for_after_line(timeout=5)[1], 143)
        self.assert_terminal_clean(terminal)

    def test_crash_signal_restores_terminal(self):
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_signal(signal.SIGSEGV, self.program_pid(terminal))
        self.assertEqual(terminal.wait_for_after_line(timeout=5)[1], 128 + signal.SIGSEGV)
        self.assert_terminal_clean(terminal, shell_notice="Segmentation fault")

    def test_closed_terminal_ends_the_program(self):
        for name in ("stereorip", "stereoknit"):
            with self.subTest(name):
                terminal = self.start(name, around=False)
                self.wait_for_prompt(terminal, name)
                pid = terminal.pane_pid()
                terminal.kill_pane()
                self.assertTrue(td.wait_for_process_gone(pid, timeout=5), f"{name} still runs without a terminal")

    def test_final_key_ends_with_status_zero(self):
        self.make_stereo_wave("take 2.wav")
        terminal = self.start("stereorip")
        self.wait_for_prompt(terminal, "stereorip")
        terminal.send_text("take 2.wav")
        terminal.send_keys("Enter")
        terminal.wait_for_text("press any key to quit", PROMPT_TIMEOUT)
        terminal.send_keys("Space")
        self.assertEqual(terminal.wait_for_after_line()[1], 0)
        self.assert_terminal_clean(terminal, record=["stereorip: wrote 'take 2 left channel.wav'",
                                                     "stereorip: wrote 'take 2 right channel.wav'"])

    def test_title_is_set_while_running_and_given_back(self):
        terminal = self.start("stereoknit")
        self.wait_for_prompt(terminal, "stereoknit")
        terminal.wait_for(lambda _: terminal.pane_title() == "Stereoknit", "the window title")
        terminal.send_keys("C-c")
        terminal.wait_for_after_line(timeout=5)
        self.assertNotEqual(terminal.pane_title(), "Stereoknit")


class NoTerminal(unittest.TestCase):
    def test_without_terminal_one_line_and_status_2(self):
        for name in ("stereorip", "stereoknit"):
            with self.subTest(name):
                result = td.run_without_terminal([td.program(name)])
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn("interactive terminal", lines[0])

    def test_output_not_a_terminal_gives_status_2(self):
        with tempfile.TemporaryDirectory(prefix="console-test-") as folder:
            command = f"{shlex.quote(str(td.program('stereorip')))} > out.txt; echo after $?; exec sleep 600"
            with td.TmuxTerminal(command, cwd=folder) as terminal:
                rows = terminal.wait_for_text("after ")
                self.assertIn("after 2", rows)
                messages = [r for r in rows if "interactive terminal" in r]
                self.assertEqual(len(messages), 1, terminal.screen_dump())
                self.assertEqual(Path(folder, "out.txt").read_text(), "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
