#!/usr/bin/env bash
# Check that the tree keeps its one style: every C++ file as .clang-format
# lays it out, and no line of code (tables clang-format leaves alone
# included), script or build file past 100 columns.
#   scripts/style.sh          check (exit 1 and name the files that stray)
#   scripts/style.sh --fix    reformat the C++ files in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
mapfile -t others < <(git ls-files '*.sh' '*.py' '*.awk' '*.in' 'CMakeLists.txt' '*/CMakeLists.txt')

if [ "${1:-}" = --fix ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi

status=0
if ! clang-format --dry-run --Werror "${sources[@]}" 2>/tmp/style.$$; then
  grep -o '^[^:]*:' /tmp/style.$$ | sort -u | sed 's/:$/: not as .clang-format lays it out/'
  status=1
fi
rm -f /tmp/style.$$
if awk 'length > 100 { print FILENAME ":" FNR ": longer than 100 columns"; bad = 1 }
        END { exit bad }' "${sources[@]}" "${others[@]}"; then :; else status=1; fi
exit $status
