#!/usr/bin/env python3
"""Times batch runs of kestrane against the system-call floor.

    bench/run.py [--smoke] [--floor-src PATH] [--netfs-src PATH] [--work DIR] [--reps R]
                 [--cases LABEL,...] [--baseline EXE] [--list]

Builds the tool in Release (build/bench), the floor program with cc -O2 and,
when it can, the network-share model netfs, then for each case makes pairs
with make_pairs.py and times the programs of the case on them, several times
alternating the programs, standard output to a file; every result is
checked with check_pairs.py and the outputs are put back as made before the
next run. A first run of each (which also records its peak memory) is not
counted. The programs:

  tool    `kestrane '*.ape' '*.mp3'` in a flat folder, `kestrane -r
          'lossless/*.ape' 'lossy/*.mp3'` over two trees, as a user runs it:
          one pair at a time while pairs are quick, workers once they are slow.
  one     the tool with KESTRANE_JOBS=1: one pair at a time throughout.
  K4 .. K32  the tool with KESTRANE_JOBS=4, 8, 16 or 32: that many pairs in
          flight at most, from the first pair.
  second  the tool run a second time over the pairs it has just synced
          (the first run not timed): every output must be reported up to
          date and keep its modification time.
  pty     the tool as `tool` runs it, but with standard output on a
          pseudo-terminal (80 x 24, default settings), as in a terminal
          window: the bench reads what comes out and discards it; a run
          lasts until the tool has exited and all it printed has been read.
          The files are checked, the report is not (a terminal shows it as
          a person sees it). Printed with its ratio to the tool's time.
  base, base-one, base-second, base-K4 .. base-K32, base-pty
          with --baseline EXE: EXE (another build of the tool, say of an
          older commit) run as tool, one, second, K4 .. K32 and pty are, with
          the same arguments and environment, in turn with the others and
          checked as they are. Each case then prints base and tool side by
          side: time (us/pair) and peak memory, each as tool/base, with the
          spread of the ratios of the runs taken in the same round; a table
          at the end lists every row's tool/base.
  floor   `floor DIR ape mp3`, or `floor -r lossless lossy` over two trees.
  cp      (big tags, in place of the floor) cp copying the inputs over
          earlier copies of them in one run: the disk's own rate.

The cases:

  warm cache: N pairs of small outputs, N = 1,000, 10,000 (with one and pty),
    100,000, 1,000 pairs of sparse 4 GiB outputs, and a library of 10,000
    albums of 10 pairs (100,000 pairs) in two trees (with second and pty).
  cold cache: 10,000 (with one) and 100,000 pairs, the 100,000-pair library,
    and 10,000 pairs with K4 to K32, with the page cache dropped (as root:
    sync; echo 3 > /proc/sys/vm/drop_caches) before every timed run of every
    program. Without the permission these cases are skipped, loudly.
  big tags: 200 pairs whose inputs carry a 4 MiB cover-art tag onto outputs
    that carry one (make_pairs.py --tag-bytes), and 10 pairs with 100 MiB
    tags, against cp (and one). Prints the time per MiB of tag written and
    the tool's peak memory, which may be at most the tool's room for the
    tags of the pairs in flight (ROOM_FOR_TAGS) or, when bigger, the two tags
    of a pair, plus MEMORY_SLACK, however many pairs there are.
  network share: 2,000 pairs on netfs (../shared/bench/netfs.c, a FUSE
    file system that waits a fixed delay on every request that is a round
    trip on a network share) at 0.5 ms and 2 ms a round trip, warm (with
    second) and cold (unmounted and mounted again, page cache dropped),
    2,000 pairs in 200 albums at 0.5 ms, cold, and K4 to K32 at both delays,
    warm and cold. Prints netfs's requests per pair, those of the run's own thread
    apart from the other threads'. Needs root, /dev/fuse, fusermount3 and
    libfuse3 (pkg-config fuse3); without them these cases are skipped, loudly.

System calls per pair are counted by strace in a separate, untimed run of
the warm local cases: those of the run's own thread apart from those of the
other threads (the tool is traced with KESTRANE_JOBS=16, so that workers run
from the first pair, as a traced run would start them anyway; one as it
runs), and the writes to files (not to standard output) of every program.
Then PASS or FAIL for each target. Exits 1 when a result is wrong or a target
fails.

The floor and netfs are not part of this project: their sources are looked
for at ../shared/bench/ beside the repository unless --floor-src and
--netfs-src say otherwise. Without the floor the ratios are skipped, loudly.

--smoke: a few hundred pairs, one run each, no targets: proves in seconds
that the bench still builds, runs and checks (netfs cases too, when netfs
can be mounted). --cases runs some cases only (--list names them, with
their programs), --reps sets the runs of each program.
"""
import argparse
import dataclasses
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.dont_write_bytecode = True  # no __pycache__ in the repository
import check_pairs  # noqa: E402
import make_pairs  # noqa: E402
import terminal  # noqa: E402

BUILD = os.path.join(REPO, "build", "bench")
PEAK_MEMORY = os.path.join(BUILD, "peak_memory")
DEFAULT_FLOOR_SRC = os.path.join(REPO, "..", "shared", "bench", "floor.c")
DEFAULT_NETFS_SRC = os.path.join(REPO, "..", "shared", "bench", "netfs.c")

MIB = 1 << 20
K_PROGRAMS = ("K4", "K8", "K16", "K32")


@dataclasses.dataclass
class Case:
    label: str
    count: int
    reps: int
    programs: tuple = ("tool", "floor")
    albums: int = 0          # album folders in two trees; 0: one flat folder
    sparse_gib: float = 0
    cold: bool = False
    tag_bytes: int = 0       # of every input and output; 0: the small tags of make_pairs.py
    delay_us: int = 0        # netfs round trip; 0: the local disk


