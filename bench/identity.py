#!/usr/bin/env python3
"""Checks that a build of convert.cgi writes the same bytes as a reference
build: the page and every file of the target installation (names, contents
and modes), for the bundled example, a generated pair full of awkward trades,
a plain generated pair and a target whose toplist is missing (the error page).

  bench/identity.py [--reference REV | --reference-binary PATH]
                    [--candidate-binary PATH]

The reference is by default the committed HEAD, built from `git archive` in a
directory under --work (the repository is only read); the candidate is by
default build-bench/convert.cgi, the working tree as bench/run.py builds it.
Both run on fresh copies at the same path, with the same CGI environment,
REMOTE_ADDR and TZ, one right after the other: the added-by note holds the
date, so the two runs of a case see the same day (a run across midnight can
differ there and nowhere else). Exit status 0 when every case matches.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
from convert_tools import installations  # noqa: E402

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_reference(revision, work):
    """Builds convert.cgi of a committed revision; returns its path."""
    commit = subprocess.run(["git", "-C", REPOSITORY, "rev-parse", "--verify",
                             revision + "^{commit}"],
                            check=True, capture_output=True, text=True).stdout.strip()
    source = os.path.join(work, "reference-" + commit[:12])
    binary = os.path.join(source, "build", "convert.cgi")
    if not os.path.exists(binary):
        shutil.rmtree(source, ignore_errors=True)
        os.makedirs(source)
        archive = subprocess.run(["git", "-C", REPOSITORY, "archive", commit],
                                 check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", source], input=archive, check=True)
        subprocess.run(["cmake", "-S", source, "-B", os.path.join(source, "build"), "-G",
                        "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DCONVERT_BUILD_TESTS=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", os.path.join(source, "build"), "--target",
                        "convert_cgi"], check=True, stdout=subprocess.DEVNULL)
    print("reference: %s (%s)" % (revision, commit[:12]))
    return binary


def convert(binary, source, target_template, scratch):
    """Runs binary on a fresh copy of the target; returns (page, files)."""
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    target = os.path.join(scratch, "kv2") + "/"
    subprocess.run(["cp", "-a", target_template, target], check=True)
    body, env = installations.conversion_request(source, target)
    page = subprocess.run([binary], input=body, env=env, capture_output=True,
                          check=True).stdout
    files = installations.snapshot(target, modes=True)
    shutil.rmtree(scratch)
    return page, files


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def compare(name, reference, candidate):
    """Prints what differs; returns True when nothing does."""
    (page_a, files_a), (page_b, files_b) = reference, candidate
    problems = []
    if page_a != page_b:
        at = first_difference(page_a, page_b)
        problems.append("page differs at byte %d: %r against %r" % (
            at, page_a[max(0, at - 40):at + 40], page_b[max(0, at - 40):at + 40]))
    for path in sorted(set(files_a) | set(files_b)):
        if path not in files_b:
            problems.append("%s: only the reference wrote it" % path)
        elif path not in files_a:
            problems.append("%s: only the candidate wrote it" % path)
        elif files_a[path][:2] != files_b[path][:2]:
            problems.append("%s: kind or mode %o against %o" % (
                path, files_a[path][1], files_b[path][1]))
        elif files_a[path][2] != files_b[path][2]:
            problems.append("%s: contents differ from byte %d" % (
                path, first_difference(files_a[path][2], files_b[path][2])))
    print("[%s] %s: page %d bytes, %d entries in the target" % (
        "SAME" if not problems else "DIFF", name, len(page_b), len(files_b)))
    for problem in problems[:20]:
        print("       " + problem)
    return not problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    choice = parser.add_mutually_exclusive_group()
    choice.add_argument("--reference", default="HEAD", help="a git revision to build")
    choice.add_argument("--reference-binary", help="an already built convert.cgi")
    parser.add_argument("--candidate-binary", default=os.path.join(
        REPOSITORY, "build-bench", "convert.cgi"))
    parser.add_argument("--work", default="/tmp/convert-identity")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    reference = args.reference_binary or build_reference(args.reference, args.work)
    candidate = os.path.abspath(args.candidate_binary)
    if not os.access(candidate, os.X_OK):
        sys.exit("missing %s: build it first (bench/run.py does)" % candidate)
    print("candidate: %s" % candidate)

    data = os.path.join(args.work, "data")
    examples = os.path.join(REPOSITORY, "examples")
    odd = installations.generate_odd(os.path.join(data, "odd"))
    plain = installations.generate(os.path.join(data, "plain"), 500, 1500, 2000)
    broken = os.path.join(data, "no-toplist")
    if not os.path.exists(broken):
        shutil.copytree(os.path.join(examples, "kv2"), broken, symlinks=True)
        os.remove(os.path.join(broken, installations.FILE["toplist"]))
    cases = [
        ("bundled example", os.path.join(examples, "tn3") + "/",
         os.path.join(examples, "kv2") + "/"),
        ("awkward trades", odd.source, odd.target),
        ("1,500 imports into 2,000 records", plain.source, plain.target),
        ("missing toplist (error page)", os.path.join(examples, "tn3") + "/", broken + "/"),
    ]
    scratch = os.path.join(args.work, "scratch")
    same = True
    for name, source, target in cases:
        before = installations.snapshot(source, modes=True)
        result_a = convert(reference, source, target, scratch)
        result_b = convert(candidate, source, target, scratch)
        same = compare(name, result_a, result_b) and same
        if installations.snapshot(source, modes=True) != before:
            print("       the source installation changed")
            same = False
    print("byte-identical" if same else "DIFFERENT OUTPUT")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
