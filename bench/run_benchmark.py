#!/usr/bin/env python3
"""Benchmark of the checker against the cost of reading its inputs.

Builds what it needs (a Release build in build/bench/, the commands linked against musl where
musl-tools is installed), generates its inputs, and prints tables: wall times as medians of
interleaved runs, as ratios to the read floor (a program that only reads both files with the
engine's block size) and to cat, for the checker and for every kernel set this processor runs;
where each set's crossover to compaction lies; what the jury's notes cost; what a stream fed the
output in chunks costs beside the comparison of the same bytes in memory; what reading ahead on
threads costs and saves, in wall and CPU time, by size; and the cost of a call. Exits 1 when a bound is missed. Every run of the checker writes /tmp/_eval.score: do not run it beside a judge.

    bench/run_benchmark.py            256 MiB per side, the figures of doc/speed.md
    bench/run_benchmark.py --smoke    small inputs, one round, no bounds: checks that it runs
    bench/run_benchmark.py --baseline OTHER/build/bench
                                      this build against another checkout's, in the same rounds
"""
import argparse
import json
import os
import platform
import resource
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
CALL_BOUND = 1.5  # a call on tiny files over a static musl program that does nothing
NOTES_BOUND = 1.10  # a comparison with the notes over the plain one plus one read floor
STREAM_BOUND = 1.10  # a stream fed 64 KiB chunks over the comparison of the same buffers (C)
PYTHON_STREAM_BOUND = 1.30  # the same from Python, over filterspace.compare on the whole bytes
NODE_TINY_BOUND = 0.01  # a tiny comparison from Node in process, over spawning the checker from Node
NODE_BUFFERS_BOUND = 1.10  # equal 256 MiB buffers from Node, over filterspace_compare_buffers from C
NODE_DRAIN_BOUND = 0.10  # 100 MB drained by a stream after a difference, over 100 MB compared
NEVER, ALWAYS = 0, 1 << 40  # crossovers: never compact, compact after every difference
# Where the process may run on four CPUs or more, reading ahead brings the checker near the
# two-thread floor: bounds over the one-thread floor and over the two-thread floor.
READ_AHEAD_CPUS = 4
READ_AHEAD_FLOOR_BOUND, READ_AHEAD_TWO_THREAD_BOUND = 0.75, 1.4
READ_AHEAD_CPU_BOUND = 1.10  # CPU time (user + system) read ahead over read in turn


def run(command):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def musl_available():
    return shutil.which("musl-gcc") is not None


SYSTEM_PYTHON = "/usr/bin/python3"  # the one Debian's pybind11 is built for


def pybind11_available():
    return run([SYSTEM_PYTHON, "-c", "import pybind11"]) == 0


def node_available():
    return shutil.which("node") is not None and shutil.which("npm") is not None


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DFILTERSPACE_TESTS=OFF", "-DFILTERSPACE_BENCHMARKS=ON",
                    f"-DFILTERSPACE_NODE={'ON' if node_available() else 'OFF'}",
                    f"-DFILTERSPACE_MUSL={'ON' if musl_available() else 'OFF'}",
                    f"-DFILTERSPACE_PYTHON={'ON' if pybind11_available() else 'OFF'}",
                    f"-DPython3_EXECUTABLE={SYSTEM_PYTHON}"],
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


def cpu_seconds(commands, rounds, warm=()):
    """Median CPU time (user + system, the process's threads together) of each command in
    seconds, the commands taking turns round after round."""
    times = {name: [] for name in commands}
    for _ in range(rounds):
        for name, command in commands.items():
            if warm:
                run(["cat", *warm])
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            run(command)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            times[name].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return {name: statistics.median(values) for name, values in times.items()}


def usable_cpus():
    return len(os.sched_getaffinity(0))


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
        shown = (f"{value:.3f}" if value >= 0.01 else f"{value:.5f}") if isinstance(value, float) else str(value)
        if not self.enforce:
            return shown
        ok = value <= bound if at_most else value >= bound
        if not ok:
            self.missed.append(label)
        return f"{shown} ({'<=' if at_most else '>='} {bound:g}{'' if ok else ' MISSED'})"


