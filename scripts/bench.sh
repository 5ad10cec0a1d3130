#!/usr/bin/env bash
# Measure the filter: build in Release into build-bench/, then run the
# whole-job benchmark (A4 pages at 1440 x 720 dpi against the libcups floor:
# seconds per page, MB/s, peak memory) and the image library's
# micro-benchmarks, then the whole print path (--no-path skips it). It first
# times one six-ink line on each processor.
#
#   scripts/bench.sh [--filter PATH] [--runs N] [--cases NAME,...]
#                    [--threads "1 N ..."] [--micro REGEX] [--no-micro] [--no-jobs]
#                    [--no-path]
#
# --filter measures another build of the filter (for before/after figures).
# --threads lists the INKBANDS_THREADS settings the jobs run with (default:
# 1 and the number of processors), each reporting wall and processor time.
# The whole print path prints samples/photo.pdf (A4, full bleed) at
# 1440 x 720 dpi with the family 7 PPD through cupsfilter -e, as a user's job
# takes it, in Photo, CMYK and Gray, by today's route (pdftoinkbands, then
# rastertoinkbands) and, side by side, by the former one (pdftoraster straight
# to the filter): median wall time and the peak memory of every process.
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
do_path=1
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
    --no-path) do_path=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINKBANDS_BENCH=ON >/dev/null
cmake --build "$build" --target inkbands inkbands-floor inkbands-jobbench inkbands-microbench \
  rastertoinkbands pdftoinkbands kcmy_profile ppds >/dev/null
filter=${filter:-$PWD/$build/inkbands}

# A virtual machine's processors need not run at the same speed (a host
# may load one of them): then two threads' processor time is not comparable
# with one thread's. The same six-ink line on each processor shows it.
echo "== processors (one six-ink line, ns)"
speeds=$(for cpu in $(seq 0 $(($(nproc) - 1))); do
  taskset -c "$cpu" "$build/bench/inkbands-microbench" --benchmark_filter='Dither6_NoSplit$' \
    --benchmark_min_time=0.3 2>/dev/null | awk -v c="$cpu" '/Dither6/ {print c, $2}'
done)
echo "$speeds" | awk '{printf "processor %s: %s\n", $1, $2; if (min == "" || $2 < min) min = $2
  if ($2 > max) max = $2} END {if (max > 1.1 * min) print "processors differ by more than" \
  " a tenth: compare processor times of one and more threads with care"}'

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

# --- The whole print path -----------------------------------------------------

# A cupsfilter set-up for one route in $1: the system's filters and ours, each
# run under GNU time so that it logs its wall time and peak memory to
# $1/procs (Ghostscript too: gstoraster finds it in the filter directory).
path_route() {  # DIR CONVS-LINE PPD-SED
  local dir=$1 entry name
  rm -rf "$dir" && mkdir -p "$dir/bin/filter" "$dir/data/mime"
  for entry in "$(cups-config --serverbin)"/*; do
    [ "${entry##*/}" = filter ] || ln -s "$entry" "$dir/bin/"
  done
  for entry in "$(cups-config --datadir)"/*; do
    case ${entry##*/} in mime | model | drv | profiles) ;; *) ln -s "$entry" "$dir/data/" ;; esac
  done
  mkdir -p "$dir/data/profiles"
  cp "$build/route/inkbands-kcmy.icc" "$dir/data/profiles/"
  for entry in "$(cups-config --datadir)"/mime/*; do
    case ${entry##*/} in inkbands.*) ;; *) ln -s "$entry" "$dir/data/mime/" ;; esac
  done
  cp ppd/inkbands.types "$dir/data/mime/"
  echo "$2" >"$dir/data/mime/inkbands.convs"
  sed "$3" "$build/ppd/fam7.ppd" >"$dir/fam7.ppd"
  for entry in "$(cups-config --serverbin)"/filter/* "$filter" \
    "$PWD/$build/route/rastertoinkbands" "$PWD/$build/route/pdftoinkbands" \
    "$(command -v gs)"; do
    name=${entry##*/}
    case $name in *epson* | *escp*) continue ;; esac
    printf '#!/bin/sh\nexec /usr/bin/time -a -o %s -f "%s %%e %%M" %s "$@"\n' \
      "$dir/procs" "$name" "$entry" >"$dir/bin/filter/$name"
    chmod 755 "$dir/bin/filter/$name"
  done
  printf 'ServerBin %s\nDataDir %s\n' "$dir/bin" "$dir/data" >"$dir/cups-files.conf"
}

