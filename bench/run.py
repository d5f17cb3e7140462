#!/usr/bin/env python3
"""Times one batch run of kestrane against the system-call floor.

    bench/run.py [--smoke] [--floor-src PATH] [--work DIR] [--reps R] [--cases LABEL,...]

Builds the tool in Release (build/bench) and the floor program with cc -O2,
then for each case runs `kestrane '*.ape' '*.mp3'` in a folder made by
make_pairs.py and `floor DIR ape mp3` on the same folder, standard output to
a file, several times alternating the programs; every result is checked with
check_pairs.py and the outputs are put back as made before the next run. A
first run of each (which also records its peak memory) is not counted. The cases:

  warm cache: N pairs of small outputs, N = 1,000, 10,000, 100,000, and
    1,000 pairs of sparse 4 GiB outputs. At 10,000 pairs the tool also runs
    with read-ahead switched off (KESTRANE_READ_AHEAD=0), as a third program.
  cold cache: 10,000 and 100,000 pairs with the page cache dropped (as root:
    sync; echo 3 > /proc/sys/vm/drop_caches) before every timed run of every
    program. Without the permission these cases are skipped, loudly.
  big tags: 200 pairs whose inputs carry a 4 MiB cover-art tag onto outputs
    that carry one (make_pairs.py --tag-bytes), and 10 pairs with 100 MiB
    tags. Instead of the floor, `cp` copies the inputs (the same bytes) over
    earlier copies of them in one run: the disk's own rate. Prints the time
    per MiB of tag written and the tool's peak memory, which may be at most
    the two tags of a pair plus MEMORY_SLACK, however many pairs there are.

Prints the median microseconds per pair of each program, the ratio to the
floor, the peak memory of the tool, and the system calls per pair counted by
strace in a separate, untimed run of the warm cases: those of the run's own
thread apart from those of the read-ahead threads (the tool is traced with
read-ahead on from the first pair, KESTRANE_READ_AHEAD=1, as a cached run
would not start it). Then PASS or FAIL for
each target. Exits 1 when a result is wrong or a target fails.

The floor is not part of this project: its source is looked for at
../shared/bench/floor.c beside the repository unless --floor-src says
otherwise. Without it the ratios are skipped, loudly.

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
PEAK_MEMORY = os.path.join(BUILD, "peak_memory")
DEFAULT_FLOOR_SRC = os.path.join(REPO, "..", "shared", "bench", "floor.c")

MIB = 1 << 20
# (label, pairs, sparse GiB, repetitions of each program, cold cache, tag bytes
# of every input and output, or 0 for the small tags of make_pairs.py)
FULL_CASES = [("1k", 1_000, 0, 15, False, 0), ("10k", 10_000, 0, 7, False, 0), ("100k", 100_000, 0, 3, False, 0),
              ("1k sparse 4 GiB", 1_000, 4, 15, False, 0),
              ("cold 10k", 10_000, 0, 7, True, 0), ("cold 100k", 100_000, 0, 3, True, 0),
              ("200 4 MiB tags", 200, 0, 7, False, 4 * MIB), ("10 100 MiB tags", 10, 0, 3, False, 100 * MIB)]
SMOKE_CASES = [("smoke", 200, 0, 1, False, 0), ("smoke sparse 4 GiB", 20, 4, 1, False, 0),
               ("smoke cold", 200, 0, 1, True, 0), ("smoke 4 MiB tags", 5, 0, 1, False, 4 * MIB)]
# Cases that also time the tool with read-ahead switched off.
READ_AHEAD_OFF_CASES = {"10k", "cold 10k", "smoke", "smoke cold"}

RATIO_LIMIT = 1.2        # tool / floor time per pair at N = 10,000, warm cache
COLD_RATIO_LIMIT = 0.5   # tool / floor time per pair at N = 10,000, cold cache
CALLS_LIMIT = 13         # system calls per pair of the run's own thread at N = 10,000
# The run's own thread with read-ahead may make no more calls per pair than
# without it; this allows for the few calls that start and stop the threads.
CALLS_SLACK = 0.005
GROWTH_LIMIT = 1.5       # time per pair at 100,000 over that at 1,000
SPARSE_LIMIT = 1.25      # time per pair, sparse 4 GiB outputs over small ones
BYTES_PER_PAIR = 16 << 10  # disk a pair of small files takes, generously
MEMORY_SLACK = 20 * MIB    # the tool's peak with big tags, over the two tags of a pair
DROP_CACHES = "/proc/sys/vm/drop_caches"
READ_AHEAD_OFF = {"KESTRANE_READ_AHEAD": "0"}
READ_AHEAD_FROM_FIRST_PAIR = {"KESTRANE_READ_AHEAD": "1"}


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


def build_peak_memory():
    subprocess.run(["cc", "-O2", "-o", PEAK_MEMORY, os.path.join(BENCH, "peak_memory.c")], check=True)


def build_floor(source):
    if not os.path.isfile(source):
        shout(f"floor source not found at {os.path.normpath(source)}: "
              "the floor is not timed and the ratio is SKIPPED (see --floor-src)")
        return None
    floor = os.path.join(BUILD, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, source], check=True)
    return floor


def command(program, path, folder):
    """The program's arguments and the changes to its environment."""
    if program == "floor":
        return [path, folder, "ape", "mp3"], {}
    if program == "cp":
        inputs = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".ape"))
        return [path, *inputs, folder + ".cp"], {}
    return [path, "*.ape", "*.mp3"], READ_AHEAD_OFF if program == "no-ra" else {}


