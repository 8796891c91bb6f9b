#!/usr/bin/env python3
"""convert-trades as a user runs it: its imports leave the target convert.cgi
leaves, a second import changes nothing, check predicts what import does
(planted links, another user's file, a full file system), both stop at a
file this user cannot write, a terminal gets the progress bar at its width
and a log file the lines, a run started as nohup starts it survives SIGHUP,
wrong arguments are usage errors, and a copy started as a CGI program
refuses.

usage: cli_test.py CONVERT_TRADES CONVERT_CGI
"""
import fcntl
import json
import os
import pty
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
from convert_tools import installations  # noqa: E402

TRADES, CGI = (os.path.abspath(p) for p in sys.argv[1:3])
EXAMPLES = os.path.join(HERE, "..", "examples")
NOBODY = 65534
failures = []
passes = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    (passes if ok else failures).append(what)


def run(args, as_nobody=False, env=None):
    program, prefix = TRADES, []
    if as_nobody:
        # A clone in a folder other users cannot enter (root's home) holds a
        # program they cannot reach: run a copy they can.
        program = os.path.join(SCRATCH, "convert-trades")
        if not os.path.exists(program):
            shutil.copy(TRADES, program)
            os.chmod(program, 0o755)
        prefix = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
    return subprocess.run(prefix + [program] + args, capture_output=True,
                          env=env if env is not None else {"PATH": "/usr/bin:/bin", "TZ": "UTC"})


def tree(root):
    """Every file and folder: its mode and bytes."""
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            with open(path, "rb") if os.path.isfile(path) else open(os.devnull, "rb") as f:
                found[os.path.relpath(path, root)] = (os.lstat(path).st_mode, f.read())
    return found


def read_all(fd):
    """What a pseudo-terminal shows until its program ends."""
    output = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return output
        if not chunk:
            return output
        output += chunk


def copy_pair(source, target, scratch, name):
    work = os.path.join(scratch, name)
    shutil.copytree(source, work + "/tn3")
    shutil.copytree(target, work + "/kv2")
    return work + "/tn3", work + "/kv2"


def pairs(scratch):
    """(name, source, target): the examples and generated installations."""
    yield "examples", os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2")
    for known, imports, records in ((0, 40, 0), (30, 200, 100)):
        pair = installations.generate(os.path.join(scratch, "gen%d" % imports),
                                      known, imports, records, below=5)
        yield "%d imports into %d records" % (imports, records), pair.source, pair.target


def same_as_the_form(scratch):
    for name, source, target in pairs(scratch):
        s1, t1 = copy_pair(source, target, scratch, "cli-" + name)
        s2, t2 = copy_pair(source, target, scratch, "cgi-" + name)
        predicted = json.loads(run(["check", s1, t1, "--json"]).stdout)
        before = tree(t1)
        done = run(["import", s1, t1, "--json"])
        result = json.loads(done.stdout)
        body, env = installations.conversion_request(s2 + "/", t2 + "/")
        env.pop("REMOTE_ADDR")  # no client: the note of convert-trades
        subprocess.run([CGI], input=body, env=env, stdout=subprocess.DEVNULL, check=True)
        expect(done.returncode == 0 and tree(t1) == tree(t2),
               "%s: import leaves the tree convert.cgi leaves" % name)
        grown = sum(len(data) for path, (_, data) in tree(t1).items()
                    if path not in before) + sum(
            len(data) - len(before[path][1]) for path, (_, data) in tree(t1).items()
            if path in before)
        expect((predicted["toImport"], predicted["alreadyInTarget"], predicted["passedOver"],
                predicted["bytesToAdd"]["total"]) ==
               (result["added"], result["skipped"], result["passedOver"], grown),
               "%s: check predicts the counts and bytes" % name)
        counter = int(open(t1 + "/d/t/i").read())
        expect(predicted["lastId"] in (None, counter), "%s: check predicts the last identifier"
               % name)
        after = tree(t1)
        again = json.loads(run(["import", s1, t1, "--json"]).stdout)
        expect(again["added"] == 0 and tree(t1) == after, "%s: a second import changes nothing"
               % name)
        expect(json.loads(run(["check", s1, t1, "--json"]).stdout)["toImport"] == 0,
               "%s: a second check has nothing to import" % name)