class Bench:
    """What every table needs: the built tools, the inputs and the rounds."""

    def __init__(self, args, build_dir):
        self.args = args
        self.rounds = args.rounds
        tools = build_dir / "bench"
        self.tools = tools
        self.checker, self.driver, self.floor = build_dir / "filterspace_e", tools / "engine_driver", tools / "read_floor"
        self.floor2 = [self.floor, "--two-threads"]
        self.spawn_loop = tools / "spawn_loop"
        self.data = build_dir / "data"
        self.best = subprocess.run([self.driver, "--best"], capture_output=True, text=True, check=True).stdout.strip()
        built = subprocess.run([self.driver, "--sets"], capture_output=True, text=True, check=True).stdout.split()
        # Every set built into the engine that this processor runs, narrow to wide.
        self.sets = [name for name in built if run([self.driver, name, self.data / "ten", self.data / "ten"]) == 1]

    def medians(self, commands, rounds=None, calls=1, warm=()):
        return medians(self.spawn_loop, commands, rounds or self.rounds, calls, warm)


def make_inputs(bench_tools, data, mib):
    data.mkdir(exist_ok=True)
    stamp = data / "generated-mib"
    if not stamp.exists() or stamp.read_text() != f"{mib} short crlf":
        subprocess.run([bench_tools / "make_inputs", data, str(mib)], check=True)
        stamp.write_text(f"{mib} short crlf")
    big, big_first = data / "big", data / "big_first"
    if not big.exists() or big.stat().st_size != 4 * (data / "ten").stat().st_size:
        concatenate(big, [data / "ten"] * 4)
        concatenate(big_first, [data / "first"] + [data / "ten"] * 3)
    os.sync()  # so that writing the inputs back to disk does not slow the runs down


def pairs_table(b, report):
    """Each pair against the read floor and cat; returns cmp's time over the checker's on `same`."""
    narrower = b.sets[:b.sets.index(b.best)]
    read_ahead = usable_cpus() >= READ_AHEAD_CPUS
    print("Each pair against `ten`, wall time over the read floor (one thread reading a block of each file in "
          "turn; and over `cat`); the two-thread floor reads each file on a thread of its own. The bounds hold the "
          "checker, which uses the chosen set; the other sets are shown, not bounded."
          + (f" With {usable_cpus()} CPUs the checker reads ahead: it is held to {READ_AHEAD_FLOOR_BOUND} of the "
             f"floor and {READ_AHEAD_TWO_THREAD_BOUND} of the two-thread floor too." if read_ahead else
             f" Only {usable_cpus()} CPUs here: the bounds of reading ahead (from {READ_AHEAD_CPUS}) are not held."))
    print()
    print("| pair | floor s | two-thread floor / floor | cat / floor | checker / floor | checker / two-thread floor | "
          + " | ".join(f"{k} / floor" for k in b.sets) + " | checker / cat |")
    print("|---|---|---|---|---|---|" + "---|" * len(b.sets) + "---|")
    cmp_over_checker = None
    for pair, what in PAIRS:
        out, ans = b.data / pair, b.data / "ten"
        commands = {"floor": [b.floor, out, ans], "floor2": [*b.floor2, out, ans], "cat": ["cat", out, ans],
                    "checker": [b.checker, "/dev/null", out, ans]}
        commands.update({k: [b.driver, k, out, ans] for k in b.sets})
        if pair == "same":
            commands["cmp"] = ["cmp", out, ans]
        times = b.medians(commands, warm=(out, ans))
        ratio = {name: value / times["floor"] for name, value in times.items()}
        checker_cell = report.check(f"{pair}: checker / floor", ratio["checker"],
                                    READ_AHEAD_FLOOR_BOUND if read_ahead else FLOOR_BOUND.get(pair, FLOOR_BOUND_DEFAULT))
        over_two = times["checker"] / times["floor2"]
        two_cell = (report.check(f"{pair}: checker / two-thread floor", over_two, READ_AHEAD_TWO_THREAD_BOUND)
                    if read_ahead else f"{over_two:.3f}")
        for k in narrower:  # the chosen set must not lose to a narrower one
            report.check(f"{pair}: {b.best} over {k}", times[b.best] / times[k], NARROWER_SLACK)
        set_cells = [f"{ratio[k]:.3f}{' (chosen)' if k == b.best else ''}" for k in b.sets]
        print(f"| {pair}: {what} | {times['floor']:.3f} | {ratio['floor2']:.3f} | {ratio['cat']:.3f} | {checker_cell} | "
              f"{two_cell} | " + " | ".join(set_cells) + f" | {times['checker'] / times['cat']:.3f} |")
        if pair == "same":
            cmp_over_checker = times["cmp"] / times["checker"]
    print()
    return cmp_over_checker