FULL_CASES = [
    Case("1k", 1_000, 15), Case("10k", 10_000, 7, ("tool", "pty", "one", "floor")),
    Case("100k", 100_000, 3), Case("1k sparse 4 GiB", 1_000, 15, sparse_gib=4),
    Case("cold 10k", 10_000, 7, ("tool", "one", "floor"), cold=True),
    Case("cold 100k", 100_000, 3, cold=True),
    Case("tree 100k", 100_000, 5, ("tool", "pty", "second", "floor"), albums=10_000),
    Case("cold tree 100k", 100_000, 3, ("tool", "second", "floor"), albums=10_000, cold=True),
    Case("200 4 MiB tags", 200, 7, ("tool", "one", "cp"), tag_bytes=4 * MIB),
    Case("10 100 MiB tags", 10, 3, ("tool", "one", "cp"), tag_bytes=100 * MIB),
    Case("K cold 10k", 10_000, 5, K_PROGRAMS, cold=True),
    Case("netfs 0.5 ms warm", 2_000, 5, ("tool", "second", "floor"), delay_us=500),
    Case("netfs 0.5 ms cold", 2_000, 5, cold=True, delay_us=500),
    Case("netfs 2 ms warm", 2_000, 3, ("tool", "second", "floor"), delay_us=2000),
    Case("netfs 2 ms cold", 2_000, 3, cold=True, delay_us=2000),
    Case("netfs 0.5 ms cold tree", 2_000, 5, albums=200, cold=True, delay_us=500),
    Case("K netfs 0.5 ms warm", 2_000, 3, K_PROGRAMS, delay_us=500),
    Case("K netfs 0.5 ms cold", 2_000, 3, K_PROGRAMS, cold=True, delay_us=500),
    Case("K netfs 2 ms warm", 2_000, 3, K_PROGRAMS, delay_us=2000),
    Case("K netfs 2 ms cold", 2_000, 3, K_PROGRAMS, cold=True, delay_us=2000),
]
SMOKE_CASES = [
    Case("smoke", 200, 1, ("tool", "pty", "one", "floor")), Case("smoke sparse 4 GiB", 20, 1, sparse_gib=4),
    Case("smoke cold", 200, 1, ("tool", "one", "K4", "floor"), cold=True),
    Case("smoke tree", 200, 1, ("tool", "pty", "second", "floor"), albums=20),
    Case("smoke 4 MiB tags", 5, 1, ("tool", "one", "cp"), tag_bytes=4 * MIB),
    Case("smoke netfs warm", 40, 1, ("tool", "second", "floor"), delay_us=500),
    Case("smoke netfs cold tree", 40, 1, albums=4, cold=True, delay_us=500),
]

RATIO_LIMIT = 1.2            # tool / floor time per pair at N = 10,000, warm cache
COLD_RATIO_LIMIT = 0.2       # tool / floor time per pair at N = 10,000, cold cache
TREE_RATIO_LIMIT = 1.2       # tool / tree floor, 100,000 pairs in 10,000 albums, warm cache
TREE_COLD_RATIO_LIMIT = 0.35  # the same, cold cache
SECOND_RUN_SPEEDUP = 1.5     # first run's time over the second's, on the synced tree
NETFS_RATIO_LIMIT = 0.15     # tool / floor on netfs; also the second run / the floor
CALLS_LIMIT = 13             # system calls per pair of the run's own thread at N = 10,000
# With workers the run's own thread may make no more calls per pair than one
# at a time; this allows for the few calls that start and stop the threads.
CALLS_SLACK = 0.005
GROWTH_LIMIT = 1.5           # time per pair at 100,000 over that at 1,000
SPARSE_LIMIT = 1.25          # time per pair, sparse 4 GiB outputs over small ones
PEAK_LIMIT = 40 * MIB        # the tool's peak at 100,000 pairs, flat or in trees
BYTES_PER_PAIR = 16 << 10    # disk a pair of small files takes, generously
ROOM_FOR_TAGS = 32 * MIB     # the tool's room for the tags of the pairs in flight
MEMORY_SLACK = 20 * MIB      # the tool's peak with big tags, over that room or a pair's two tags
DROP_CACHES = "/proc/sys/vm/drop_caches"
ENVIRONMENT = {"tool": {}, "second": {}, "one": {"KESTRANE_JOBS": "1"},
               **{k: {"KESTRANE_JOBS": k[1:]} for k in K_PROGRAMS}}
TRACED_ENVIRONMENT = {"tool": {"KESTRANE_JOBS": "16"}, "second": {"KESTRANE_JOBS": "16"}}
# The programs that run the tool (or, prefixed base, the baseline): all
# those with an environment, and pty.
TOOL_PROGRAMS = (*ENVIRONMENT, "pty")
WRITE_CALLS = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "ftruncate", "truncate",
               "fallocate"}
NETFS_ATTRIBUTE_TIMEOUT = 1.0  # netfs's default: a warm run waits it out after a restore
WARM_UP_FILES, WARM_UP_THREADS = 512, 64


class Failure(Exception):
    pass


def say(text=""):
    print(text, flush=True)


def shout(text):
    line = "!" * 78
    for stream in (sys.stdout, sys.stderr):
        print(f"{line}\n!!! {text}\n{line}", file=stream, flush=True)


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


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
              "the floor is not timed and the ratios are SKIPPED (see --floor-src)")
        return None
    floor = os.path.join(BUILD, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, source], check=True)
    return floor