def unwritable_file(scratch):
    if os.geteuid() != 0:
        print("skip an unwritable file: needs root to run as another user")
        return
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "unwritable")
    os.chmod(os.path.join(scratch, "unwritable"), 0o755)
    for folder, folders, files in os.walk(target):
        for name in folders + files + [""]:
            os.chown(os.path.join(folder, name), NOBODY, NOBODY)
    caps = target + "/d/caps"
    os.chown(caps, 0, 0)
    os.chmod(caps, 0o644)
    before = tree(target)
    check = run(["check", source, target], as_nobody=True)
    first = check.stdout.decode().splitlines()[0] if check.stdout else ""
    expect(check.returncode == 1 and caps in first and "owner root" in first,
           "check names the caps file this user cannot write, and why: %r" % first)
    done = run(["import", source, target], as_nobody=True)
    expect(done.returncode == 1 and ("Unable to open file %s" % caps) in done.stderr.decode()
           and tree(target) == before, "import stops at the same file and leaves the target")


def terminal_and_pipe(scratch):
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "terminal")
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(TRADES, [TRADES, "import", source, target])
    output = read_all(fd)
    _, status = os.waitpid(pid, 0)
    text = output.decode("latin-1")
    expect(os.waitstatus_to_exitcode(status) == 0 and "\r[" in text and "trades" in text
           and "added 3, skipped 1, passed over 1" in text and "added sunnyhills\n" not in text,
           "on a terminal: the bar, then the totals")
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "pipe")
    piped = run(["import", source, target])
    lines = piped.stdout.decode().splitlines()
    expect(lines[0].startswith("convert-trades ") and
           lines[1:5] == ["added sunnyhills", "skipping bluebay - already exists in database",
                          "added greenfield", "added redrock"]
           and lines[5].startswith("added 3, skipped 1, passed over 1, ")
           and lines[5].endswith(": %s/ into %s/" % (source, target))
           and b"\r" not in piped.stdout + piped.stderr, "through a pipe: lines, no bar")


def refuses_as_cgi(scratch):
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "cgi")
    before = tree(target)
    for variable in ("GATEWAY_INTERFACE", "REQUEST_METHOD"):
        env = {"PATH": "/usr/bin", variable: "x", "QUERY_STRING": "import+a+b"}
        answer = run(["import", source, target], env=env)
        expect(answer.stdout.startswith(b"Status: 403") and b"convert.cgi" in answer.stdout
               and tree(target) == before, "started as a CGI program (%s): 403, nothing changed"
               % variable)
    usage = run(["import", source])
    expect(usage.returncode == 2 and b"usage" in usage.stderr, "a usage error exits with 2")


def wrong_arguments(scratch):
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "arguments")
    os.makedirs(target + "/inner/d/t")
    shutil.copy(source + "/d/t/index", target + "/inner/d/t/index")
    for args, line in (
            ([target, target], "the same folder twice: " + target),
            ([target, source], "the two folders swapped: the SOURCE comes first, then the"
                               " TARGET (%s holds no d/t/i)" % source),
            ([target + "/inner", target], "one folder inside the other: %s/inner and %s"
             % (target, target)),
            ([source, ""], "an empty folder name"),
            ([source, target + "2"], "no such folder: " + target + "2"),
            ([source + "/d/t/index", target], "not a folder: " + source + "/d/t/index"),
            ([source, scratch], "not an installation: no d/t/index in " + scratch)):
        answer = run(["check"] + args)
        first = answer.stderr.decode().splitlines()[0]
        expect(answer.returncode == 2 and first == "convert-trades: " + line,
               "usage error, exit 2: %s (%r)" % (line, first))
    for words in (["help"], ["-h"], ["--help"]):
        shown = run(words)
        expect(shown.returncode == 0 and b"128+N" in shown.stdout and b"  2 " in shown.stdout,
               "%s shows the help with every exit status" % words[0])