def make_folder(work, name, count, sparse_gib, tag_bytes):
    folder = tempfile.mkdtemp(prefix=f"{name}-", dir=work)
    make_pairs.make(count, folder, sparse_gib=sparse_gib, tag_bytes=tag_bytes)
    return folder


def can_drop_caches():
    try:
        with open(DROP_CACHES, "w"):
            return True
    except OSError:
        return False


def drop_caches():
    os.sync()
    with open(DROP_CACHES, "w") as f:
        f.write("3\n")


def run_once(folder, argv, env=None, cold=False, prefix=()):
    """Runs the program once in folder, whose outputs are as made, with the
    page cache dropped first when cold; seconds of wall time. The result and
    the report are checked, then the outputs are put back as they were made
    (cp, which changes no output, is not checked)."""
    report = folder + ".report"
    os.sync()  # no write-back of earlier changes during the timed run
    if cold:
        drop_caches()
    try:
        with open(report, "wb") as out:
            start = time.perf_counter()
            done = subprocess.run([*prefix, *argv], cwd=folder, stdout=out, stderr=subprocess.PIPE,
                                  stdin=subprocess.DEVNULL, env={**os.environ, **(env or {})})
            seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise Failure(f"{argv[0]} exited with status {done.returncode}: "
                          + done.stderr.decode(errors="replace").strip())
        if os.path.basename(argv[0]) == "cp":
            return seconds
        _, faults = check_pairs.check(folder, report)
        if faults:
            raise Failure(f"wrong result after {os.path.basename(argv[0])}: "
                          + "; ".join(f"{what}: {why}" for what, why in faults[:3]))
        return seconds
    finally:
        os.remove(report)
        if os.path.basename(argv[0]) != "cp":
            make_pairs.restore_outputs(folder)


def peak_memory(folder, argv, env, cold):
    """Bytes of peak resident memory in a run, untimed."""
    record = folder + ".peak"
    run_once(folder, argv, env, cold, prefix=(PEAK_MEMORY, record))
    with open(record) as f:
        peak = int(f.read())
    os.remove(record)
    return peak


def count_calls(folder, argv, env, count):
    """System calls per pair from a full `strace -f` trace: of the run's own
    thread (the process's first), in total and by name, and of all the
    other threads (the read-ahead) together."""
    trace = folder + ".strace"
    run_once(folder, argv, env, prefix=("strace", "-f", "-qq", "-o", trace))
    first_pid, own, others = None, {}, 0
    with open(trace) as f:
        for line in f:
            pid, _, call = line.partition(" ")
            call = call.lstrip()
            if not call[:1].isalpha() and not call.startswith("<... "):
                continue  # a signal or an exit, not a call
            if call.startswith("<... "):
                continue  # the end of a call already counted at its start
            first_pid = first_pid or pid
            if pid == first_pid:
                name = call.split("(", 1)[0]
                own[name] = own.get(name, 0) + 1
            else:
                others += 1
    os.remove(trace)
    return (sum(own.values()) / count, {name: calls / count for name, calls in own.items()},
            others / count)


