"""Names typed the way people type them, in a real terminal (tmux): pasted
(dropped) file names with their shell quoting, Tab completion and the
partner file, and bracketed paste switched off again on every way out."""

import os
import shlex
import signal
import sys
import unittest
import wave
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import termdrive as td  # noqa: E402

RIP_PROMPT = "   Wave file to process?"
LEFT_PROMPT = "   Left channel Wave file?"
RIGHT_PROMPT = "   Right channel Wave file?"
PROMPT_ROW = 8
FOUND_TEXT = "File not found."
PROMPT_TIMEOUT = 15


def paste(terminal, text):
    """Pastes `text` as a terminal does for a dropped file: with the paste
    marks when the program asked for them."""
    terminal._tmux("set-buffer", "-b", "drop", "--", text)
    terminal._tmux("paste-buffer", "-p", "-r", "-d", "-b", "drop", "-t", "main")


class PasteTestCase(td.FolderTestCase):
    folder_prefix = "paste-test-"

    def start(self, name, command=None):
        argv = [td.program(name)]
        terminal = td.TmuxTerminal(command or td.shell_around(argv), cwd=self.folder, width=80, height=40)
        self.addCleanup(terminal.close)
        prompt = RIP_PROMPT if name == "stereorip" else LEFT_PROMPT
        terminal.wait_for(lambda rows: rows[PROMPT_ROW - 1].startswith(prompt), "the first prompt", PROMPT_TIMEOUT)
        return terminal

    def make_wave(self, name, channels):
        with wave.open(str(self.folder / name), "wb") as out:
            out.setnchannels(channels)
            out.setsampwidth(2)
            out.setframerate(44100)
            out.writeframes(bytes(range(256)) * 4)

    def wait_for_outcome(self, terminal, accepted_text):
        """Waits until the answer is accepted (accepted_text shows) or refused."""
        return terminal.wait_for(lambda r: any(FOUND_TEXT in x or accepted_text in x for x in r),
                                 "the answer to be accepted or refused", PROMPT_TIMEOUT)


class DroppedNames(PasteTestCase):
    def test_quoted_path_with_spaces_opens_the_file(self):
        self.make_wave("My take.wav", 2)
        dropped = [f"'{self.folder}/My take.wav' ", f"{shlex.quote(str(self.folder))}/My\\ take.wav\n"]
        for text in dropped:
            with self.subTest(text):
                terminal = self.start("stereorip")
                paste(terminal, text)
                terminal.send_keys("Enter")
                rows = self.wait_for_outcome(terminal, "My take left channel.wav")
                self.assertFalse(any(FOUND_TEXT in r for r in rows), terminal.screen_dump())
                # The outputs are named after the file opened, not the pasted text.
                self.assertTrue(any(r.endswith(f"{self.folder}/My take left channel.wav") for r in rows),
                                terminal.screen_dump())

    def test_a_name_with_a_byte_of_no_utf8_sequence_keeps_it(self):
        name = os.fsdecode(b"bad \xff take.wav")
        self.make_wave(name, 2)
        terminal = self.start("stereorip")
        paste(terminal, name)
        terminal.send_keys("Enter")
        rows = self.wait_for_outcome(terminal, "take left channel.wav")
        self.assertFalse(any(FOUND_TEXT in r for r in rows), terminal.screen_dump())

    def test_marks_never_enter_the_answer(self):
        terminal = self.start("stereorip")
        paste(terminal, "abc")
        rows = terminal.wait_for(lambda r: r[PROMPT_ROW - 1].endswith("abc"), "the pasted echo")
        self.assertEqual(rows[PROMPT_ROW - 1], RIP_PROMPT + "  abc")
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, 27 + 3))

    def test_exact_name_with_quotes_wins(self):
        self.make_wave("'take'.wav", 2)
        # Read as a shell word the text names this file, which is no WAV file.
        (self.folder / "take.wav").write_bytes(b"not a wave file at all, but long enough to read")
        terminal = self.start("stereorip")
        paste(terminal, "'take'.wav")
        terminal.send_keys("Enter")
        rows = self.wait_for_outcome(terminal, "'take' left channel.wav")
        self.assertFalse(any("ERROR" in r for r in rows), terminal.screen_dump())

    def test_quoted_text_typed_by_hand_names_no_file(self):
        self.make_wave("My take.wav", 2)
        terminal = self.start("stereorip")
        terminal.send_text("'My take.wav'")
        terminal.send_keys("Enter")
        rows = self.wait_for_outcome(terminal, "My take left channel.wav")
        self.assertTrue(any(FOUND_TEXT in r for r in rows), terminal.screen_dump())