def notes_table(b, report):
    """What the jury's notes cost: filterspace_cmp with --notes against it without, both silent
    (-s), on every pair; the bound holds the notes within the plain time plus one read floor."""
    cmp = b.checker.parent / "filterspace_cmp"
    print("The notes for the jury (what the rule ignored), as the validator and the CMS comparator give them on "
          "every run: `filterspace_cmp -s --notes` against `filterspace_cmp -s`, wall times over the read floor.")
    print()
    print("| pair | floor s | plain / floor | notes / floor | notes / (plain + floor) |")
    print("|---|---|---|---|---|")
    for pair, what in PAIRS:
        out, ans = b.data / pair, b.data / "ten"
        times = b.medians({"floor": [b.floor, out, ans], "plain": [cmp, "-s", out, ans],
                           "notes": [cmp, "-s", "--notes", out, ans]}, warm=(out, ans))
        bound = times["notes"] / (times["plain"] + times["floor"])
        cell = report.check(f"{pair}: notes / (plain + floor)", bound, NOTES_BOUND)
        print(f"| {pair}: {what} | {times['floor']:.3f} | {times['plain'] / times['floor']:.3f} | "
              f"{times['notes'] / times['floor']:.3f} | {cell} |")
    print()


PYTHON_STREAM_COST = """
import statistics, sys, time, filterspace
out, ans, rounds = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), int(sys.argv[3])
whole, streamed, unplaced = [], [], []
for _ in range(rounds + 1):  # the first round untimed: the processor is probed once
    start = time.perf_counter()
    want = filterspace.compare(out, ans)
    whole.append(time.perf_counter() - start)
    start = time.perf_counter()
    view = memoryview(out)
    with filterspace.Stream(ans) as stream:
        for at in range(0, len(out), 65536):
            stream.write(view[at:at + 65536])
    streamed.append(time.perf_counter() - start)
    assert stream.result.same == want.same
    start = time.perf_counter()
    with filterspace.Stream(ans, places=False) as stream:
        for at in range(0, len(out), 65536):
            stream.write(view[at:at + 65536])
    unplaced.append(time.perf_counter() - start)
print(statistics.median(whole[1:]), statistics.median(streamed[1:]), statistics.median(unplaced[1:]))
"""


def stream_table(b, report, build_dir):
    """A stream fed the output in 64 KiB chunks, the answer a buffer, against the comparison of the
    same bytes in memory: from C (the library), without and with places, and from Python."""
    module_dir = build_dir / "python"
    python = (module_dir / "filterspace").exists()
    print("A stream fed the output in 64 KiB chunks against the comparison of the same two buffers (the answer a "
          "buffer, both in memory): from C, `filterspace_stream_feed` over `filterspace_compare_buffers`, without "
          "places and counting them (`FILTERSPACE_STREAM_PLACES`); from Python, `Stream.write` (which counts the "
          "places, for a `Result` like compare's; the bound holds `Stream(answer, places=False)`) over "
          "`filterspace.compare` on the whole bytes, which counts places only on a difference.")
    print()
    print("| pair | buffers s | stream / buffers | with places / buffers | Python: compare s | Python: stream / "
          "compare | Python: with places / compare |")
    print("|---|---|---|---|---|---|---|")
    env = dict(os.environ, PYTHONPATH=str(module_dir))
    for pair, what in PAIRS:
        out, ans = b.data / pair, b.data / "ten"
        c = [float(x) for x in subprocess.run([b.tools / "stream_cost", out, ans, str(b.rounds)], capture_output=True,
                                               text=True, check=True).stdout.split()]
        stream_cell = report.check(f"{pair}: stream / buffers", c[1] / c[0], STREAM_BOUND)
        cells = [f"{c[0]:.3f}", stream_cell, f"{c[2] / c[0]:.3f}"]
        if python:
            whole, streamed, unplaced = (float(x) for x in subprocess.run(
                [SYSTEM_PYTHON, "-c", PYTHON_STREAM_COST, out, ans, str(b.rounds)], capture_output=True, text=True,
                check=True, env=env).stdout.split())
            cells += [f"{whole:.3f}", report.check(f"{pair}: Python stream / compare", unplaced / whole,
                                                   PYTHON_STREAM_BOUND), f"{streamed / whole:.3f}"]
        else:
            cells += ["not measured: pybind11 is not installed", "", ""]
        print(f"| {pair}: {what} | " + " | ".join(cells) + " |")
    print()