def obstacles(scratch):
    """Whenever check says the import stops, the import stops at that file."""
    if os.geteuid() != 0:
        print("skip the planted obstacles: needs root to mount and chown")
        return
    small = os.path.join(scratch, "small")
    os.makedirs(small)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=200k", "tmpfs", small]).returncode
    plants = [("a link at the next statistics file",
               lambda t: os.symlink("/etc/passwd", t + "/d/t/14"), "/d/t/14"),
              ("a statistics file of root, mode 0666, as this user",
               lambda t: (open(t + "/d/t/14", "w").close(), os.chmod(t + "/d/t/14", 0o666)),
               "/d/t/14")]
    try:
        for name, plant, where in plants + [("a full file system", None, None)]:
            source, target = copy_pair(os.path.join(EXAMPLES, "tn3"),
                                       os.path.join(EXAMPLES, "kv2"),
                                       small if plant is None else scratch, "obstacle")
            if plant is not None:
                plant(target)
            nobody = "as this user" in name
            if nobody:
                for folder, folders, files in os.walk(target):
                    for entry in folders + files + [""]:
                        if not entry.startswith("14"):
                            os.chown(os.path.join(folder, entry), NOBODY, NOBODY)
                os.chown(os.path.dirname(target), NOBODY, NOBODY)
            check = run(["check", source, target], as_nobody=nobody)
            first = check.stdout.decode().splitlines()[0]
            done = run(["import", source, target], as_nobody=nobody)
            if where is None:
                predicted = check.returncode == 1 and first.startswith("not enough free space")
                stopped = done.returncode == 1 and b"No space left on device" in done.stderr
            else:
                predicted = check.returncode == 1 and (target + where) in first
                stopped = done.returncode == 1 and (target + where).encode() in done.stderr
            expect(predicted and stopped, "%s: check says %r, import stops there: %r"
                   % (name, first, done.stderr.decode().splitlines()[:2]))
            shutil.rmtree(os.path.dirname(target))
    finally:
        if mounted == 0:
            subprocess.run(["umount", small])


def long_pair(scratch):
    pair = installations.generate(os.path.join(scratch, "long"), 0, 6000, 0)
    return copy_pair(pair.source, pair.target, scratch, "long-run")


def log_file(scratch):
    """Detached as nohup leaves it, a run survives SIGHUP; its log file starts
    with a heading, and after a kill holds only lines of durable trades."""
    for signal_name, survives in (("SIGHUP", True), ("SIGKILL", False)):
        source, target = long_pair(scratch)
        log = os.path.join(scratch, "convert.log")
        with open(log, "wb") as out:
            run_ = subprocess.Popen(
                [TRADES, "import", source, target], stdout=out, stderr=subprocess.STDOUT,
                preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
            while os.path.getsize(log) < 20000 and run_.poll() is None:
                time.sleep(0.01)
            run_.send_signal(getattr(signal, signal_name))
            status = run_.wait()
        # A kill can cut the last line short: only whole lines count.
        lines = open(log, "rb").read().decode().split("\n")[:-1]
        index = open(target + "/d/t/index", "rb").read()
        keys = {index[at + 4:index.index(b"\0", at + 4)].decode()
                for at in range(0, len(index) - 995, 996)}
        added = [line[6:] for line in lines if line.startswith("added ") and ", skipped" not in line]
        heading = lines[0].startswith("convert-trades ") and ("importing %s/ into %s/" % (
            source, target)) in lines[0]
        if survives:
            expect(status == 0 and heading and len(added) == 6000 and
                   lines[-1].startswith("added 6,000, "),
                   "a run with SIGHUP ignored, as nohup starts it, finishes")
        else:
            expect(heading and added and set(added) <= keys,
                   "after a kill the log holds the heading and only imported trades")
        shutil.rmtree(os.path.dirname(target))


def terminal_width(scratch):
    """60 columns: no bar line wraps; with standard output piped the bar still
    goes to standard error's terminal."""
    source, target = long_pair(scratch)
    pid, fd = pty.fork()
    if pid == 0:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        os.execv(TRADES, [TRADES, "import", source, target])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 60, 0, 0))
    output = read_all(fd)
    os.waitpid(pid, 0)
    frames = [frame.split(b"\x1b[K")[0] for frame in output.split(b"\r")[1:]]
    expect(frames and max(len(frame) for frame in frames) < 60,
           "a bar of at most 59 columns on a 60-column terminal, with stdout piped")
    shutil.rmtree(os.path.dirname(target))


