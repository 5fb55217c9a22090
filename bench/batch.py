#!/usr/bin/env python3
"""Times a batch split from the command line: stereorip over many stereo
files with -j 1 to 4, and a shell loop over sndfile-deinterleave on the same
files, in one hyperfine run. Outputs are deleted and `sync` run before every
run; afterwards each tool's outputs of one file are checked against the
input's samples.

    python3 bench/batch.py [--files 200] [--size-mib 4] [--runs 5] [--jobs 1,2,3,4]

Needs hyperfine; sndfile-programs is optional. The programs come from
STEREOTOOLS_BIN or build/bin of this checkout."""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
BIN = Path(os.environ.get("STEREOTOOLS_BIN", HERE.parent / "build" / "bin"))


def wave_header(channels, rate, bits, data_size):
    block_align = channels * bits // 8
    return struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + data_size, b"WAVE", b"fmt ", 16, 1, channels, rate,
                       rate * block_align, block_align, bits, b"data", data_size)


def samples_of(path):
    """The bytes of the data chunk of the WAV file `path`."""
    content = Path(path).read_bytes()
    at = 12
    while at + 8 <= len(content):
        chunk, size = struct.unpack_from("<4sI", content, at)
        if chunk == b"data":
            return content[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    raise ValueError(f"{path} has no data chunk")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--size-mib", type=int, default=4)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--jobs", default="1,2,3,4")
    options = parser.parse_args()
    if not shutil.which("hyperfine"):
        sys.exit("hyperfine is not installed")
    stereorip = BIN / "stereorip"

    with tempfile.TemporaryDirectory(prefix="batch-bench-") as folder:
        folder = Path(folder)
        (folder / "in").mkdir()
        (folder / "out").mkdir()
        data = os.urandom(options.size_mib << 20)
        for i in range(options.files):
            (folder / "in" / f"take{i:03}.wav").write_bytes(wave_header(2, 44100, 16, len(data)) + data)

        commands = []
        for jobs in options.jobs.split(","):
            commands += ["--command-name", f"stereorip -j {jobs}",
                         "--prepare", "rm -f out/*.wav && sync",
                         f"{stereorip} -q -j {jobs} -o out in/*.wav"]
        if shutil.which("sndfile-deinterleave"):
            commands += ["--command-name", "sndfile-deinterleave loop",
                         "--prepare", "rm -f in/*_0?.wav && sync",
                         "sh -c 'for f in in/*.wav; do sndfile-deinterleave \"$f\" >/dev/null || exit 1; done'"]
        export = folder / "times.json"
        subprocess.run(["hyperfine", "--warmup", "1", "--runs", str(options.runs), "--export-json", str(export),
                        *commands], cwd=folder, check=True)

        frames = samples_of(folder / "in/take000.wav")
        left = b"".join(frames[i:i + 2] for i in range(0, len(frames), 4))
        right = b"".join(frames[i + 2:i + 4] for i in range(0, len(frames), 4))
        checks = [("stereorip", "out/take000 left channel.wav", "out/take000 right channel.wav")]
        if shutil.which("sndfile-deinterleave"):
            checks.append(("sndfile-deinterleave", "in/take000_00.wav", "in/take000_01.wav"))
        for tool, left_name, right_name in checks:
            exact = samples_of(folder / left_name) == left and samples_of(folder / right_name) == right
            print(f"{tool}: samples exact: {'yes' if exact else 'NO'}")

        results = json.loads(export.read_text())["results"]
        base = min(r["median"] for r in results if r["command"].startswith("stereorip"))
        print(f"\n{options.files} files of {options.size_mib} MiB, 16-bit stereo; median of {options.runs} runs")
        print("| command | median s | min s | max s | x best stereorip |")
        print("|---|---|---|---|---|")
        for r in results:
            print(f"| {r['command']} | {r['median']:.3f} | {r['min']:.3f} | {r['max']:.3f} "
                  f"| {r['median'] / base:.2f} |")


if __name__ == "__main__":
    main()