def build_netfs(source):
    """netfs's path, or None (and why) when it can't run here."""
    if not os.path.isfile(source):
        return None, f"netfs source not found at {os.path.normpath(source)} (see --netfs-src)"
    if os.geteuid() != 0:
        return None, "mounting netfs takes root"
    if not os.path.exists("/dev/fuse") or shutil.which("fusermount3") is None:
        return None, "no FUSE here (/dev/fuse and fusermount3, package fuse3)"
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], capture_output=True, text=True)
    if flags.returncode != 0:
        return None, "libfuse3 is not installed (package libfuse3-dev, and pkg-config)"
    netfs = os.path.join(BUILD, "netfs")
    built = subprocess.run(["cc", "-O2", "-o", netfs, source, *flags.stdout.split(), "-lpthread"],
                           capture_output=True, text=True)
    if built.returncode != 0:
        return None, "netfs does not build: " + built.stderr.strip()[-300:]
    return netfs, None


class NetFs:
    """A netfs mount over a backing folder: pairs are made and checked in
    `back`, programs run in `mount`."""

    def __init__(self, binary, work):
        self.binary = binary
        self.back = os.path.join(work, "netfs-back")
        self.mount = os.path.join(work, "netfs-mount")
        self.stats_path = os.path.join(work, "netfs-stats")
        self.log = os.path.join(work, "netfs.log")
        self.process = None
        self.delay_us = None
        os.makedirs(self.back)
        os.makedirs(self.mount)
        warm_up = os.path.join(self.back, ".warm-up")
        os.makedirs(warm_up)
        for i in range(WARM_UP_FILES):
            with open(os.path.join(warm_up, f"w{i:04d}"), "wb") as f:
                f.write(bytes(4096))

    def start(self, delay_us):
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen([self.binary, self.back, self.mount, str(delay_us),
                                             self.stats_path], stdout=log, stderr=log,
                                            stdin=subprocess.DEVNULL)
        self.delay_us = delay_us
        deadline = time.monotonic() + 10
        while not os.path.ismount(self.mount):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.process = None
                with open(self.log, errors="replace") as f:
                    raise Failure("netfs did not mount: " + f.read().strip()[-300:])
            time.sleep(0.01)

    def stop(self):
        if self.process is None:
            return
        subprocess.run(["fusermount3", "-u", self.mount], check=False, stderr=subprocess.DEVNULL)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            subprocess.run(["fusermount3", "-u", "-z", self.mount], check=False, stderr=subprocess.DEVNULL)
        self.process = None

    def use(self, delay_us):
        """Mounted afresh for a case: netfs finds a file by the backing path
        it first saw it under, so a new file that reuses the inode number of
        an earlier case's removed one must not meet a node netfs still keeps."""
        self.stop()
        self.start(delay_us)

    def remount(self):
        """Mounted afresh (the kernel forgets every file), worker threads
        started by a parallel pass over other files (libfuse starts them
        one by one as requests queue up), then the page cache dropped."""
        delay_us = self.delay_us
        self.stop()
        self.start(delay_us)
        folder = os.path.join(self.mount, ".warm-up")
        names = sorted(os.listdir(folder))

        def read_some(start):
            for name in names[start::WARM_UP_THREADS]:
                with open(os.path.join(folder, name), "rb") as f:
                    f.read()
                os.stat(os.path.join(folder, name))
        threads = [threading.Thread(target=read_some, args=(i,)) for i in range(WARM_UP_THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        drop_caches()

    def requests(self):
        """netfs's requests since the last call, {op: (run's thread, other
        threads)}, and the most requests it had in flight at once."""
        if os.path.exists(self.stats_path):
            os.remove(self.stats_path)
        self.process.send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + 5
        while not os.path.exists(self.stats_path):
            if time.monotonic() > deadline:
                raise Failure("netfs wrote no request counts")
            time.sleep(0.005)
        counts, in_flight = {}, 0
        with open(self.stats_path) as f:
            for line in f:
                words = line.split()
                if words[0] == "maxinflight":
                    in_flight = int(words[1])
                else:
                    counts[words[0]] = (int(words[1]), int(words[2]))
        return counts, in_flight


def command(program, path, case, folder):
    """The program's arguments and the changes to its environment."""
    if program == "floor":
        return ([path, "-r", "lossless", "lossy"] if case.albums else [path, folder, "ape", "mp3"]), {}
    if program == "cp":
        inputs = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".ape"))
        return [path, *inputs, folder + ".cp"], {}
    specs = ["-r", "lossless/*.ape", "lossy/*.mp3"] if case.albums else ["*.ape", "*.mp3"]
    return [path, *specs], ENVIRONMENT[runs_as(program)]


def base_of(program):
    """The baseline's program that runs as the tool's program does."""
    return "base" if program == "tool" else "base-" + program


def runs_as(program):
    """The tool's program whose environment and checks a program has: one
    for base-one, tool for pty and base-pty, the program itself otherwise."""
    program = "tool" if program == "base" else program.removeprefix("base-")
    return "tool" if program == "pty" else program


def on_terminal(program):
    return program in ("pty", "base-pty")


def with_baseline(case):
    """The case with the baseline's program after each of the tool's."""
    programs = []
    for program in case.programs:
        programs += [program, base_of(program)] if program in TOOL_PROGRAMS else [program]
    return dataclasses.replace(case, programs=tuple(programs))


def is_jobs_case(case):
    """A case of KESTRANE_JOBS side by side (and perhaps the baseline's)."""
    return set(K_PROGRAMS) <= set(case.programs)


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


class Pairs:
    """A case's pairs: made in `data` (checked and put back there), run in
    `run` (the same folder, or the same seen through netfs); reports and
    traces go in `notes`, outside both."""

    def __init__(self, case, work, netfs):
        base = netfs.back if netfs else work
        self.data = tempfile.mkdtemp(prefix="pairs-", dir=base)
        self.run = os.path.join(netfs.mount, os.path.basename(self.data)) if netfs else self.data
        self.notes = os.path.join(work, os.path.basename(self.data) + ".notes")
        os.mkdir(self.notes)
        make_pairs.make(case.count, self.data, sparse_gib=case.sparse_gib, tag_bytes=case.tag_bytes,
                        albums=case.albums)
        if case.tag_bytes:
            os.mkdir(self.data + ".cp")

    def remove(self):
        shutil.rmtree(self.data)
        shutil.rmtree(self.notes)
        shutil.rmtree(self.data + ".cp", ignore_errors=True)


