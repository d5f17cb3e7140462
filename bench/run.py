#!/usr/bin/env python3
"""Times one batch run of kestrane against the system-call floor.

    bench/run.py [--smoke] [--floor-src PATH] [--work DIR] [--reps R]

Builds the tool in Release (build/bench) and the floor program with cc -O2,
then for each case (N pairs of small outputs, N = 1,000, 10,000, 100,000,
and 1,000 pairs of sparse 4 GiB outputs) runs `kestrane '*.ape' '*.mp3'` in
a folder made by make_pairs.py and `floor DIR ape mp3` on an identical one,
standard output to a file, several times alternating the two, with a warm
page cache; every result is checked with check_pairs.py and the outputs are
put back as made before the next run. A first run of each is not counted. Prints the median
microseconds per pair of each, their ratio, and the system calls per pair
counted by `strace -c -f` in a separate, untimed run; then PASS or FAIL for
each target. Exits 1 when a result is wrong or a target fails.

The floor is not part of this project: its source is looked for at
../shared/bench/floor.c beside the repository unless --floor-src says
otherwise. Without it the ratio is skipped, loudly.

--smoke: a few hundred pairs, one run each, no targets: proves in seconds
that the bench still builds, runs and checks.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.dont_write_bytecode = True  # no __pycache__ in the repository
import check_pairs  # noqa: E402
import make_pairs  # noqa: E402

BUILD = os.path.join(REPO, "build", "bench")
DEFAULT_FLOOR_SRC = os.path.join(REPO, "..", "shared", "bench", "floor.c")

# (label, pairs, sparse GiB, repetitions of each program)
FULL_CASES = [("1k", 1_000, 0, 15), ("10k", 10_000, 0, 7), ("100k", 100_000, 0, 3),
              ("1k sparse 4 GiB", 1_000, 4, 15)]
SMOKE_CASES = [("smoke", 200, 0, 1), ("smoke sparse 4 GiB", 20, 4, 1)]

RATIO_LIMIT = 1.3        # tool / floor time per pair at N = 10,000
CALLS_LIMIT = 13         # tool system calls per pair at N = 10,000
GROWTH_LIMIT = 1.5       # time per pair at 100,000 over that at 1,000
SPARSE_LIMIT = 1.25      # time per pair, sparse 4 GiB outputs over small ones
BYTES_PER_PAIR = 16 << 10  # disk a pair of small files takes, generously


class Failure(Exception):
    pass


def say(text=""):
    print(text, flush=True)


def shout(text):
    line = "!" * 78
    for stream in (sys.stdout, sys.stderr):
        print(f"{line}\n!!! {text}\n{line}", file=stream, flush=True)


def build_tool():
    subprocess.run(["cmake", "-S", REPO, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release",
                    "-DKESTRANE_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, "src", "kestrane")


def build_floor(source):
    if not os.path.isfile(source):
        shout(f"floor source not found at {os.path.normpath(source)}: "
              "the floor is not timed and the ratio is SKIPPED (see --floor-src)")
        return None
    floor = os.path.join(BUILD, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, source], check=True)
    return floor


def command(program, tool, folder):
    if program == "tool":
        return [tool, "*.ape", "*.mp3"]
    return [tool, folder, "ape", "mp3"]


def make_folder(work, name, count, sparse_gib):
    folder = tempfile.mkdtemp(prefix=f"{name}-", dir=work)
    make_pairs.make(count, folder, sparse_gib=sparse_gib)
    return folder


def run_once(folder, argv, prefix=()):
    """Runs the program once in folder, whose outputs are as made; seconds
    of wall time. The result and the report are checked, then the outputs
    are put back as they were made."""
    report = folder + ".report"
    os.sync()  # no write-back of earlier changes during the timed run
    try:
        with open(report, "wb") as out:
            start = time.perf_counter()
            done = subprocess.run([*prefix, *argv], cwd=folder, stdout=out,
                                  stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise Failure(f"{argv[0]} exited with status {done.returncode}: "
                          + done.stderr.decode(errors="replace").strip())
        _, faults = check_pairs.check(folder, report)
        if faults:
            raise Failure(f"wrong result after {os.path.basename(argv[0])}: "
                          + "; ".join(f"{what}: {why}" for what, why in faults[:3]))
        return seconds
    finally:
        os.remove(report)
        make_pairs.restore_outputs(folder)


def count_calls(folder, argv, count):
    """System calls per pair, in total and by name, from strace -c -f."""
    summary = folder + ".strace"
    run_once(folder, argv, prefix=("strace", "-c", "-f", "-o", summary))
    by_name = {}
    with open(summary) as f:
        for line in f:
            fields = line.split()
            if len(fields) in (5, 6) and fields[0][0].isdigit():
                by_name[fields[-1]] = int(fields[3])
    os.remove(summary)
    total = by_name.pop("total", sum(by_name.values()))
    return total / count, {name: calls / count for name, calls in by_name.items()}


def measure(case, programs, work, have_strace):
    """Each program gets its own folder of identical pairs, put back as made
    after every run; the runs alternate between the programs."""
    label, count, sparse_gib, reps = case
    needed = count * BYTES_PER_PAIR * len(programs)
    if shutil.disk_usage(work).free < needed:
        raise Failure(f"{label}: needs {needed >> 20} MiB free in {work}")
    folders = {name: make_folder(work, name, count, sparse_gib) for name in programs}
    argv = {name: command(name, programs[name], folders[name]) for name in programs}
    try:
        for name in programs:  # not counted: the folders were just made
            run_once(folders[name], argv[name])
        times = {name: [] for name in programs}
        for rep in range(reps):
            order = list(programs) if rep % 2 == 0 else list(reversed(programs))
            for name in order:
                times[name].append(run_once(folders[name], argv[name]))
        result = {"label": label, "count": count, "sparse": sparse_gib > 0}
        for name in programs:
            result[name] = statistics.median(times[name]) * 1e6 / count
            result[name + " spread"] = (min(times[name]) * 1e6 / count,
                                        max(times[name]) * 1e6 / count)
            if have_strace:
                result[name + " calls"], result[name + " by name"] = count_calls(
                    folders[name], argv[name], count)
        return result
    finally:
        for folder in folders.values():
            shutil.rmtree(folder)


def show(result, programs):
    say(f"== {result['label']}: {result['count']} pairs")
    for name in programs:
        low, high = result[name + " spread"]
        line = f"   {name:5} {result[name]:8.1f} us/pair (median; {low:.1f} to {high:.1f})"
        if name + " calls" in result:
            line += f"   {result[name + ' calls']:.2f} calls/pair: " + ", ".join(
                f"{call} {per:.2f}" for call, per in sorted(
                    result[name + " by name"].items(), key=lambda item: -item[1]) if per >= 0.01)
        say(line)


def cell(value, form):
    return form.format(value) if value is not None else "-"


def table(results):
    say("| case | tool us/pair | floor us/pair | tool/floor | tool calls/pair | floor calls/pair |")
    say("| --- | ---: | ---: | ---: | ---: | ---: |")
    for r in results:
        ratio = r["tool"] / r["floor"] if "floor" in r else None
        say(f"| {r['label']} | {r['tool']:.1f} | {cell(r.get('floor'), '{:.1f}')} | "
            f"{cell(ratio, '{:.2f}x')} | {cell(r.get('tool calls'), '{:.2f}')} | "
            f"{cell(r.get('floor calls'), '{:.2f}')} |")


def verdict(name, passed, detail):
    word = "SKIP" if passed is None else ("PASS" if passed else "FAIL")
    say(f"{word}  {name}: {detail}")
    return passed is not False


def judge(results):
    by = {r["label"]: r for r in results}
    small, mid, large, sparse = (by.get(label) for label in ("1k", "10k", "100k", "1k sparse 4 GiB"))
    ok = True
    if mid and "floor" in mid:
        ratio = mid["tool"] / mid["floor"]
        ok &= verdict("time at 10,000 pairs", ratio <= RATIO_LIMIT,
                      f"tool/floor {ratio:.2f}x (limit {RATIO_LIMIT}x)")
    else:
        verdict("time at 10,000 pairs", None, "not measured, or no floor to compare with")
    if mid and "tool calls" in mid:
        ok &= verdict("system calls at 10,000 pairs", mid["tool calls"] <= CALLS_LIMIT,
                      f"{mid['tool calls']:.2f} per pair (limit {CALLS_LIMIT})")
    else:
        verdict("system calls at 10,000 pairs", None, "not measured, or strace is not installed")
    if small and large:
        growth = large["tool"] / small["tool"]
        ok &= verdict("growth from 1,000 to 100,000 pairs", growth <= GROWTH_LIMIT,
                      f"{large['tool']:.1f} / {small['tool']:.1f} us/pair = {growth:.2f}x "
                      f"(limit {GROWTH_LIMIT}x)")
    else:
        verdict("growth from 1,000 to 100,000 pairs", None, "not measured")
    if small and sparse:
        slower = sparse["tool"] / small["tool"]
        same_calls = abs(sparse.get("tool calls", 0) - small.get("tool calls", 0)) < 0.05
        ok &= verdict("sparse 4 GiB outputs as fast as small ones",
                      slower <= SPARSE_LIMIT and same_calls,
                      f"{sparse['tool']:.1f} / {small['tool']:.1f} us/pair = {slower:.2f}x "
                      f"(limit {SPARSE_LIMIT}x), system calls per pair "
                      f"{'the same' if same_calls else 'differ'}")
    else:
        verdict("sparse 4 GiB outputs as fast as small ones", None, "not measured")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--smoke", action="store_true", help="a few hundred pairs, no targets")
    parser.add_argument("--floor-src", default=DEFAULT_FLOOR_SRC, metavar="PATH",
                        help="floor.c to build and time (default: ../shared/bench/floor.c "
                             "beside the repository)")
    parser.add_argument("--work", metavar="DIR", help="where the pair folders go (default: a "
                        "new folder under $TMPDIR)")
    parser.add_argument("--reps", type=int, help="runs of each program per case")
    parser.add_argument("--cases", metavar="LABEL,...",
                        help="only these cases: " + ", ".join(c[0] for c in FULL_CASES))
    args = parser.parse_args()

    cases = SMOKE_CASES if args.smoke else FULL_CASES
    if args.cases:
        wanted = args.cases.split(",")
        cases = [case for case in cases if case[0] in wanted]
    if args.reps:
        cases = [(label, count, gib, args.reps) for label, count, gib, _ in cases]
    programs = {"tool": build_tool()}
    floor = build_floor(args.floor_src)
    if floor:
        programs["floor"] = floor
    have_strace = shutil.which("strace") is not None
    if not have_strace:
        shout("strace is not installed: system calls are not counted")

    work = tempfile.mkdtemp(prefix="kestrane-bench-", dir=args.work)
    results = []
    try:
        for case in cases:
            results.append(measure(case, programs, work, have_strace))
            show(results[-1], programs)
    except Failure as failure:
        shout(str(failure))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    say()
    table(results)
    say()
    if args.smoke:
        say("smoke run: every result checked, no targets judged")
        return 0
    return 0 if judge(results) else 1


if __name__ == "__main__":
    sys.exit(main())
