#!/usr/bin/env python3
"""Fails every system call convert.cgi makes on its installations, one at a time.

Usage: testing/fault_sweep.py CONVERT_CGI_PATH [--grouped GROUPED_CGI_PATH]

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
could leave (built from the killed runs' targets by convert_tools.crash_states)
must be completed by one run and left alone by a second, and so must each
state whose index kept the size it grew to since its last sync but holds zeros
there (a file system that commits sizes before data); a recovering run over a
target holding a complete journal is killed at each of its calls and must still
be completed by the next run, and so must every state a power cut during it
could leave; a failing write or sync of the journal, or a failing syncfs, followed by
a kill at the next call or at the run's last one, must be completed by the next
run; and a failing step whose undo also fails must show the step's error block,
keep the journal, and be completed by the next run. After each kill, a live
site not put on hold adds a trade of its own: the next run must keep it and
import the source whole, or refuse it and change nothing, and after a refusal
the backup restored, with the live trade added again, must convert.

With --grouped, a build that ends its groups after one trade (so that the
journal is written over an older group's) gets the kills, the power cuts, the
recovery crashes, the journal's failures and the live site too. As root, a target whose caps
file is a symbolic link to a file on a second file system (a tmpfs mounted for
the sweep) gets the kills and the power cuts that lose everything unsynced,
where a syncfs makes only its own file system durable; after each kill, its
link is left dangling (the file system not mounted) for one run, which must
change nothing and keep a journal that puts the file back, and then a run must
complete the import. A target whose counter is such a link gets the same after
a kill before each call that changes a file.
Exits 1 when any case fails.
"""
import collections
import concurrent.futures
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from convert_tools import installations  # noqa: E402
from convert_tools.crash_states import power_cut_states  # noqa: E402
from convert_tools.installations import ERROR_END, FILE, write_installation  # noqa: E402

CLOSING_BLOCK = installations.golden("closing_block.txt")
LEADS = {name: " ".join(words) for name, *words in installations.golden_table("error_leads.txt")}
ERROR_LEAD = re.compile("(%s) <b>([^<]+)</b>" % "|".join(
    re.escape(LEADS[name]) for name in ("openFailed", "readFailed", "writeFailed",
                                        "unknownTail")))
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
LOCK = FILE["lock"]  # held while a run works; left by a killed one
CAPS = FILE["caps"]
# A trade the live site adds after a kill when it was not put on hold: a key
# the source lacks, with the note the site writes.
LIVE_KEY, LIVE_NOTE = "live", "added by 127.0.0.1 on 10 Dec, 2026"
WORKERS = 2
RUN_TIMEOUT = 20  # seconds; a run that hangs fails its case
MIXES = 8  # random power-cut states per call, beside all lost and all kept
RECOVERY_MIXES = 2  # the same, during a recovering run

# The error each call fails with; a call not listed (read, close, the stat
# calls, ftruncate, unlink ...) gets EIO.
ERRORS = {"open": "EACCES", "openat": "EACCES", "write": "ENOSPC", "pwrite64": "ENOSPC",
          "writev": "ENOSPC", "fallocate": "ENOSPC", "lseek": "EINVAL", "flock": "ENOLCK",
          "fchmod": "EPERM", "fchmodat": "EPERM", "chmod": "EPERM"}
READ_CALLS = ("read", "pread64", "readv", "preadv")
WRITE_CALLS = ("write", "pwrite64", "writev", "pwritev")
SYNC_CALLS = ("fsync", "fdatasync", "syncfs")
UNDO_CALLS = ("ftruncate", "write", "pwrite64")  # what an undo begins with
LOG_CALLS = ("write", "pwrite64", "ftruncate", "fdatasync")  # on the journal
CHANGE_CALLS = WRITE_CALLS + SYNC_CALLS + ("ftruncate", "fallocate", "unlink", "unlinkat",
                                          "fchmod", "fchmodat", "chmod", "rename", "renameat")
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


