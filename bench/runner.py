"""Runs convert.cgi and bench_floor for the benchmark on fresh copies of a
generated target, each started by bench_launch, and checks each conversion's
page: the Runner of bench/run.py and bench/bench_test.py.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import time

from convert_tools import installations

# ext4 without a journal passes over an inode deleted less than a minute ago,
# or six minutes when its inode table block is dirty, and creating files dirties it.
QUIET_INODE_SECONDS = 380
LOADING_LINE = installations.golden("loading_line.txt").encode()
ERROR_END = installations.ERROR_END.encode()
# What the line of an imported and of a skipped trade begin with.
ADDED, SKIPPING = (re.escape(installations.golden(name).split("@KEY@")[0].encode())
                   for name in ("added_line.txt", "skipping_line.txt"))


def tree_size(path):
    """(bytes in all files, number of files) under path."""
    total = count = 0
    for directory, _, files in os.walk(path):
        for name in files:
            total += os.lstat(os.path.join(directory, name)).st_size
            count += 1
    return total, count


def read_number(path):
    """The number a file holds, or -1 while it holds none."""
    try:
        with open(path, "rb") as f:
            return int(f.read())
    except (OSError, ValueError):
        return -1


def busy_seconds():
    """Processor time that the whole machine has spent busy since boot."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:9]]
    user, nice, system, _idle, _iowait, irq, softirq, steal = fields
    return (user + nice + system + irq + softirq + steal) / os.sysconf("SC_CLK_TCK")


