#!/usr/bin/env python3
"""Fails every system call convert.cgi makes on its installations, one at a time.

Usage: scripts/fault_sweep.py CONVERT_CGI_PATH

Builds a source with one trade the target already holds and two new ones, and a
target holding, beside the known trade, files that the import replaces (a
statistics file for the first new identifier, a history file of the second new
key). Runs the conversion once under strace to list every call on the
installation files, then reruns it on a fresh copy of the target for each
occurrence of each call, with that one occurrence failing (an error, a SIGTERM,
or a SIGKILL). After each run the target must be one of the states a whole
number of trades leaves (a killed run's only after the next run), a partial
state needs an error block on the page, and a second run without the fault must
complete the import. The rollback journal may stay only after a kill, a stop
with no ending, or a failed sync or removal of the journal itself.

Then the crashes: every state that a power cut at any call of a complete run
could leave (built from the killed runs' targets, see crash_states.py) must be
completed by one run and left alone by a second; a recovering run over a target
holding a complete journal is killed at each of its calls and must still be
completed by the next run; and a failing step whose undo also fails must show
the step's error block, keep the journal, and be completed by the next run.
Exits 1 when any case fails.
"""
import collections
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "bench"))
from crash_states import power_cut_states  # noqa: E402
import installations  # noqa: E402
from installations import ERROR_END, FILE, snapshot, write_installation  # noqa: E402

CLOSING_BLOCK = installations.golden("closing_block.txt")
LEADS = {name: " ".join(words) for name, *words in installations.golden_table("error_leads.txt")}
ERROR_LEAD = re.compile("(%s) <b>([^<]*)</b>" % "|".join(
    re.escape(LEADS[name]) for name in ("openFailed", "readFailed", "writeFailed")))
KNOWN_TRADE = ("15", "known")
NEW_TRADES = [("21", "alpha"), ("22", "beta")]
# Left in the target by an earlier installation, for the import to replace: the
# statistics file of the identifier the first new trade gets (the known trade
# takes 11) and the history file of the second new trade.
STATS_ORPHAN = FILE["statistics"].replace("@ID@", "12")
ORPHANS = {STATS_ORPHAN: b"old statistics",
           FILE["history"].replace("@KEY@", "beta"): b"old history"}
HISTORY_END = FILE["history"].rsplit("@KEY@", 1)[1]  # of every history file's name
JOURNAL = FILE["journal"]
WORKERS = 2
RUN_TIMEOUT = 20  # seconds; a run that hangs fails its case
MIXES = 8  # random power-cut states per call, beside all lost and all kept

# The error each call fails with; a call not listed (read, close, the stat
# calls, ftruncate, unlink ...) gets EIO.
ERRORS = {"open": "EACCES", "openat": "EACCES", "write": "ENOSPC", "pwrite64": "ENOSPC",
          "writev": "ENOSPC", "fallocate": "ENOSPC", "lseek": "EINVAL", "flock": "ENOLCK",
          "fchmod": "EPERM", "fchmodat": "EPERM", "chmod": "EPERM"}
READ_CALLS = ("read", "pread64", "readv", "preadv")
WRITE_CALLS = ("write", "pwrite64", "writev", "pwritev")
SYNC_CALLS = ("fsync", "fdatasync", "syncfs")
UNDO_CALLS = ("ftruncate", "write", "pwrite64")  # what an undo begins with
CALL_LINE = re.compile(r"^\d+\s+(\w+)\((.*)$")
SIGNAL_LINE = re.compile(r"^\d+\s+(?:--- |\+\+\+ killed by )(SIG[A-Z]+)")
PATHS = re.compile(r'"(/[^"]*)"|<(/[^>]*)>')
FIRST_FD = re.compile(r"^\d+\s+\w+\((\d+)<([^>]*)>")
OPENED_FD = re.compile(r"= (\d+)<([^>]*)>$")
AT_NAME = re.compile(r'\d+<(/[^>]*)>, "([^"/]+)"')

# One run with its injections. how: "fails" (the page must end with a block),
# "stops" (it may end without one) or "kills" (the target is judged only after
# the next run). journal: "absent" after a page that ends with a block, "may
# stay", or "stays". ending: the page ending required, if any. spare: the
# history files that may keep what they held (a failed open of that file).
Case = collections.namedtuple("Case", "label injects how start journal ending spare",
                              defaults=("absent", None, None))


