#!/bin/bash
# The whole print path, as a user's job takes it: a private cupsd with the
# installed layout (PPDs in the model directory, the MIME rules, the filters),
# queues added with lpadmin, a PDF, PostScript and raster printed with lp
# through the route CUPS chooses, and the printer stream that reaches the
# device read back command by command.  Also cupsfilter with a PPD.
# Black text in RGB must print in black ink alone.
#
# Usage: print_path.sh FILTER PPD_DIR SOURCE_PPD_DIR
#   FILTER          the built inkbands filter (the route's steps, route/ beside it,
#                   inkbands-preview in tools/)
#   PPD_DIR         the compiled PPDs (famN.ppd)
#   SOURCE_PPD_DIR  ppd/ of the source tree (inkbands.types, inkbands.convs)
# Exit status 77 (skipped) when not root or when CUPS or Ghostscript is
# missing.
set -u
filter=$1 ppds=$2 mimesrc=$3
preview=$(dirname "$filter")/tools/inkbands-preview
. "$(dirname "$0")/private_cupsd.sh"

cupsd_prepare_route "$filter" "$mimesrc" cupsfilter awk
cupsd_install_ppds "$ppds"/fam*.ppd
ppd_count=$(ls "$ppds"/fam*.ppd | wc -l)
cupsd_start

# --- The PPDs as lpinfo -m lists them -------------------------------------

listed=$(lpinfo -m 2>/dev/null | grep -c '^inkbands/fam[0-9]*\.ppd ')
[ "$listed" = "$ppd_count" ] ||
  fail "lpinfo -m lists $listed inkbands PPDs, $ppd_count were built"
fam7='inkbands/fam7.ppd Generic ESC/P2 printer, family 7: photo printer, variable dots (inkbands)'
lpinfo -m 2>/dev/null | grep -qx "$fam7" ||
  fail "lpinfo -m does not list family 7 by what it does"

# --- Queues -----------------------------------------------------------------

add_queue() {  # NAME, then the PPD arguments of lpadmin
  local name=$1
  shift
  lpadmin -p "$name" -E -v "file://$T/out/$name.prn" "$@" 2>"$T/log/lpadmin-$name" ||
    fail "lpadmin could not add $name: $(cat "$T/log/lpadmin-$name")"
}
add_queue fam7-gray -m inkbands/fam7.ppd
add_queue fam7-colour -P "$ppds/fam7.ppd"
add_queue fam7-photo -P "$ppds/fam7.ppd"
add_queue fam5-photo -P "$ppds/fam5.ppd"
add_queue fam10000-photo -P "$ppds/fam10000.ppd"
add_queue fam7-ps -P "$ppds/fam7.ppd"
add_queue fam7-raster -P "$ppds/fam7.ppd"
add_queue fam7-black -P "$ppds/fam7.ppd"

# --- The document: a small photo-sized PDF with grey, light and full inks ---

cat >"$T/page.ps" <<'EOF'
%!PS-Adobe-3.0
%%BoundingBox: 0 0 288 432
<< /PageSize [288 432] >> setpagedevice
0 1 7 { dup 0.125 mul setgray 8 mul 36 add 360 8 24 rectfill } for
0.25 0 0 0 setcmykcolor 36 320 30 24 rectfill
0 0.25 0 0 setcmykcolor 72 320 30 24 rectfill
1 0 0 0 setcmykcolor 108 320 12 24 rectfill
0 0 1 0 setcmykcolor 126 320 12 24 rectfill
0 setgray /Helvetica findfont 10 scalefont setfont 36 300 moveto (inkbands) show
showpage
EOF
gs -q -dSAFER -sDEVICE=pdfwrite -o "$T/page.pdf" "$T/page.ps" || { echo "FAIL: no PDF"; exit 1; }
# Black text as most applications write it: in RGB.
cat >"$T/black.ps" <<'EOF'
%!PS-Adobe-3.0
<< /PageSize [288 432] >> setpagedevice
0 0 0 setrgbcolor /Helvetica findfont 24 scalefont setfont 36 360 moveto (inkbands) show
showpage
EOF
gs -q -dSAFER -sDEVICE=pdfwrite -o "$T/black.pdf" "$T/black.ps" || { echo "FAIL: no PDF"; exit 1; }
# The photo job's page as an application would send it: raster made for the
# printer's PPD (photo pages come in KCMY, as every rasterizer renders them).
photo_options=(-o ColorModel=Photo -o Resolution=720dpi -o MediaType=Matte -o PageSize=4x6)
cupsfilter -c "$T/root/cups-files.conf" -p "$ppds/fam7.ppd" -m application/vnd.cups-raster \
  "${photo_options[@]}" "$T/page.pdf" >"$T/page.ras" 2>"$T/log/cupsfilter-raster" ||
  fail "cupsfilter could not make raster: $(grep -v '^D' "$T/log/cupsfilter-raster" | tail -n 3)"