def read_ahead_table(b, report):
    """The engine reading both files ahead on threads of their own (forced), against reading them in
    turn: wall and CPU time (user + system), on every pair and, for the densest pair, by size: where
    reading ahead starts to pay is the checker's threshold."""
    rounds = max(1, min(b.rounds, 5))
    print(f"Reading ahead, forced (`engine_driver --read-ahead always`), over reading in turn (`never`), with the "
          f"chosen set; medians of {rounds}. The checker reads ahead where both files together reach the engine's "
          f"threshold and the process may run on 3 CPUs or more; here it may run on {usable_cpus()}. Above 1 is "
          f"slower, or more CPU time.")
    print()
    print("| pair | in turn s | wall: ahead / in turn | CPU: ahead / in turn |")
    print("|---|---|---|---|")

    def row(label, out, ans, bound):
        commands = {m: [b.driver, "--read-ahead", m, b.best, out, ans] for m in ("never", "always")}
        wall = b.medians(commands, rounds, warm=(out, ans))
        cpu = cpu_seconds(commands, rounds, warm=(out, ans))
        cpu_ratio = cpu["always"] / cpu["never"] if cpu["never"] > 0 else float("nan")
        cpu_cell = (report.check(f"{label}: CPU ahead / in turn", cpu_ratio, READ_AHEAD_CPU_BOUND) if bound
                    else f"{cpu_ratio:.3f}")
        print(f"| {label} | {wall['never']:.4f} | {wall['always'] / wall['never']:.3f} | {cpu_cell} |")

    bounded = usable_cpus() >= READ_AHEAD_CPUS
    for pair, what in PAIRS:
        row(f"{pair}: {what}", b.data / pair, b.data / "ten", bounded)
    for mib in (1, 2, 4, 8, 16, 64):
        if mib >= b.args.mib:
            break
        out, ans = b.data / f"short_{mib}", b.data / f"ten_{mib}"
        for source, target in ((b.data / "short", out), (b.data / "ten", ans)):
            if not target.exists() or target.stat().st_size != mib << 20:
                with open(source, "rb") as f, open(target, "wb") as t:
                    t.write(f.read(mib << 20))
        row(f"short, the first {mib} MiB of each side", out, ans, False)
    print()


def crossover_table(b):
    rounds = max(1, min(b.rounds, 3))
    print(f"Crossover to compaction: each set over the read floor with its own crossover, never compacting, "
          f"and compacting after every difference (medians of {rounds}). The NEON crossover has not been "
          f"measured: no arm64 machine has run this table.")
    print()
    print("| set (own crossover, bytes) | " + " | ".join(f"{p}: own / never / always" for p in DENSE_PAIRS) + " |")
    print("|---|" + "---|" * len(DENSE_PAIRS))
    for k in b.sets:
        gap = subprocess.run([b.driver, "--gap", k], capture_output=True, text=True).stdout.strip()
        cells = []
        for pair in DENSE_PAIRS:
            out, ans = b.data / pair, b.data / "ten"
            times = b.medians({"floor": [b.floor, out, ans], "own": [b.driver, k, out, ans],
                               "never": [b.driver, k, out, ans, str(NEVER)],
                               "always": [b.driver, k, out, ans, str(ALWAYS)]}, rounds, warm=(out, ans))
            cells.append(" / ".join(f"{times[w] / times['floor']:.2f}" for w in ("own", "never", "always")))
        print(f"| {k} ({gap}) | " + " | ".join(cells) + " |")
    print()


def fastest_in_process(driver, kernels, out, ans, runs=10):
    line = subprocess.run([driver, "--time", str(runs), kernels, out, ans], capture_output=True, text=True)
    return float(line.stdout) if line.returncode == 0 else float("nan")