class Layout:
    """Where the target of each case lives: a plain folder, or with other_fs
    one whose file `linked` (the caps file, or the counter) is a symbolic link
    to a file of that folder, on a second file system."""

    def __init__(self, root, other_fs=None, linked=CAPS):
        self.other_fs, self.linked = other_fs, linked
        self.devices = (os.stat(root).st_dev, os.stat(other_fs).st_dev if other_fs else None)

    def outside(self, target):
        """The file that the target's link leads to, or None."""
        return self.other_fs and "%s%s-%s" % (self.other_fs, os.path.basename(target.rstrip("/")),
                                              os.path.basename(self.linked))

    def write(self, target, files):
        """Writes the installation's files, as write_installation does."""
        outside = self.outside(target)
        write_installation(target, {path: data for path, data in files.items()
                                    if not (outside and path == self.linked)})
        if outside and self.linked in files:
            with open(outside, "wb") as f:
                f.write(files[self.linked])
            os.symlink(outside, target + self.linked)
        repoint_journal(target)

    def copy(self, start, target):
        """Copies the target start, modes included."""
        shutil.copytree(start, target, symlinks=True)
        outside = self.outside(target)
        if outside and os.path.islink(target + self.linked):
            shutil.copy2(target + self.linked, outside)
            os.remove(target + self.linked)
            os.symlink(outside, target + self.linked)
        repoint_journal(target)

    def remove(self, target):
        shutil.rmtree(target)
        if self.outside(target) and os.path.exists(self.outside(target)):
            os.remove(self.outside(target))

    def relative(self, path, target):
        """An absolute path, as strace shows it, relative to the target (the
        link's file as the link), or None when it is not the target's."""
        if (path + "/").startswith(target):
            return (path + "/")[len(target):].rstrip("/")
        return self.linked if path == self.outside(target) else None

    def device_of(self, path):
        """The file system of a relative path's bytes (or a folder's names)."""
        return self.devices[self.other_fs is not None and path == self.linked]


def fnv(hash_, data):
    for byte in data:
        hash_ = ((hash_ ^ byte) * 1099511628211) & (2 ** 64 - 1)
    return hash_


LOG_HEADER = 16


def log_records(log):
    """The journal's records up to the first damaged one, each as (body, the
    name of the file it puts back, where the body's identity of that file
    begins), and where they end; ([], None) without the journal's header."""
    if len(log) < LOG_HEADER or not log.startswith(b"CVUNDO1\n"):
        return [], None
    records, check, at = [], fnv(14695981039346656037, log[:LOG_HEADER]), LOG_HEADER
    while at + 16 <= len(log):
        length, chained = struct.unpack_from("<QQ", log, at)
        body = log[at + 16:at + 16 + length]
        if len(body) != length or fnv(check, body) != chained:
            break
        check, at = chained, at + 16 + length
        name_length = struct.unpack_from("<Q", body, 18)[0]
        rest = 26 + name_length
        end = rest + 8 + struct.unpack_from("<Q", body, rest)[0]
        records.append((body, body[26:rest].decode("utf-8", "surrogateescape"), end))
    return records, at


def repoint_journal(target):
    """A state or a copy is made of new files, where a power cut keeps the
    files themselves: each record of the journal that names the file it puts
    back (its device and inode) is made to name the file of that name here,
    the checksums chained anew. The records past the first damaged one stay
    as they are."""
    path = target + JOURNAL
    if not os.path.isfile(path):
        return
    with open(path, "rb") as f:
        log = f.read()
    records, at = log_records(log)
    if at is None:
        return
    out, new = [log[:LOG_HEADER]], fnv(14695981039346656037, log[:LOG_HEADER])
    for body, name, end in records:
        if len(body) == end + 16 and os.path.lexists(target + name):
            follows = body[0] == 1 or body[1] & 1
            info = os.stat(target + name, follow_symlinks=bool(follows))
            body = body[:end] + struct.pack("<QQ", info.st_dev, info.st_ino)
        new = fnv(new, body)
        out.append(struct.pack("<QQ", len(body), new) + body)
    out.append(log[at:])
    with open(path, "r+b") as f:
        f.write(b"".join(out))


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


def snapshot(root):
    """The target's files, its lock aside: the lock holds no trade, and a
    killed run leaves it."""
    tree = installations.snapshot(root)
    tree.pop(LOCK, None)
    return tree


def differences(tree, state, spare=None):
    """What tree lacks or holds beyond state. A history file that still holds
    what spare has for it (or is missing, where spare has none) is no
    difference: the program does not check that file's open."""
    found = []
    for path in sorted((set(tree) | set(state)) - {LOCK}):
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