declare -A job_id
print_job() {  # QUEUE DOCUMENT, then lp options
  local queue=$1 document=$2 reply
  shift 2
  reply=$(lp -d "$queue" "$@" "$document" 2>&1)
  job_id[$queue]=$(echo "$reply" | sed -n "s/^request id is $queue-\([0-9]*\) .*/\1/p")
  [ -n "${job_id[$queue]}" ] || fail "lp on $queue: $reply"
}
print_job fam7-gray "$T/page.pdf" -o ColorModel=Gray -o Resolution=720dpi -o MediaType=Plain \
  -o Weave=Printer -o PageSize=4x6
# Colour is what a job gets that names no colour model (IPP's colour mode);
# photo printing, what the best print quality gets on a photo printer.
print_job fam7-colour "$T/page.pdf" -o Resolution=1440x720dpi -o MediaType=Glossy -o PageSize=4x6
print_job fam7-photo "$T/page.pdf" "${photo_options[@]}"
print_job fam7-ps "$T/page.ps" "${photo_options[@]}"
print_job fam7-raster "$T/page.ras" "${photo_options[@]}"
print_job fam7-black "$T/black.pdf" -o ColorModel=CMYK -o Resolution=360dpi -o PageSize=4x6
print_job fam5-photo "$T/page.pdf" -o ColorModel=Photo -o Resolution=360dpi -o MediaType=Special \
  -o InputSlot=Roll -o Compression=PackBits -o PageSize=4x6
print_job fam10000-photo "$T/page.pdf" -o print-quality=5 -o MediaType=Archival \
  -o InputSlot=Roll -o CutMedia=True -o PageSize=Custom.288x432

wait_for_jobs 45 "${job_id[@]}"

# --- What reached each printer ----------------------------------------------

# Job start of families below 5000: leave packet mode, then reset.
ejl_start='00 00 00
ESC 01
"@EJL 1284.4\n"
"@EJL     \n"
ESC @'