def baseline_table(b, baseline_dir):
    """This build against another (--baseline), in turns in the same rounds: the checker's wall time
    (medians), and each set's fastest comparison in process (the engine driver's --time, which
    leaves out the start of a process and most of a shared machine's noise). This build's time over
    the baseline's, on every pair."""
    base_driver, base_checker = baseline_dir / "bench" / "engine_driver", baseline_dir / "filterspace_e"
    print(f"This build over the baseline build in {baseline_dir}, the two timed in turns in the same "
          f"{b.rounds} rounds; above 1 is slower. Checker: medians of wall times. Sets: the fastest of "
          f"{10 * b.rounds} comparisons in process.")
    print()
    print("| pair | checker | " + " | ".join(b.sets) + " |")
    print("|---|---|" + "---|" * len(b.sets))
    worst = 0.0
    for pair, what in PAIRS:
        out, ans = b.data / pair, b.data / "ten"
        times = b.medians({"checker": [b.checker, "/dev/null", out, ans],
                           "base": [base_checker, "/dev/null", out, ans]}, warm=(out, ans))
        cells = [f"{times['checker'] / times['base']:.3f}"]
        for k in b.sets:
            fastest = {"new": float("inf"), "base": float("inf")}
            for _ in range(b.rounds):
                fastest["new"] = min(fastest["new"], fastest_in_process(b.driver, k, out, ans))
                fastest["base"] = min(fastest["base"], fastest_in_process(base_driver, k, out, ans))
            ratio = fastest["new"] / fastest["base"]
            worst = max(worst, ratio)
            cells.append(f"{ratio:.3f}")
        print(f"| {pair}: {what} | " + " | ".join(cells) + " |")
    print()
    print(f"Slowest set against the baseline: {worst:.3f}")
    print()
    taskset = shutil.which("taskset")
    print("This build over the baseline's, pinned to one CPU (`taskset -c 0`, where reading ahead never starts), "
          "and per call on a tiny pair (2000 calls a round); medians of wall times.")
    print()
    print("| figure | this build / baseline |")
    print("|---|---|")
    for pair, what in PAIRS:
        if taskset is None:
            print(f"| pinned: {pair} | not measured: taskset is not installed |")
            continue
        out, ans = b.data / pair, b.data / "ten"
        times = b.medians({"checker": [taskset, "-c", "0", b.checker, "/dev/null", out, ans],
                           "base": [taskset, "-c", "0", base_checker, "/dev/null", out, ans]}, warm=(out, ans))
        print(f"| pinned to one CPU: {pair}: {what} | {times['checker'] / times['base']:.3f} |")
    tiny_out, tiny_ans = b.data / "tiny_out", b.data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    calls = 200 if b.args.smoke else 2000
    times = b.medians({"checker": [b.checker, "/dev/null", tiny_out, tiny_ans],
                       "base": [base_checker, "/dev/null", tiny_out, tiny_ans]}, calls=calls)
    print(f"| per call on tiny files ({times['checker'] * 1e6:.0f} us / {times['base'] * 1e6:.0f} us) | "
          f"{times['checker'] / times['base']:.3f} |")
    # The library's per-call cost on a tiny pair (filterspace_compare_buffers), in turns: the best of each.
    library_calls, best = (20000 if b.args.smoke else 1000000), {"new": float("inf"), "base": float("inf")}
    for _ in range(max(3, b.rounds)):
        for key, tools in (("new", b.tools), ("base", baseline_dir / "bench")):
            line = subprocess.run([tools / "library_cost", str(library_calls)], capture_output=True, text=True)
            if line.returncode == 0:
                best[key] = min(best[key], float(line.stdout))
    print(f"| the library per call on a tiny pair ({best['new']:.4f} us / {best['base']:.4f} us) | "
          f"{best['new'] / best['base']:.3f} |")
    print()


PYTHON_COST = """
import sys, time, filterspace
calls = int(sys.argv[1])
start = time.perf_counter()
for _ in range(calls):
    filterspace.compare(b"1 2\\n", b"12")
tiny = (time.perf_counter() - start) * 1e6 / calls
out = (b"1234567 \\n" * ((int(sys.argv[2]) << 20) // 9 + 1))[: int(sys.argv[2]) << 20]
ans = out[:1] + out[1:]  # a copy: bytes(out) would be out itself
best = {"module": 1e9, "bytes ==": 1e9}
for _ in range(5):
    start = time.perf_counter(); filterspace.compare(out, ans); best["module"] = min(best["module"], time.perf_counter() - start)
    start = time.perf_counter(); out == ans; best["bytes =="] = min(best["bytes =="], time.perf_counter() - start)
print(tiny, best["module"], best["bytes =="])
"""


