"""Drives the programs in a real terminal emulator: a detached tmux session
on a private server, with keys sent in and the screen read back as text.

Python standard library only. The programs' folder comes from
STEREOTOOLS_BIN (CTest sets it); by hand it defaults to build/bin of this
checkout.
"""

import itertools
import os
import re
import signal
import shlex
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

POLL_SECONDS = 0.05
DEFAULT_TIMEOUT = 10.0
INNER_TERM = "tmux-256color"

_serial = itertools.count()
_SGR = re.compile(r"\x1b\[([0-9;]*)m")


def _apply_sgr(state, parameters):
    codes = [int(p) if p else 0 for p in parameters.split(";")]
    i = 0
    while i < len(codes):
        code = codes[i]
        if code == 0:
            state["fg"] = state["bg"] = None
        elif 30 <= code <= 37:
            state["fg"] = code - 30
        elif 90 <= code <= 97:
            state["fg"] = code - 90 + 8
        elif 40 <= code <= 47:
            state["bg"] = code - 40
        elif 100 <= code <= 107:
            state["bg"] = code - 100 + 8
        elif code == 39:
            state["fg"] = None
        elif code == 49:
            state["bg"] = None
        elif code in (38, 48) and i + 2 < len(codes) and codes[i + 1] == 5:
            state["fg" if code == 38 else "bg"] = codes[i + 2]
            i += 2
        elif code in (38, 48) and i + 4 < len(codes) and codes[i + 1] == 2:
            i += 4
        i += 1


def wave_bytes(channels, rate, bits, samples, format_tag=1):
    """A canonical 44-byte-header WAV file holding `samples` as its data."""
    block_align = channels * ((bits + 7) // 8)
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(samples), b"WAVE", b"fmt ", 16, format_tag,
                         channels, rate, rate * block_align, block_align, bits, b"data", len(samples))
    return header + samples


class FolderTestCase(unittest.TestCase):
    """A test with a private folder (`self.folder`), removed after it, to
    run the programs in; subclasses name it with `folder_prefix`."""

    folder_prefix = "stereotools-test-"

    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix=self.folder_prefix)
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def write(self, name, content):
        """Writes `content` to `name` in the folder, making its folders."""
        path = self.folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path


def bin_dir():
    """Returns the folder that holds the built programs."""
    configured = os.environ.get("STEREOTOOLS_BIN")
    if configured:
        return Path(configured)
    return Path(__file__).resolve().parents[2] / "build" / "bin"


def program(name):
    """Returns the path of the built program `name`; fails when it is missing."""
    path = bin_dir() / name
    if not path.is_file():
        raise AssertionError(f"{path} is not built (set STEREOTOOLS_BIN to the programs' folder)")
    return path