def run_once(case, pairs, program, argv, env, netfs=None, prefix=()):
    """Runs the program once on the pairs, as made, with the page cache
    dropped first when the case is cold; seconds of wall time, and netfs's
    requests in the run. The result and the report are checked, then the
    outputs are put back as they were made (cp, which changes no output,
    is not checked; on a terminal only the files are). The second run (and
    base-second) follows an untimed run of the same executable that syncs."""
    report = os.path.join(pairs.notes, "report")
    full_env = {**os.environ, **env}
    times_before = None
    if netfs and not case.cold:
        # What the kernel holds of the files put back behind its back expires.
        time.sleep(NETFS_ATTRIBUTE_TIMEOUT + 0.2)
    if runs_as(program) == "second":
        first = subprocess.run(argv, cwd=pairs.run, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env={**os.environ, **ENVIRONMENT["tool"]})
        if first.returncode != 0:
            raise Failure(f"the run before the second exited with status {first.returncode}: "
                          + first.stderr.decode(errors="replace").strip())
        times_before = check_pairs.modification_times(pairs.data)
    os.sync()  # no write-back of earlier changes during the timed run
    if netfs and case.cold:
        netfs.remount()
    elif netfs and runs_as(program) == "second":
        time.sleep(NETFS_ATTRIBUTE_TIMEOUT + 0.2)  # as the other programs start
    elif case.cold:
        drop_caches()
    if netfs:
        netfs.requests()  # counted from here
    try:
        if on_terminal(program):
            seconds, status, errors, printed = terminal.run([*prefix, *argv], pairs.run, full_env)
            with open(report, "wb") as out:
                out.write(printed)  # its end, for the complaints of a failed run
        else:
            with open(report, "wb") as out:
                start = time.perf_counter()
                done = subprocess.run([*prefix, *argv], cwd=pairs.run, stdout=out, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL, env=full_env)
                seconds = time.perf_counter() - start
            status, errors = done.returncode, done.stderr
        requests = None
        if netfs:
            time.sleep(0.1)  # the kernel sends the last releases after the program ends
            requests = netfs.requests()
        if status != 0:
            raise Failure(f"{program} exited with status {status}: "
                          + errors.decode(errors="replace").strip()
                          + "; its complaints: " + report_faults(report))
        if program == "cp":
            return seconds, requests
        _, faults = check_pairs.check(pairs.data, None if on_terminal(program) else report,
                                      synced=runs_as(program) == "second",
                                      input_folder_of_output=program == "floor" and case.albums > 0)
        if times_before is not None and check_pairs.modification_times(pairs.data) != times_before:
            faults.append(("second run", "modification times changed"))
        if faults:
            raise Failure(f"{case.label}: wrong result after {program}: "
                          + "; ".join(f"{what}: {why}" for what, why in faults[:3]))
        return seconds, requests
    finally:
        if os.path.exists(report):
            os.remove(report)
        if program != "cp":
            make_pairs.restore_outputs(pairs.data)


def report_faults(report, most=3):
    """The report's complaints (its lines that end in '!'), each after its heading."""
    with open(report, "rb") as f:
        lines = [line.rstrip(b"\r\n").decode(errors="replace") for line in f]
    faults = [f"{lines[i - 1]} {line}" if i else line for i, line in enumerate(lines) if line.endswith("!")]
    return f"{len(faults)}: " + " | ".join(faults[:most]) if faults else "none"


def peak_memory(case, pairs, program, argv, env, netfs):
    """Bytes of peak resident memory in a run, untimed."""
    record = os.path.join(pairs.notes, "peak")
    run_once(case, pairs, program, argv, env, netfs, prefix=(PEAK_MEMORY, record))
    with open(record) as f:
        peak = int(f.read())
    os.remove(record)
    return peak


def count_calls(case, pairs, program, argv, env):
    """System calls per pair from a full `strace -f` trace: of the run's own
    thread (the process's first), in total and by name, of all the other
    threads together, and the writes to files (not to standard output)."""
    trace = os.path.join(pairs.notes, "strace")
    run_once(case, pairs, program, argv, env, prefix=("strace", "-f", "-qq", "-o", trace))
    first_pid, own, others, writes = None, {}, {}, 0
    with open(trace) as f:
        for line in f:
            pid, _, call = line.partition(" ")
            call = call.lstrip()
            if not call[:1].isalpha():
                continue  # a signal, an exit, or the end of a call already counted at its start
            first_pid = first_pid or pid
            name, _, arguments = call.partition("(")
            if name in WRITE_CALLS and arguments.split(",", 1)[0].strip() != "1":
                writes += 1
            calls = own if pid == first_pid else others
            calls[name] = calls.get(name, 0) + 1
    os.remove(trace)
    count = case.count
    return {"calls": sum(own.values()) / count, "by name": {n: c / count for n, c in own.items()},
            "other calls": sum(others.values()) / count,
            "other by name": {n: c / count for n, c in others.items()}, "writes": writes}


def file_calls(result, name):
    """A traced program's calls per pair on all its threads but the futex
    calls, whose number depends on how the threads happened to meet."""
    trace = result.get(name + " trace")
    if not trace:
        return None
    return sum(per for by in (trace["by name"], trace["other by name"])
               for call, per in by.items() if call != "futex")


def per_pair_requests(runs, count):
    """netfs's requests per pair, averaged over the runs: {op: (run's
    thread, other threads)}, and the most in flight at once in any run."""
    ops = {}
    for counts, _ in runs:
        for op, (own, other) in counts.items():
            before = ops.get(op, (0, 0))
            ops[op] = (before[0] + own / count / len(runs), before[1] + other / count / len(runs))
    return {op: pair for op, pair in ops.items() if sum(pair) > 0}, max(n for _, n in runs)


