#!/usr/bin/env python3
"""Times whole split and join jobs through the command line.

    python3 bench/jobs.py [--size-mib 1024] [--runs 5] [--cold-runs 10] [--depths 8,16,24,32,64f]
                          [--parts warm,cold,batch,poly] [--files 200] [--file-mib 4]
                          [--jobs default,1] [--peers] [--dir FOLDER] [--poly-channels 4,8,16,32,64]
                          [--cores 2,1]

warm:  for each depth, one hyperfine run of `cp` of the stereo input, stereorip
       on it and stereoknit on its two mono halves (each side holds the same
       bytes), outputs removed and `sync` run before every run; beside them
       `dd bs=1M` and one_pass (bench/OnePass.cpp: read, each byte copied once
       in memory, the halves of each block written to two files: a split's
       floor, nothing rearranged).
cold:  as warm, but the page cache is dropped before every run (needs root),
       and the yardstick is `cat` reading the job's inputs; `cp` of the stereo
       input shows what reading and writing the same bytes costs.
batch: one hyperfine run of stereorip splitting FILES files of FILE_MIB MiB
       (16-bit) with the default -j and the -j values asked for, of a shell
       loop over sndfile-deinterleave on the same files, and of cp copying
       them (one at a time, and two at once), and of bench/passthrough.py
       moving the same bytes through memory into two files each, two at once
       (the floor of a split: nothing rearranged, nothing checked), and of it
       with no files (what starting Python costs it).
poly:  for each channel count N, one hyperfine run on SIZE_MIB MiB of 24-bit
       samples in one extensible file of N channels: stereorip against `cp` of
       the file, sndfile-deinterleave (N <= 16), a loop of one SoX `remix` per
       channel and ffmpeg's channelsplit with -c:a pcm_s24le; then, in a
       second run, stereoknit of the N mono files against `cat` of them,
       sndfile-interleave and `sox -M`; `cat` writes the monos into one file,
       reading and writing the bytes a join does. A peer that refuses the file (ffmpeg
       has no layout past some counts) is left out with a line saying so.

Every part runs each command as it is (all cores free) and, with --cores 1,
pinned to the first core with `taskset -c 0`, baselines included: one core is
what a job gets while anything else runs. Each row's ratio is against the
baseline run the same way. `dd bs=1M` (a user-space copy in 1 MiB blocks)
stands beside `cp` in the warm and cold parts.

Every output of every tool is compared byte for byte with the file it must be
(header and samples), and the peak resident memory of one run of each job is
taken with /usr/bin/time. Prints the processor (lscpu's model name), the load
at the start and at the end of each part, and the tables in Markdown. Needs hyperfine;
sndfile-programs (and sox for --peers) are optional. The programs come from
STEREOTOOLS_BIN or build/bin of this checkout.
"""
import argparse
import json
import os
import platform
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
BIN = Path(os.environ.get("STEREOTOOLS_BIN", HERE.parent / "build" / "bin"))
RATE = 48000
DROP_CACHES = "/proc/sys/vm/drop_caches"
PASS_THROUGH = HERE / "passthrough.py"
ONE_PASS = BIN / "one_pass"


class Depth:
    """A sample format: bits per sample and the format tag (1 PCM, 3 float)."""

    def __init__(self, text):
        self.float = text.endswith("f")
        self.bits = int(text.rstrip("f"))
        if self.bits % 8 or not 8 <= self.bits <= 64:
            raise argparse.ArgumentTypeError(f"{text}: not a whole-byte depth")
        self.width = self.bits // 8
        self.tag = 3 if self.float else 1
        self.name = f"{self.bits}-bit {'float' if self.float else 'PCM'}"


def wave_bytes(depth, channels, samples):
    """Returns a canonical 44-byte-header WAV file of `samples`."""
    align = channels * depth.width
    return struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(samples), b"WAVE", b"fmt ", 16, depth.tag,
                       channels, RATE, RATE * align, align, depth.bits, b"data", len(samples)) + samples


