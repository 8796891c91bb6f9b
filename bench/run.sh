#!/bin/bash
# The performance benchmark in one command: builds convert.cgi and the benchmark programs in
# Release (build-bench/), generates installations under /tmp/convert-bench, runs convert.cgi
# and the floor side by side and prints the figures and the three target checks, then the
# in-process micro-benchmarks. Exit status 1 when a target is missed.
#
#   bench/run.sh                  4,000 imports into 5,000 records, 50,000/100,000 known; about
#                                 2 minutes on an idle machine, up to 6 when others are busy
#   bench/run.sh --quick          a tenth of those sizes, 3 repetitions; seconds
#   bench/run.sh --reps 11 --imports 8000 --target 10000 --known 20000
#   bench/run.sh --scratch /tmp   write the copies on disk instead of /dev/shm
#   bench/run.sh --disk --reference 8911bda
#                                 also 50,000 imports into 50,000 records and 100,000 into
#                                 100,000 on the disk (/var/tmp/convert-bench-disk, or
#                                 --disk DIR), 3 runs each, beside a build of the revision,
#                                 then a run after a kill half way through the first;
#                                 needs about 10 GiB free for a while, 10 to 20 minutes
#   bench/run.sh --disk-only ...  the disk cases alone
#   bench/run.sh --no-micro       skip the Google Benchmark cases
#   bench/run.sh --identity       also compare every output byte with a build of git HEAD
# Other options go to bench/run.py (see python3 bench/run.py --help). The benchmark's own
# checks (bench/bench_test.py) run first.
set -euo pipefail
cd "$(dirname "$0")/.."

micro=1
identity=0
args=()
for arg in "$@"; do
  case "$arg" in
    --no-micro) micro=0 ;;
    --identity) identity=1 ;;
    *) args+=("$arg") ;;
  esac
done

scripts/install_deps.sh

cmake --preset bench > /dev/null
cmake --build --preset bench > /dev/null

python3 bench/bench_test.py --build-dir build-bench 2> /dev/null ||
  { python3 bench/bench_test.py --build-dir build-bench; exit 1; }
status=0
python3 bench/run.py --build-dir build-bench "${args[@]}" || status=$?
if [ "$identity" = 1 ]; then
  echo
  echo "== byte identity against a build of git HEAD"
  python3 bench/identity.py --candidate-binary build-bench/convert.cgi || status=1
fi
if [ "$micro" = 1 ]; then
  echo
  echo "== in-process hot spots (Google Benchmark)"
  build-bench/bench/convert_benchmarks --benchmark_min_time=0.2 2> /dev/null
fi
exit "$status"