def measure(case, programs, work, have_strace, netfs):
    """The programs take turns on one set of pairs, put back as made after
    every run (one set, so that where its files lie on the disk favours
    none of them)."""
    programs = {name: programs[name] for name in case.programs if name in programs}
    needed = case.count * (BYTES_PER_PAIR + 3 * case.tag_bytes)
    if shutil.disk_usage(work).free < needed:
        raise Failure(f"{case.label}: needs {needed >> 20} MiB free in {work}")
    if netfs:
        netfs.use(case.delay_us)
    load_before, started = load(), time.monotonic()
    pairs = Pairs(case, work, netfs)
    runs = {name: command(name, programs[name], case, pairs.run) for name in programs}
    try:
        # Not timed (the pairs were just made): the peak memory of each (on
        # netfs, of the tool only: the floor takes long there).
        peaks = {name: peak_memory(case, pairs, name, *runs[name], netfs)
                 for name in programs if not (netfs and name == "floor")}
        times = {name: [] for name in programs}
        requests = {name: [] for name in programs}
        for rep in range(case.reps):
            order = list(programs) if rep % 2 == 0 else list(reversed(programs))
            for name in order:
                seconds, counted = run_once(case, pairs, name, *runs[name], netfs)
                times[name].append(seconds)
                if counted:
                    requests[name].append(counted)
        result = {"case": case, "programs": list(programs), "load": (load_before, load())}
        for name in programs:
            if name in peaks:
                result[name + " peak"] = peaks[name]
            result[name] = statistics.median(times[name]) * 1e6 / case.count
            result[name + " spread"] = (min(times[name]) * 1e6 / case.count,
                                        max(times[name]) * 1e6 / case.count)
            result[name + " runs"] = times[name]  # in rounds: the programs' i-th runs came in a row
            if requests[name]:
                result[name + " requests"] = per_pair_requests(requests[name], case.count)
            traced = name not in ("pty", "base") and not name.startswith("base-")
            if traced and have_strace and not case.cold and not case.tag_bytes and not netfs:
                argv, env = runs[name]
                env = {**env, **TRACED_ENVIRONMENT.get(name, {})}
                result[name + " trace"] = count_calls(case, pairs, name, argv, env)
        result["seconds"] = time.monotonic() - started
        return result
    finally:
        pairs.remove()


def ms_per_mib(result, name):
    return result[name] / 1000 / (result["case"].tag_bytes / MIB)


def show(result):
    case = result["case"]
    where = f", on netfs at {case.delay_us / 1000:g} ms a round trip" if case.delay_us else ""
    say(f"== {case.label}: {case.count} pairs" + (f" in {case.albums} albums" if case.albums else "")
        + where + (", cold cache" if case.cold else "")
        + f" (load average {result['load'][0]} before, {result['load'][1]} after; "
        f"{result['seconds']:.0f} s)")
    width = max(6, *(len(name) for name in result["programs"]))
    for name in result["programs"]:
        low, high = result[name + " spread"]
        line = f"   {name:{width}} {result[name]:8.1f} us/pair (median; {low:.1f} to {high:.1f})"
        if name + " peak" in result:
            line += f", peak {result[name + ' peak'] / MIB:.1f} MiB"
        if case.tag_bytes:
            line += f", {ms_per_mib(result, name):.2f} ms per MiB of tag written"
        trace = result.get(name + " trace")
        if trace:
            line += f"\n          {trace['calls']:.2f} calls/pair on the run's thread: " + ", ".join(
                f"{call} {per:.2f}" for call, per in sorted(
                    trace["by name"].items(), key=lambda item: -item[1]) if per >= 0.01)
            if trace["other calls"]:
                line += f"; other threads {trace['other calls']:.2f} calls/pair"
            line += f"; {trace['writes']} writes to files"
        if name + " requests" in result:
            ops, in_flight = result[name + " requests"]
            own = sum(pair[0] for pair in ops.values())
            other = sum(pair[1] for pair in ops.values())
            line += (f"\n          netfs requests/pair: {own + other:.2f} ({own:.2f} from the run's "
                     f"thread, {other:.2f} from others; at most {in_flight} in flight): "
                     + ", ".join(f"{op} {sum(pair):.2f}" for op, pair in sorted(
                         ops.items(), key=lambda item: -sum(item[1]))))
        say(line)
    for name, against in compared(result):
        ratios = run_ratios(result, name, against)
        line = (f"   {name + '/' + against:{width + 9}} time {result[name] / result[against]:.3f}x "
                f"(median of the runs' ratios {statistics.median(ratios):.3f}x, "
                f"{min(ratios):.3f}x to {max(ratios):.3f}x)")
        if peak_ratio(result, name, against) is not None:
            line += (f", peak {result[name + ' peak'] / MIB:.1f} / {result[against + ' peak'] / MIB:.1f} MiB"
                     f" = {peak_ratio(result, name, against):.3f}x")
        say(line)


def compared(result):
    """The programs compared side by side in a case: pty with the tool, and
    each of the tool's with the baseline's that runs as it does."""
    names = result["programs"]
    return ([("pty", "tool")] if "pty" in names else []) + [
        (name, base_of(name)) for name in names if name in TOOL_PROGRAMS and base_of(name) in names]


def run_ratios(result, name, against):
    """The ratio of the times of each round's runs of the two programs,
    which came one after the other: the noise of a ratio."""
    return [a / b for a, b in zip(result[name + " runs"], result[against + " runs"])]


def peak_ratio(result, name, against):
    if name + " peak" in result and against + " peak" in result:
        return result[name + " peak"] / result[against + " peak"]
    return None


def cell(value, form):
    return form.format(value) if value is not None else "-"


def ratio(result, name, to="floor"):
    return result[name] / result[to] if name in result and to in result else None