# One job: its wall time and CPU seconds to $dir/runs, the peak memory of
# each of its processes to $dir/peaks.
path_job() {  # DIR MODEL
  local dir=$1 model=$2 start end
  : >"$dir/procs"
  start=$(date +%s.%N)
  if ! /usr/bin/time -o "$dir/cpu" -f "%U %S" cupsfilter -c "$dir/cups-files.conf" -e \
    -p "$dir/fam7.ppd" -m printer/inkbands -o ColorModel="$model" \
    -o Resolution=1440x720dpi -o PageSize=A4 -o MediaType=Glossy samples/photo.pdf \
    >"$dir/out.prn" 2>"$dir/log" || [ ! -s "$dir/out.prn" ]; then
    echo "$model: the job failed; see $dir/log" >&2
    return 1
  fi
  end=$(date +%s.%N)
  awk -v m="$model" -v t="$start" -v u="$end" '{print m, u - t, $1 + $2}' "$dir/cpu" >>"$dir/runs"
  awk -v m="$model" '{print m, $1, $3}' "$dir/procs" >>"$dir/peaks"
}

# The median of field $3 of the lines of file $1 that start with $2.
median() {  # FILE MODEL FIELD
  awk -v m="$2" -v f="$3" '$1 == m {print $f}' "$1" | sort -n |
    awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# The highest peak memory of each process of a colour model's jobs, in MiB,
# in the order the processes ended.
peaks() {  # FILE MODEL
  awk -v m="$2" '$1 == m {
      if (!($2 in kb)) order[++n] = $2
      if ($3 > kb[$2]) kb[$2] = $3
    }
    END {
      for (i = 1; i <= n; i++)
        printf "%s%s %.0f", (i > 1 ? ", " : ""), order[i], kb[order[i]] / 1024
    }' "$1"
}

if [ "$do_path" = 1 ]; then
  for tool in cupsfilter cups-config gs; do
    command -v "$tool" >/dev/null || { echo "the whole path needs $tool" >&2; exit 1; }
  done
  [ -x /usr/bin/time ] || { echo "the whole path needs GNU time (/usr/bin/time)" >&2; exit 1; }
  path=$data/path
  # Former route: pdftoraster renders photo pages KCMYcm itself.
  path_route "$path/pdftoraster" \
    "application/vnd.cups-pdf application/vnd.inkbands-raster 0 pdftoraster" \
    '/^\*ColorModel Photo/s/cupsColorSpace 8/cupsColorSpace 9/'
  path_route "$path/gstoraster" "$(cat ppd/inkbands.convs)" ''
  models=(Photo CMYK Gray)
  for route in pdftoraster gstoraster; do : >"$path/$route/runs"; : >"$path/$route/peaks"; done
  # Runs alternate between the routes so that both share the machine's load.
  for run in $(seq "$runs"); do
    for model in "${models[@]}"; do
      for route in pdftoraster gstoraster; do path_job "$path/$route" "$model" || exit 1; done
    done
  done
  echo "== whole path: samples/photo.pdf, A4, 1440 x 720 dpi, family 7 PPD, cupsfilter -e;" \
    "median of $runs"
  printf '%-12s %-6s %7s %7s  %s\n' route model "wall s" "cpu s" \
    "peak MiB of each process (highest of the runs)"
  for route in pdftoraster gstoraster; do
    for model in "${models[@]}"; do
      printf '%-12s %-6s %7.2f %7.2f  %s\n' "$route" "$model" \
        "$(median "$path/$route/runs" "$model" 2)" "$(median "$path/$route/runs" "$model" 3)" \
        "$(peaks "$path/$route/peaks" "$model")"
    done
  done
fi