class Completion(PasteTestCase):
    def test_tab_completes_and_lists_below_the_prompt(self):
        self.make_wave("take 1.wav", 2)
        self.make_wave("take 2.wav", 2)
        terminal = self.start("stereorip")
        terminal.send_text("t")
        terminal.send_keys("Tab")
        terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT + "  take")
        terminal.send_keys("Tab")
        rows = terminal.wait_for_row(PROMPT_ROW + 1, "   take 1.wav  take 2.wav")
        self.assertEqual(terminal.cursor(), (PROMPT_ROW, 27 + len("take ")))
        terminal.send_text("2")
        rows = terminal.wait_for_row(PROMPT_ROW + 1, "")
        terminal.send_keys("Tab")
        terminal.wait_for_row(PROMPT_ROW, RIP_PROMPT + "  take 2.wav")
        terminal.send_keys("Enter")
        rows = self.wait_for_outcome(terminal, "take 2 left channel.wav")
        self.assertFalse(any(FOUND_TEXT in r for r in rows), terminal.screen_dump())
        self.assertEqual(rows[PROMPT_ROW], "", "the listing should be gone from the row below")

    def test_right_prompt_proposes_the_partner_file(self):
        self.make_wave("take_L.wav", 1)
        self.make_wave("take_R.wav", 1)
        terminal = self.start("stereoknit")
        terminal.send_text("take_L.wav")
        terminal.send_keys("Enter")
        terminal.wait_for(lambda r: r[PROMPT_ROW].startswith(RIGHT_PROMPT), "the right prompt", PROMPT_TIMEOUT)
        terminal.send_keys("Tab")
        terminal.wait_for_row(PROMPT_ROW + 1, RIGHT_PROMPT + " take_R.wav")
        terminal.send_keys("Enter")
        terminal.wait_for_text("   Output Wave file?")


class PasteModeGivenBack(PasteTestCase):
    def start_with_cat(self):
        """Starts stereorip under a shell that, once it has ended, shows what
        a paste sends with `cat -v`: the marks only if paste marking stayed on."""
        program = shlex.quote(str(td.program("stereorip")))
        command = f"printf 'before\\n'; {program}; printf 'after %s\\n' \"$?\"; exec cat -v"
        return self.start("stereorip", command)

    def assert_paste_arrives_unmarked(self, terminal):
        terminal.wait_for_after_line(timeout=5)
        paste(terminal, "plain\n")
        rows = terminal.wait_for(lambda r: sum("plain" in x for x in r) >= 2, "cat to echo the paste")
        self.assertFalse(any("200~" in r or "201~" in r for r in rows), terminal.screen_dump())

    def test_paste_marking_is_off_after_each_way_out(self):
        ways_out = {
            "Ctrl-C": lambda t: t.send_keys("C-c"),
            "SIGTERM": lambda t: t.send_signal(signal.SIGTERM, t.child_pids()[0]),
            "crash": lambda t: t.send_signal(signal.SIGSEGV, t.child_pids()[0]),
        }
        for name, end in ways_out.items():
            with self.subTest(name):
                terminal = self.start_with_cat()
                end(terminal)
                self.assert_paste_arrives_unmarked(terminal)

    def test_paste_marking_is_off_after_a_finished_job(self):
        self.make_wave("take.wav", 2)
        terminal = self.start_with_cat()
        terminal.send_text("take.wav")
        terminal.send_keys("Enter")
        terminal.wait_for_text("press any key to quit", PROMPT_TIMEOUT)
        terminal.send_keys("Space")
        self.assert_paste_arrives_unmarked(terminal)


if __name__ == "__main__":
    unittest.main(verbosity=2)