def trace_of(result, name, key):
    return result.get(name + " trace", {}).get(key)


def requests_of(result, name):
    """netfs requests per pair: 'all (run's thread)'."""
    if name + " requests" not in result:
        return "-"
    ops, _ = result[name + " requests"]
    return (f"{sum(sum(pair) for pair in ops.values()):.1f} "
            f"({sum(pair[0] for pair in ops.values()):.1f})")


def calls_with_workers(result):
    """The tool's system calls a pair: the run's own thread + the workers'."""
    own, other = trace_of(result, "tool", "calls"), trace_of(result, "tool", "other calls")
    return f"{own:.2f} + {other:.2f}" if own is not None else "-"


def heading(columns, first=False):
    """A Markdown table's first two lines: the names, then the first column
    left and the rest (numbers) right aligned."""
    if not first:
        say()
    say("| " + " | ".join(columns) + " |")
    say("| --- |" + " ---: |" * (len(columns) - 1))


def table(results):
    groups = {"flat": [], "tree": [], "netfs": [], "K": [], "big": []}
    for r in results:
        case = r["case"]
        kind = ("big" if case.tag_bytes else "K" if is_jobs_case(case)
                else "netfs" if case.delay_us else "tree" if case.albums else "flat")
        groups[kind].append(r)
    mib = (lambda r, name: cell(r.get(name + " peak", 0) / MIB or None, "{:.1f}"))
    if groups["flat"]:
        heading(["case", "tool us/pair", "one at a time us/pair", "floor us/pair", "tool/floor",
                 "run's thread calls/pair: one at a time", "with workers: run's thread + workers",
                 "floor calls/pair", "tool peak MiB"], first=True)
    for r in groups["flat"]:
        say(f"| {r['case'].label} | {r['tool']:.1f} | {cell(r.get('one'), '{:.1f}')} | "
            f"{cell(r.get('floor'), '{:.1f}')} | {cell(ratio(r, 'tool'), '{:.2f}x')} | "
            f"{cell(trace_of(r, 'one', 'calls'), '{:.2f}')} | {calls_with_workers(r)} | "
            f"{cell(trace_of(r, 'floor', 'calls'), '{:.2f}')} | {mib(r, 'tool')} |")
    if groups["tree"]:
        heading(["case", "tool us/pair", "floor us/pair", "tool/floor", "second run us/pair",
                 "first/second", "writes in the second run",
                 "tool calls/pair: run's thread + workers", "floor calls/pair", "tool peak MiB"])
    for r in groups["tree"]:
        say(f"| {r['case'].label} | {r['tool']:.1f} | {cell(r.get('floor'), '{:.1f}')} | "
            f"{cell(ratio(r, 'tool'), '{:.2f}x')} | {cell(r.get('second'), '{:.1f}')} | "
            f"{cell(ratio(r, 'tool', 'second'), '{:.2f}x')} | {cell(trace_of(r, 'second', 'writes'), '{}')} | "
            f"{calls_with_workers(r)} | "
            f"{cell(trace_of(r, 'floor', 'calls'), '{:.2f}')} | {mib(r, 'tool')} |")
    if groups["netfs"]:
        heading(["case", "tool us/pair", "floor us/pair", "tool/floor", "second run us/pair",
                 "second/floor", "tool requests/pair (run's thread)",
                 "floor requests/pair (run's thread)", "tool peak MiB"])
    for r in groups["netfs"]:
        say(f"| {r['case'].label} | {r['tool']:.0f} | {cell(r.get('floor'), '{:.0f}')} | "
            f"{cell(ratio(r, 'tool'), '{:.3f}x')} | {cell(r.get('second'), '{:.0f}')} | "
            f"{cell(ratio(r, 'second'), '{:.3f}x')} | {requests_of(r, 'tool')} | "
            f"{requests_of(r, 'floor')} | {mib(r, 'tool')} |")
    if groups["K"]:
        heading(["case"] + [f"KESTRANE_JOBS={k[1:]} us/pair" for k in K_PROGRAMS]
                + ["requests/pair at 16", "peak MiB at 4 / 32"])
    for r in groups["K"]:
        say(f"| {r['case'].label} | " + " | ".join(cell(r.get(k), "{:.1f}") for k in K_PROGRAMS)
            + f" | {requests_of(r, 'K16')} | {mib(r, 'K4')} / {mib(r, 'K32')} |")
    if groups["big"]:
        heading(["case", "tool ms/MiB", "one at a time ms/MiB", "cp ms/MiB", "tool/cp",
                 "tool peak MiB", "one at a time peak MiB"])
    for r in groups["big"]:
        one = ms_per_mib(r, "one") if "one" in r else None
        say(f"| {r['case'].label} | {ms_per_mib(r, 'tool'):.2f} | {cell(one, '{:.2f}')} | "
            f"{ms_per_mib(r, 'cp'):.2f} | {r['tool'] / r['cp']:.2f}x | {r['tool peak'] / MIB:.1f} | "
            f"{mib(r, 'one')} |")
    on_terminal_table([r for r in results if "pty" in r])


def ratio_cells(result, name, against):
    """The time ratio (of the medians), the runs' ratios (median, least to
    most) and the peak memory ratio, as table cells."""
    ratios = run_ratios(result, name, against)
    return (f"{result[name] / result[against]:.3f}x | {statistics.median(ratios):.3f}x "
            f"({min(ratios):.3f} to {max(ratios):.3f}) | {cell(peak_ratio(result, name, against), '{:.3f}x')}")


def on_terminal_table(results):
    if not results:
        return
    heading(["case", "tool us/pair", "standard output on a terminal us/pair", "pty/tool",
             "runs' pty/tool: median (least to most)", "peak pty/tool"])
    for r in results:
        say(f"| {r['case'].label} | {r['tool']:.1f} | {r['pty']:.1f} | {ratio_cells(r, 'pty', 'tool')} |")