def call_labels(entries, target, source, outside=None):
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
        if outside:
            file = file.replace(outside, "other-fs/" + outside.rsplit("-", 1)[1])
        labels.append((n, "%s #%d on %s" % (call, n, file)))
    return labels


def file_system(path):
    """The device of the file system that holds path, or the nearest folder
    above it that is still there."""
    while not os.path.exists(path):
        path = os.path.dirname(path)
    return os.stat(path).st_dev


def durability(entries, target, layout, like):
    """What each call of a log made durable, as crash_states takes it, with
    target paths made relative; `like` is a target of the same layout that is
    still there, to tell folders. A write through a descriptor opened O_SYNC or
    O_DSYNC counts as a data sync; a syncfs, for the file system of its
    descriptor only."""
    made, synced_fds = [], set()
    for name, line in entries:
        fd, what = FIRST_FD.match(line), None
        path = layout.relative(fd.group(2), target) if fd else None
        if name == "syncfs" and fd:
            what = ("all", file_system(fd.group(2)))
        elif path is not None:
            if name in ("fsync", "fdatasync"):
                what = ("names" if os.path.isdir(like + path) else "data", path)
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
def at_the_call(action):
    """The kind that gives the call the action action(call name) makes."""
    return lambda entries, i, n, index_path: [(entries[i][0], n, action(entries[i][0]))]


fail_with_error = at_the_call(lambda call: "error=" + ERRORS.get(call, "EIO"))
kill = at_the_call(lambda call: "signal=KILL")


def kill_before_change(entries, i, n, index_path):
    """A kill before a call that changes or creates a file: fewer kills that
    still leave every state the run passes through."""
    call, line = entries[i]
    return kill(entries, i, n, index_path) if call in CHANGE_CALLS or "O_CREAT" in line else None


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
         ("SIGTERM", "stops", at_the_call(lambda call: "signal=TERM")),
         ("lost index write", "fails", lose_index_write),
         ("kill", "kills", kill),
         ("kill before a change", "kills", kill_before_change)]


def add_live_trade(target):
    """Adds to the target the trade of LIVE_KEY with the identifier after its
    counter's, as the live site writes it; returns {path: bytes} of what it
    appended and of the files it wrote."""
    with open(target + FILE["counter"], "rb") as f:
        trade_id = int(f.read()) + 1
    fields = installations.source_fields(0, LIVE_KEY)
    added = {FILE["index"]: installations.target_record(0, LIVE_KEY, trade_id, LIVE_NOTE),
             CAPS: installations.caps_lines(trade_id, fields).encode(),
             FILE["summary"]: installations.summary_line(trade_id).encode(),
             FILE["toplist"]: installations.toplist_line(fields).encode()}
    written = {FILE["statistics"].replace("@ID@", str(trade_id)):
               bytes(installations.STATS_FILE_SIZE), FILE["counter"]: str(trade_id).encode()}
    for files, mode in ((added, "ab"), (written, "wb")):
        for path, data in files.items():
            with open(target + path, mode) as f:
                f.write(data)
    return {**added, **written}


def holds_live_trade(tree, added):
    """Whether tree holds the live trade's record and lines whole, and its
    statistics file as the site wrote it (the counter moves on)."""
    index, size = tree.get(FILE["index"], b""), installations.RECORD_SIZE
    for path, data in added.items():
        if path == FILE["index"]:
            kept = any(index[at:at + size] == data for at in range(0, len(index), size))
        elif data.endswith(b"\n"):  # lines
            kept = b"\n" + data in b"\n" + tree.get(path, b"")
        else:
            kept = path == FILE["counter"] or tree.get(path) == data
        if not kept:
            return False
    return True


def build_states(program, root, layout):
    """Makes root + "base/", the target holding the known trade (the program's
    own import of it) and the orphans, and returns the snapshot of state k, the
    target after a fault-free run over the first k new trades, for every k."""
    layout.write(root + "base/", installations.EMPTY_TARGET)
    write_installation(root + "known/", source_files([KNOWN_TRADE]))
    if page_ending(convert(program, root + "known/", root + "base/")[1]) != "closing block":
        return None
    write_installation(root + "base/", ORPHANS)
    states = []
    for k in range(len(NEW_TRADES) + 1):
        source, target = root + "source%d/" % k, root + "state%d/" % k
        write_installation(source, source_files([KNOWN_TRADE] + NEW_TRADES[:k]))
        layout.copy(root + "base/", target)
        status, page = convert(program, source, target)
        states.append(snapshot(target))
        if status != 0 or page_ending(page) != "closing block" or JOURNAL in states[-1]:
            return None
    return states


