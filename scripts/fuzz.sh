#!/usr/bin/env bash
# Fuzz the filter and the image library. Builds the fuzz targets with clang
# (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) into build-fuzz/
# and runs each target on one core for the given time:
#   fuzz_filter  whole jobs: a PPD and a raster stream made from the input,
#                printed in-process; see fuzz/fuzz_job.h
#   fuzz_driver  the image library's calls against plain models of them
# Every saved finding (fuzz/regressions/) and seed (fuzz/corpus/) runs first.
# A crash, hang (10 s), leak, memory blow-up (3 GB) or failed check stops the
# target and fails the script; the input is left in build-fuzz/findings/.
# Replay one with: build-fuzz/fuzz/fuzz_filter FILE (INKBANDS_FUZZ_SAVE=x
# also writes the job as x.ppd and x.ras for the filter binary). Fix it, then
# keep the input in fuzz/regressions/<filter|driver>/ under a name saying
# what it broke.
#
# Usage: scripts/fuzz.sh [seconds-per-target]     (default 60)
# A longer campaign, e.g. overnight:  scripts/fuzz.sh 3600
# New inputs that reach new code gather in build-fuzz/corpus/ between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

./scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DINKBANDS_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build-fuzz -j"$(nproc)" --target fuzz_filter fuzz_driver \
     >build-fuzz/build.log 2>&1; then
  cat build-fuzz/build.log >&2
  exit 1
fi

failed=0
for kind in filter driver; do
  corpus=build-fuzz/corpus/$kind
  findings=build-fuzz/findings/$kind
  mkdir -p "$corpus" "$findings" "fuzz/corpus/$kind" "fuzz/regressions/$kind"
  log=build-fuzz/fuzz_$kind.log
  echo "fuzz_$kind: $seconds s (log: $log)"
  if build-fuzz/fuzz/fuzz_$kind -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=3072 -max_len=4096 -print_final_stats=1 \
       -artifact_prefix="$findings/" \
       "$corpus" "fuzz/corpus/$kind" "fuzz/regressions/$kind" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz_$kind: no findings in $runs runs"
  else
    failed=1
    echo "fuzz_$kind: FINDING, see $log and $findings/" >&2
    grep -m3 -E 'ERROR|runtime error|fuzz_(filter|driver):' "$log" >&2 || true
  fi
done
exit $failed
