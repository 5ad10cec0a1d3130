#!/usr/bin/env bash
# Check that two builds of the filter print the same bytes: run both on a
# corpus of jobs (every family, woven and unwoven, every ink set, 1-bit and
# 8-bit input, compression 0/1/2, several media, multi-page and cut-off jobs)
# and compare standard output byte for byte, the exit status, and standard
# error with pointer values masked.
#
#   scripts/compare.sh [--pipe] [BEFORE [AFTER]]
#   scripts/compare.sh [--pipe] --rev REV [AFTER]
#
# BEFORE is a filter binary (default /tmp/inkbands-before); --rev builds it
# from a git revision of this tree instead (for instance HEAD). AFTER
# defaults to a Release build of the working tree in build-bench/. The
# corpus is written once to $INKBANDS_CORPUS (default /tmp/inkbands-corpus)
# and rewritten when its generator changes. --pipe gives AFTER its raster
# through a pipe, as a filter before it in CUPS would, instead of by name.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
corpus=${INKBANDS_CORPUS:-/tmp/inkbands-corpus}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pipe=0
if [ "${1:-}" = --pipe ]; then
  pipe=1
  shift
fi

if [ "${1:-}" = --rev ]; then
  rev=${2:?--rev needs a revision}
  shift 2
  mkdir "$work/src"
  git archive "$rev" | tar -x -C "$work/src"
  cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$work/build" --target inkbands >/dev/null
  before=$work/build/inkbands
else
  before=$(realpath "${1:-/tmp/inkbands-before}")
  shift || true
fi
after=${1:-}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINKBANDS_BENCH=ON >/dev/null
cmake --build "$build" --target inkbands inkbands-corpus >/dev/null
after=$(realpath "${after:-$build/inkbands}")
generator=$build/bench/inkbands-corpus

if [ ! -e "$corpus/jobs.txt" ] || [ "$generator" -nt "$corpus/jobs.txt" ]; then
  rm -rf "$corpus"
  "$generator" "$corpus"
fi

# Pointer values differ from run to run; everything else must not.
mask() { sed -E 's/0x[0-9a-f]{6,}/PTR/g' "$1"; }

echo "comparing $before"
echo "     with $after"
jobs=0 printed=0 refused=0 differ=0
while read -r name family; do
  jobs=$((jobs + 1))
  ppd=$corpus/fam$family.ppd
  a=0 b=0
  PPD=$ppd "$before" 1 user title 1 "" "$corpus/$name.ras" >"$work/a.out" 2>"$work/a.err" || a=$?
  if [ "$pipe" = 1 ]; then
    PPD=$ppd "$after" 1 user title 1 "" < <(cat "$corpus/$name.ras") \
      >"$work/b.out" 2>"$work/b.err" || b=$?
  else
    PPD=$ppd "$after" 1 user title 1 "" "$corpus/$name.ras" >"$work/b.out" 2>"$work/b.err" || b=$?
  fi
  if [ "$a" = 0 ]; then printed=$((printed + 1)); else refused=$((refused + 1)); fi
  problem=
  [ "$a" = "$b" ] || problem="exit status $a / $b"
  if ! cmp -s "$work/a.out" "$work/b.out"; then
    problem="$problem; stdout: $(cmp "$work/a.out" "$work/b.out" 2>&1 | head -1 || true)"
  fi
  mask "$work/a.err" >"$work/a.masked"
  mask "$work/b.err" >"$work/b.masked"
  if ! cmp -s "$work/a.masked" "$work/b.masked"; then
    problem="$problem; stderr: $(diff "$work/a.masked" "$work/b.masked" | sed -n 2p || true)"
  fi
  if [ -n "$problem" ]; then
    differ=$((differ + 1))
    echo "DIFFERENT job $name (family $family): $problem"
  fi
done <"$corpus/jobs.txt"

echo "$jobs jobs ($printed printed, $refused with exit status 1): $differ different"
[ "$differ" = 0 ]