class Runner:
    """Runs the programs on fresh copies in a scratch directory.

    With on_disk, the copy is flushed to storage before the timed run and the
    file system again after the cleaning, so that no run pays for the
    writeback of another, and no file is deleted until the end (remove_copies):
    ext4 without a journal passes over every inode deleted in the last six
    minutes or so, one at a time, whenever it creates a file (bench/README.md
    has what that cost). So every copy goes to a new subdirectory, its files
    are emptied after the run (which gives the disk space back and keeps the
    inodes), and the emptied copies are deleted when the cases are done. A
    stamp file records when, and the next invocation waits until the inodes
    deleted then are out of that window."""

    def __init__(self, args, scratch=None, on_disk=False):
        self.build = os.path.abspath(args.build_dir)
        self.work = os.path.abspath(args.work)
        self.convert = os.path.join(self.build, "convert.cgi")
        self.floor = os.path.join(self.build, "bench", "bench_floor")
        self.launch = os.path.join(self.build, "bench", "bench_launch")
        for program in (self.convert, self.floor, self.launch):
            if not os.access(program, os.X_OK):
                sys.exit("missing %s: build with bench/run.py" % program)
        # Only these subdirectories are ever emptied. The page goes there too,
        # so that the bytes sent towards storage are all on one file system.
        self.folder = os.path.abspath(scratch or args.scratch)
        self.scratch = os.path.join(self.folder, "convert-bench-copy")
        self.on_disk = on_disk
        self.copies = 0
        if on_disk:
            os.makedirs(self.folder, exist_ok=True)

    def launch_program(self, argv, stdin_path, stdout_path, env):
        before = busy_seconds()
        out = subprocess.run([self.launch, stdin_path, stdout_path] + argv, env=env,
                             check=True, capture_output=True, text=True).stdout
        busy = busy_seconds() - before
        result = {k: float(v) for k, v in (item.split("=") for item in out.split())}
        # What the rest of the machine did meanwhile (clock ticks: 10 ms steps).
        result["others"] = busy - result["cpu_seconds"]
        return result

    def fresh_target(self, pair):
        if self.on_disk:
            self.copies += 1
            self.scratch = os.path.join(self.folder, "convert-bench-copy-%d-%d" % (
                os.getpid(), self.copies))
        else:
            shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)
        target = os.path.join(self.scratch, "kv2") + "/"
        subprocess.run(["cp", "-a", pair.target, target], check=True)
        if self.on_disk:
            os.sync()
        return target

    def clean(self):
        if not self.on_disk:
            shutil.rmtree(self.scratch)
            return
        for directory, _, files in os.walk(self.scratch):
            for name in files:
                os.truncate(os.path.join(directory, name), 0)
        os.sync()

    def copy_folders(self):
        return [os.path.join(self.folder, name) for name in os.listdir(self.folder)
                if name.startswith("convert-bench-copy")]

    def wait_for_deleted_inodes(self):
        """Waits until the inodes that the last remove_copies deleted no longer
        slow down creating files."""
        try:
            left = QUIET_INODE_SECONDS - (time.time() - os.path.getmtime(self.stamp()))
        except OSError:
            return
        if left > 0:
            print("waiting %.0f s: the copies removed at the end of the last disk run were "
                  "deleted too recently" % left, flush=True)
            time.sleep(left)

    def remove_copies(self):
        if not self.on_disk:
            shutil.rmtree(self.scratch, ignore_errors=True)
            return
        folders = self.copy_folders()
        if folders:
            subprocess.run(["rm", "-rf", "--"] + folders, check=False)
            os.sync()
            with open(self.stamp(), "w"):
                pass

    def stamp(self):
        return os.path.join(self.folder, "convert-bench-deleted")

    def launch_on(self, target, argv, stdin_path, out_name, env):
        """launch_program, and how much the target grew: bytes and files."""
        before = tree_size(target)
        result = self.launch_program(argv, stdin_path, os.path.join(self.scratch, out_name), env)
        after = tree_size(target)
        result["grew"], result["new_files"] = after[0] - before[0], after[1] - before[1]
        return result

    def request(self, pair, target):
        """Writes the form body of a conversion of pair into target; returns
        its path and the CGI environment."""
        body, env = installations.conversion_request(pair.source, target)
        body_path = os.path.join(self.work, "body")
        with open(body_path, "wb") as f:
            f.write(body)
        return body_path, env

    def convert_on(self, pair, target, binary, body_path, env, resumed=False):
        """The timed conversion of pair into target, its page checked."""
        result = self.launch_on(target, [binary or self.convert], body_path, "page.html", env)
        with open(os.path.join(self.scratch, "page.html"), "rb") as f:
            page = f.read()
        result["page"] = len(page)
        self.check_page(page, pair, result, resumed)
        return result

    def run_convert(self, pair, binary=None):
        target = self.fresh_target(pair)
        result = self.convert_on(pair, target, binary, *self.request(pair, target))
        self.clean()
        return result

    def run_killed(self, pair, binary=None):
        """Starts a conversion of pair on a fresh copy, kills it (SIGKILL) once
        the counter has advanced by half the imports, leaves the copy as the
        kill left it, and measures the conversion run again on it: the
        recovery from the rollback log, then the rest of the imports."""
        target = self.fresh_target(pair)
        body_path, env = self.request(pair, target)
        counter = target + installations.FILE["counter"]
        kill_at = pair.first_id - 1 + pair.imports // 2
        with open(body_path, "rb") as stdin, \
                open(os.path.join(self.scratch, "page.html"), "wb") as stdout:
            child = subprocess.Popen([binary or self.convert], stdin=stdin, stdout=stdout,
                                     env=env)
        while child.poll() is None and read_number(counter) < kill_at:
            time.sleep(0.005)
        child.kill()
        if child.wait() != -signal.SIGKILL:
            sys.exit("the conversion of %s ended before it was killed" % pair.root)
        # What the killed run left in the page cache is written out before
        # the timed run, like every copy's files.
        os.sync()
        result = self.convert_on(pair, target, binary, body_path, env, resumed=True)
        # The target ends with every trade once, whatever the kill cut off.
        records = os.path.getsize(target + installations.FILE["index"])
        if (read_number(counter) != pair.first_id - 1 + pair.imports
                or records != (pair.target_records + pair.imports) * installations.RECORD_SIZE):
            sys.exit("the run after the kill left %s with the counter at %d and %d bytes of "
                     "records" % (pair.root, read_number(counter), records))
        self.clean()
        return result

    def check_page(self, page, pair, result, resumed=False):
        """Counts the page's imported and skipped trades; a run resumed after a
        kill skips what the killed run imported instead."""
        if result["exit_status"] != 0 or ERROR_END in page or LOADING_LINE not in page:
            sys.exit("convert.cgi failed on %s:\n%s" % (pair.root, page[-2000:].decode("latin-1")))
        progress = page.split(LOADING_LINE, 1)[1]
        result["imported"] = len(re.findall(rb"(?:^|<br>)" + ADDED, progress))
        result["skipped"] = len(re.findall(rb"(?:^|<br>)" + SKIPPING, progress))
        if resumed:
            # A kill in the first group leaves every trade to import again.
            if not 0 < result["imported"] <= pair.imports or (
                    result["imported"] + result["skipped"] != pair.imports + pair.known):
                sys.exit("after the kill, convert.cgi imported %d and skipped %d of %s" % (
                    result["imported"], result["skipped"], pair.root))
        elif (result["imported"], result["skipped"]) != (pair.imports, pair.known):
            sys.exit("convert.cgi imported %d and skipped %d of %s; expected %d and %d" % (
                result["imported"], result["skipped"], pair.root, pair.imports, pair.known))

    def run_floor(self, pair):
        target = self.fresh_target(pair)
        argv = [self.floor, target, pair.keys_file, str(pair.first_id), str(pair.toplist_bytes),
                str(pair.caps_bytes), str(pair.summary_bytes)]
        result = self.launch_on(target, argv, "/dev/null", "floor.out", {"PATH": "/usr/bin:/bin"})
        if result["exit_status"] != 0:
            sys.exit("bench_floor failed on %s" % pair.root)
        result["page"] = 0
        self.clean()
        return result