def measure(case, programs, work, have_strace):
    """The programs take turns on one folder of pairs, put back as made
    after every run (one folder, so that where its files lie on the disk
    favours none of them)."""
    label, count, sparse_gib, reps, cold, tag_bytes = case
    if tag_bytes:
        programs = {"tool": programs["tool"], "cp": shutil.which("cp")}
    else:
        programs = {name: path for name, path in programs.items()
                    if name != "no-ra" or label in READ_AHEAD_OFF_CASES}
    needed = count * (BYTES_PER_PAIR + 3 * tag_bytes)
    if shutil.disk_usage(work).free < needed:
        raise Failure(f"{label}: needs {needed >> 20} MiB free in {work}")
    folder = make_folder(work, "pairs", count, sparse_gib, tag_bytes)
    if tag_bytes:
        os.mkdir(folder + ".cp")
    runs = {name: command(name, programs[name], folder) for name in programs}
    try:
        # Not timed (the folder was just made): the peak memory of each.
        peaks = {name: peak_memory(folder, *runs[name], cold) for name in programs}
        times = {name: [] for name in programs}
        for rep in range(reps):
            order = list(programs) if rep % 2 == 0 else list(reversed(programs))
            for name in order:
                times[name].append(run_once(folder, *runs[name], cold=cold))
        result = {"label": label, "count": count, "sparse": sparse_gib > 0, "cold": cold,
                  "tag bytes": tag_bytes, "programs": list(programs)}
        for name in programs:
            result[name + " peak"] = peaks[name]
            result[name] = statistics.median(times[name]) * 1e6 / count
            result[name + " spread"] = (min(times[name]) * 1e6 / count,
                                        max(times[name]) * 1e6 / count)
            if have_strace and not cold and not tag_bytes:
                argv, env = runs[name]
                if name == "tool":  # read-ahead running, whether or not it would start
                    env = {**env, **READ_AHEAD_FROM_FIRST_PAIR}
                (result[name + " calls"], result[name + " by name"],
                 result[name + " other calls"]) = count_calls(folder, argv, env, count)
        return result
    finally:
        shutil.rmtree(folder)
        shutil.rmtree(folder + ".cp", ignore_errors=True)


def show(result):
    say(f"== {result['label']}: {result['count']} pairs"
        + (", page cache dropped before every run" if result["cold"] else ""))
    for name in result["programs"]:
        low, high = result[name + " spread"]
        line = (f"   {name:5} {result[name]:8.1f} us/pair (median; {low:.1f} to {high:.1f}), "
                f"peak {result[name + ' peak'] / (1 << 20):.1f} MiB")
        if result["tag bytes"]:
            line += f", {ms_per_mib(result, name):.2f} ms per MiB of tag written"
        if name + " calls" in result:
            line += f"   {result[name + ' calls']:.2f} calls/pair: " + ", ".join(
                f"{call} {per:.2f}" for call, per in sorted(
                    result[name + " by name"].items(), key=lambda item: -item[1]) if per >= 0.01)
            if result[name + " other calls"]:
                line += f"; read-ahead threads {result[name + ' other calls']:.2f} calls/pair"
        say(line)


def ms_per_mib(result, name):
    return result[name] / 1000 / (result["tag bytes"] / MIB)


def cell(value, form):
    return form.format(value) if value is not None else "-"


