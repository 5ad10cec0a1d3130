#!/usr/bin/env bash
# Measure the filter: build in Release into build-bench/, then run the
# whole-job benchmark (A4 pages at 1440 x 720 dpi against the libcups floor:
# seconds per page, MB/s, peak memory) and the image library's
# micro-benchmarks.
#
#   scripts/bench.sh [--filter PATH] [--runs N] [--cases NAME,...]
#                    [--threads "1 N ..."] [--micro REGEX] [--no-micro] [--no-jobs]
#
# --filter measures another build of the filter (for before/after figures).
# --threads lists the INKBANDS_THREADS settings the jobs run with (default:
# 1 and the number of processors), each reporting wall and processor time.
# The raster files (about 3.5 GB) are written once to $INKBANDS_BENCH_DATA
# (default /tmp/inkbands-bench) and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
data=${INKBANDS_BENCH_DATA:-/tmp/inkbands-bench}
filter=
runs=3
cases=
micro=.
do_micro=1
do_jobs=1
threads="1 $(nproc)"
while [ $# -gt 0 ]; do
  case "$1" in
    --filter) filter=$(realpath "$2"); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --micro) micro=$2; shift 2 ;;
    --no-micro) do_micro=0; shift ;;
    --no-jobs) do_jobs=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINKBANDS_BENCH=ON >/dev/null
cmake --build "$build" --target inkbands inkbands-floor inkbands-jobbench inkbands-microbench >/dev/null
filter=${filter:-$PWD/$build/inkbands}

if [ "$do_jobs" = 1 ]; then
  mkdir -p "$data"
  free=$(df -Pk "$data" | awk 'NR==2 {print $4}')
  if [ ! -e "$data/kcmycm-woven.ras.done" ] && [ "$free" -lt 4000000 ]; then
    echo "need about 4 GB free in $data for the raster files" >&2
    exit 1
  fi
  args=(--filter "$filter" --floor "$build/bench/inkbands-floor" --dir "$data" --runs "$runs")
  [ -n "$cases" ] && args+=(--cases "$cases")
  for t in $threads; do
    echo "== whole jobs: $filter, INKBANDS_THREADS=$t (load: $(cut -d' ' -f1-3 /proc/loadavg))"
    INKBANDS_THREADS=$t "$build/bench/inkbands-jobbench" "${args[@]}"
  done
fi

if [ "$do_micro" = 1 ]; then
  echo "== image library"
  "$build/bench/inkbands-microbench" --benchmark_filter="$micro" --benchmark_min_time=0.2
fi
