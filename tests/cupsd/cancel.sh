#!/bin/bash
# A job cancelled while the filter prints, through a private cupsd: cancel
# sends the filter SIGTERM, and what reached the device must still be a
# whole printer stream (the page ended with its form feed, the job with its
# end commands) that the preview decodes completely, also with a next job
# after it.
#
# Usage: cancel.sh FILTER PREVIEW PPD_DIR SOURCE_PPD_DIR
# Exit status 77 (skipped) when not root or when CUPS or Ghostscript is
# missing.
set -u
filter=$1 preview=$2 ppds=$3 mimesrc=$4
. "$(dirname "$0")/private_cupsd.sh"

cupsd_prepare_route "$filter" "$mimesrc" od cancel
cupsd_install_ppds "$ppds"/fam7.ppd
cupsd_start

lpadmin -p photo -E -v "file://$T/out/photo.prn" -m inkbands/fam7.ppd 2>"$T/log/lpadmin" ||
  fail "lpadmin: $(cat "$T/log/lpadmin")"

# Four A4 pages inked all over: seconds of work each at 1440 x 720 dpi.
cat >"$T/pages.ps" <<'EOF'
%!PS-Adobe-3.0
<< /PageSize [595 842] >> setpagedevice
1 1 4 {
  pop
  0 4 591 { dup 595 div 0 1 index 1 exch sub 0 setcmykcolor 0 4 842 rectfill } for
  showpage
} for
EOF
gs -q -dSAFER -sDEVICE=pdfwrite -o "$T/pages.pdf" "$T/pages.ps" || fail "no PDF"

reply=$(lp -d photo -o ColorModel=Photo -o Resolution=1440x720dpi -o MediaType=Glossy \
  -o PageSize=A4 "$T/pages.pdf" 2>&1)
id=$(echo "$reply" | sed -n 's/^request id is photo-\([0-9]*\) .*/\1/p')
[ -n "$id" ] || fail "lp: $reply"

# Cancel once the first bands have reached the device, while the filter is
# still in the middle of the job.
device=$T/out/photo.prn
for try in $(seq 600); do
  [ "$(stat -c %s "$device" 2>/dev/null || echo 0)" -gt 65536 ] && break
  job_over "$id" && break
  sleep 0.1
done
job_over "$id" && fail "the job ended before it could be cancelled"
cancel "photo-$id" || fail "cancel photo-$id"
wait_for_jobs 60 "$id"
# The filter may still be ending the page when cupsd logs the cancel.
for try in $(seq 50); do
  pgrep -f "$T/bin/filter/inkbands" >/dev/null || break
  sleep 0.1
done

size=$(stat -c %s "$device" 2>/dev/null || echo 0)
[ "$size" -gt 65536 ] || fail "the device got only $size bytes"
# The page ends with the form feed, the job with the reset (ESC @).
tail=$(tail -c 3 "$device" | od -An -tx1 | tr -d ' \n')
[ "$tail" = 0c1b40 ] || fail "the stream ends in $tail, not form feed and job end"
"$preview" --dump --no-images "$device" >"$T/log/dump" 2>&1 ||
  fail "the cancelled stream does not decode: $(tail -n 2 "$T/log/dump")"
cat "$device" "$device" >"$T/out/twice.prn"
"$preview" --dump --no-images "$T/out/twice.prn" >"$T/log/dump2" 2>&1 ||
  fail "a job after the cancelled one does not decode: $(tail -n 2 "$T/log/dump2")"

[ "$failures" -gt 0 ] && show_job_log "$id"
cupsd_finish "cancelled mid-job: $size bytes reached the device and decode completely"
