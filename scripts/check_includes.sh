#!/bin/bash
# Fails when an #include goes the wrong way between folders. Includes go down only:
#   base/        nothing of ours but base/
#   journal/     base/, journal/
#   import/      base/, journal/, import/
#   companion/   base/, journal/, import/, companion/
#   conversion/  all of the above and conversion/
#   cgi/, cli/   all of the above and their own folder, never each other
# and no product file includes the test support in testing/.
set -euo pipefail
cd "$(dirname "$0")/.."
# The files come from git. Where git lists none (not a clone, or one it refuses to read as this
# user, "dubious ownership"), the check fails rather than pass having read nothing.
git ls-files --error-unmatch '*.cc' '*.h' > /dev/null ||
  { echo "include rules not checked: git lists no .cc and .h files here" >&2; exit 1; }
allowed() {  # folder, then the pattern of what its files may include
  git ls-files "$1/*.cc" "$1/*.h" | grep -v '_test\.cc$' | xargs grep -Hn '^#include "' |
    grep -Ev "#include \"($2)\"" || true
}
wrong=$( {
  allowed base 'base/[^"]*'
  allowed journal 'base/[^"]*|journal/[^"]*'
  allowed import 'base/[^"]*|journal/[^"]*|import/[^"]*'
  allowed companion 'base/[^"]*|journal/[^"]*|import/[^"]*|companion/[^"]*'
  allowed conversion 'base/[^"]*|journal/[^"]*|import/[^"]*|companion/[^"]*|conversion/[^"]*'
  allowed cgi 'base/[^"]*|journal/[^"]*|import/[^"]*|companion/[^"]*|conversion/[^"]*|cgi/[^"]*'
  allowed cli 'base/[^"]*|journal/[^"]*|import/[^"]*|companion/[^"]*|conversion/[^"]*|cli/[^"]*'
})
if [ -n "$wrong" ]; then
  echo "includes that go the wrong way:" >&2
  echo "$wrong" >&2
  exit 1
fi
echo "includes go down only"
