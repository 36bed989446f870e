#!/usr/bin/env python3
"""Benchmark of the checker against the cost of reading its inputs.

Builds what it needs (a Release build in build/bench/), generates its inputs, and prints a table:
wall times as medians of interleaved runs, and the ratios the checker is held to. Exits 1 when a
bound is missed. Every run of the checker writes /tmp/_eval.score: do not run it beside a judge.

    bench/run_benchmark.py            256 MiB per side, the figures of the README
    bench/run_benchmark.py --smoke    small inputs, one round, no bounds: checks that it runs
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PAIRS = [  # (file compared with "ten", what it is)
    ("same", "identical copy"),
    ("crlf", "CRLF line ends"),
    ("one", "one number to a line"),
    ("blanks", "two blanks before each line end"),
]
BOUND_BY_KERNELS = {"avx512": 1.15, "avx2": 1.5}  # wall time over cat's, for every pair


def run(command):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DFILTERSPACE_TESTS=OFF", "-DFILTERSPACE_BENCHMARKS=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2"], check=True, stdout=subprocess.DEVNULL)


def microseconds_per_call(spawn_loop, calls, command):
    """Wall time of a call, timed by a small process that starts it: none of the interpreter's
    own cost of starting a process is in the figure."""
    line = subprocess.run([spawn_loop, str(calls)] + command, capture_output=True, text=True, check=True)
    return float(line.stdout)


def medians(spawn_loop, commands, rounds, calls=1, warm=()):
    """Median wall time of each command in seconds, the commands taking turns round after round.
    The files in `warm` are read just before each run: the page cache of a shared machine may
    lose them between runs, and every figure is meant with the files in memory."""
    times = {name: [] for name in commands}
    for _ in range(rounds):
        for name, command in commands.items():
            if warm:
                run(["cat", *warm])
            times[name].append(microseconds_per_call(spawn_loop, calls, command) / 1e6)
    return {name: statistics.median(values) for name, values in times.items()}


def peak_rss_kib(peak_rss, command):
    return int(subprocess.run([peak_rss] + command, capture_output=True, text=True, check=True).stdout)


def processor():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.machine()


def concatenate(target, parts):
    with open(target, "wb") as out:
        for part in parts:
            with open(part, "rb") as source:
                shutil.copyfileobj(source, out, 1 << 20)


class Report:
    def __init__(self, enforce):
        self.enforce = enforce
        self.missed = []

    def check(self, label, value, bound, at_most=True):
        shown = f"{value:.3f}" if isinstance(value, float) else str(value)
        if not self.enforce:
            return shown
        ok = value <= bound if at_most else value >= bound
        if not ok:
            self.missed.append(label)
        return f"{shown} ({'<=' if at_most else '>='} {bound}{'' if ok else ' MISSED'})"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mib", type=int, default=256, help="size of each side of a pair (default 256)")
    parser.add_argument("--rounds", type=int, default=7, help="interleaved runs per figure (default 7)")
    parser.add_argument("--smoke", action="store_true", help="small inputs, one round, bounds not enforced")
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "bench"))
    args = parser.parse_args()
    if args.smoke:
        args.mib, args.rounds = 2, 1
    report = Report(enforce=not args.smoke)

    build_dir = Path(args.build_dir)
    build(build_dir)
    checker = build_dir / "filterspace_e"
    driver = build_dir / "bench" / "engine_driver"
    baseline = build_dir / "bench" / "stdio_baseline"
    spawn_loop = build_dir / "bench" / "spawn_loop"
    data = build_dir / "data"
    data.mkdir(exist_ok=True)
    stamp = data / "generated-mib"
    if not stamp.exists() or stamp.read_text() != str(args.mib):
        subprocess.run([build_dir / "bench" / "make_inputs", data, str(args.mib)], check=True)
        stamp.write_text(str(args.mib))
    big, big_first = data / "big", data / "big_first"
    if not big.exists() or big.stat().st_size != 4 * (data / "ten").stat().st_size:
        concatenate(big, [data / "ten"] * 4)
        concatenate(big_first, [data / "first"] + [data / "ten"] * 3)
    os.sync()  # so that writing the inputs back to disk does not slow the runs down
    best = subprocess.run([driver, "--best"], capture_output=True, text=True, check=True).stdout.strip()
    kernels = [name for name in ("avx512", "avx2", "scalar") if run([driver, name, data / "ten", data / "ten"]) == 1]

    if args.smoke:
        print("Smoke run: inputs too small for the figures to mean anything; bounds not enforced.")
    print(f"Machine: {processor()}, {os.cpu_count()} cores; kernels in use: {best}; "
          f"{args.mib} MiB per side; medians of {args.rounds} interleaved runs; {time.strftime('%Y-%m-%d')}")
    print()
    run(["cat"] + [data / name for name in ("ten", "same", "crlf", "one", "blanks", "first")])  # warm the cache

    print("| pair (each against `ten`) | cat s | checker s | checker / cat | "
          + " | ".join(f"{k} / cat" for k in kernels) + " |")
    print("|---|---|---|---|" + "---|" * len(kernels))
    checker_times, cat_times = {}, {}
    for pair, what in PAIRS:
        out, ans = data / pair, data / "ten"
        commands = {"cat": ["cat", out, ans], "checker": [checker, "/dev/null", out, ans]}
        commands.update({k: [driver, k, out, ans] for k in kernels})
        if pair == "same":
            commands["cmp"] = ["cmp", out, ans]
        times = medians(spawn_loop, commands, args.rounds, warm=(out, ans))
        checker_times[pair], cat_times[pair] = times["checker"], times["cat"]
        cells = [report.check(f"{pair}: checker / cat", times["checker"] / times["cat"],
                              BOUND_BY_KERNELS.get(best, float("inf")))]
        for k in kernels:
            ratio = times[k] / times["cat"]
            cells.append(report.check(f"{pair}: {k} / cat", ratio, BOUND_BY_KERNELS[k]) if k in BOUND_BY_KERNELS
                         else f"{ratio:.3f}")
        print(f"| {pair}: {what} | {times['cat']:.3f} | {times['checker']:.3f} | " + " | ".join(cells) + " |")
        if pair == "same":
            cmp_speedup = times["cmp"] / times["checker"]
    print()

    rows = [("identical files: cmp / checker", report.check("cmp / checker", cmp_speedup, 2, at_most=False))]

    baseline_rounds = max(1, min(args.rounds, 3))
    for pair, _ in PAIRS:
        base = medians(spawn_loop, {"b": [baseline, "/dev/null", data / pair, data / "ten", "/tmp/_eval.baseline"]},
                       baseline_rounds, warm=(data / pair, data / "ten"))["b"]
        rows.append((f"{pair}: stdio baseline / checker (baseline / cat: {base / cat_times[pair]:.1f})",
                     report.check(f"{pair}: baseline / checker", base / checker_times[pair], 50, at_most=False)))

    times = medians(spawn_loop, {"cat": ["cat", big, big_first], "checker": [checker, "/dev/null", big_first, big]},
                    args.rounds, warm=(big, big_first))
    rows.append((f"first visible byte differs, {4 * args.mib} MiB per side: checker / cat",
                 report.check("first byte / cat", times["checker"] / times["cat"], 0.05)))

    tiny_out, tiny_ans = data / "tiny_out", data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    calls = 200 if args.smoke else 2000
    per_call = medians(spawn_loop, {"checker": [checker, "/dev/null", tiny_out, tiny_ans],
                                    "baseline": [baseline, "/dev/null", tiny_out, tiny_ans, "/tmp/_eval.baseline"]},
                       max(3, args.rounds // 2), calls)
    checker_us, baseline_us = per_call["checker"] * 1e6, per_call["baseline"] * 1e6
    rows.append((f"per call on tiny files: checker {checker_us:.0f} us / baseline {baseline_us:.0f} us",
                 report.check("per call", checker_us / baseline_us, 0.8)))

    sparse = data / "sparse"
    sparse_gib = 0.0625 if args.smoke else 5
    with open(sparse, "wb") as f:
        f.truncate(int(sparse_gib * (1 << 30)))
    one_byte = data / "one_byte"
    one_byte.write_text("x")
    peak_rss = build_dir / "bench" / "peak_rss"
    large_rss = peak_rss_kib(peak_rss, [checker, "/dev/null", sparse, sparse])
    small_rss = peak_rss_kib(peak_rss, [checker, "/dev/null", one_byte, one_byte])
    sparse.unlink()
    rows.append((f"peak resident memory, {sparse_gib:g} GiB per side (KiB)", report.check("rss large", large_rss, 4096)))
    rows.append(("peak resident memory, 1 byte per side (KiB)", report.check("rss small", small_rss, 4096)))

    print("| figure | value (bound) |")
    print("|---|---|")
    for label, value in rows:
        print(f"| {label} | {value} |")
    if report.missed:
        print("\nBounds missed: " + "; ".join(report.missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