def touched_paths(program, root, source, layout):
    """The installation paths a full run touches, from a run tracing every call
    (target paths relative to the target), and the calls it made between its
    first and last touch that this strace cannot name."""
    target = root + "discover/"
    layout.copy(root + "base/", target)
    convert(program, source, target, root + "discover.log")
    touched, unnamed, pending = set(), {}, {}
    for name, line in read_log(root + "discover.log"):
        paths = [p for pair in PATHS.findall(line) for p in pair
                 if p.startswith(root) or p == layout.outside(target)]
        touched.update(p if layout.relative(p, target) is None
                       else layout.relative(p, target) for p in paths)
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


def journal_holders(labels, snapshots, durable, base):
    """Cut points whose target holds a complete journal (no write of it since
    its last sync): just before the journal's first removal, just after the
    orphan statistics file began to be replaced, and just before each syncfs
    that ends a group (the journal then covers all of it)."""
    complete, written = [], False
    for k, tree in enumerate(snapshots):
        if JOURNAL in tree and not written:
            complete.append(k)
        if k < len(labels):
            call, label, made = labels[k][1].split(" ")[0], labels[k][1], durable[k]
            written = (written or call in WRITE_CALLS + ("ftruncate",) and label.endswith(JOURNAL)
                       ) and not (made and (made[0] == "all" or made == ("data", JOURNAL)))
    removal = [k for k, (_, label) in enumerate(labels)
               if label.startswith(("unlink ", "unlinkat ")) and label.endswith(JOURNAL)][:1]
    replaced = [k for k in complete if snapshots[k].get(STATS_ORPHAN) != base[STATS_ORPHAN]][:1]
    group_ends = [k for k, (_, label) in enumerate(labels) if label.startswith("syncfs ")]
    return sorted(set(k for k in removal + group_ends if k in complete) | set(replaced))


def log_failure(call, label):
    """A write, cut or sync of the journal, or a syncfs: what a group's
    durability rests on."""
    return call == "syncfs" or call in LOG_CALLS and label.endswith(JOURNAL)


def later_kills(log, labels):
    """For a run whose one injected error shows in its log: the kills at the
    next call, at the next one that changes a file (where an undo starts) and
    at the last one, each [(call, n, "signal=KILL")] with its label. strace
    keeps one injection per call name, so a call of the failed call's name is
    passed over."""
    failed = [j for j, (_, line) in enumerate(log) if "(INJECTED)" in line]
    if len(failed) != 1:
        return []
    later = [j for j in range(failed[0] + 1, len(log))
             if log[j][0] != log[failed[0]][0] and not log[j][0].startswith("SIG")]
    return [([(log[j][0], labels[j][0], "signal=KILL")], labels[j][1])
            for j in sorted(set(later[:1] + [j for j in later if log[j][0] in CHANGE_CALLS][:1]
                                + later[-1:]))]