def library_table(b, build_dir):
    """A comparison without a process: from C (the library) and from Python (the module), against
    a call of the checker, on a tiny pair; the module's throughput on 256 MiB buffers."""
    calls = 20000 if b.args.smoke else 1000000
    c_cost = min(float(subprocess.run([b.tools / "library_cost", str(calls)], capture_output=True, text=True,
                                      check=True).stdout) for _ in range(3))
    tiny_out, tiny_ans = b.data / "tiny_out", b.data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    checker_cost = b.medians({"checker": [b.checker, "/dev/null", tiny_out, tiny_ans]}, max(3, b.rounds // 2),
                             200 if b.args.smoke else 2000)["checker"] * 1e6
    rows = [("one comparison of a tiny pair from C (library) / one call of the checker",
             f"{c_cost:.3f} us / {checker_cost:.0f} us = {c_cost / checker_cost:.5f}")]
    module_dir = build_dir / "python"
    if (module_dir / "filterspace").exists():
        env = dict(os.environ, PYTHONPATH=str(module_dir))
        mib = 16 if b.args.smoke else 256
        line = subprocess.run([SYSTEM_PYTHON, "-c", PYTHON_COST, str(calls // 10), str(mib)], capture_output=True,
                              text=True, check=True, env=env).stdout.split()
        py_cost, module_s, equal_s = (float(x) for x in line)
        rows.append(("one comparison of a tiny pair from Python (the module) / one call of the checker",
                     f"{py_cost:.3f} us / {checker_cost:.0f} us = {py_cost / checker_cost:.5f}"))
        rows.append((f"{mib} MiB buffers, identical: the module / a plain bytes ==",
                     f"{module_s:.3f} s / {equal_s:.3f} s = {module_s / equal_s:.2f}"))
    else:
        rows.append(("the Python module", "not measured: pybind11 is not installed (python3-pybind11)"))
    print("| without a process | value |")
    print("|---|---|")
    for label, value in rows:
        print(f"| {label} | {value} |")
    print()


def node_table(b, report, build_dir):
    """The Node module, installed from its tarball as a judge installs it: a tiny comparison in
    process against spawning the checker from Node; equal buffers against the C library on the same
    bytes, with Buffer.compare beside them; a stream drained after a difference against one that
    compares as much."""
    tarballs = sorted(build_dir.glob("filterspace-*.tgz"))
    if not node_available() or not tarballs:
        print("| the Node module | not measured: node and npm are not installed |\n|---|---|\n")
        return
    install = build_dir / "node-install"
    shutil.rmtree(install, ignore_errors=True)
    install.mkdir()
    nodedir = Path(os.path.realpath(shutil.which("node"))).parent.parent
    subprocess.run(["npm", "install", "--offline", "--no-audit", "--no-fund", f"--nodedir={nodedir}", tarballs[-1].resolve()],
                   cwd=install, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, JOBS="max"))
    tiny_out, tiny_ans = b.data / "tiny_out", b.data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    mib, drain_mb, calls = (16, 10, 20000) if b.args.smoke else (256, 100, 200000)
    line = subprocess.run(["node", ROOT / "bench" / "node_cost.js", b.checker, tiny_out, tiny_ans, str(calls),
                           str(mib), str(drain_mb)], capture_output=True, text=True, check=True,
                          env=dict(os.environ, FILTERSPACE_NODE=str((install / "node_modules" / "filterspace").resolve())))
    node = json.loads(line.stdout)
    c_buffers = float(subprocess.run([b.tools / "library_cost", "--buffers", str(mib)], capture_output=True, text=True,
                                     check=True).stdout)
    print("| the Node module | value (bound) |")
    print("|---|---|")
    print(f"| a tiny comparison in process / spawning filterspace_e from Node (spawnSync) | {node['tinyUs']:.3f} us / "
          f"{node['spawnUs']:.0f} us = {report.check('node tiny', node['tinyUs'] / node['spawnUs'], NODE_TINY_BOUND)} |")
    print(f"| equal {mib} MiB buffers: compare() / filterspace_compare_buffers from C | {node['moduleS']:.4f} s / "
          f"{c_buffers:.4f} s = {report.check('node buffers', node['moduleS'] / c_buffers, NODE_BUFFERS_BOUND)} "
          f"(Buffer.compare: {node['bufferCompareS']:.4f} s) |")
    print(f"| {drain_mb} MB drained by a stream after a difference / {drain_mb} MB compared | {node['drainS']:.4f} s / "
          f"{node['comparedS']:.4f} s = {report.check('node drain', node['drainS'] / node['comparedS'], NODE_DRAIN_BOUND)} |")
    print()


def figures_table(b, report, cmp_over_checker):
    rows = [("identical files: cmp / checker (shown, not bounded: cmp reads at the floor on some machines)",
             f"{cmp_over_checker:.3f}")]
    big, big_first = b.data / "big", b.data / "big_first"
    times = b.medians({"cat": ["cat", big, big_first], "checker": [b.checker, "/dev/null", big_first, big]},
                      warm=(big, big_first))
    rows.append((f"first visible byte differs, {4 * b.args.mib} MiB per side: checker / cat",
                 report.check("first byte / cat", times["checker"] / times["cat"], 0.05)))

    tiny_out, tiny_ans = b.data / "tiny_out", b.data / "tiny_ans"
    tiny_out.write_text("1 2\n")
    tiny_ans.write_text("12")
    calls = 200 if b.args.smoke else 2000
    noops = {"glibc": b.tools / "noop_glibc", "musl": b.tools / "noop_musl"}
    commands = {"checker": [b.checker, "/dev/null", tiny_out, tiny_ans]}
    commands.update({name: [path] for name, path in noops.items() if path.exists()})
    per_call = {name: value * 1e6 for name, value in b.medians(commands, max(3, b.rounds // 2), calls).items()}
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

    # Two distinct files a side: the checker refuses an output that is the answer itself and
    # would read nothing.
    sparse_gib = 0.0625 if b.args.smoke else 5
    sparse = [b.data / "sparse_out", b.data / "sparse_ans"]
    for path in sparse:
        with open(path, "wb") as f:
            f.truncate(int(sparse_gib * (1 << 30)))
    one_byte = [b.data / "one_byte_out", b.data / "one_byte_ans"]
    for path in one_byte:
        path.write_text("x")
    peak_rss = b.tools / "peak_rss"
    large_rss = peak_rss_kib(peak_rss, [b.checker, "/dev/null", *sparse])
    small_rss = peak_rss_kib(peak_rss, [b.checker, "/dev/null", *one_byte])
    for path in sparse:
        path.unlink()
    rows.append((f"peak resident memory, {sparse_gib:g} GiB per side (KiB)", report.check("rss large", large_rss, 4096)))
    rows.append(("peak resident memory, 1 byte per side (KiB)", report.check("rss small", small_rss, 4096)))

    print("| figure | value (bound) |")
    print("|---|---|")
    for label, value in rows:
        print(f"| {label} | {value} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mib", type=int, default=256, help="size of each side of a pair (default 256)")
    parser.add_argument("--rounds", type=int, default=7, help="interleaved runs per figure (default 7)")
    parser.add_argument("--smoke", action="store_true", help="small inputs, one round, bounds not enforced")
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--baseline", metavar="BUILD_DIR",
                        help="a benchmark build of another checkout (this script's --build-dir there), timed "
                             "in turns with this one: prints only that comparison")
    args = parser.parse_args()
    if args.smoke:
        args.mib, args.rounds = 2, 1
    report = Report(enforce=not args.smoke and not args.baseline)

    build_dir = Path(args.build_dir)
    build(build_dir)
    make_inputs(build_dir / "bench", build_dir / "data", args.mib)
    b = Bench(args, build_dir)

    if args.smoke:
        print("Smoke run: inputs too small for the figures to mean anything; bounds not enforced.")
    print(f"Machine: {processor()}, {os.cpu_count()} cores; kernel sets here: {', '.join(b.sets)}; the checker "
          f"chooses {b.best}; commands linked with {'musl' if musl_available() else 'glibc'}; {args.mib} MiB per "
          f"side; medians of {args.rounds} interleaved runs; {time.strftime('%Y-%m-%d')}")
    print()
    run(["cat"] + [b.data / name for name, _ in PAIRS] + [b.data / "ten", b.data / "first"])  # warm the cache

    if args.baseline:
        baseline_table(b, Path(args.baseline))
        return 0
    cmp_over_checker = pairs_table(b, report)
    notes_table(b, report)
    stream_table(b, report, build_dir)
    read_ahead_table(b, report)
    crossover_table(b)
    library_table(b, build_dir)
    node_table(b, report, build_dir)
    figures_table(b, report, cmp_over_checker)
    if report.missed:
        print("\nBounds missed: " + "; ".join(report.missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