def table(results):
    small = [r for r in results if not r["tag bytes"]]
    big = [r for r in results if r["tag bytes"]]
    if small:
        say("| case | tool us/pair | read-ahead off us/pair | floor us/pair | tool/floor | "
            "run's thread calls/pair | read-ahead calls/pair | floor calls/pair | tool peak MiB (read-ahead off) |")
        say("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for r in small:
        ratio = r["tool"] / r["floor"] if "floor" in r else None
        say(f"| {r['label']} | {r['tool']:.1f} | {cell(r.get('no-ra'), '{:.1f}')} | "
            f"{cell(r.get('floor'), '{:.1f}')} | {cell(ratio, '{:.2f}x')} | "
            f"{cell(r.get('tool calls'), '{:.2f}')} | {cell(r.get('tool other calls'), '{:.2f}')} | "
            f"{cell(r.get('floor calls'), '{:.2f}')} | {r['tool peak'] / (1 << 20):.1f}"
            + (f" ({r['no-ra peak'] / (1 << 20):.1f})" if "no-ra peak" in r else "") + " |")
    if small and big:
        say()
    if big:
        say("| case | tool ms/MiB | cp ms/MiB | tool/cp | tool peak MiB |")
        say("| --- | ---: | ---: | ---: | ---: |")
    for r in big:
        say(f"| {r['label']} | {ms_per_mib(r, 'tool'):.2f} | {ms_per_mib(r, 'cp'):.2f} | "
            f"{r['tool'] / r['cp']:.2f}x | {r['tool peak'] / MIB:.1f} |")


def verdict(name, passed, detail):
    word = "SKIP" if passed is None else ("PASS" if passed else "FAIL")
    say(f"{word}  {name}: {detail}")
    return passed is not False


def judge_ratio(name, result, limit):
    if result and "floor" in result:
        ratio = result["tool"] / result["floor"]
        return verdict(name, ratio <= limit, f"tool/floor {ratio:.2f}x (limit {limit}x)")
    return verdict(name, None, "not measured, or no floor to compare with")


def judge(results, cold_skipped):
    by = {r["label"]: r for r in results}
    ok = True
    for r in results:
        if r["tag bytes"]:
            limit = 2 * r["tag bytes"] + MEMORY_SLACK
            ok &= verdict(f"peak memory, {r['label']}", r["tool peak"] <= limit,
                          f"{r['tool peak'] / MIB:.1f} MiB (limit {limit / MIB:.0f} MiB: two tags "
                          f"and {MEMORY_SLACK // MIB} MiB)")
    small, mid, large, sparse, cold = (by.get(label) for label in
                                       ("1k", "10k", "100k", "1k sparse 4 GiB", "cold 10k"))
    ok &= judge_ratio("time at 10,000 pairs, warm cache", mid, RATIO_LIMIT)
    if cold_skipped:
        verdict("time at 10,000 pairs, cold cache", None, "the page cache can't be dropped here")
    else:
        ok &= judge_ratio("time at 10,000 pairs, cold cache", cold, COLD_RATIO_LIMIT)
    if mid and "tool calls" in mid:
        ok &= verdict("system calls at 10,000 pairs", mid["tool calls"] <= CALLS_LIMIT,
                      f"run's own thread {mid['tool calls']:.2f} per pair (limit {CALLS_LIMIT})")
        if "no-ra calls" in mid:
            more = mid["tool calls"] - mid["no-ra calls"]
            ok &= verdict("no more system calls on the run's thread with read-ahead", more <= CALLS_SLACK,
                          f"{mid['tool calls']:.4f} per pair with it, {mid['no-ra calls']:.4f} without "
                          f"(limit +{CALLS_SLACK}); the read-ahead threads "
                          f"{mid['tool other calls']:.2f} per pair besides")
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
        cases = [(label, count, gib, args.reps, cold, tags) for label, count, gib, _, cold, tags in cases]
    cold_skipped = any(case[4] for case in cases) and not can_drop_caches()
    if cold_skipped:
        shout(f"can't write {DROP_CACHES} (it takes root): the cold-cache cases are SKIPPED")
        cases = [case for case in cases if not case[4]]
    tool = build_tool()
    build_peak_memory()
    programs = {"tool": tool, "no-ra": tool}
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
            show(results[-1])
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
    return 0 if judge(results, cold_skipped) else 1


if __name__ == "__main__":
    sys.exit(main())