class WriteHold:
    """Holds a program at its writes of sample blocks (tests/support/HoldWrites.cpp,
    preloaded), so that a test acts mid-job on an event instead of racing the
    job's end. Point N is the program's Nth such write; `wrap()` is the
    argv prefix that runs a program with the hold."""

    def __init__(self, case, points=(1,)):
        library = os.environ.get("STEREOTOOLS_HOLD_LIBRARY") or str(bin_dir().parent / "tests" / "libhold_writes.so")
        if not Path(library).is_file():
            raise AssertionError(f"{library} is not built (set STEREOTOOLS_HOLD_LIBRARY)")
        markers = tempfile.TemporaryDirectory(prefix="stereotools-hold-")
        case.addCleanup(markers.cleanup)
        self.folder = Path(markers.name)
        # The sanitizer runtime would refuse to come after a preloaded library.
        asan = ":".join(o for o in (os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0") if o)
        self.environment = {"LD_PRELOAD": library, "STEREOTOOLS_HOLD_DIR": str(self.folder),
                            "STEREOTOOLS_HOLD_AT": ",".join(str(p) for p in points), "ASAN_OPTIONS": asan}

    def wrap(self):
        return ["env", *(f"{k}={v}" for k, v in self.environment.items())]

    def wait_held(self, point, timeout=DEFAULT_TIMEOUT, dump=lambda: ""):
        """Waits until the program is held at `point`; fails after `timeout`."""
        marker = self.folder / f"held.{point}"
        deadline = time.monotonic() + timeout
        while not marker.exists():
            if time.monotonic() > deadline:
                raise AssertionError(f"the program was not held at write {point}\n" + dump())
            time.sleep(POLL_SECONDS)

    def release(self, point):
        """Lets the program go on from `point` (at once, or when it is continued)."""
        (self.folder / f"release.{point}").touch()


def base_environment(extra=None):
    """Returns the environment the programs run in: UTF-8, no outer tmux."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("TMUX")}
    env["LANG"] = "C.UTF-8"
    env.pop("LC_ALL", None)
    env.pop("LC_CTYPE", None)
    if extra:
        env.update(extra)
    return env


def run_without_terminal(argv, cwd=None, env=None, timeout=DEFAULT_TIMEOUT):
    """Runs `argv` with standard input from /dev/null and output to pipes.
    Returns the CompletedProcess (text mode)."""
    return subprocess.run(
        [str(a) for a in argv],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        cwd=cwd,
        env=base_environment(env),
        timeout=timeout,
        text=True,
    )


def shell_around(argv, before="before"):
    """Returns a shell command that prints `before`, runs `argv`, prints
    "after STATUS" and stays. The lines around the program show what it left
    on the normal screen, and the shell keeps the terminal's modes readable
    (a dead pane no longer shows them)."""
    command = shlex.join(str(a) for a in argv)
    return (f"printf '%s\\n' {shlex.quote(before)}; {command}; "
            f'printf "after %s\\n" "$?"; exec sleep 600')


def has_whole_box(rows):
    """Returns whether `rows` show a message box from its caption to its
    bottom border: the terminal may show the top of a box before the rest
    of it has arrived."""
    caption = next((i for i, r in enumerate(rows) if "ERROR" in r), None)
    return caption is not None and any("\u2514" in r for r in rows[caption + 1:])


class TmuxTerminal:
    """One program in a detached tmux session of its own.

    Use as a context manager (or call close()): the tmux server is killed
    whatever happens. The pane stays after the program exits so that its
    last screen can be read.
    """

    def __init__(self, command, cwd=None, env=None, width=80, height=40):
        if shutil.which("tmux") is None:
            raise AssertionError("tmux is not installed")
        self.socket = f"stereotools-{os.getpid()}-{next(_serial)}-{time.monotonic_ns() % 100000}"
        self.width = width
        self.height = height
        self._env = base_environment(env)
        if isinstance(command, (list, tuple)):
            command = "exec " + shlex.join(str(a) for a in command)
        self.command = command
        self._closed = False
        self._tmux(
            "set-option", "-g", "default-terminal", INNER_TERM, ";",
            "set-option", "-g", "remain-on-exit", "on", ";",
            "set-option", "-g", "status", "off", ";",
            "set-option", "-g", "escape-time", "0", ";",
            "new-session", "-d", "-s", "main", "-x", str(width), "-y", str(height),
            "-c", str(cwd or os.getcwd()), command,
        )
        self._socket_path = self._format("#{socket_path}")
        self._processes = set()  # (pid, start time) of everything run in the pane

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _tmux(self, *args, check=True):
        result = subprocess.run(
            ["tmux", "-L", self.socket, "-f", "/dev/null", *args],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            env=self._env,
            text=True,
            timeout=DEFAULT_TIMEOUT,
        )
        if check and result.returncode != 0:
            raise AssertionError(f"tmux {' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def close(self):
        """Ends what runs in the pane, kills the session's server and removes
        its socket. Programs get SIGTERM first: a hang-up from the server's
        end can race a sanitizer's exit-time leak check and leave a process
        spinning, so whatever has not ended after that is killed."""
        if self._closed:
            return
        self._closed = True
        self._note_processes()
        for process in self._processes:
            _signal_process(process, signal.SIGTERM)
        for pid, _ in self._processes:
            wait_for_process_gone(pid, timeout=3)
        try:
            self._tmux("kill-server", check=False)
        except subprocess.TimeoutExpired:
            pass
        for process in self._processes:
            if not wait_for_process_gone(process[0], timeout=1):
                _signal_process(process, signal.SIGKILL)
        try:
            os.unlink(self._socket_path)
        except OSError:
            pass

    def _note_processes(self):
        """Records the pane's process and all its descendants."""
        try:
            pending = [self.pane_pid()]
        except (AssertionError, ValueError, subprocess.TimeoutExpired):
            return
        while pending:
            pid = pending.pop()
            start = _start_time(pid)
            if start is None:
                continue
            self._processes.add((pid, start))
            pending.extend(self.child_pids(pid))

    # Keys.

    def send_text(self, text):
        """Types `text` literally."""
        self._tmux("send-keys", "-t", "main", "-l", "--", text)

    def send_keys(self, *names):
        """Presses named keys: Enter, BSpace, Escape, Space, C-c, Up, F1..."""
        self._tmux("send-keys", "-t", "main", *names)

    # The screen.

    def _format(self, fmt):
        return self._tmux("display-message", "-p", "-t", "main", fmt).rstrip("\n")

    def rows(self):
        """Returns the visible screen as a list of `height` strings, trailing
        blanks removed; rows()[0] is the top row."""
        text = self._tmux("capture-pane", "-p", "-t", "main")
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        lines = [line.rstrip() for line in lines]
        return (lines + [""] * self.height)[: self.height]

    def row(self, number):
        """Returns screen row `number`, counted from 1."""
        return self.rows()[number - 1]

    def coloured_rows(self):
        """Returns the screen rows with their SGR escape sequences."""
        return self._tmux("capture-pane", "-p", "-e", "-N", "-t", "main").split("\n")

    def cell_colours(self):
        """Returns, for every screen row, a list of (character, foreground,
        background) with colours as numbers 0..255 (None for the default)."""
        result = []
        state = {"fg": None, "bg": None}
        for line in self.coloured_rows():
            cells = []
            i = 0
            while i < len(line):
                match = _SGR.match(line, i)
                if match:
                    _apply_sgr(state, match.group(1))
                    i = match.end()
                    continue
                cells.append((line[i], state["fg"], state["bg"]))
                i += 1
            result.append(cells)
        return result

    def screen_dump(self):
        return "\n".join(f"{i + 1:3}|{line}" for i, line in enumerate(self.rows()))

    def cursor(self):
        """Returns the cursor position as (row, column), both from 1."""
        x, y = self._format("#{cursor_x} #{cursor_y}").split()
        return int(y) + 1, int(x) + 1

    def flags(self):
        """Returns the terminal modes that a program should leave as found."""
        keys = ["alternate_on", "cursor_flag", "keypad_flag", "keypad_cursor_flag", "mouse_any_flag"]
        values = self._format(" ".join("#{%s}" % k for k in keys)).split()
        return dict(zip(keys, (v == "1" for v in values)))

    def pane_title(self):
        return self._format("#{pane_title}")

    def resize(self, width, height):
        self._tmux("resize-window", "-t", "main", "-x", str(width), "-y", str(height))
        self.width = width
        self.height = height

    # The process.

    def dead(self):
        return self._format("#{pane_dead}") == "1"

    def pane_pid(self):
        return int(self._format("#{pane_pid}"))

    def child_pids(self, pid=None):
        """Returns the direct children of `pid` (default: the pane's process)."""
        pid = self.pane_pid() if pid is None else pid
        try:
            text = Path(f"/proc/{pid}/task/{pid}/children").read_text()
        except OSError:
            return []
        return [int(p) for p in text.split()]

    def send_signal(self, signum, pid=None):
        os.kill(self.pane_pid() if pid is None else pid, signum)

    def kill_pane(self):
        """Closes the pane's terminal under the running program."""
        self._note_processes()
        self._tmux("kill-pane", "-t", "main", check=False)

    # Waiting.

    def wait_for(self, predicate, what, timeout=DEFAULT_TIMEOUT):
        """Polls until predicate(rows) holds and returns the rows. Fails with
        the screen when the time runs out or the program exits first."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.rows()
            if predicate(rows):
                return rows
            if self.dead():
                rows = self.rows()
                if predicate(rows):
                    return rows
                raise AssertionError(f"program exited before {what}\n{self.screen_dump()}")
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out after {timeout}s waiting for {what}\n{self.screen_dump()}")
            time.sleep(POLL_SECONDS)

    def wait_for_text(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda rows: any(text in r for r in rows), repr(text), timeout)

    def wait_for_box(self, timeout=DEFAULT_TIMEOUT):
        """Waits until a whole message box is on the screen and returns the rows."""
        return self.wait_for(has_whole_box, "a whole message box", timeout)

    def wait_for_row(self, number, text, timeout=DEFAULT_TIMEOUT):
        """Waits until screen row `number` (from 1) reads exactly `text`."""
        return self.wait_for(lambda rows: rows[number - 1] == text, f"row {number} == {text!r}", timeout)

    def wait_for_after_line(self, timeout=DEFAULT_TIMEOUT):
        """Under shell_around: waits for the "after STATUS" line and returns
        (its row from 1, the status)."""
        def found(rows):
            return any(r.startswith("after ") and r[6:].isdigit() for r in rows)
        rows = self.wait_for(found, "the program to exit", timeout)
        number = next(i for i, r in enumerate(rows) if r.startswith("after ") and r[6:].isdigit())
        return number + 1, int(rows[number][6:])

    def wait_for_exit(self, timeout=DEFAULT_TIMEOUT):
        """Waits until the pane's process has exited. tmux 3.3 does not always
        record the exit status of a dead pane: read statuses through
        shell_around and wait_for_after_line instead."""
        deadline = time.monotonic() + timeout
        while not self.dead():
            if time.monotonic() > deadline:
                raise AssertionError(f"program still running after {timeout}s\n{self.screen_dump()}")
            time.sleep(POLL_SECONDS)


def _start_time(pid):
    """Returns the start time of process `pid` (to tell it from a later
    process of the same number), or None when it is gone or a zombie."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return None
    if fields[0] in ("Z", "X"):
        return None
    return fields[19]


def _signal_process(process, signum):
    pid, start = process
    if _start_time(pid) != start:
        return
    try:
        os.kill(pid, signum)
    except OSError:
        pass


def wait_for_process_gone(pid, timeout=DEFAULT_TIMEOUT):
    """Returns True when process `pid` has ended (or is a zombie) in time."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
        except (OSError, IndexError):
            return True
        if state in ("Z", "X"):
            return True
        time.sleep(POLL_SECONDS)
    return False


__all__ = [
    "TmuxTerminal", "bin_dir", "program", "run_without_terminal", "shell_around",
    "wait_for_process_gone",
]
