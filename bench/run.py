#!/usr/bin/env python3
"""The convert.cgi performance benchmark in one command: builds convert.cgi and
the benchmark programs in Release (the bench preset, build-bench/), checks the
benchmark itself (bench_test.py), generates installations under
/tmp/convert-bench, runs convert.cgi and the floor side by side and prints the
figures and the target checks, then the in-process micro-benchmarks. Exit
status 1 when a target is missed.

  bench/run.py                  4,000 imports into 5,000 records, 50,000/100,000 known; about
                                2 minutes on an idle machine, up to 6 when others are busy
  bench/run.py --quick          a tenth of those sizes, 3 repetitions; seconds
  bench/run.py --reps 11 --imports 8000 --target 10000 --known 20000
  bench/run.py --scratch /tmp   write the copies on disk instead of /dev/shm
  bench/run.py --disk --reference 8911bda
                                also 50,000 imports into 50,000 records and 100,000 into
                                100,000 on the disk (/var/tmp/convert-bench-disk, or
                                --disk DIR), 3 runs each, beside a build of the revision,
                                then a run after a kill half way through the first;
                                needs about 10 GiB free for a while, 10 to 20 minutes
  bench/run.py --disk-only ...  the disk cases alone
  bench/run.py --no-micro       skip the Google Benchmark cases
  bench/run.py --identity       also compare every output byte with a build of git HEAD

How the figures are taken, and the last ones measured: bench/README.md.
The targets checked in memory:
  1. IMPORTS into TARGET records costs at most 1.3 times the floor;
  2. doubling source, target and imports costs at most 2.3 times the time,
     both for a run of imports and for a run where every trade is known;
  3. peak resident memory stays within 3 times the two index files plus
     16 MiB, in every run, and in one more run with a large source (none of
     its trades is imported) and a small target.
On the disk (DISK_IMPORTS into as many records and twice that, then a run
after a kill half way through the first): the build takes at most 1.1 times
the time of the reference, sends at most 2 KiB per imported trade towards the
disk (write_bytes of /proc/PID/io, less what it cancelled), doubling costs at
most 2.3 times the time, the run after a kill (its recovery included) at most
1.2 times a clean run's, and peak memory stays within the limit above.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
import identity  # noqa: E402
from convert_tools import installations  # noqa: E402
from runner import Runner, tree_size  # noqa: E402

FLOOR_LIMIT = 1.3
DOUBLING_LIMIT = 2.3
MEMORY_FACTOR = 3
MEMORY_ALLOWANCE = 16 * 1024 * 1024
# The copies that the programs write live on a memory file system when there
# is one. On a disk file system without a journal, ext4 does not hand out an
# inode again for minutes after its file was deleted, and finding a free one
# gets slower with every file deleted: the benchmark's own churn (it creates
# and deletes hundreds of thousands of files) would slow every later run.
DEFAULT_SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else "/tmp"
# The disk cases: a folder on the machine's disk file system, and their targets.
DEFAULT_DISK = "/var/tmp/convert-bench-disk"
DISK_TIME_LIMIT = 1.1  # of the time the reference build takes
DISK_WRITE_LIMIT = 2048  # bytes sent towards the disk per imported trade
DISK_RERUN_LIMIT = 1.2  # of a clean run's time, for the run after a kill
BLOCK_SIZE = 4096


def median(runs, key):
    return statistics.median(r[key] for r in runs)


def mib(n):
    return n / (1024 * 1024)


def stored(result):
    """Bytes of page-cache pages that a run made dirty and did not throw away
    again (truncated or deleted) before they were written out: what it sent
    towards the disk, its file system's metadata included."""
    return result["write_bytes"] - result["cancelled_write_bytes"]


HEADER = ("%-27s %7s %7s %8s %7s %7s %6s %9s %8s %8s %8s %8s %8s %7s" % (
    "case", "source", "target", "imported", "skipped", "wall s", "cpu s", "imports/s",
    "peak MiB", "written", "to disk", "KiB/imp", "grew", "writes"))
LEGEND = ("(wall: fork to exit; cpu: user + system; peak: peak resident set; written: MiB passed\n"
          " to write calls, page included; to disk: MiB of pages made dirty and not thrown away\n"
          " again, metadata included (write_bytes - cancelled_write_bytes of /proc/PID/io);\n"
          " KiB/imp: that per imported trade; grew: MiB the target grew; writes: write calls)")


