#!/bin/bash
# valgrind_check.sh VALGRIND PROGRAM: converts a scratch copy of the example installations once
# with convert.cgi PROGRAM under VALGRIND. Any memory error or leak (definite or possible) fails
# it, and so does a page without an imported trade or without its closing block. The test
# valgrind_conversion (label memcheck) runs it: ctest --preset memcheck.
set -euo pipefail
valgrind=$1 program=$(realpath "$2")
cd "$(dirname "$0")/.."
scratch=$(mktemp -d /tmp/convert_valgrind_XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp -a examples/tn3 examples/kv2 "$scratch/"
body="tolvane3=$scratch/tn3/&kavrelv2=$scratch/kv2/&submit=submit"
if ! printf '%s' "$body" | env -i CONTENT_LENGTH=${#body} SCRIPT_FILENAME="$program" \
    REMOTE_ADDR=127.0.0.1 TZ=UTC "$valgrind" --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,possible --log-file="$scratch/valgrind.log" \
    "$program" > "$scratch/page.html"; then
  cat "$scratch/valgrind.log"
  echo "valgrind: errors in the conversion run" >&2
  exit 1
fi
added=$(grep -o 'added [^<]*<br>' "$scratch/page.html" | wc -l)
# The page must end with the closing block (testing/golden/ holds the expected texts).
closing=testing/golden/closing_block.txt
if [ "$added" -eq 0 ] || ! cmp -s <(tail -c "$(wc -c < "$closing")" "$scratch/page.html") "$closing"; then
  cat "$scratch/page.html"
  echo "valgrind: the run did not convert the examples" >&2
  exit 1
fi
grep 'ERROR SUMMARY' "$scratch/valgrind.log"
echo "valgrind: clean conversion, $added trade(s) added"