def source_files(trades):
    """A source index of trades, each (first field, key)."""
    return {FILE["index"]: "".join(installations.source_line(installations.source_fields(
        0, key, first)) for first, key in trades).encode()}


def convert(program, source, target, log=None, paths=(), injects=()):
    """Runs one conversion, under strace when log is given. Returns (exit
    status, page); the status is None when the run timed out. strace keeps one
    injection per call, so two occurrences of one call share its action."""
    body, env = installations.conversion_request(source, target)
    command = [program]
    if log:
        when = {}
        for call, n, action in injects:
            when[call, action] = "%s..%d+%d" % (when[call, action], n, n - int(
                when[call, action])) if (call, action) in when else str(n)
        command = (["strace", "-f", "-qq", "-y", "-o", log]
                   + [arg for path in paths for arg in ("-P", path)]
                   + ["--inject=%s:%s:when=%s" % (call, action, occurrences)
                      for (call, action), occurrences in when.items()]
                   + command)
    try:
        run = subprocess.run(command, input=body, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env, cwd="/", timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired as expired:
        return None, (expired.stdout or b"").decode("latin-1")
    return run.returncode, run.stdout.decode("latin-1")


def page_ending(page):
    if page.endswith(CLOSING_BLOCK):
        return "closing block"
    lead = ERROR_LEAD.search(page)
    if page.endswith(ERROR_END) and lead:
        return "error block (%s %s)" % lead.groups()
    return "no ending"


def differences(tree, state, spare=None):
    """What tree lacks or holds beyond state. A history file that still holds
    what spare has for it (or is missing, where spare has none) is no
    difference: the program does not check that file's open."""
    found = []
    for path in sorted(set(tree) | set(state)):
        have, want = tree.get(path), state.get(path)
        if have == want or (spare is not None and path.endswith(HISTORY_END)
                            and have == spare.get(path)):
            continue
        if have is None or want is None:
            found.append(path + (" missing" if have is None else " extra"))
        elif len(have) != len(want):
            found.append("%s %d bytes, not %d" % (path, len(have), len(want)))
        else:
            found.append(path + " bytes differ")
    return found


def matching_state(tree, states, spare=None):
    """(k, "") when tree is state k, else (None, the nearest state's differences)."""
    diffs = [differences(tree, state, spare) for state in states]
    if [] in diffs:
        return diffs.index([]), ""
    nearest = min(range(len(states)), key=lambda k: len(diffs[k]))
    return None, "nearest state %d: %s" % (nearest, ", ".join(diffs[nearest][:4]))


def read_log(path):
    """The strace log as (call name or signal name, line), in order."""
    entries = []
    with open(path, errors="replace") as f:
        for line in f:
            call, signal = CALL_LINE.match(line), SIGNAL_LINE.match(line)
            if call or signal:
                entries.append(((call or signal).group(1), line.rstrip("\n")))
    return entries


def landed(entries, injects):
    """True when each injection hit the occurrence it names and nothing else was
    injected: which shows that when=N counts only the calls -P selects."""
    for call, n, action in injects:
        at = [i for i, (name, _) in enumerate(entries) if name == call][n - 1:n]
        if not at:
            return False
        after = entries[at[0] + 1:at[0] + 2]
        if action.startswith("signal="):
            if not after or after[0][0] != "SIG" + action[len("signal="):]:
                return False
        elif "(INJECTED)" not in entries[at[0]][1]:
            return False
    errors = sum(not action.startswith("signal=") for _, _, action in injects)
    return sum("(INJECTED)" in line for _, line in entries) == errors


def call_labels(entries, target, source):
    """Per position of a log: (n, "call #n on file"), n counting that call."""
    seen, labels = {}, []
    for call, line in entries:
        seen[call] = n = seen.get(call, 0) + 1
        args = line.split("(", 1)[-1].replace("AT_FDCWD</>", "")
        at = AT_NAME.match(args) if call.endswith("at") else None  # in a folder
        where = PATHS.search(args)
        file = (at.group(1) + "/" + at.group(2) if at
                else (where.group(1) or where.group(2)) if where else "?")
        file = file.replace(target, "target/").replace(source, "source/")
        labels.append((n, "%s #%d on %s" % (call, n, file)))
    return labels


def file_system(path):
    """The device of the file system that holds path, or the nearest folder
    above it that is still there."""
    while not os.path.exists(path):
        path = os.path.dirname(path)
    return os.stat(path).st_dev


def durability(entries, target):
    """What each call of a log made durable, as crash_states takes it, with
    target paths made relative. A write through a descriptor opened O_SYNC or
    O_DSYNC counts as a data sync; a syncfs, for the file system of its
    descriptor only."""
    made, synced_fds = [], set()
    for name, line in entries:
        fd, what = FIRST_FD.match(line), None
        if name == "syncfs" and fd:
            what = ("all", file_system(fd.group(2)))
        elif fd and (fd.group(2) + "/").startswith(target):
            path = (fd.group(2) + "/")[len(target):].rstrip("/")
            if name in ("fsync", "fdatasync"):
                what = ("names" if os.path.isdir(target + path) else "data", path)
            elif name in WRITE_CALLS and fd.groups() in synced_fds:
                what = ("data", path)
        if name == "close" and fd:
            synced_fds.discard(fd.groups())
        opened = OPENED_FD.search(line)
        if opened and re.search(r"\bO_D?SYNC\b", line):
            synced_fds.add(opened.groups())
        made.append(what)
    return made


# The fault kinds. Each gets the count run's log, the position i of the n-th
# occurrence of a call in it and the target index's path, and gives the
# injections for one run, or None where it does not apply.
def fail_with_error(entries, i, n, index_path):
    call = entries[i][0]
    return [(call, n, "error=" + ERRORS.get(call, "EIO"))]


def stop_with_sigterm(entries, i, n, index_path):
    return [(entries[i][0], n, "signal=TERM")]


def kill(entries, i, n, index_path):
    return [(entries[i][0], n, "signal=KILL")]


def lose_index_write(entries, i, n, index_path):
    """A write to the target index that reports success but writes nothing,
    then a failing close of the same descriptor."""
    written = re.match(r"\d+\s+write\((\d+<([^>]*)>).*\) += (\d+)$", entries[i][1])
    if not written or written.group(2) != index_path:
        return None
    closes = 0
    for name, line in entries[i + 1:]:
        closes += name == "close"
        if name == "close" and "close(%s)" % written.group(1) in line:
            before = sum(name == "close" for name, _ in entries[:i])
            return [("write", n, "retval=" + written.group(3)),
                    ("close", before + closes, "error=EIO")]
    return None


# (name, how the run ends, injections).
KINDS = [("error", "fails", fail_with_error),
         ("SIGTERM", "stops", stop_with_sigterm),
         ("lost index write", "fails", lose_index_write),
         ("kill", "kills", kill)]


def build_states(program, root):
    """Makes root + "base/", the target holding the known trade (the program's
    own import of it) and the orphans, and returns the snapshot of state k, the
    target after a fault-free run over the first k new trades, for every k."""
    write_installation(root + "base/", installations.EMPTY_TARGET)
    write_installation(root + "known/", source_files([KNOWN_TRADE]))
    if page_ending(convert(program, root + "known/", root + "base/")[1]) != "closing block":
        return None
    write_installation(root + "base/", ORPHANS)
    states = []
    for k in range(len(NEW_TRADES) + 1):
        source, target = root + "source%d/" % k, root + "state%d/" % k
        write_installation(source, source_files([KNOWN_TRADE] + NEW_TRADES[:k]))
        shutil.copytree(root + "base/", target)
        status, page = convert(program, source, target)
        states.append(snapshot(target))
        if status != 0 or page_ending(page) != "closing block" or JOURNAL in states[-1]:
            return None
    return states


def touched_paths(program, root, source):
    """The installation paths a full run touches, from a run tracing every call
    (target paths relative to the target), and the calls it made between its
    first and last touch that this strace cannot name."""
    target = root + "discover/"
    shutil.copytree(root + "base/", target)
    convert(program, source, target, root + "discover.log")
    touched, unnamed, pending = set(), {}, {}
    for name, line in read_log(root + "discover.log"):
        paths = [p for pair in PATHS.findall(line) for p in pair if p.startswith(root)]
        touched.update(p[len(target):] if (p + "/").startswith(target) else p for p in paths)
        if paths:
            for call, count in pending.items():
                unnamed[call] = unnamed.get(call, 0) + count
            pending = {}
        if touched and name.startswith("syscall_"):
            pending[name] = pending.get(name, 0) + 1
    return touched, unnamed


def second_trade_writes(entries, target):
    """The positions of the writes to the target's files, the journal aside,
    after the counter's second rewrite: the steps of the second new trade."""
    counter = [i for i, (call, line) in enumerate(entries)
               if call in WRITE_CALLS and "<%s>" % (target + FILE["counter"]) in line]
    return [i for i in range(counter[1] + 1, len(entries))
            if entries[i][0] in WRITE_CALLS and "<" + target in entries[i][1]
            and JOURNAL not in entries[i][1]] if len(counter) > 1 else []


def journal_holders(entries, snapshots, durable, base):
    """Cut points whose target holds a complete journal: just before the
    journal's first removal, and just after the orphan statistics file began to
    be replaced."""
    synced = [snapshots[k + 1].get(JOURNAL) for k, made in enumerate(durable)
              if made and (made[0] == "all" or made == ("data", JOURNAL))]
    complete = [k for k, tree in enumerate(snapshots)
                if JOURNAL in tree and tree[JOURNAL] in synced]
    removal = [i for i, (call, line) in enumerate(entries)
               if call in ("unlink", "unlinkat") and JOURNAL in line][:1]
    replaced = [k for k in complete if snapshots[k].get(STATS_ORPHAN) != base[STATS_ORPHAN]][:1]
    return sorted(set(k for k in removal if k in complete) | set(replaced))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: fault_sweep.py CONVERT_CGI_PATH")
    program, started = os.path.abspath(sys.argv[1]), time.monotonic()
    # On tmpfs where there is one: the program's syncs then cost nothing and
    # flush no one else's files.
    scratch = "/dev/shm" if os.path.isdir("/dev/shm") else None
    root = os.path.realpath(tempfile.mkdtemp(prefix="fault_sweep.", dir=scratch)) + "/"
    try:
        passed, failed = sweep(program, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%.1f s" % (time.monotonic() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


Result = collections.namedtuple("Result", "label ending problems hit left log")


def sweep(program, root):
    """Returns (passed, failed)."""
    if not shutil.which("strace"):
        print("setup failed: strace is not installed")
        return 0, 1
    states = build_states(program, root)
    if not states:
        print("setup failed: a fault-free run did not end with the closing block and no journal")
        return 0, 1
    source, final = root + "source%d/" % len(NEW_TRADES), len(NEW_TRADES)
    base = snapshot(root + "base/")
    touched, unnamed = touched_paths(program, root, source)

    def traced(start, name, injects=()):
        """A run under strace over a fresh copy of start: (target, status, page,
        log), the log holding the calls -P selects."""
        target = root + name + "/"
        shutil.copytree(start, target)
        paths = sorted((p if p.startswith("/") else target + p).rstrip("/") for p in touched)
        status, page = convert(program, source, target, root + name + ".log", paths, injects)
        log = read_log(root + name + ".log")
        os.remove(root + name + ".log")
        return target, status, page, log

    # The count run: the calls -P selects, in order; each occurrence is a case
    # of every kind that applies to it.
    count, _, _, entries = traced(root + "base/", "count")
    if differences(snapshot(count), states[final]):
        print("setup failed: the run under strace did not reach state %d" % final)
        return 0, 1
    labels = call_labels(entries, count, source)
    cases, runs = {kind: [] for kind, _, _ in KINDS}, {}
    for i, (call, line) in enumerate(entries):
        n, label = labels[i]
        for kind, how, make in KINDS:
            injects = make(entries, i, n, count + FILE["index"])
            if not injects:
                continue
            detail = " " + injects[0][2].split("=")[1] if kind == "error" else ""
            # A kill may leave the journal, and so may a failed sync or a
            # failed removal of the journal: the next run rolls the group back.
            # So does a failed write of the journal, which ends the run.
            keeps = how == "kills" or kind == "error" and (
                call in SYNC_CALLS or label.endswith(JOURNAL))
            # A history file, or the history folder, that will not open: the
            # run goes on without it.
            spare = base if kind == "error" and (
                label.endswith(HISTORY_END) or label.endswith(FILE["historyFolder"])) else None
            cases[kind].append(Case("%s, %s%s" % (label, kind, detail), injects, how,
                                    root + "base/", "may stay" if keeps else "absent",
                                    spare=spare))
            runs[call] = runs.get(call, 0) + 1
    print("calls on the installation files: occurrences, runs")
    for call in sorted(runs):
        print("  %-12s %3d %4d" % (call, sum(name == call for name, _ in entries), runs[call]))
    # A call that cannot be failed cannot be shown safe: the program must not
    # make one on its installations.
    for call, calls in sorted(unnamed.items()):
        print("FAIL %s, %d calls: this strace can neither select nor fail it" % (call, calls))

    def run_case(name, case):
        target, status, page, log = traced(case.start, name, case.injects)
        ending = page_ending(page).replace(target, "target/")
        hit = landed(log, case.injects)
        problems = [] if hit else ["the injection missed its call"]
        if status != 0 and case.how != "kills":
            problems.append("exit status %s" % status)
        if case.how == "fails" and ending == "no ending":
            problems.append("the page ends with neither block")
        if case.ending and ending != case.ending:
            problems.append("not the %s" % case.ending)
        # A read error is not the end of the file: the page must say so. The
        # history file, whose old bytes are read to keep them, is the one file
        # whose failures the page never shows; its read failing leaves it as
        # it was.
        if (case.injects and case.injects[0][0] in READ_CALLS
                and case.injects[0][2].startswith("error=")
                and HISTORY_END not in case.label
                and LEADS["readFailed"] not in ending):
            problems.append("the read error is not reported")
        left = snapshot(target)
        if case.journal == "stays" and JOURNAL not in left:
            problems.append("no journal is left")
        if case.journal == "absent" and JOURNAL in left and ending != "no ending":
            problems.append("the journal stays")
        state, nearest = matching_state({path: data for path, data in left.items()
                                         if path != JOURNAL}, states, case.spare)
        if case.how == "kills" or case.journal == "stays":
            pass  # judged by what the next run makes of it
        elif state is None:
            problems.append("the target is no state (%s)" % nearest)
        elif state != final and case.how == "fails" and not ending.startswith("error"):
            problems.append("state %d of %d without an error block" % (state, final))
        convert(program, source, target)
        found = differences(snapshot(target), states[final], case.spare)
        if found:
            problems.append("the second run left %s" % ", ".join(found[:4]))
            if case.how == "kills":
                problems.append("killed in state %d" % state if state is not None
                                else "killed between states (%s)" % nearest)
        shutil.rmtree(target)
        return Result(case.label, ending, problems, hit, left, log)

    def check_cut(name, cut):
        k, what, state = cut
        target = root + name + "/"
        write_installation(target, state)
        status, page = convert(program, source, target)
        ending = page_ending(page).replace(target, "target/")
        problems = [] if status == 0 else ["exit status %s" % status]
        if ending != "closing block":
            problems.append("not the closing block")
        left = snapshot(target)
        found = differences(left, states[final])
        if found:
            problems.append("the run left %s" % ", ".join(found[:4]))
        convert(program, source, target)
        again = snapshot(target)
        changed = [path for path in sorted(set(left) | set(again))
                   if left.get(path) != again.get(path)]
        if changed:
            problems.append("a second run changed %s" % ", ".join(changed[:4]))
        shutil.rmtree(target)
        where = labels[k][1] if k < len(labels) else "the end of the run"
        return Result("power cut before %s, %s" % (where, what), ending, problems, True, None, None)

    tally, hits = {}, [0, 0]

    def judge(kind, results, unchecked=0):
        """Prints the failed results of a kind and counts them (runs, failed
        runs, failures to set a check up)."""
        counts = tally.setdefault(kind, [0, 0, 0])
        for result in results:
            if result.problems:
                counts[1] += 1
                print("FAIL %s: page: %s; %s" % (result.label, result.ending,
                                                 "; ".join(result.problems)))
        counts[0] += len(results)
        counts[2] += unchecked

    def cannot_check(kind, why):
        print("FAIL %s: %s" % (kind, why))
        judge(kind, [], 1)

    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        def run_cases(prefix, cases):
            results = list(pool.map(run_case, ["%s%d" % (prefix, i) for i in range(len(cases))],
                                    cases))
            hits[0] += sum(result.hit for result in results)
            hits[1] += len(results)
            return results

        done = {kind: run_cases(kind.replace(" ", "_"), cases[kind]) for kind, _, _ in KINDS}
        for kind, results in done.items():
            judge(kind, results)

        # Double faults: a step of the second new trade fails, and then the
        # first call of its undo.
        doubles, steps = [], second_trade_writes(entries, count)
        for i in steps:
            step = fail_with_error(entries, i, labels[i][0], None)
            target, _, page, log = traced(root + "base/", "step%d" % i, step)
            shutil.rmtree(target)
            failed_at = [j for j, (_, line) in enumerate(log) if "(INJECTED)" in line] or [len(log)]
            # The undo's own first call on a file of the installation; the
            # journal's checkpoint before it is the journal's business.
            undo = [j for j in range(failed_at[0] + 1, len(log))
                    if log[j][0] in UNDO_CALLS and JOURNAL not in log[j][1]][:1]
            if not undo:
                cannot_check("double fault", "%s fails, and no call undoes it" % labels[i][1])
                continue
            call = log[undo[0]][0]
            n = sum(name == call for name, _ in log[:undo[0] + 1])
            doubles.append(Case("%s fails, then %s #%d of its undo" % (labels[i][1], call, n),
                                step + [(call, n, "error=" + ERRORS.get(call, "EIO"))], "fails",
                                root + "base/", "stays",
                                page_ending(page).replace(target, "target/")))
        if not steps:
            cannot_check("double fault", "the count run shows no write of a second trade")
        judge("double fault", run_cases("double", doubles))

        # Power cuts, from the targets that the killed runs left, one before
        # each call, and the complete run's.
        snapshots = [result.left for result in done["kill"] if result.hit] + [snapshot(count)]
        if len(snapshots) != len(entries) + 1:
            cannot_check("power cut", "a kill missed its call: no target before it")
            snapshots = []
        durable = durability(entries, count)
        device = os.stat(count).st_dev  # every file of the target is on one file system
        cuts = power_cut_states(snapshots, durable, MIXES, device_of=lambda path: device)
        judge("power cut", list(pool.map(check_cut, ["cut%d" % i for i in range(len(cuts))], cuts)))

        # Crashes of the recovery: a recovering run from each target holding a
        # complete journal must complete the import, and so must the run after
        # it is killed at any of its calls.
        holders = journal_holders(entries, snapshots, durable, base) if snapshots else []
        starts = [root + "journal%d/" % k for k in holders]
        for k, start in zip(holders, starts):
            write_installation(start, snapshots[k])
        recovering = run_cases("recovering", [
            Case("recovery from a kill before " + labels[k][1], [], "fails", start,
                 ending="closing block") for k, start in zip(holders, starts)])
        judge("recovery crash", recovering)
        if not holders:
            cannot_check("recovery crash", "no killed run left a complete journal")
        crashes = [Case("%s: kill at %s" % (result.label, label), kill(result.log, j, n, None),
                        "kills", start, "may stay")
                   for i, (result, start) in enumerate(zip(recovering, starts))
                   for j, (n, label) in enumerate(
                       call_labels(result.log, root + "recovering%d/" % i, source))]
        judge("recovery crash", run_cases("crash", crashes))

    print("%d of %d runs failed exactly the occurrence they name among the calls -P selects"
          % tuple(hits))
    for kind, (runs, failed, unchecked) in tally.items():
        print("%s: %d %s, %d failed" % (kind, runs, "states" if kind == "power cut" else "runs",
                                        failed + unchecked))
    passed = sum(runs - failed for runs, failed, _ in tally.values())
    return passed, sum(sum(counts[1:]) for counts in tally.values()) + len(unnamed)


if __name__ == "__main__":
    sys.exit(main())