def stereo_and_halves(depth, total_bytes):
    """Returns random interleaved samples of about `total_bytes` and their left and right channels."""
    frame = 2 * depth.width
    data = os.urandom(total_bytes // frame * frame)
    left, right = bytearray(len(data) // 2), bytearray(len(data) // 2)
    for k in range(depth.width):
        left[k::depth.width] = data[k::frame]
        right[k::depth.width] = data[depth.width + k::frame]
    return data, bytes(left), bytes(right)


def halves(content, block=1 << 20):
    """Returns the first halves of the 1 MiB blocks of `content`, joined, and the second halves, as one_pass
    writes them."""
    pieces = [content[at:at + block] for at in range(0, len(content), block)]
    return (b"".join(p[:len(p) // 2] for p in pieces), b"".join(p[len(p) // 2:] for p in pieces))


def samples_of(content):
    """Returns the bytes of the data chunk of the WAV file `content`, or None."""
    at = 12
    while at + 8 <= len(content):
        chunk, size = struct.unpack_from("<4sI", content, at)
        if chunk == b"data":
            return content[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return None


def exact(folder, expected, whole=True):
    """Returns "yes" when every file named in `expected` holds exactly the bytes given for it (`whole`), or
    exactly its samples (other tools choose their own headers)."""
    for name, content in expected.items():
        path = Path(folder) / name
        if not path.is_file():
            return "NO"
        if whole and (path.stat().st_size != len(content) or path.read_bytes() != content):
            return "NO"
        if not whole and samples_of(path.read_bytes()) != samples_of(content):
            return "NO"
    return "yes"


def pinned(command, cores):
    """Returns `command` run on the first core alone when `cores` is 1, else as it is."""
    return f"taskset -c 0 {command}" if cores == 1 else command


def with_cores(jobs, options):
    """Returns `jobs` (name, command, ...) once per core setting asked for, the name telling a pinned run."""
    return [(name if cores != 1 else f"{name} (1 core)", pinned(command, cores), *rest, cores)
            for cores in options.cores for name, command, *rest in jobs]


def hyperfine(folder, commands, runs, warmup):
    """Runs `commands` (name, command, prepare) in one hyperfine run; returns name -> result."""
    arguments = ["hyperfine", "--style", "none", "-N", "--runs", str(runs), "--warmup", str(warmup),
                 "--export-json", "times.json"]
    for name, command, prepare in commands:
        # -N runs the preparation without a shell too.
        arguments += ["--command-name", name, "--prepare", f"sh -c {shlex.quote(prepare)}", command]
    # Its warnings about outliers go; the table shows min and max.
    run = subprocess.run(arguments, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.exit(f"hyperfine failed:\n{run.stderr}")
    results = json.loads((Path(folder) / "times.json").read_text())["results"]
    return {name: result for (name, _, _), result in zip(commands, results)}


def checked_run(folder, command, prepare, expected, whole):
    """Runs `command` once after `prepare`. Returns its peak resident memory in MiB and whether its outputs are
    exact (see `exact`)."""
    subprocess.run(prepare, shell=True, cwd=folder, check=True)
    report = Path(folder) / "rss.txt"
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(report), "sh", "-c", command], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = int(report.read_text().split()[-1]) / 1024
    checked = exact(folder, expected, whole) if expected else "-"
    subprocess.run(prepare, shell=True, cwd=folder, check=True)
    return peak, checked


def removal(names):
    return "rm -f " + " ".join(shlex.quote(name) for name in names) + " && sync"


def depth_jobs(peers):
    """Returns the jobs timed for each depth: (name, command, outputs, kind, whole), kind split or join, whole
    when the outputs are checked whole rather than only their samples."""
    jobs = [
        ("stereorip", f"{BIN}/stereorip -q in.wav", ["in left channel.wav", "in right channel.wav"], "split", True),
        ("stereoknit", f"{BIN}/stereoknit -q L.wav R.wav joined.wav", ["joined.wav"], "join", True),
    ]
    if not peers:
        return jobs
    if shutil.which("sndfile-deinterleave"):
        jobs.append(("sndfile-deinterleave", "sndfile-deinterleave in.wav", ["in_00.wav", "in_01.wav"], "split",
                     False))
        jobs.append(("sndfile-interleave", "sndfile-interleave L.wav R.wav -o sf.wav", ["sf.wav"], "join", False))
    if shutil.which("sox"):
        jobs.append(("sox split", "sh -c 'sox in.wav sl.wav remix 1 && sox in.wav sr.wav remix 2'",
                     ["sl.wav", "sr.wav"], "split", False))
        jobs.append(("sox join", "sox -M L.wav R.wav sj.wav", ["sj.wav"], "join", False))
    return jobs


def time_depths(folder, options, cold):
    """Times every depth, warm or cold. Returns table rows."""
    rows = []
    for depth in options.depths:
        data, left, right = stereo_and_halves(depth, options.size_mib << 20)
        files = {"in.wav": wave_bytes(depth, 2, data), "L.wav": wave_bytes(depth, 1, left),
                 "R.wav": wave_bytes(depth, 1, right)}
        del data, left, right
        for name, content in files.items():
            (folder / name).write_bytes(content)
        subprocess.run(["sync"], check=True)
        expected = {"in left channel.wav": files["L.wav"], "in right channel.wav": files["R.wav"],
                    "joined.wav": files["in.wav"], "copy.wav": files["in.wav"], "in_00.wav": files["L.wav"],
                    "in_01.wav": files["R.wav"], "sf.wav": files["in.wav"], "sl.wav": files["L.wav"],
                    "sr.wav": files["R.wav"], "sj.wav": files["in.wav"], "dd.wav": files["in.wav"],
                    "pass.a": halves(files["in.wav"])[0], "pass.b": halves(files["in.wav"])[1]}

        if cold:
            baselines = [("cat in.wav", "cat in.wav", [], "split", True),
                         ("cat L.wav R.wav", "cat L.wav R.wav", [], "join", True)]
        else:
            baselines = [("cp", "cp in.wav copy.wav", ["copy.wav"], "copy", True)]
        # Cold, cp shows what reading and writing the same bytes costs.
        references = [("cp", "cp in.wav copy.wav", ["copy.wav"], "split", True)] if cold else []
        # A user-space copy in 1 MiB blocks: what reading and writing costs a program.
        references.append(("dd bs=1M", "dd if=in.wav of=dd.wav bs=1M status=none", ["dd.wav"], "copy", True))
        # The floor of a split: read, each byte moved once in memory, written to two files.
        if ONE_PASS.exists():
            references.append(("one pass", f"{ONE_PASS} in.wav pass", ["pass.a", "pass.b"], "copy", True))
        plain = baselines + references + depth_jobs(options.peers)
        jobs = with_cores(plain, options)
        # Every run starts from the inputs alone: all outputs gone, written back, and for cold runs out of the cache.
        prepare = removal(sorted({o for job in plain for o in job[2]}))
        if cold:
            prepare += f" && echo 3 > {DROP_CACHES}"
        results = hyperfine(folder, [(name, command, prepare) for name, command, *_ in jobs],
                            options.cold_runs if cold else options.runs, 0 if cold else 1)
        base = {(kind, cores): results[name]["median"] for name, _, _, kind, _, cores in with_cores(baselines, options)}
        for name, command, outputs, kind, whole, cores in jobs:
            result = results[name]
            ratio = result["median"] / base.get((kind, cores), base.get(("copy", cores)))
            peak, checked = checked_run(folder, command, prepare, {o: expected[o] for o in outputs}, whole)
            rows.append((depth.name, name, result["median"], result["min"], result["max"], ratio, peak, checked))
        for name in files:
            (folder / name).unlink()
        del files, expected
    return rows


def time_batch(folder, options):
    """Times the batch split. Returns table rows and the name of the row they are compared with."""
    depth = Depth("16")
    (folder / "in").mkdir()
    (folder / "out").mkdir()
    data, left, right = stereo_and_halves(depth, options.file_mib << 20)
    stereo, left, right = wave_bytes(depth, 2, data), wave_bytes(depth, 1, left), wave_bytes(depth, 1, right)
    names = [f"take{i:03}" for i in range(options.files)]
    for name in names:
        (folder / "in" / f"{name}.wav").write_bytes(stereo)
    subprocess.run(["sync"], check=True)

    ours = {f"out/{n} left channel.wav": left for n in names} | {f"out/{n} right channel.wav": right for n in names}
    inputs = " ".join(f"in/{n}.wav" for n in names)
    # The floor: the same bytes copied, one file at a time and two at once.
    copies = {f"copy/{n}.wav": stereo for n in names}
    jobs = [("cp", f"cp -t copy {inputs}", copies, True),
            ("cp, two at once", f"sh -c 'ls in/*.wav | xargs -P 2 -n {max(1, options.files // 2)} cp -t copy'",
             copies, True),
            ("pass-through, two at once", f"python3 {PASS_THROUGH} -j 2 -o pass {inputs}", {}, True),
            # What the pass-through's Python costs before the first file.
            ("pass-through, no files", f"python3 {PASS_THROUGH} -j 2 -o pass", {}, True)]
    for jobs_option in options.jobs:
        flag = "" if jobs_option == "default" else f" -j {jobs_option}"
        jobs.append((f"stereorip{flag or ' (default -j)'}", f"{BIN}/stereorip -q{flag} -o out {inputs}", ours, True))
    if shutil.which("sndfile-deinterleave"):
        jobs.append(("sndfile-deinterleave loop",
                     "sh -c 'for f in in/*.wav; do sndfile-deinterleave \"$f\" >/dev/null || exit 1; done'",
                     {f"in/{n}_00.wav": left for n in names} | {f"in/{n}_01.wav": right for n in names}, False))
    (folder / "copy").mkdir()
    (folder / "pass").mkdir()
    prepare = "rm -f out/*.wav copy/*.wav pass/* in/*_0?.wav && sync"
    jobs = with_cores(jobs, options)
    results = hyperfine(folder, [(name, command, prepare) for name, command, *_ in jobs], options.runs, 1)
    ours_default = next(name for name, *_ in jobs if name.startswith("stereorip"))
    base = {}
    for name, *_, cores in jobs:
        if name.startswith("stereorip"):
            base.setdefault(cores, results[name]["median"])
    rows = []
    for name, command, expected, whole, cores in jobs:
        result = results[name]
        peak, checked = checked_run(folder, command, prepare, expected, whole)
        rows.append((name, result["median"], result["min"], result["max"], result["median"] / base[cores], peak,
                     checked))
    return rows, ours_default


def extensible_wave(channels, samples, bits=24):
    """Returns the header of an extensible PCM file of `channels` channels, mask 0, as stereoknit writes one."""
    align = channels * bits // 8
    fmt = (struct.pack("<HHIIHHHHI", 0xFFFE, channels, RATE, RATE * align, align, bits, 22, bits, 0)
           + bytes.fromhex("0100000000001000800000aa00389b71"))
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + samples) + b"WAVE" + b"fmt " + struct.pack("<I", len(fmt))
            + fmt + b"data" + struct.pack("<I", samples))


def poly_files(folder, channels, total_bytes):
    """Writes in.wav, an extensible file of `channels` 24-bit channels, and its mono channels m01.wav ... .
    Returns the mono files' contents, in channel order."""
    depth = Depth("24")
    frame = channels * depth.width
    data = os.urandom(total_bytes // frame * frame)
    with open(folder / "in.wav", "wb") as out:
        out.write(extensible_wave(channels, len(data)))
        out.write(data)
    monos = []
    for c in range(channels):
        mono = bytearray(len(data) // channels)
        for k in range(depth.width):
            mono[k::depth.width] = data[c * depth.width + k::frame]
        monos.append(wave_bytes(depth, 1, bytes(mono)))
        (folder / f"m{c + 1:02}.wav").write_bytes(monos[-1])
    return monos


def works(folder, command, prepare):
    """Returns "" when `command` succeeds once on the files, else its error output's last line."""
    subprocess.run(prepare, shell=True, cwd=folder, check=True)
    run = subprocess.run(command, shell=True, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True)
    subprocess.run(prepare, shell=True, cwd=folder, check=True)
    lines = run.stderr.strip().splitlines()
    return "" if run.returncode == 0 else (lines[-1] if lines else f"status {run.returncode}")


def time_poly(folder, options):
    """Times splits and joins of each channel count. Returns table rows and notes on the peers left out."""
    rows, notes = [], []
    for channels in options.poly_channels:
        monos = poly_files(folder, channels, options.size_mib << 20)
        whole = (folder / "in.wav").read_bytes()
        numbers = range(1, channels + 1)
        width = len(str(channels))
        ours = [f"in channel {k:0{width}}.wav" for k in numbers]
        inputs = " ".join(f"m{k:02}.wav" for k in numbers)
        split_jobs = [("cp", "cp in.wav copy.wav", {"copy.wav": whole}, True),
                      ("stereorip", f"{BIN}/stereorip -q in.wav", dict(zip(ours, monos)), True)]
        # cat into one file reads and writes the bytes a join does, copied in the kernel.
        join_jobs = [("cat", f"sh -c 'cat {inputs} > catted.wav'", {}, True),
                     ("stereoknit", f"{BIN}/stereoknit -q {inputs} joined.wav", {"joined.wav": whole}, True)]
        if shutil.which("sndfile-deinterleave") and channels <= 16:
            split_jobs.append(("sndfile-deinterleave", "sndfile-deinterleave in.wav",
                               {f"in_{k - 1:02}.wav": m for k, m in zip(numbers, monos)}, False))
        if shutil.which("sndfile-interleave"):
            join_jobs.append(("sndfile-interleave", f"sndfile-interleave {inputs} -o sf.wav", {"sf.wav": whole},
                              False))
        if shutil.which("sox"):
            loop = "; ".join(f"sox in.wav s{k:02}.wav remix {k} || exit 1" for k in numbers)
            split_jobs.append(("sox remix loop", f"sh -c {shlex.quote(loop)}",
                               {f"s{k:02}.wav": m for k, m in zip(numbers, monos)}, False))
            join_jobs.append(("sox -M", f"sox -M {inputs} sj.wav", {"sj.wav": whole}, False))
        if shutil.which("ffmpeg"):
            layout = "+".join(f"USR{k - 1}" for k in numbers)
            labels = "".join(f"[o{k}]" for k in numbers)
            maps = " ".join(f"-map '[o{k}]' -c:a pcm_s24le f{k:02}.wav" for k in numbers)
            split_jobs.append(("ffmpeg channelsplit",
                               f"ffmpeg -v error -y -i in.wav -filter_complex "
                               f"'[0:a]channelsplit=channel_layout={layout}{labels}' {maps}",
                               {f"f{k:02}.wav": m for k, m in zip(numbers, monos)}, False))
        for kind, jobs in (("split", split_jobs), ("join", join_jobs)):
            prepare = removal(sorted({o for job in jobs for o in job[2]} | {"copy.wav", "catted.wav"}))
            kept = []
            for job in jobs:
                refusal = works(folder, job[1], prepare)
                if refusal:
                    notes.append(f"{channels} channels: {job[0]} failed: {refusal}")
                else:
                    kept.append(job)
            kept = with_cores(kept, options)
            results = hyperfine(folder, [(name, command, prepare) for name, command, *_ in kept], options.runs, 1)
            # The first job of each core setting is the baseline: cp or cat.
            base = {}
            for name, *_, cores in kept:
                base.setdefault(cores, results[name]["median"])
            for name, command, expected, whole_file, cores in kept:
                result = results[name]
                peak, checked = checked_run(folder, command, prepare, expected, whole_file)
                rows.append((f"{channels} ({kind})", name, result["median"], result["min"], result["max"],
                             result["median"] / base[cores], peak, checked))
        for path in folder.glob("*.wav"):
            path.unlink()
        del monos, whole
    return rows, notes


def machine():
    """Returns a line that says what the measurement ran on."""
    model = platform.machine()
    lscpu = subprocess.run(["lscpu"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for line in lscpu.stdout.splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
            break
    memory = next(int(line.split()[1]) for line in Path("/proc/meminfo").read_text().splitlines()
                  if line.startswith("MemTotal"))
    return f"{os.cpu_count()} cores of {model}, {memory / (1 << 20):.0f} GiB, Linux {platform.release()}"


def load():
    return "load average " + " ".join(Path("/proc/loadavg").read_text().split()[:3])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=1024, help="sample data per depth (MiB)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cold-runs", type=int, default=10,
                        help="runs of the cold part, whose times scatter more (the disk, the host)")
    parser.add_argument("--depths", default=[Depth(d) for d in ("8", "16", "24", "32", "64f")],
                        type=lambda text: [Depth(d) for d in text.split(",")], help="e.g. 16,24,64f (f: float)")
    parser.add_argument("--parts", default="warm,cold,batch,poly")
    parser.add_argument("--files", type=int, default=200, help="files in the batch")
    parser.add_argument("--file-mib", type=int, default=4, help="sample data per batch file (MiB)")
    parser.add_argument("--jobs", default="default,1", type=lambda text: text.split(","),
                        help="-j values for the batch; 'default' leaves -j out")
    parser.add_argument("--peers", action="store_true", help="also time sndfile and sox on each depth")
    parser.add_argument("--dir", default=None, help="folder for the files (default: the system's temporary folder)")
    parser.add_argument("--cores", default=[2, 1], type=lambda text: [int(n) for n in text.split(",")],
                        help="2: every core free; 1: pinned to the first core (taskset -c 0)")
    parser.add_argument("--poly-channels", default=[4, 8, 16, 32, 64],
                        type=lambda text: [int(n) for n in text.split(",")],
                        help="channel counts of the poly part (with --parts poly)")
    options = parser.parse_args()
    parts = options.parts.split(",")
    if not shutil.which("hyperfine"):
        sys.exit("jobs.py needs hyperfine (apt-get install hyperfine)")
    if 1 in options.cores and not shutil.which("taskset"):
        sys.exit("jobs.py --cores 1 needs taskset (util-linux)")
    if "cold" in parts and not os.access(DROP_CACHES, os.W_OK):
        sys.exit(f"the cold part writes {DROP_CACHES}: run as root, or leave it out with --parts warm,batch")

    print(f"{machine()}; {load()} at the start", flush=True)
    if 1 in options.cores:
        print("(1 core): the command and its baseline pinned to the first core with taskset -c 0", flush=True)
    with tempfile.TemporaryDirectory(prefix="stereobench-", dir=options.dir) as name:
        folder = Path(name)
        header = ("| depth | command | median s | min s | max s | x {} | peak MiB | output exact |\n"
                  "|---|---|---|---|---|---|---|---|")
        for part, cold in (("warm", False), ("cold", True)):
            if part not in parts:
                continue
            start = load()
            rows = time_depths(folder, options, cold)
            print(f"\n{part.capitalize()}: {options.size_mib} MiB of samples, median of "
                  f"{options.cold_runs if cold else options.runs} runs "
                  f"({start} at the start, {load()} at the end)\n")
            print(header.format("cat (of the job's inputs)" if cold else "cp"))
            for depth, name, median, low, high, ratio, peak, checked in rows:
                print(f"| {depth} | {name} | {median:.3f} | {low:.3f} | {high:.3f} | {ratio:.2f} | {peak:.1f} "
                      f"| {checked} |")
        if "batch" in parts:
            start = load()
            rows, base = time_batch(folder, options)
            print(f"\nBatch: {options.files} files of {options.file_mib} MiB, 16-bit stereo, median of "
                  f"{options.runs} runs ({start} at the start, {load()} at the end)\n")
            print(f"| command | median s | min s | max s | x {base} | peak MiB | outputs exact |")
            print("|---|---|---|---|---|---|---|")
            for name, median, low, high, ratio, peak, checked in rows:
                print(f"| {name} | {median:.3f} | {low:.3f} | {high:.3f} | {ratio:.2f} | {peak:.1f} | {checked} |")
        if "poly" in parts:
            start = load()
            rows, notes = time_poly(folder, options)
            print(f"\nPoly: {options.size_mib} MiB of 24-bit samples per channel count, median of {options.runs} "
                  f"runs ({start} at the start, {load()} at the end); splits against cp of the file, joins "
                  f"against cat of the monos, each run the same way\n")
            print("| channels | command | median s | min s | max s | x cp or cat | peak MiB | outputs exact |")
            print("|---|---|---|---|---|---|---|---|")
            for channels, name, median, low, high, ratio, peak, checked in rows:
                print(f"| {channels} | {name} | {median:.3f} | {low:.3f} | {high:.3f} | {ratio:.2f} | {peak:.1f} "
                      f"| {checked} |")
            for note in notes:
                print(f"\n{note}")


if __name__ == "__main__":
    main()