def baseline_table(results):
    """Every program of every case that ran beside the baseline's, with its
    time and peak memory over the baseline's; the largest, and the spread
    of the runs' ratios over all rows, a measure of the noise."""
    rows = [(r, name, against) for r in results for name, against in compared(r) if against != "tool"]
    if not rows:
        return
    heading(["case", "program", "base us/pair", "tool us/pair", "tool/base",
             "runs' tool/base: median (least to most)", "peak tool/base"], first=True)
    for r, name, against in rows:
        say(f"| {r['case'].label} | {name} | {r[against]:.1f} | {r[name]:.1f} | "
            f"{ratio_cells(r, name, against)} |")
    r, name, against = max(rows, key=lambda row: row[0][row[1]] / row[0][row[2]])
    ratios = [value for r_, n, a in rows for value in run_ratios(r_, n, a)]
    say(f"\nslowest against the baseline: {r[name] / r[against]:.3f}x ({r['case'].label}, {name}); "
        f"the runs' ratios of all rows ranged from {min(ratios):.3f}x to {max(ratios):.3f}x "
        f"(median {statistics.median(ratios):.3f}x)")


def verdict(name, passed, detail):
    word = "SKIP" if passed is None else ("PASS" if passed else "FAIL")
    say(f"{word}  {name}: {detail}")
    return passed is not False


def judge_ratio(name, result, limit, program="tool"):
    value = ratio(result, program) if result else None
    if value is not None:
        return verdict(name, value <= limit, f"{program} {result[program]:.1f} / floor "
                       f"{result['floor']:.1f} us/pair = {value:.3f}x (limit {limit}x)")
    return verdict(name, None, "not measured, or no floor to compare with")


def judge_peak(name, results):
    """The largest peak of the tool in the cases given (warm and cold)."""
    peaks = {r["case"].label: r["tool peak"] for r in results if r and "tool peak" in r}
    if peaks:
        label = max(peaks, key=peaks.get)
        return verdict(name, peaks[label] <= PEAK_LIMIT,
                       ", ".join(f"{peak / MIB:.1f} MiB ({label})" for label, peak in peaks.items())
                       + f" (limit {PEAK_LIMIT // MIB} MiB)")
    return verdict(name, None, "not measured")


