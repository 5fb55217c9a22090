#!/usr/bin/env python3
"""Times whole split and join jobs against cp and the common peers.

    bench/jobs.py [--size-mib N] [--runs N] [--depths 16,24] [--dir FOLDER]

Makes a stereo input of N MiB of samples (and the two mono halves for the
join), then times with hyperfine, outputs deleted and `sync` run before every
run: cp of the input, stereorip and stereoknit through a pseudo-terminal
(bench/drive.py; the driver's own cost, measured against a program that
exits at once, is subtracted), and sox, ffmpeg and the libsndfile tools when
installed. Prints one table: median wall time, ratio to cp, peak resident
memory, and whether each output's samples are byte-identical to the
expected data.
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DRIVE = os.path.join(HERE, "drive.py")
BIN = os.path.join(os.path.dirname(HERE), "build", "bin")


def wave_bytes(channels, bits, rate, data_size):
    width = bits // 8
    return (b"RIFF" + struct.pack("<I", data_size + 36) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * channels * width, channels * width, bits) +
            b"data" + struct.pack("<I", data_size))


def data_chunk(path):
    """Returns the sample bytes of a WAV file's data chunk (chunks walked)."""
    with open(path, "rb") as f:
        blob = f.read()
    pos = 12
    while pos + 8 <= len(blob):
        cid, size = blob[pos:pos + 4], struct.unpack("<I", blob[pos + 4:pos + 8])[0]
        if cid == b"data":
            return blob[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    return None


def hyperfine(name, command, prepare, runs, workdir):
    out = os.path.join(workdir, "hf.json")
    subprocess.run(["hyperfine", "--style", "none", "--runs", str(runs), "--prepare", prepare,
                    "--export-json", out, "--command-name", name, command],
                   check=True, cwd=workdir, stdout=subprocess.DEVNULL)
    with open(out) as f:
        return json.load(f)["results"][0]["median"]


def peak_kib(command, workdir, prepare):
    subprocess.run(prepare, shell=True, cwd=workdir, check=True)
    rss = os.path.join(workdir, "rss.txt")
    if command.startswith(sys.executable + " " + DRIVE):
        env = dict(os.environ, DRIVE_RSS_FILE=rss)
        subprocess.run(command, shell=True, cwd=workdir, env=env, check=True, stdout=subprocess.DEVNULL)
    else:
        subprocess.run(f"/usr/bin/time -f %M -o {rss} {command}", shell=True, cwd=workdir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(rss) as f:
        return int(f.read().split()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--depths", default="16,24")
    parser.add_argument("--dir", default=None)
    args = parser.parse_args()
    if not shutil.which("hyperfine"):
        sys.exit("jobs.py needs hyperfine (apt-get install hyperfine)")

    workdir = tempfile.mkdtemp(prefix="stereobench-", dir=args.dir)
    py = sys.executable
    rows = []
    try:
        driver_cost = hyperfine("driver", f"{py} {DRIVE} null", "true", args.runs, workdir)
        for bits in (int(b) for b in args.depths.split(",")):
            width = bits // 8
            frames = args.size_mib * (1 << 20) // (2 * width)
            data = os.urandom(frames * 2 * width)
            with open(os.path.join(workdir, "in.wav"), "wb") as f:
                f.write(wave_bytes(2, bits, 48000, len(data)) + data)
            left = bytearray(frames * width)
            right = bytearray(frames * width)
            for k in range(width):
                left[k::width] = data[k::2 * width]
                right[k::width] = data[width + k::2 * width]
            for name, samples in (("L.wav", left), ("R.wav", right)):
                with open(os.path.join(workdir, name), "wb") as f:
                    f.write(wave_bytes(1, bits, 48000, len(samples)) + samples)
            subprocess.run(["cat", "in.wav", "L.wav", "R.wav"], cwd=workdir, check=True, stdout=subprocess.DEVNULL)

            pcm = f"pcm_s{bits}le"
            split_outs = {"left": left, "right": right}
            jobs = [
                ("cp", "cp in.wav copy.wav", "rm -f copy.wav", {}),
                ("stereorip", f"{py} {DRIVE} stereorip {BIN}/stereorip in.wav",
                 "rm -f 'in left channel.wav' 'in right channel.wav'",
                 {"in left channel.wav": left, "in right channel.wav": right}),
                ("stereoknit", f"{py} {DRIVE} stereoknit {BIN}/stereoknit L.wav R.wav joined.wav",
                 "rm -f joined.wav", {"joined.wav": data}),
            ]
            if shutil.which("sndfile-deinterleave"):
                jobs.append(("sndfile-deinterleave", "sndfile-deinterleave in.wav", "rm -f in_00.wav in_01.wav",
                             {"in_00.wav": left, "in_01.wav": right}))
                jobs.append(("sndfile-interleave", "sndfile-interleave L.wav R.wav -o sfjoin.wav",
                             "rm -f sfjoin.wav", {"sfjoin.wav": data}))
            if shutil.which("sox"):
                jobs.append(("sox split", "sh -c 'sox in.wav sl.wav remix 1 && sox in.wav sr.wav remix 2'",
                             "rm -f sl.wav sr.wav", {"sl.wav": left, "sr.wav": right}))
                jobs.append(("sox join", "sox -M L.wav R.wav sj.wav", "rm -f sj.wav", {"sj.wav": data}))
            if shutil.which("ffmpeg"):
                jobs.append(("ffmpeg split",
                             "ffmpeg -v error -y -i in.wav -filter_complex '[0:a]channelsplit=channel_layout=stereo[l][r]' "
                             f"-map '[l]' -c:a {pcm} fl.wav -map '[r]' -c:a {pcm} fr.wav",
                             "rm -f fl.wav fr.wav", {"fl.wav": left, "fr.wav": right}))
                jobs.append(("ffmpeg join",
                             "ffmpeg -v error -y -i L.wav -i R.wav -filter_complex "
                             f"'[0:a][1:a]join=inputs=2:channel_layout=stereo[a]' -map '[a]' -c:a {pcm} fj.wav",
                             "rm -f fj.wav", {"fj.wav": data}))

            cp_time = None
            for name, command, cleanup, outputs in jobs:
                prepare = f"{cleanup}; sync"
                median = hyperfine(name, command, prepare, args.runs, workdir)
                if command.startswith(py + " " + DRIVE):
                    median = max(0.0, median - driver_cost)
                if name == "cp":
                    cp_time = median
                peak = peak_kib(command, workdir, prepare)
                exact = "-"
                if outputs:
                    exact = "yes" if all(data_chunk(os.path.join(workdir, o)) == bytes(e)
                                         for o, e in outputs.items()) else "NO"
                rows.append((f"{bits}-bit", name, median, median / cp_time, peak / 1024, exact))
                subprocess.run(cleanup, shell=True, cwd=workdir)
            del data, left, right, split_outs

        print(f"\n{args.size_mib} MiB of sample data, median of {args.runs} runs, "
              f"driver cost {driver_cost * 1000:.0f} ms subtracted from the pty-driven runs\n")
        print(f"| depth | job | median s | x cp | peak MiB | samples exact |")
        print(f"|---|---|---|---|---|---|")
        for depth, name, median, ratio, peak, exact in rows:
            print(f"| {depth} | {name} | {median:.3f} | {ratio:.2f} | {peak:.1f} | {exact} |")
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
