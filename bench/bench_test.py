#!/usr/bin/env python3
"""Checks that the benchmark measures what it claims: the launcher reports the
child's memory, writes and exit status; the floor does the same file work as
a conversion of the same pair; the identity check notices a changed mode.
Needs the programs of a benchmark build (bench/run.py builds them and runs
these first):

  python3 bench/bench_test.py [--build-dir build-bench]
"""

import argparse
import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
import identity  # noqa: E402
from convert_tools import installations  # noqa: E402
from runner import Runner, tree_size  # noqa: E402

BUILD_DIR = "build-bench"


class BenchTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="convert-bench-test-")
        self.addCleanup(shutil.rmtree, self.work)
        self.runner = Runner(argparse.Namespace(build_dir=BUILD_DIR, work=self.work,
                                                    scratch=self.work))

    def launch(self, code):
        out = os.path.join(self.work, "out")
        return self.runner.launch_program([sys.executable, "-c", code], "/dev/null", out,
                                          dict(os.environ))

    def test_launcher_reports_the_childs_peak_memory_and_writes(self):
        result = self.launch("import sys\nx = bytearray(64 << 20)\n"
                             "sys.stdout.write('y' * (1 << 20))\n")
        self.assertGreaterEqual(result["max_rss_kib"], 64 << 10)
        self.assertGreaterEqual(result["write_chars"], 1 << 20)
        # The page cache of a memory file system is never written out.
        kind = subprocess.run(["stat", "-f", "-c", "%T", self.work], capture_output=True,
                              text=True).stdout.strip()
        self.assertGreaterEqual(result["write_bytes"], 0 if kind == "tmpfs" else 1 << 20)
        self.assertEqual(0, result["exit_status"])
        self.assertGreater(result["wall_seconds"], 0)

    def test_launcher_passes_the_exit_status_on(self):
        self.assertEqual(3, self.launch("raise SystemExit(3)")["exit_status"])

    def test_floor_does_the_file_work_of_the_conversion(self):
        pair = installations.generate(os.path.join(self.work, "pair"), 7, 30, 20, below=5)
        for on_disk in (False, True):  # on_disk: a new copy directory every run
            folder = os.path.join(self.work, "disk" if on_disk else "")
            runner = Runner(argparse.Namespace(build_dir=BUILD_DIR, work=self.work,
                                                   scratch=folder), on_disk=on_disk)
            converted = runner.run_convert(pair)  # exits unless 30 added, 7 skipping
            floor = runner.run_floor(pair)
            self.assertEqual(2 * 30, converted["new_files"])
            self.assertEqual(converted["new_files"], floor["new_files"])
            self.assertEqual(converted["grew"], floor["grew"])
            if on_disk:  # emptied after each run, deleted only by remove_copies
                copies = runner.copy_folders()
                self.assertEqual([0, 0], [tree_size(c)[0] for c in copies])
            runner.remove_copies()
            self.assertFalse(runner.copy_folders())

    def test_identity_check_notices_a_changed_mode(self):
        name = installations.FILE["statistics"].replace("@ID@", "11")
        files = {name: ("file", 0o100777, b"\0" * 4)}
        with contextlib.redirect_stdout(io.StringIO()):
            same = identity.compare("same", (b"page", files), (b"page", dict(files)))
            other = identity.compare("mode", (b"page", files),
                                     (b"page", {name: ("file", 0o100644, b"\0" * 4)}))
        self.assertTrue(same)
        self.assertFalse(other)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default=BUILD_DIR)
    args, rest = parser.parse_known_args()
    BUILD_DIR = args.build_dir
    unittest.main(argv=[sys.argv[0]] + rest)