def main():
    args, grouped = sys.argv[1:], None
    if len(args) == 3 and args[1] == "--grouped":
        args, grouped = args[:1], os.path.abspath(args[2])
    if len(args) != 1:
        sys.exit("usage: fault_sweep.py CONVERT_CGI_PATH [--grouped GROUPED_CGI_PATH]")
    program, started = os.path.abspath(args[0]), time.monotonic()
    # On tmpfs where there is one: the program's syncs then cost nothing and
    # flush no one else's files.
    scratch = "/dev/shm" if os.path.isdir("/dev/shm") else None
    root = os.path.realpath(tempfile.mkdtemp(prefix="fault_sweep.", dir=scratch)) + "/"
    # The second file system, for a target with a file on it.
    other_fs, mounted = root + "other-fs/", False
    os.mkdir(other_fs)
    if os.geteuid() == 0:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m,mode=0700", "tmpfs",
                                  other_fs], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL).returncode == 0
    try:
        passed, failed = sweep(program, grouped, root, other_fs if mounted else None)
    finally:
        if mounted and subprocess.run(["umount", other_fs]).returncode != 0:
            subprocess.run(["umount", "--lazy", other_fs])
        shutil.rmtree(root, ignore_errors=True)
    print("%.1f s" % (time.monotonic() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


Result = collections.namedtuple("Result", "label ending problems hit left log target")


class Tally:
    """The runs of each kind, the failed ones, and the checks that could not be
    set up."""

    def __init__(self):
        self.counts, self.hits = {}, [0, 0]

    def judge(self, kind, results, unchecked=0):
        """Prints the failed results of a kind and counts them."""
        counts = self.counts.setdefault(kind, [0, 0, 0])
        for result in results:
            if result.problems:
                counts[1] += 1
                print("FAIL %s: %s: page: %s; %s" % (kind, result.label, result.ending,
                                                    "; ".join(result.problems)))
        counts[0] += len(results)
        counts[2] += unchecked

    def cannot_check(self, kind, why):
        print("FAIL %s: %s" % (kind, why))
        self.judge(kind, [], 1)


# What each build is swept for. The grouped build's errors are those of the
# journal's writes and syncs and of syncfs alone.
ALL_PARTS = {"error", "SIGTERM", "lost index write", "kill", "double fault", "power cut",
             "recovery crash", "recovery power cut", "journal failure, then kill",
             "live site after a kill"}
GROUPED_PARTS = {"journal errors", "kill", "power cut", "recovery crash", "recovery power cut",
                 "journal failure, then kill", "live site after a kill"}
OTHER_FS_PARTS = {"kill", "power cut", "file missing at recovery"}
COUNTER_PARTS = {"kill before a change", "file missing at recovery"}


def sweep(program, grouped, root, other_fs):
    """Returns (passed, failed)."""
    tally = Tally()
    if not shutil.which("strace"):
        tally.cannot_check("setup", "strace is not installed")
        return 0, 1
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        sweep_build("", program, root + "one-group/", Layout(root), pool, tally, ALL_PARTS, MIXES)
        if grouped:
            sweep_build("grouped: ", grouped, root + "grouped/", Layout(root), pool, tally,
                        GROUPED_PARTS, MIXES, several_groups=True)
        title = "caps on a second file system: "
        if other_fs:
            # The power cuts that keep nothing unsynced, and all that was written.
            sweep_build(title, program, root + "other/", Layout(root, other_fs), pool, tally,
                        OTHER_FS_PARTS, 0)
            sweep_build("counter on a second file system: ", program, root + "other-counter/",
                        Layout(root, other_fs, FILE["counter"]), pool, tally, COUNTER_PARTS, 0)
        elif os.geteuid() == 0:
            tally.cannot_check(title + "setup", "mount -t tmpfs failed")
        else:
            print(title + "not swept: mounting a file system needs root")
    print("%d of %d runs failed exactly the occurrence they name among the calls -P selects"
          % tuple(tally.hits))
    for kind, (runs, failed, unchecked) in tally.counts.items():
        print("%s: %d %s, %d failed" % (kind, runs, "states" if "power cut" in kind else "runs",
                                        failed + unchecked))
    passed = sum(runs - failed for runs, failed, _ in tally.counts.values())
    return passed, sum(sum(counts[1:]) for counts in tally.counts.values())


def sweep_build(prefix, program, root, layout, pool, tally, parts, mixes, several_groups=False):
    """Sweeps one build over one layout for the kinds in parts, each counted as
    prefix + kind."""
    os.mkdir(root)
    states = build_states(program, root, layout)
    if not states:
        tally.cannot_check(prefix + "setup", "a fault-free run did not end with the closing "
                           "block and no journal")
        return
    source, final = root + "source%d/" % len(NEW_TRADES), len(NEW_TRADES)
    base = snapshot(root + "base/")
    touched, unnamed = touched_paths(program, root, source, layout)

    def traced(start, name, injects=()):
        """A run under strace over a fresh copy of start: (target, status, page,
        log), the log holding the calls -P selects."""
        target = root + name + "/"
        layout.copy(start, target)
        paths = sorted((p if p.startswith("/") else target + p).rstrip("/") for p in touched)
        paths += [layout.outside(target)] if layout.outside(target) else []
        status, page = convert(program, source, target, root + name + ".log", paths, injects)
        log = read_log(root + name + ".log")
        os.remove(root + name + ".log")
        return target, status, page, log

    def labels_of(log, target):
        return call_labels(log, target, source, layout.outside(target))

    # The count run: the calls -P selects, in order; each occurrence is a case
    # of every kind that applies to it.
    count, _, _, entries = traced(root + "base/", "count")
    if differences(snapshot(count), states[final]):
        tally.cannot_check(prefix + "setup", "the run under strace did not reach state %d" % final)
        return
    groups = sum(call == "syncfs" for call, _ in entries)
    if several_groups and groups < 2:
        tally.cannot_check(prefix + "setup", "a run makes %d group(s), not several" % groups)
    labels = labels_of(entries, count)
    cases, runs, journal_errors = {kind: [] for kind, _, _ in KINDS}, {}, []
    for i, (call, line) in enumerate(entries):
        n, label = labels[i]
        for kind, how, make in KINDS:
            if kind not in parts and not (kind == "error" and "journal errors" in parts
                                          and log_failure(call, label)):
                continue
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
            if kind == "error" and log_failure(call, label):
                journal_errors.append(len(cases[kind]))
            cases[kind].append(Case("%s, %s%s" % (label, kind, detail), injects, how,
                                    root + "base/", "may stay" if keeps else "absent",
                                    spare=spare))
            runs[call] = runs.get(call, 0) + 1
    print("%scalls on the installation files: occurrences, runs" % prefix)
    for call in sorted(set(name for name, _ in entries) | set(runs)):
        print("  %-12s %3d %4d" % (call, sum(name == call for name, _ in entries),
                                   runs.get(call, 0)))
    # A call that cannot be failed cannot be shown safe: the program must not
    # make one on its installations.
    for call, calls in sorted(unnamed.items()):
        tally.cannot_check(prefix + "setup",
                           "%s, %d calls: this strace can neither select nor fail it"
                           % (call, calls))

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
        layout.remove(target)
        return Result(case.label, ending, problems, hit, left, log, target)

    def check_cut(name, cut, where, title):
        """One power-cut state of a run whose calls `where` labels."""
        k, what, state = cut
        target = root + name + "/"
        layout.write(target, state)
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
        layout.remove(target)
        label = where[k][1] if k < len(where) else "the end of the run"
        return Result("%spower cut before %s, %s" % (title, label, what), ending, problems,
                      True, None, None, target)

    def run_cases(name, cases):
        results = list(pool.map(run_case, ["%s%d" % (name, i) for i in range(len(cases))],
                                cases))
        tally.hits[0] += sum(result.hit for result in results)
        tally.hits[1] += len(results)
        return results

    def check_cuts(name, cuts):
        """cuts: [(cut, labels of the run's calls, title)]."""
        return list(pool.map(lambda i: check_cut("%s%d" % (name, i), *cuts[i]),
                             range(len(cuts))))

    done = {kind: run_cases(kind.replace(" ", "_"), cases[kind])
            for kind, _, _ in KINDS if cases[kind]}
    for kind, results in done.items():
        tally.judge(prefix + kind, results)

    if "double fault" in parts:
        # Double faults: a step of the second new trade fails, and then the
        # first call of its undo.
        doubles, steps = [], second_trade_writes(entries, count)
        for i in steps:
            step = fail_with_error(entries, i, labels[i][0], None)
            target, _, page, log = traced(root + "base/", "step%d" % i, step)
            layout.remove(target)
            failed_at = [j for j, (_, line) in enumerate(log) if "(INJECTED)" in line] or [len(log)]
            # The undo's own first call on a file of the installation; the
            # journal's checkpoint before it is the journal's business.
            undo = [j for j in range(failed_at[0] + 1, len(log))
                    if log[j][0] in UNDO_CALLS and JOURNAL not in log[j][1]][:1]
            if not undo:
                tally.cannot_check(prefix + "double fault",
                                   "%s fails, and no call undoes it" % labels[i][1])
                continue
            call = log[undo[0]][0]
            n = sum(name == call for name, _ in log[:undo[0] + 1])
            doubles.append(Case("%s fails, then %s #%d of its undo" % (labels[i][1], call, n),
                                step + [(call, n, "error=" + ERRORS.get(call, "EIO"))], "fails",
                                root + "base/", "stays",
                                page_ending(page).replace(target, "target/")))
        if not steps:
            tally.cannot_check(prefix + "double fault",
                               "the count run shows no write of a second trade")
        tally.judge(prefix + "double fault", run_cases("double", doubles))

    if "journal failure, then kill" in parts:
        # A write or sync of the journal, or a syncfs, fails; the run is then
        # killed before it has finished what follows (its undo, the removal of
        # the journal).
        kills = []
        for at in journal_errors:
            case, result = cases["error"][at], done["error"][at]
            for kill_inject, where in later_kills(result.log, labels_of(result.log, result.target)):
                kills.append(Case("%s, then a kill at %s" % (case.label, where),
                                  case.injects + kill_inject, "kills", root + "base/", "may stay"))
        if not kills:
            tally.cannot_check(prefix + "journal failure, then kill",
                               "no failed call of the journal was followed by another call")
        tally.judge(prefix + "journal failure, then kill", run_cases("failkill", kills))

    killed = [result for kind in ("kill", "kill before a change") for result in done.get(kind, [])
              if result.hit]
    if "live site after a kill" in parts:
        # The live site, not put on hold, adds a trade after each kill. The
        # next run must keep it and import every source trade whole, or refuse
        # and change nothing; after a refusal, the backup restored (the target
        # before the killed run) and the trade added again, a run must complete.
        references = []  # state k, the live trade, and a run
        for k in range(final + 1):
            target = root + "live_reference%d/" % k
            layout.copy(root + "state%d/" % k, target)
            added = add_live_trade(target)
            ending = page_ending(convert(program, source, target)[1])
            references.append(snapshot(target))
            if ending != "closing block" or not holds_live_trade(references[-1], added):
                tally.cannot_check(prefix + "live site after a kill", "a run over state %d and a "
                                   "live trade did not keep it and end with the closing block" % k)

        def live_case(name, kill_result):
            target = root + name + "/"
            layout.write(target, kill_result.left)
            add_live_trade(target)
            before = snapshot(target)
            status, page = convert(program, source, target)
            ending = page_ending(page).replace(target, "target/")
            after = snapshot(target)
            problems = [] if status == 0 else ["exit status %s" % status]
            label, restored = kill_result.label + ", then a live trade", None
            if ending.startswith("error block (%s " % LEADS["unknownTail"]):
                if after != before:
                    problems.append("the refusal changed " + ", ".join(
                        differences(after, before)[:4]))
                layout.remove(target)
                layout.copy(root + "base/", target)
                add_live_trade(target)
                status, page = convert(program, source, target)
                again = page_ending(page).replace(target, "target/")
                found = differences(snapshot(target), references[0])
                wrong = ([] if status == 0 else ["exit status %s" % status]) + (
                    [] if again == "closing block" else ["not the closing block"]) + (
                    ["the run left " + ", ".join(found[:4])] if found else [])
                restored = Result(label + ", refused, the backup restored", again, wrong, True,
                                  None, None, target)
            else:
                state, nearest = matching_state(after, references)
                if ending != "closing block":
                    problems.append("neither the refusal nor the closing block")
                if state is None:
                    problems.append("not the live trade and the source's trades whole (%s)"
                                    % nearest)
            layout.remove(target)
            return Result(label, ending, problems, True, None, None, target), restored

        lived = list(pool.map(live_case, ["live%d" % i for i in range(len(killed))], killed))
        tally.judge(prefix + "live site after a kill", [result for result, _ in lived])
        tally.judge(prefix + "backup restored after a refusal",
                    [restored for _, restored in lived if restored])

    if "file missing at recovery" in parts:
        # The link's file out of reach when the run after a kill starts (its
        # file system not mounted): where the log puts that file back, the run
        # must say it cannot write it and change nothing, the log included;
        # else it may import nothing either. It must never make the file anew
        # in place of the link, and once the file is back, a run completes.
        linked = layout.linked
        unreachable = ["error block (%s target/%s)" % (LEADS[lead], linked)
                       for lead in ("writeFailed", "openFailed", "readFailed")]

        def missing_case(name, kill_result):
            target = root + name + "/"
            layout.write(target, kill_result.left)
            outside, before = layout.outside(target), snapshot(target)
            os.rename(outside, outside + ".away")
            status, page = convert(program, source, target)
            ending = page_ending(page).replace(target, "target/")
            problems = [] if status == 0 else ["exit status %s" % status]
            if os.path.lexists(outside):
                problems.append("it made the link's file anew")
                os.remove(outside)
            os.rename(outside + ".away", outside)
            after = snapshot(target)
            if any(path == linked for _, path, _ in log_records(before.get(JOURNAL, b""))[0]):
                if ending != unreachable[0] and not ending.startswith(
                        "error block (%s " % LEADS["unknownTail"]):
                    problems.append("not the error block of %s" % linked)
            else:  # no record of the file: the log may go
                if ending not in unreachable + ["closing block"]:
                    problems.append("neither the closing block nor the error block of " + linked)
                after.pop(JOURNAL, None)
                before.pop(JOURNAL, None)
            if after != before:
                problems.append("it changed " + ", ".join(differences(after, before)[:4]))
            convert(program, source, target)
            found = differences(snapshot(target), states[final])
            if found:
                problems.append("with the file back, the run left " + ", ".join(found[:4]))
            if not os.path.islink(target + linked):
                problems.append("%s is a link no more" % linked)
            layout.remove(target)
            return Result(kill_result.label + ", the linked file missing", ending, problems, True,
                          None, None, target)

        tally.judge(prefix + "file missing at recovery", list(pool.map(
            missing_case, ["missing%d" % i for i in range(len(killed))], killed)))

    if "power cut" not in parts:
        return
    # Power cuts, from the targets that the killed runs left, one before each
    # call, and the complete run's; beside them, where the index grew since
    # its last sync, the state whose index keeps its size but holds zeros
    # where the new bytes were.
    snapshots = [result.left for result in done["kill"] if result.hit] + [snapshot(count)]
    if len(snapshots) != len(entries) + 1:
        tally.cannot_check(prefix + "power cut", "a kill missed its call: no target before it")
        return
    durable = durability(entries, count, layout, count)
    cuts = power_cut_states(snapshots, durable, mixes, device_of=layout.device_of,
                            zeroed=FILE["index"])
    for kind, name, selected in (("power cut", "cut", False),
                                 ("power cut, index tail zero-filled", "zeroed", True)):
        chosen = [(cut, labels, "") for cut in cuts if (cut[1] == "zeroed tail") == selected]
        if not chosen:
            tally.cannot_check(prefix + kind, "no power cut leaves such a state")
        tally.judge(prefix + kind, check_cuts(name, chosen))

    if "recovery crash" not in parts:
        return
    # Crashes of the recovery: a recovering run from each target holding a
    # complete journal must complete the import, and so must the run after it
    # is killed at any of its calls, and the run after a power cut at any of
    # its calls.
    holders = journal_holders(labels, snapshots, durable, base)
    if several_groups:  # the others are the one-group build's
        holders = [k for k in holders if labels[k][1].startswith("syncfs ")]
    starts = [root + "journal%d/" % k for k in holders]
    for k, start in zip(holders, starts):
        layout.write(start, snapshots[k])
    titles = ["recovery from a kill before %s: " % labels[k][1] for k in holders]
    recovering = run_cases("recovering", [
        Case(title.rstrip(": "), [], "fails", start, ending="closing block")
        for title, start in zip(titles, starts)])
    if not holders:
        tally.cannot_check(prefix + "recovery crash", "no killed run left a complete journal")
    recovery_labels = [labels_of(result.log, result.target) for result in recovering]
    crashes = [(i, Case("%skill at %s" % (titles[i], label), kill(result.log, j, n, None),
                        "kills", starts[i], "may stay"))
               for i, result in enumerate(recovering)
               for j, (n, label) in enumerate(recovery_labels[i])]
    crashed = run_cases("crash", [case for _, case in crashes])
    tally.judge(prefix + "recovery crash", recovering + crashed)

    if "recovery power cut" not in parts:
        return
    recovery_cuts = []
    for i, result in enumerate(recovering):
        before = [crash.left for (at, _), crash in zip(crashes, crashed) if at == i and crash.hit]
        if len(before) != len(result.log) or result.problems:
            tally.cannot_check(prefix + "recovery power cut",
                               "%sno target before each call" % titles[i])
            continue
        made = durability(result.log, result.target, layout, count)
        recovery_cuts += [(cut, recovery_labels[i], titles[i]) for cut in power_cut_states(
            before + [result.left], made, RECOVERY_MIXES, device_of=layout.device_of)]
    tally.judge(prefix + "recovery power cut", check_cuts("recovery_cut", recovery_cuts))


if __name__ == "__main__":
    sys.exit(main())
