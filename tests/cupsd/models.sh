#!/bin/bash
# The model PPDs in a private cupsd, as a user meets them: lpinfo -m lists
# every model of the table under Epson, a plugged-in printer's IEEE-1284
# device ID finds its own PPD first, and jobs print through model PPDs (the
# bundled sample raster, and a PDF through the whole rasterizer route).
#
# Usage: models.sh FILTER PREVIEW PPD_DIR SOURCE_DIR
#   FILTER      the built inkbands filter (route/rastertoinkbands beside it)
#   PREVIEW     the built inkbands-preview
#   PPD_DIR     the generated PPDs (famN.ppd and one per model, ppds.list)
#   SOURCE_DIR  the source tree (ppd/ MIME rules, samples/)
# Exit status 77 (skipped) when not root or when CUPS or Ghostscript is
# missing.
set -u
filter=$1 preview=$2 ppds=$3 source=$4
. "$(dirname "$0")/private_cupsd.sh"

cupsd_prepare_route "$filter" "$source/ppd" gunzip
mapfile -t built <"$ppds/ppds.list"
cupsd_install_ppds "${built[@]/#/$ppds/}"
models=$(grep -vc '^fam[0-9]*\.ppd$' "$ppds/ppds.list")
cupsd_start

# --- Every model under Epson --------------------------------------------------

listed=$(lpinfo -l -m 2>/dev/null | grep -c '^ *make-and-model = Epson ')
[ "$listed" = "$models" ] || fail "lpinfo -m lists $listed Epson models, $models were built"
lpinfo -m 2>/dev/null |
  grep -qx 'inkbands/stylus-photo-890.ppd Epson Stylus Photo 890 (inkbands)' ||
  fail "lpinfo -m does not list the Stylus Photo 890 by its name"

# --- A connected printer finds its PPD ------------------------------------------

# MDL as the printer reports it, and the PPD CUPS must offer first.  The
# Photo 785 reports another name than it was sold under; the Stylus COLOR
# models report capitals.
while IFS=$'\t' read -r mdl ppd; do
  got=$(lpinfo --device-id "MFG:EPSON;CMD:ESCPL2;MDL:$mdl;" -m 2>/dev/null | head -n 1)
  [ "${got%% *}" = "inkbands/$ppd" ] || fail "device ID MDL:$mdl finds '${got:-nothing}', not $ppd"
done <<'EOF'
Stylus Photo 890	stylus-photo-890.ppd
Stylus C84	stylus-c84.ppd
Stylus COLOR 680	stylus-color-680.ppd
Stylus Photo 785EPX	stylus-photo-785.ppd
Stylus Pro 9000	stylus-pro-9000.ppd
EOF

# --- Jobs through model PPDs ----------------------------------------------------

lpadmin -p photo750 -E -v "file://$T/out/photo750.prn" -m inkbands/stylus-photo-750.ppd ||
  fail "lpadmin could not add a Stylus Photo 750"
lpadmin -p c84 -E -v "file://$T/out/c84.prn" -m inkbands/stylus-c84.ppd ||
  fail "lpadmin could not add a Stylus C84"
gunzip -c "$source/samples/sample.ras.gz" >"$T/sample.ras"
gs -q -dSAFER -sDEVICE=pdfwrite -o "$T/sample.pdf" "$source/samples/sample.ps" ||
  fail "Ghostscript could not make the sample PDF"
declare -A job_id
for job in "photo750 $T/sample.ras" "c84 $T/sample.pdf"; do
  set -- $job
  reply=$(lp -d "$1" "$2" 2>&1)
  job_id[$1]=$(echo "$reply" | sed -n "s/^request id is $1-\([0-9]*\) .*/\1/p")
  [ -n "${job_id[$1]}" ] || fail "lp on $1: $reply"
done
wait_for_jobs 60 "${job_id[@]}"

# Each job completes, one page, and the stream reads back as one page.
for queue in "${!job_id[@]}"; do
  id=${job_id[$queue]}
  if ! grep -q "\[Job $id\] Job completed" "$T/log/error_log"; then
    fail "$queue: job $id did not complete"
    show_job_log "$id"
    continue
  fi
  [ "$(grep "^$queue $id " "$T/log/page_log")" = "$queue $id total 1" ] ||
    fail "$queue: cupsd did not count one page"
  "$preview" -o "$T/out/$queue" "$T/out/$queue.prn" >"$T/log/preview-$queue" 2>&1 ||
    fail "$queue: the printer stream does not read back: $(tail -n 2 "$T/log/preview-$queue")"
  [ -s "$T/out/$queue-1.png" ] && [ ! -e "$T/out/$queue-2.png" ] ||
    fail "$queue: the printer stream does not hold one page"
done

cupsd_finish "models: $models listed, 5 device IDs matched, 2 jobs printed"