# The page start of each job, as the printer reads it.  Family 7's on 4x6
# paper differ only in the remote-mode media settings (ink mode, photo inks,
# media type, thickness), the unit, direction, dot size and raster unit.
fam7_start() {  # SN-0 SN-1 MT PH UNIT-X DIRECTION DOTS RASTER-UNIT
  printf '%s\n' 'ESC @' 'ESC ( R 00 52 45 4d 4f 54 45 31' 'ST 00 00' "SN 00 00 $1" \
    "SN 00 01 $2" "MT 00 00 $3" "PH 00 $4" 'ESC 00 00 00' 'ESC ( G 01' "ESC ( U 02 02 $5 a0 05" \
    'ESC ( S 40 0b 00 00 e0 10 00 00' 'ESC ( c 55 00 e0 10' 'ESC ( V 55 00' "ESC U $6" \
    "ESC ( i $7" "ESC ( D 40 38 $8" 'ESC ( e 00 10'
}
declare -A page_start
page_start[fam7-gray]=$(fam7_start 01 00 01 01 02 01 02 '14 14')
page_start[fam7-colour]=$(fam7_start 02 00 03 02 01 00 00 '78 28')
page_start[fam7-photo]=$(fam7_start 02 01 02 02 02 01 00 '78 28')
page_start[fam5-photo]='ESC @
ESC ( R 00 52 45 4d 4f 54 45 31
ST 00 00
SN 00 00 02
SN 00 01 00
EX 00 00 00 00 05 01
MT 00 00 01
PH 00 01
ESC 00 00 00
ESC ( G 01
ESC ( U 0a
ESC ( C 70 08
ESC ( c 2a 00 70 08
ESC ( V 2a 00
ESC U 01
ESC ( i 00
ESC ( e 00 02'
page_start[fam10000-photo]='ESC @
ESC ( R 00 52 45 4d 4f 54 45 31
ST 00 00
SN 00 00 02
SN 00 01 01
PC 00 00
PP 00 03 00
MT 00 00 02
PH 00 02
AC 00 01
ESC 00 00 00
ESC ( G 01
ESC ( U 02 02 01 a0 05
ESC ( S 40 0b 00 00 e0 10 00 00
ESC ( c 55 00 00 00 8b 10 00 00
ESC ( V 55 00
ESC U 02
ESC 00*27
ESC ( i 03
ESC ( D 40 38 14 0a
ESC ( e 00 10'

# The inks each job must print, by colour code (ESC i) or colour selection
# (ESC r, and ESC ( r for light inks).
declare -A inks
inks[fam7-gray]='00'
inks[fam7-colour]='00 01 02 04'
inks[fam7-photo]='00 01 02 04 11 12'
inks[fam5-photo]='00 01 02 04 11 12'
inks[fam10000-photo]='00 01 02 04 11 12'
for queue in fam7-ps fam7-raster; do
  page_start[$queue]=${page_start[fam7-photo]}
  inks[$queue]=${inks[fam7-photo]}
done

# The filters each job must pass: documents through Ghostscript's banded
# raster device, then the step that marks photo pages six-ink; raster from an
# application through that step alone.
declare -A route
for queue in fam7-gray fam7-colour fam7-photo fam5-photo fam10000-photo; do
  route[$queue]='pdftopdf pdftoinkbands rastertoinkbands inkbands'
done
route[fam7-ps]='gstopdf pdftopdf pdftoinkbands rastertoinkbands inkbands'
route[fam7-raster]='rastertoinkbands inkbands'

filters_started() {  # JOB-ID
  sed -n "s|.*\[Job $1\] Started filter .*/\([^/ ]*\) (PID .*|\1|p" "$T/log/error_log" |
    tr '\n' ' ' | sed 's/ $//'
}

# The colour codes of the raster commands that carry ink.
inks_printed() {
  awk '/^ESC i / && !/blank>$/ { used[$3] = 1 }
       /^ESC r / { colour = $3 }
       /^ESC \( r 01 / { colour = "1" substr($5, 2) }
       /^ESC \. / && !/blank>$/ { used[colour == "" ? "00" : colour] = 1 }
       END { for (c in used) print c }' "$1" | sort | tr '\n' ' ' | sed 's/ $//'
}

# A listing of the printer stream, one command a line.
list_commands() {
  "$preview" --commands "$1"
}

check_stream() {  # QUEUE FAMILY
  local queue=$1 family=$2 listing=$T/out/$1.txt start expected got tail_expected
  if [ ! -s "$T/out/$queue.prn" ]; then
    fail "$queue: nothing reached the printer"
    return
  fi
  list_commands "$T/out/$queue.prn" >"$listing"
  if grep -q '^??' "$listing"; then
    fail "$queue: unreadable printer stream: $(grep -m1 '^??' "$listing")"
  fi
  if [ "$family" -lt 5000 ]; then
    start=$ejl_start
    tail_expected='FF
ESC @'
  else
    start=""
    tail_expected='FF
ESC @
ESC ( R 00 52 45 4d 4f 54 45 31
LD
ESC 00 00 00'
  fi
  expected=$(printf '%s\n%s' "$start" "${page_start[$queue]}" | sed '/^$/d')
  got=$(head -n "$(echo "$expected" | wc -l)" "$listing")
  if [ "$got" != "$expected" ]; then
    fail "$queue: job and page start differ from the printer's commands for family $family:"
    diff <(echo "$expected") <(echo "$got") | head -n 20
  fi
  got=$(tail -n "$(echo "$tail_expected" | wc -l)" "$listing")
  [ "$got" = "$tail_expected" ] ||
    fail "$queue: the page does not end with a form feed and the job end:" \
      "$(echo "$got" | tr '\n' '|')"
  [ "$(grep -c '^FF$' "$listing")" = 1 ] || fail "$queue: expected one page"
  got=$(inks_printed "$listing")
  [ "$got" = "${inks[$queue]}" ] ||
    fail "$queue: raster rows with ink in colours '${got}', expected '${inks[$queue]}'"
}

check_job() {  # QUEUE FAMILY
  local queue=$1 family=$2 id=${job_id[$1]:-}
  [ -n "$id" ] || return
  if ! grep -q "\[Job $id\] Job completed" "$T/log/error_log"; then
    fail "$queue: job $id did not complete"
    show_job_log "$id"
    return
  fi
  if grep -q "^E .*\[Job $id\]" "$T/log/error_log"; then
    fail "$queue: job $id logged errors"
    grep "^E .*\[Job $id\]" "$T/log/error_log" | head -n 10
  fi
  # cupsd counts the pages the filter announces and logs the total.
  got=$(grep "^$queue $id " "$T/log/page_log")
  [ "$got" = "$queue $id total 1" ] ||
    fail "$queue: page log holds '$(echo "$got" | tr '\n' '|')', expected a total of one page"
  got=$(filters_started "$id")
  [ "$got" = "${route[$queue]}" ] ||
    fail "$queue: the job went through '$got', expected '${route[$queue]}'"
  check_stream "$queue" "$family"
}

check_job fam7-gray 7
check_job fam7-colour 7
check_job fam7-photo 7
check_job fam5-photo 5
check_job fam10000-photo 10000
check_job fam7-ps 7
check_job fam7-raster 7
# A colour page's black text prints in black ink alone: no composite black.
if grep -q "\[Job ${job_id[fam7-black]:-none}\] Job completed" "$T/log/error_log"; then
  list_commands "$T/out/fam7-black.prn" >"$T/out/fam7-black.txt"
  got=$(inks_printed "$T/out/fam7-black.txt")
  [ "$got" = 00 ] || fail "fam7-black: RGB black text printed in colours '$got', expected '00'"
else
  fail "fam7-black: the job did not complete"
fi
# The same raster prints the same bytes, whether a rasterizer made it inside
# the job or an application sent it.
cmp -s "$T/out/fam7-photo.prn" "$T/out/fam7-raster.prn" ||
  fail "fam7-raster: the application's raster of the photo page printed other bytes"

# A woven page goes out in bands of several rows; a page left to the printer's
# own microweave, one row per command.
rows_sent() {  # LISTING: the row counts of its raster commands, one of each
  awk '$1 == "ESC" && $2 == "i" { print $7 }' "$1" | sort -u | tr '\n' ' '
}
[ "$(rows_sent "$T/out/fam7-gray.txt")" = "0001 " ] ||
  fail "fam7-gray: an unwoven page must be sent one row per command"
rows_sent "$T/out/fam7-photo.txt" | grep -qv '^0001 $' ||
  fail "fam7-photo: a woven page must be sent in bands"

# --- cupsfilter with a PPD ----------------------------------------------------

if cupsfilter -e -c "$T/root/cups-files.conf" -p "$ppds/fam6.ppd" -m printer/inkbands \
  -o ColorModel=Photo -o Resolution=360dpi -o PageSize=4x6 "$T/page.pdf" \
  >"$T/out/cupsfilter.prn" 2>"$T/log/cupsfilter"; then
  list_commands "$T/out/cupsfilter.prn" >"$T/out/cupsfilter.txt"
  got=$(inks_printed "$T/out/cupsfilter.txt")
  [ "$got" = '00 01 02 04 11 12' ] ||
    fail "cupsfilter: raster rows with ink in colours '$got', expected six inks"
  grep -q '^??' "$T/out/cupsfilter.txt" && fail "cupsfilter: unreadable printer stream"
else
  fail "cupsfilter could not print: $(grep -v '^D' "$T/log/cupsfilter" | tail -n 5)"
fi

cupsd_finish "print path: 8 jobs and cupsfilter printed as expected"