def judge(results, skipped):
    by = {r["case"].label: r for r in results}
    ok = True
    for r in results:
        if r["case"].tag_bytes:
            limit = max(2 * r["case"].tag_bytes, ROOM_FOR_TAGS) + MEMORY_SLACK
            ok &= verdict(f"peak memory, {r['case'].label}", r["tool peak"] <= limit,
                          f"{r['tool peak'] / MIB:.1f} MiB (limit {limit / MIB:.0f} MiB: the room for the tags "
                          f"in flight or a pair's two tags, and {MEMORY_SLACK // MIB} MiB)")
    small, mid, large, sparse = (by.get(label) for label in ("1k", "10k", "100k", "1k sparse 4 GiB"))
    ok &= judge_ratio("time at 10,000 pairs, warm cache", mid, RATIO_LIMIT)
    for label, name, limit in (("cold 10k", "time at 10,000 pairs, cold cache", COLD_RATIO_LIMIT),
                               ("tree 100k", "time over a tree of 100,000 pairs, warm cache",
                                TREE_RATIO_LIMIT),
                               ("cold tree 100k", "time over a tree of 100,000 pairs, cold cache",
                                TREE_COLD_RATIO_LIMIT)):
        if label in skipped:
            verdict(name, None, skipped[label])
        else:
            ok &= judge_ratio(name, by.get(label), limit)
    if mid and trace_of(mid, "one", "calls") is not None:
        one_calls = trace_of(mid, "one", "calls")
        ok &= verdict("system calls at 10,000 pairs", one_calls <= CALLS_LIMIT,
                      f"run's own thread, one at a time (as a cached run works), {one_calls:.2f} per "
                      f"pair (limit {CALLS_LIMIT})")
        own = trace_of(mid, "tool", "calls")
        if own is not None:
            ok &= verdict("no more system calls on the run's thread with workers", own <= one_calls + CALLS_SLACK,
                          f"{own:.4f} per pair with workers from the first pair, {one_calls:.4f} one at "
                          f"a time (limit +{CALLS_SLACK}); the workers {trace_of(mid, 'tool', 'other calls'):.2f} "
                          "per pair besides")
    else:
        verdict("system calls at 10,000 pairs", None, "not measured, or strace is not installed")
    if small and large:
        growth = large["tool"] / small["tool"]
        ok &= verdict("growth from 1,000 to 100,000 pairs", growth <= GROWTH_LIMIT,
                      f"{large['tool']:.1f} / {small['tool']:.1f} us/pair = {growth:.2f}x "
                      f"(limit {GROWTH_LIMIT}x)")
    else:
        verdict("growth from 1,000 to 100,000 pairs", None, "not measured")
    ok &= judge_peak("peak memory at 100,000 pairs", [large, by.get("cold 100k")])
    if small and sparse:
        slower = sparse["tool"] / small["tool"]
        same_calls = abs((file_calls(sparse, "tool") or 0) - (file_calls(small, "tool") or 0)) < 0.05
        ok &= verdict("sparse 4 GiB outputs as fast as small ones",
                      slower <= SPARSE_LIMIT and same_calls,
                      f"{sparse['tool']:.1f} / {small['tool']:.1f} us/pair = {slower:.2f}x "
                      f"(limit {SPARSE_LIMIT}x), system calls per pair but futex "
                      f"{cell(file_calls(sparse, 'tool'), '{:.2f}')} and {cell(file_calls(small, 'tool'), '{:.2f}')}: "
                      f"{'the same' if same_calls else 'differ'}")
    else:
        verdict("sparse 4 GiB outputs as fast as small ones", None, "not measured")
    tree = by.get("tree 100k")
    if tree and "second" in tree:
        speedup = tree["tool"] / tree["second"]
        writes = trace_of(tree, "second", "writes")
        ok &= verdict("second run over the synced tree", speedup >= SECOND_RUN_SPEEDUP and writes == 0,
                      f"first {tree['tool']:.1f} / second {tree['second']:.1f} us/pair = {speedup:.2f}x "
                      f"faster (limit {SECOND_RUN_SPEEDUP}x), {cell(writes, '{}')} writes to files "
                      "(limit 0), modification times unchanged")
    else:
        verdict("second run over the synced tree", None, "not measured")
    ok &= judge_peak("peak memory over a tree of 100,000 pairs", [tree, by.get("cold tree 100k")])
    netfs_labels = [c.label for c in FULL_CASES if c.delay_us and not is_jobs_case(c)]
    for label in netfs_labels:
        name = f"{label}, 2,000 pairs"
        if label in skipped:
            verdict(name, None, skipped[label])
            continue
        r = by.get(label)
        ok &= judge_ratio(name, r, NETFS_RATIO_LIMIT)
        if r and "second" in r:
            ok &= judge_ratio(f"{label}, second run over synced pairs against the floor", r,
                              NETFS_RATIO_LIMIT, program="second")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--smoke", action="store_true", help="a few hundred pairs, no targets")
    parser.add_argument("--floor-src", default=DEFAULT_FLOOR_SRC, metavar="PATH",
                        help="floor.c to build and time (default: ../shared/bench/floor.c "
                             "beside the repository)")
    parser.add_argument("--netfs-src", default=DEFAULT_NETFS_SRC, metavar="PATH",
                        help="netfs.c for the network-share cases (default: ../shared/bench/netfs.c "
                             "beside the repository)")
    parser.add_argument("--work", metavar="DIR", help="where the pairs go (default: a "
                        "new folder under $TMPDIR, which must be on a disk for the cold cases)")
    parser.add_argument("--reps", type=int, help="runs of each program per case")
    parser.add_argument("--cases", metavar="LABEL,...", help="only these cases (see --list)")
    parser.add_argument("--baseline", metavar="EXE", help="another build of kestrane to run beside "
                        "this one wherever the tool runs, as base (see above)")
    parser.add_argument("--list", action="store_true", help="list the cases and exit")
    args = parser.parse_args()
    started = time.monotonic()

    cases = SMOKE_CASES if args.smoke else FULL_CASES
    if args.baseline:
        args.baseline = shutil.which(args.baseline) or args.baseline
        if not (os.path.isfile(args.baseline) and os.access(args.baseline, os.X_OK)):
            parser.error(f"--baseline: {args.baseline} is not an executable file")
        args.baseline = os.path.abspath(args.baseline)  # the programs run in the pairs' folder
        cases = [with_baseline(case) for case in cases]
    if args.list:
        for case in cases:
            say(f"{case.label}: {case.count} pairs, {case.reps} runs of {', '.join(case.programs)}")
        return 0
    if args.cases:
        wanted = args.cases.split(",")
        unknown = set(wanted) - {case.label for case in cases}
        if unknown:
            parser.error("no such case: " + ", ".join(sorted(unknown)))
        cases = [case for case in cases if case.label in wanted]
    if args.reps:
        cases = [dataclasses.replace(case, reps=args.reps) for case in cases]
    skipped = {}
    if any(case.cold for case in cases) and not can_drop_caches():
        shout(f"can't write {DROP_CACHES} (it takes root): the cold-cache cases are SKIPPED")
        skipped.update({case.label: "the page cache can't be dropped here" for case in cases if case.cold})
    tool = build_tool()
    build_peak_memory()
    programs = {name: tool for name in TOOL_PROGRAMS}
    if args.baseline:
        programs.update({base_of(name): args.baseline for name in TOOL_PROGRAMS})
    floor = build_floor(args.floor_src)
    if floor:
        programs["floor"] = floor
    programs["cp"] = shutil.which("cp")
    have_strace = shutil.which("strace") is not None
    if not have_strace:
        shout("strace is not installed: system calls are not counted")
    netfs_binary = None
    if any(case.delay_us for case in cases):
        netfs_binary, why = build_netfs(args.netfs_src)
        if not netfs_binary:
            shout(f"{why}: the network-share cases are SKIPPED")
            skipped.update({case.label: why for case in cases if case.delay_us})
    cases = [case for case in cases if case.label not in skipped]
    say(f"load average at the start: {load()} (2 cores; above about 0.5 the times are noisy)")

    work = tempfile.mkdtemp(prefix="kestrane-bench-", dir=args.work)
    netfs = None
    results = []
    try:
        if netfs_binary:
            netfs = NetFs(netfs_binary, work)
        for case in cases:
            if case.delay_us and netfs:
                try:
                    netfs.use(case.delay_us)
                except Failure as failure:
                    shout(f"{failure}: the network-share cases are SKIPPED")
                    skipped.update({c.label: str(failure) for c in cases if c.delay_us})
                    netfs = None
            if case.label in skipped:
                continue
            results.append(measure(case, programs, work, have_strace, netfs if case.delay_us else None))
            show(results[-1])
    except Failure as failure:
        shout(str(failure))
        return 1
    finally:
        if netfs:
            netfs.stop()
        shutil.rmtree(work, ignore_errors=True)
    say()
    table(results)
    say()
    if args.smoke:
        say("smoke run: every result checked, no targets judged")
        ok = True
    else:
        ok = judge(results, skipped)
    if args.baseline:
        say(f"\nThis build (tool) against {args.baseline} (base), medians of runs taken in turn:\n")
        baseline_table(results)
    seconds = time.monotonic() - started
    say(f"\nthe bench took {seconds // 60:.0f} min {seconds % 60:.0f} s")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
