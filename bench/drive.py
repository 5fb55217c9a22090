#!/usr/bin/env python3
"""Drives one run of stereorip or stereoknit under a pseudo-terminal.

    drive.py stereorip BIN INPUT
    drive.py stereoknit BIN LEFT RIGHT OUTPUT
    drive.py null              (a program that exits at once: the driver's own cost)

Answers each prompt as it appears, presses a key at the end, and exits with
the program's status. Writes the program's peak resident memory in KiB to the
file named by $DRIVE_RSS_FILE when that is set.
"""
import os
import pty
import re
import select
import sys

ESCAPES = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|\x1b[()][A-Za-z0-9]|\x1b[=>78]")


def run(argv, answers):
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.setdefault("TERM", "xterm-256color")
        os.environ["LINES"], os.environ["COLUMNS"] = "40", "80"
        os.execv(argv[0], argv)
    os.set_blocking(fd, False)
    seen = b""
    pending = list(answers)
    while True:
        try:
            ready, _, _ = select.select([fd], [], [], 60)
        except InterruptedError:
            continue
        if not ready:
            sys.exit("drive.py: no output for 60 s; screen so far:\n" + seen.decode(errors="replace"))
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        seen += ESCAPES.sub(b"", chunk)
        while pending and pending[0][0] in seen:
            marker, reply = pending.pop(0)
            seen = seen[seen.index(marker) + len(marker):]
            os.write(fd, reply)
    _, status, usage = os.wait4(pid, 0)
    rss_file = os.environ.get("DRIVE_RSS_FILE")
    if rss_file:
        with open(rss_file, "w") as f:
            f.write(str(usage.ru_maxrss))
    os.close(fd)
    return os.waitstatus_to_exitcode(status)


def main():
    mode = sys.argv[1]
    if mode == "null":
        return run(["/bin/true"], [])
    binary = sys.argv[2]
    if mode == "stereorip":
        answers = [(b"file to process?", sys.argv[3].encode() + b"\r"), (b"press any key", b"q")]
    else:
        left, right, output = (a.encode() for a in sys.argv[3:6])
        answers = [(b"Left channel Wave file?", left + b"\r"), (b"Right channel Wave file?", right + b"\r"),
                   (b"Output Wave file?", output + b"\r"), (b"press any key", b"q")]
    return run([binary], answers)


if __name__ == "__main__":
    sys.exit(main())
