#!/usr/bin/env python3
"""Moves each file's bytes through this process's memory into two new files.

    python3 bench/passthrough.py [-j JOBS] -o FOLDER [FILE]...

The yardstick for what any program that rearranges a file's bytes must at
least pay: each FILE is read in blocks of 1 MiB into one buffer, the first
half of every block is written to FOLDER/NAME.a and the second half to
FOLDER/NAME.b, through temporary names renamed into place. Nothing is
rearranged or checked, so the time is the reads, the writes and the files,
which `cp` (copied inside the kernel, one file per input) does not show.
JOBS processes share the files, as `stereorip -j JOBS` does.
"""
import argparse
import os
import sys

BLOCK = 1 << 20


def pass_through(path, folder):
    name = os.path.basename(path)
    targets = [os.path.join(folder, f"{name}.{half}") for half in "ab"]
    temporaries = [os.path.join(folder, f".{name}.{half}.part") for half in "ab"]
    buffer = bytearray(BLOCK)
    view = memoryview(buffer)
    source = os.open(path, os.O_RDONLY)
    outputs = [os.open(t, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666) for t in temporaries]
    try:
        while True:
            got = os.readv(source, [view])
            if got == 0:
                break
            half = got // 2
            for output, part in zip(outputs, (view[:half], view[half:got])):
                while part:
                    part = part[os.write(output, part):]
    finally:
        os.close(source)
        for output in outputs:
            os.close(output)
    for temporary, target in zip(temporaries, targets):
        os.rename(temporary, target)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-j", "--jobs", type=int, default=1)
    parser.add_argument("-o", "--output-folder", required=True)
    parser.add_argument("files", nargs="*")
    options = parser.parse_args()
    children = []
    for job in range(1, options.jobs):
        pid = os.fork()
        if pid == 0:
            for path in options.files[job::options.jobs]:
                pass_through(path, options.output_folder)
            os._exit(0)
        children.append(pid)
    for path in options.files[0::options.jobs]:
        pass_through(path, options.output_folder)
    failed = any(os.waitpid(pid, 0)[1] != 0 for pid in children)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
