#!/usr/bin/env python3
"""Benchmark of the checker against the cost of reading its inputs.

Builds what it needs (a Release build in build/bench/, the commands linked against musl where
musl-tools is installed), generates its inputs, and prints tables: wall times as medians of
interleaved runs, as ratios to the read floor (a program that only reads both files with the
engine's block size) and to cat, for the checker and for every kernel set this processor runs;
where each set's crossover to compaction lies; and the cost of a call. Exits 1 when a bound is
missed. Every run of the checker writes /tmp/_eval.score: do not run it beside a judge.

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
    ("short", "2 or 3 numbers to a CRLF line: a line-end difference every 20-30 bytes"),
]
DENSE_PAIRS = ["crlf", "blanks", "short"]  # where resync and compaction compete
FLOOR_BOUND = {"same": 1.10}  # checker over the read floor; 1.25 for every other pair
FLOOR_BOUND_DEFAULT = 1.25
NARROWER_SLACK = 1.05  # the chosen set may be at most 5% slower than a narrower one
SET_ORDER = ["scalar", "avx2", "avx512"]  # narrow to wide
CALL_BOUND = 1.5  # a call on tiny files over a static musl program that does nothing
NEVER, ALWAYS = 0, 1 << 40  # crossovers: never compact, compact after every difference


def run(command):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def musl_available():
    return shutil.which("musl-gcc") is not None


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DFILTERSPACE_TESTS=OFF", "-DFILTERSPACE_BENCHMARKS=ON",
                    f"-DFILTERSPACE_MUSL={'ON' if musl_available() else 'OFF'}"],
                   check=True, stdout=subprocess.DEVNULL)
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
        return f"{shown} ({'<=' if at_most else '>='} {bound:g}{'' if ok else ' MISSED'})"


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
    tools = build_dir / "bench"
    checker, driver, floor = build_dir / "filterspace_e", tools / "engine_driver", tools / "read_floor"
    spawn_loop = tools / "spawn_loop"
    data = build_dir / "data"
    data.mkdir(exist_ok=True)
    stamp = data / "generated-mib"
    if not stamp.exists() or stamp.read_text() != f"{args.mib} short crlf":
        subprocess.run([tools / "make_inputs", data, str(args.mib)], check=True)
        stamp.write_text(f"{args.mib} short crlf")
    big, big_first = data / "big", data / "big_first"
    if not big.exists() or big.stat().st_size != 4 * (data / "ten").stat().st_size:
        concatenate(big, [data / "ten"] * 4)
        concatenate(big_first, [data / "first"] + [data / "ten"] * 3)
    os.sync()  # so that writing the inputs back to disk does not slow the runs down
    best = subprocess.run([driver, "--best"], capture_output=True, text=True, check=True).stdout.strip()
    sets = [name for name in SET_ORDER if run([driver, name, data / "ten", data / "ten"]) == 1]
    narrower = sets[:sets.index(best)]

    if args.smoke:
        print("Smoke run: inputs too small for the figures to mean anything; bounds not enforced.")
    print(f"Machine: {processor()}, {os.cpu_count()} cores; kernel sets here: {', '.join(sets)}; the checker "
          f"chooses {best}; commands linked with {'musl' if musl_available() else 'glibc'}; {args.mib} MiB per "
          f"side; medians of {args.rounds} interleaved runs; {time.strftime('%Y-%m-%d')}")
    print()
    run(["cat"] + [data / name for name, _ in PAIRS] + [data / "ten", data / "first"])  # warm the cache

    print("Each pair against `ten`, wall time over the read floor (and over `cat`); the bounds hold the "
          "checker, which uses the chosen set; the other sets are shown, not bounded.")
    print()
    print("| pair | floor s | cat / floor | checker / floor | " + " | ".join(f"{k} / floor" for k in sets)
          + " | checker / cat |")
    print("|---|---|---|---|" + "---|" * len(sets) + "---|")
    checker_times = {}
    for pair, what in PAIRS:
        out, ans = data / pair, data / "ten"
        commands = {"floor": [floor, out, ans], "cat": ["cat", out, ans], "checker": [checker, "/dev/null", out, ans]}
        commands.update({k: [driver, k, out, ans] for k in sets})
        if pair == "same":
            commands["cmp"] = ["cmp", out, ans]
        times = medians(spawn_loop, commands, args.rounds, warm=(out, ans))
        checker_times[pair] = times["checker"]
        ratio = {name: value / times["floor"] for name, value in times.items()}
        checker_cell = report.check(f"{pair}: checker / floor", ratio["checker"],
                                    FLOOR_BOUND.get(pair, FLOOR_BOUND_DEFAULT))
        for k in narrower:  # the chosen set must not lose to a narrower one
            report.check(f"{pair}: {best} over {k}", times[best] / times[k], NARROWER_SLACK)
        set_cells = [f"{ratio[k]:.3f}{' (chosen)' if k == best else ''}" for k in sets]
        print(f"| {pair}: {what} | {times['floor']:.3f} | {ratio['cat']:.3f} | {checker_cell} | "
              + " | ".join(set_cells) + f" | {times['checker'] / times['cat']:.3f} |")
        if pair == "same":
            cmp_speedup = times["cmp"] / times["checker"]
    print()

    rounds = max(1, min(args.rounds, 3))
    print(f"Crossover to compaction: each set over the read floor with its own crossover, never compacting, "
          f"and compacting after every difference (medians of {rounds}).")
    print()
    print("| set (own crossover, bytes) | " + " | ".join(f"{p}: own / never / always" for p in DENSE_PAIRS) + " |")
    print("|---|" + "---|" * len(DENSE_PAIRS))
    gaps = {}
    for k in sets:
        gaps[k] = subprocess.run([tools / "engine_driver", "--gap", k], capture_output=True, text=True).stdout.strip()
        cells = []
        for pair in DENSE_PAIRS:
            out, ans = data / pair, data / "ten"
            times = medians(spawn_loop, {"floor": [floor, out, ans], "own": [driver, k, out, ans],
                                         "never": [driver, k, out, ans, str(NEVER)],
                                         "always": [driver, k, out, ans, str(ALWAYS)]}, rounds, warm=(out, ans))
            cells.append(" / ".join(f"{times[w] / times['floor']:.2f}" for w in ("own", "never", "always")))
        print(f"| {k} ({gaps[k]}) | " + " | ".join(cells) + " |")
    print()

    rows = [("identical files: cmp / checker (shown, not bounded: cmp reads at the floor on some machines)",
             f"{cmp_speedup:.3f}")]
    times = medians(spawn_loop, {"cat": ["cat", big, big_first], "checker": [checker, "/dev/null", big_first, big]},
                    args.rounds, warm=(big, big_first))
    rows.append((f"first visible byte differs, {4 * args.mib} MiB per side: checker / cat",
                 report.check("first byte / cat", times["checker"] / times["cat"], 0.05)))

    tiny_out, tiny_ans = data / "tiny_out", data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    calls = 200 if args.smoke else 2000
    noops = {"glibc": tools / "noop_glibc", "musl": tools / "noop_musl"}
    commands = {"checker": [checker, "/dev/null", tiny_out, tiny_ans]}
    commands.update({name: [path] for name, path in noops.items() if path.exists()})
    per_call = {name: value * 1e6 for name, value in
                medians(spawn_loop, commands, max(3, args.rounds // 2), calls).items()}
    for name in ("musl", "glibc"):
        if name not in per_call:
            rows.append((f"per call on tiny files against a static {name} program that does nothing",
                         "not measured: musl-tools is not installed"))
            continue
        label = (f"per call on tiny files: checker {per_call['checker']:.0f} us / a static {name} program "
                 f"that does nothing {per_call[name]:.0f} us")
        ratio = per_call["checker"] / per_call[name]
        rows.append((label, report.check(f"per call / {name}", ratio, CALL_BOUND) if name == "musl" else
                     f"{ratio:.3f}"))

    sparse = data / "sparse"
    sparse_gib = 0.0625 if args.smoke else 5
    with open(sparse, "wb") as f:
        f.truncate(int(sparse_gib * (1 << 30)))
    one_byte = data / "one_byte"
    one_byte.write_text("x")
    peak_rss = tools / "peak_rss"
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