def json_lines(scratch):
    source, target = copy_pair(os.path.join(EXAMPLES, "tn3"), os.path.join(EXAMPLES, "kv2"),
                               scratch, "json")
    for command in ("check", "import"):
        out = run([command, source, target, "--json"]).stdout
        expect(out.endswith(b"\n") and all(json.loads(line) for line in out.splitlines()),
               "%s --json: one object a line, ending with a line feed" % command)


def edit(path, change):
    with open(path, "ab+") as f:  # made when missing
        f.seek(0)
        data = f.read()
    with open(path, "wb") as f:
        f.write(change(data))


def verify(scratch):
    """A clean conversion verifies whole and complete; each planted problem
    is found, named and counted, and so is a trade cut half way as a failing
    step of the original program leaves it (counter, record, toplist line)."""
    pair = installations.generate(os.path.join(scratch, "verify"), 0, 40, 0)
    clean_source, clean = copy_pair(pair.source, pair.target, scratch, "verified")
    run(["import", clean_source, clean])
    whole = run(["verify", clean, clean_source])
    expect(whole.returncode == 0 and whole.stdout.startswith(
        b"the target is whole and the conversion complete"), "verify: a clean conversion")
    half = installations.source_fields(99, "half")
    plants = {
        "missingStatistics": lambda t, s: os.remove(t + "/d/t/11"),
        "oddStatistics": lambda t, s: os.truncate(t + "/d/t/12", 100),
        "missingSummaryLine": lambda t, s: edit(t + "/d/t/sum",
                                                lambda d: d[d.index(b"\n") + 1:]),
        "strayCapsLine": lambda t, s: edit(t + "/d/caps", lambda d: d + b"|999|1|0|\n"),
        "duplicateId": lambda t, s: edit(t + "/d/t/index",
                                         lambda d: d[:996] + d[:4] + d[1000:]),
        "counterBehind": lambda t, s: edit(t + "/d/t/i", lambda d: b"20"),
        "partialRecord": lambda t, s: edit(t + "/d/t/index", lambda d: d + b"\0" * 10),
        "rollbackLog": lambda t, s: (edit(t + "/d/t/convert.journal",
                                          lambda d: b"CVUNDO1\n" + b"\0" * 8),
                                     os.chmod(t + "/d/t/convert.journal", 0o600)),
        "notImported": lambda t, s: edit(s + "/d/t/index",
                                         lambda d: d + installations.source_line(
                                             installations.source_fields(98, "new")).encode()),
        "differs": lambda t, s: edit(t + "/d/t/index",
                                     lambda d: d[:104] + b"X" + d[105:]),
        # A failing step of the original program left these three only.
        "missingCapsLine": lambda t, s: (
            edit(s + "/d/t/index", lambda d: d + installations.source_line(half).encode()),
            edit(t + "/d/t/index", lambda d: d + installations.target_record(99, "half", 51)),
            edit(t + "/d/t/i", lambda d: b"51"),
            edit(t + "/d/tl.a1", lambda d: d + installations.toplist_line(half).encode())),
    }
    expected_count = {"missingCapsLine": 3}
    for kind, plant in plants.items():
        source, target = copy_pair(clean_source, clean, scratch, "plant")
        plant(target, source)
        done = run(["verify", target, source, "--json"])
        found = json.loads(done.stdout)["problems"]
        expect(done.returncode == 1 and len(found.get(kind, [])) == expected_count.get(kind, 1),
               "verify finds %s: %s" % (kind, found.get(kind)))
        shutil.rmtree(os.path.dirname(target))


SCRATCH = tempfile.mkdtemp(prefix="convert-cli-")


def main():
    scratch = SCRATCH
    os.chmod(scratch, 0o755)
    try:
        same_as_the_form(scratch)
        unwritable_file(scratch)
        terminal_and_pipe(scratch)
        refuses_as_cgi(scratch)
        wrong_arguments(scratch)
        obstacles(scratch)
        log_file(scratch)
        terminal_width(scratch)
        json_lines(scratch)
        verify(scratch)
    finally:
        shutil.rmtree(scratch)
    print("%d passed, %d failed" % (len(passes), len(failures)))
    sys.exit(1 if failures else 0)


main()