def print_table(steps, runs, on_disk=False):
    """A row for each step (case, row name, run, pair), between the header and
    the legend."""
    print(HEADER)
    for case, name, _, pair in steps:
        print_row(name, pair, runs[case], on_disk)
    print(LEGEND)


def print_row(name, pair, runs, on_disk):
    wall = median(runs, "wall_seconds")
    rss = median(runs, "max_rss_kib") * 1024
    written = median(runs, "write_chars")
    # A run resumed after a kill imports only what the killed run left.
    imports = int(median(runs, "imported")) if "imported" in runs[0] else pair.imports
    skipped = int(median(runs, "skipped")) if "skipped" in runs[0] else pair.known
    rate = "%9.0f" % (imports / wall) if imports else "%9s" % "-"
    if on_disk:
        to_disk = statistics.median(stored(r) for r in runs)
        disk = "%8.2f %8s" % (mib(to_disk), "%.2f" % (to_disk / 1024 / imports) if imports else "-")
    else:  # a memory file system sends nothing to storage
        disk = "%8s %8s" % ("-", "-")
    print("%-27s %7d %7d %8d %7d %7.3f %6.3f %s %8.1f %8.2f %s %8.2f %7d" % (
        name, pair.source_trades(), pair.target_records, imports, skipped, wall,
        median(runs, "cpu_seconds"), rate, mib(rss), mib(written), disk,
        mib(median(runs, "grew")), int(median(runs, "write_calls"))))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build-bench",
                        help="the build whose programs run (build-bench is built first)")
    parser.add_argument("--no-micro", action="store_true",
                        help="skip the Google Benchmark cases")
    parser.add_argument("--identity", action="store_true",
                        help="also compare every output byte with a build of git HEAD")
    parser.add_argument("--work", default="/tmp/convert-bench",
                        help="where the generated installations and the pages go")
    parser.add_argument("--scratch", default=DEFAULT_SCRATCH,
                        help="directory for the copies that the programs write (in a subdirectory "
                        "convert-bench-copy, emptied every run)")
    parser.add_argument("--reps", type=int, default=9, help="runs of every case (median)")
    parser.add_argument("--imports", type=int, default=4000)
    parser.add_argument("--target", type=int, default=5000,
                        help="records in the target of the floor case")
    parser.add_argument("--known", type=int, default=50000,
                        help="trades of the smaller all-known case (source = target)")
    parser.add_argument("--quick", action="store_true",
                        help="a tenth of the default sizes, 3 repetitions")
    parser.add_argument("--disk", nargs="?", const=DEFAULT_DISK, metavar="DIR",
                        help="also run the disk cases, with the copies in DIR on a disk file "
                        "system (default %s)" % DEFAULT_DISK)
    parser.add_argument("--disk-only", action="store_true",
                        help="run only the disk cases (implies --disk)")
    parser.add_argument("--disk-imports", type=int, default=50000,
                        help="imports into as many records in the first disk case")
    parser.add_argument("--disk-reps", type=int, default=3, help="runs of every disk case")
    parser.add_argument("--reference", metavar="REV",
                        help="a git revision to build and run beside convert.cgi in the first "
                        "imports case, in memory and on the disk (the before of the disk's time "
                        "target)")
    args = parser.parse_args()
    if args.disk_only and not args.disk:
        args.disk = DEFAULT_DISK
    if args.quick:
        args.imports, args.target, args.known, args.reps = 400, 500, 5000, 3
        args.disk_imports //= 10
    if args.imports > args.target * 10:
        sys.exit("--imports is too large for --target")

    os.chdir(identity.REPOSITORY)  # the paths given are taken from there
    run_or_exit(["scripts/install_deps.sh"])
    run_or_exit(["cmake", "--preset", "bench"], stdout=subprocess.DEVNULL)
    run_or_exit(["cmake", "--build", "--preset", "bench"], stdout=subprocess.DEVNULL)
    # The benchmark's own checks first; their report only when they fail.
    checks = subprocess.run([sys.executable, "bench/bench_test.py", "--build-dir", args.build_dir],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if checks.returncode != 0:
        sys.exit(checks.stdout)
    status = measure(args)
    if args.identity:
        print("\n== byte identity against a build of git HEAD", flush=True)
        if subprocess.run([sys.executable, "bench/identity.py", "--candidate-binary",
                           os.path.join(args.build_dir, "convert.cgi")]).returncode != 0:
            status = 1
    if not args.no_micro:
        print("\n== in-process hot spots (Google Benchmark)", flush=True)
        run_or_exit([os.path.join(args.build_dir, "bench", "convert_benchmarks"),
                     "--benchmark_min_time=0.2"], stderr=subprocess.DEVNULL)
    return status


def run_or_exit(argv, **kwargs):
    """Runs argv; ends with its exit status when that is not 0."""
    status = subprocess.run(argv, **kwargs).returncode
    if status != 0:
        sys.exit(status)


def measure(args):
    """The memory cases, then the disk cases; returns the exit status."""
    data = os.path.join(os.path.abspath(args.work), "data")
    status = 0
    if not args.disk_only:
        runner = Runner(args)
        try:
            status = benchmark(args, runner, data)
        finally:  # also when a run went wrong: leave no copy behind
            shutil.rmtree(runner.scratch, ignore_errors=True)
    if args.disk:
        runner = Runner(args, scratch=args.disk, on_disk=True)
        try:
            status = disk_benchmark(args, runner, data) or status
        finally:
            runner.remove_copies()
    return status


def generate_pair(data, name, known, imports, target, below=0):
    return installations.generate(
        os.path.join(data, "%s-k%d-i%d-t%d-b%d" % (name, known, imports, target, below)),
        known, imports, target, below)


def reference_binary(args, runner):
    """convert.cgi built from the revision --reference, built once."""
    if not hasattr(args, "reference_binary"):
        args.reference_binary = identity.build_reference(args.reference, runner.work)
    return args.reference_binary


def wall_ratio(runs, a, b):
    return median(runs[a], "wall_seconds") / median(runs[b], "wall_seconds")


def paired(runs, a, b):
    """The spread of the ratio a / b over the runs, taken pairwise."""
    values = [x["wall_seconds"] / y["wall_seconds"] for x, y in zip(runs[a], runs[b])]
    if len(values) < 4:
        return "per-run %.2f to %.2f" % (min(values), max(values))
    quartiles = statistics.quantiles(values, n=4)
    return "middle half of the per-run ratios %.2f to %.2f" % (quartiles[0], quartiles[2])


class Retakes:
    """The machine is shared: a run during which other processes kept the
    processors busy (is_disturbed) is taken again after a pause, with warm
    behind one untimed run so that it starts from the same state as the
    others, until the pauses have added PATIENCE seconds in all."""

    PATIENCE = 180.0

    def __init__(self, is_disturbed, warm):
        self.is_disturbed = is_disturbed
        self.warm = warm
        self.patience = self.PATIENCE
        self.repeated = self.disturbed = 0

    def run(self, run, p):
        result = run(p)
        pause = 1.0
        while self.is_disturbed(result) and self.patience >= pause:
            time.sleep(pause)
            self.patience -= pause
            pause *= 2
            if self.warm:
                run(p)
            result = run(p)
            self.repeated += 1
        self.disturbed += self.is_disturbed(result)
        return result

    def warn(self, timed):
        if self.disturbed:
            print("WARNING: %d of %d timed runs shared the machine with other busy processes; "
                  "run again when it is idle" % (self.disturbed, timed))


def check(results, ok, text):
    results.append(ok)
    print("[%s] %s" % ("PASS" if ok else "FAIL", text))


def peak_memory(runs, pair):
    """The highest peak resident memory of the runs, and its limit for pair."""
    return (max(x["max_rss_kib"] for x in runs) * 1024,
            MEMORY_FACTOR * pair.index_bytes() + MEMORY_ALLOWANCE)


def check_floor_work(runs, pairs):
    """The ratio means something only while the floor does the conversion's
    file work: the same files, the same bytes (lines of the same length)."""
    for a, b in pairs:
        files = (runs[a][0]["new_files"], runs[b][0]["new_files"])
        grew = (runs[a][0]["grew"], runs[b][0]["grew"])
        if files[0] != files[1] or abs(grew[0] - grew[1]) > 0.01 * grew[0]:
            sys.exit("the floor no longer does the conversion's file work: %d files and %d bytes "
                     "against %d files and %d bytes" % (files[1], grew[1], files[0], grew[0]))


def benchmark(args, runner, data):
    started = time.time()
    print("generating installations under %s ..." % data, flush=True)
    known_small = args.target - args.imports if args.target > args.imports else args.target // 5

    def pair(name, known, imports, target, below=0):
        return generate_pair(data, name, known, imports, target, below)

    imports1 = pair("imports", known_small, args.imports, args.target)
    imports2 = pair("imports", 2 * known_small, 2 * args.imports, 2 * args.target)
    # The same sizes as imports1 with nothing to import: what loading costs.
    loading = pair("loading", known_small, 0, args.target, below=args.imports)
    known1 = pair("known", args.known, 0, args.known)
    known2 = pair("known", 2 * args.known, 0, 2 * args.known)
    heavy = pair("heavy", 0, 0, args.target // 5, below=2 * args.known)

    steps = [("convert1", "convert.cgi", runner.run_convert, imports1),
             ("floor1", "  floor", runner.run_floor, imports1),
             ("loading", "  same sizes, none imported", runner.run_convert, loading),
             ("convert2", "convert.cgi, doubled", runner.run_convert, imports2),
             ("floor2", "  floor, doubled", runner.run_floor, imports2),
             ("known1", "convert.cgi, all known", runner.run_convert, known1),
             ("known2", "convert.cgi, all known x2", runner.run_convert, known2)]
    if args.reference:
        reference = reference_binary(args, runner)
        steps.insert(0, ("reference1", "reference %s" % args.reference,
                         lambda p: runner.run_convert(p, reference), imports1))
    runs = {name: [] for name, *_ in steps}
    # A first round that is not counted: the first runs after a pause pay
    # for memory that the machine has to map in afresh.
    print("warming up ...", flush=True)
    for *_, run, p in steps:
        run(p)
    retakes = Retakes(lambda r: r["others"] > 0.03 + 0.1 * r["wall_seconds"], warm=True)
    for rep in range(args.reps):
        print("repetition %d of %d ..." % (rep + 1, args.reps), flush=True)
        # Interleaved, always in the same order: every figure is taken right
        # after the one it is compared with, under the same conditions.
        for name, _, run, p in steps:
            runs[name].append(retakes.run(run, p))
    # One run gives the peak memory of a large source, which no other case has.
    runs["heavy"] = [runner.run_convert(heavy)]

    print()
    print("median of %d runs; convert.cgi %s; copies written in %s" % (
        args.reps, runner.convert, runner.scratch))
    print_table(steps + [("heavy", "convert.cgi, big source", None, heavy)], runs)
    print()

    check_floor_work(runs, (("convert1", "floor1"), ("convert2", "floor2")))
    results = []
    r = wall_ratio(runs, "convert1", "floor1")
    text = "%d imports into %d records: convert.cgi / floor = %.2f (limit %.1f; %s)" % (
        imports1.imports, imports1.target_records, r, FLOOR_LIMIT,
        paired(runs, "convert1", "floor1"))
    if r < 1:
        # The floor does a part of the conversion's work: it cannot be slower.
        results.append(False)
        print("[INVALID] %s: the floor came out slower than the conversion, so the machine "
              "disturbed this run; run again" % text)
    else:
        check(results, r <= FLOOR_LIMIT, text)
    gap = median(runs["convert1"], "wall_seconds") - median(runs["floor1"], "wall_seconds")
    print("       convert.cgi - floor = %.3f s, %.1f us per import; loading the same installations "
          "with nothing to import takes %.3f s" % (
              gap, 1e6 * gap / imports1.imports, median(runs["loading"], "wall_seconds")))
    if args.reference:
        print("       reference %s / floor = %.2f, convert.cgi / reference = %.2f (%s)" % (
            args.reference, wall_ratio(runs, "reference1", "floor1"),
            wall_ratio(runs, "convert1", "reference1"), paired(runs, "convert1", "reference1")))
    r2 = wall_ratio(runs, "floor2", "floor1")
    r = wall_ratio(runs, "convert2", "convert1")
    check(results, r <= DOUBLING_LIMIT,
          "doubling a run of imports (%d into %d against %d into %d): time x %.2f "
          "(limit %.1f; %s; the floor grew x %.2f)" % (
              imports2.imports, imports2.target_records, imports1.imports,
              imports1.target_records, r, DOUBLING_LIMIT, paired(runs, "convert2", "convert1"), r2))
    r = wall_ratio(runs, "known2", "known1")
    check(results, r <= DOUBLING_LIMIT,
          "doubling a run where every trade is known (%d against %d, %d against %d): "
          "time x %.2f (limit %.1f; %s)" % (
              known2.known, known2.target_records, known1.known, known1.target_records, r,
              DOUBLING_LIMIT, paired(runs, "known2", "known1")))
    peak, limit, p = max([peak_memory(runs[name], p) + (p,) for name, p in (
        ("convert1", imports1), ("convert2", imports2), ("known1", known1), ("known2", known2),
        ("heavy", heavy))], key=lambda worst: worst[0] / worst[1])
    check(results, peak <= limit,
          "peak resident memory: at worst %.1f MiB against a limit of %.1f MiB "
          "(3 x %.1f MiB of index files + 16 MiB; %d-trade source, %d-record target)" % (
              mib(peak), mib(limit), mib(p.index_bytes()), p.source_trades(),
              p.target_records))
    print("(%.0f s in all; %d runs taken again because other processes were busy)" % (
        time.time() - started, retakes.repeated))
    retakes.warn(len(steps) * args.reps)
    return 0 if all(results) else 1


def disk_benchmark(args, runner, data):
    """IMPORTS into as many records and twice that, with the copies on a disk
    file system; returns the exit status."""
    started = time.time()
    kind = subprocess.run(["stat", "-f", "-c", "%T", runner.folder],
                          check=True, capture_output=True, text=True).stdout.strip()
    if kind in ("tmpfs", "ramfs"):
        sys.exit("--disk %s is on %s: the disk cases need a disk file system" % (args.disk, kind))
    n = args.disk_imports
    print("generating the disk installations under %s ..." % data, flush=True)
    pair1 = generate_pair(data, "disk", n // 5, n, n)
    pair2 = generate_pair(data, "disk", 2 * (n // 5), 2 * n, 2 * n)
    # The statistics files take whole blocks, whether written or reserved.
    need = (2 * n * -(-installations.STATS_FILE_SIZE // BLOCK_SIZE) * BLOCK_SIZE
            + tree_size(pair2.target)[0])
    free = shutil.disk_usage(runner.folder).free
    if free < 1.2 * need:
        sys.exit("the disk cases need %.1f GiB in %s, and %.1f GiB are free" % (
            need / 2**30, args.disk, free / 2**30))
    steps = []
    if args.reference:
        reference = reference_binary(args, runner)
        steps.append(("ref1", "reference %s" % args.reference,
                      lambda p: runner.run_convert(p, reference), pair1))
    steps += [("new1", "convert.cgi", runner.run_convert, pair1),
              ("floor1", "  floor", runner.run_floor, pair1),
              ("new2", "convert.cgi, doubled", runner.run_convert, pair2),
              ("floor2", "  floor, doubled", runner.run_floor, pair2)]
    # A conversion killed half way, and run again on what it left: after the
    # others, so that whatever a recovery does to the file system (a build
    # may delete and make again the files a kill left) cannot slow them down,
    # and the reference last.
    killed = [("killed", "convert.cgi, after a kill", runner.run_killed, pair1)]
    if args.reference:
        killed.append(("refkilled", "reference, after a kill",
                       lambda p: runner.run_killed(p, reference), pair1))
    # Every run keeps its inodes until the end: two files per import, and
    # room for as many runs again taken after a disturbance.
    inodes = 2 * args.disk_reps * sum(2 * p.imports + 20 for *_, p in steps + killed)
    if os.statvfs(runner.folder).f_favail < 1.2 * inodes:
        sys.exit("the disk cases need %d free inodes in %s" % (inodes, args.disk))
    runs = {name: [] for name, *_ in steps + killed}
    if runner.copy_folders():  # left behind by an interrupted run
        runner.remove_copies()
    runner.wait_for_deleted_inodes()
    # The kernel's writeback threads count as other processes here: only a
    # third of a processor kept busy is taken for a disturbance.
    retakes = Retakes(lambda r: r["others"] > 0.3 * r["wall_seconds"], warm=False)
    for rep in range(args.disk_reps):
        print("disk repetition %d of %d ..." % (rep + 1, args.disk_reps), flush=True)
        for name, _, run, p in steps:
            runs[name].append(retakes.run(run, p))
    for name, _, run, p in killed:
        for rep in range(args.disk_reps):
            print("%s: killed half way and run again, %d of %d ..." % (
                name, rep + 1, args.disk_reps), flush=True)
            runs[name].append(retakes.run(run, p))

    print()
    print("on the disk: median of %d runs; copies written in %s (%s)" % (
        args.disk_reps, runner.folder, kind))
    print_table(steps + killed, runs, on_disk=True)
    print("wall seconds of every run, in the order they ran, in brackets the processors that\n"
          "other processes kept busy meanwhile (the kernel's writeback threads included), and\n"
          "the bytes sent towards the disk per imported trade (a slower run makes more of its\n"
          "blocks dirty again after they were written out: its groups end after a time):")
    for name, _, _, p in steps + killed:
        print("  %-9s %s" % (name, "  ".join("%.2f (%.1f) %.0f" % (
            r["wall_seconds"], r["others"] / r["wall_seconds"],
            stored(r) / r.get("imported", p.imports)) for r in runs[name])))
    print()
    check_floor_work(runs, (("new1", "floor1"), ("new2", "floor2")))

    results = []
    for a, b, p in (("new1", "floor1", pair1), ("new2", "floor2", pair2)) + (
            (("ref1", "floor1", pair1),) if args.reference else ()):
        print("       %d imports into %d records on the disk: %s / floor = %.2f (%s)" % (
            p.imports, p.target_records, "reference" if a == "ref1" else "convert.cgi",
            wall_ratio(runs, a, b), paired(runs, a, b)))
    if args.reference:
        r = wall_ratio(runs, "new1", "ref1")
        check(results, r <= DISK_TIME_LIMIT,
              "%d imports into %d records on the disk: convert.cgi / reference %s = %.2f "
              "(limit %.1f; %s)" % (pair1.imports, pair1.target_records, args.reference, r,
                                    DISK_TIME_LIMIT, paired(runs, "new1", "ref1")))
    for name, p in (("new1", pair1), ("new2", pair2)):
        worst = max(stored(r) for r in runs[name]) / p.imports
        check(results, worst <= DISK_WRITE_LIMIT,
              "sent towards the disk per imported trade (%d imports): at most %.0f bytes in any "
              "run (limit %d; write_bytes %.0f, cancelled %.0f, write calls %.0f bytes per trade, "
              "medians)" % (p.imports, worst, DISK_WRITE_LIMIT,
                            median(runs[name], "write_bytes") / p.imports,
                            median(runs[name], "cancelled_write_bytes") / p.imports,
                            median(runs[name], "write_chars") / p.imports))
    r = wall_ratio(runs, "new2", "new1")
    check(results, r <= DOUBLING_LIMIT,
          "doubling the imports on the disk (%d into %d against %d into %d): time x %.2f "
          "(limit %.1f; %s; the floor grew x %.2f)" % (
              pair2.imports, pair2.target_records, pair1.imports, pair1.target_records, r,
              DOUBLING_LIMIT, paired(runs, "new2", "new1"),
              wall_ratio(runs, "floor2", "floor1")))
    r = wall_ratio(runs, "killed", "new1")
    check(results, r <= DISK_RERUN_LIMIT,
          "run again after a kill half way through %d imports into %d records: time x %.2f "
          "of a clean run (limit %.1f; %s; it imported %d%s)" % (
              pair1.imports, pair1.target_records, r, DISK_RERUN_LIMIT,
              paired(runs, "killed", "new1"), median(runs["killed"], "imported"),
              "; the reference: x %.2f, %d imported" % (
                  wall_ratio(runs, "refkilled", "ref1"), median(runs["refkilled"], "imported"))
              if args.reference else ""))
    for name, p, what in (("new1", pair1, "%d imports" % pair1.imports),
                          ("new2", pair2, "%d imports" % pair2.imports),
                          ("killed", pair1, "the run after a kill, its recovery included")):
        peak, limit = peak_memory(runs[name], p)
        check(results, peak <= limit,
              "peak resident memory on the disk (%s): %.1f MiB against a limit of "
              "%.1f MiB" % (what, mib(peak), mib(limit)))
    busy = max(r["others"] / r["wall_seconds"] for v in runs.values() for r in v)
    print("(%.0f s for the disk cases; %d runs taken again because other processes were busy; "
          "at most %.2f processors kept busy by others during a counted run, the kernel's "
          "writeback included)" % (time.time() - started, retakes.repeated, busy))
    retakes.warn(sum(len(v) for v in runs.values()))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
