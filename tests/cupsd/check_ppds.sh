#!/bin/sh
# Checks the PPDs made from ppd/printers.tsv before any printer uses them:
#  - cupstestppd passes them all, with our filter programs where CUPS will
#    look for them;
#  - each generic PPD's family is the one its file is named after;
#  - every woven resolution keeps the filter's band slots (columns x nozzle
#    pitch) at 128 or fewer with at least one nozzle, also for the grey pages
#    that families 9, 10 and 11 print with their black heads, states the feed
#    the filter will use, and keeps the raster-unit command's one-byte fields
#    in range (whether the bands then land every row once is the round trip's
#    to prove: tests/ppd);
#  - no page, custom sizes included, is longer than the page-length commands
#    carry (65,535 rows) at the PPD's finest vertical resolution;
#  - nothing the commands cannot carry can be chosen: 2-bit dots on families
#    1 to 5, photo inks on family 9, the printer's weave at 1440 dpi on the
#    ESC . printers (families 4, 5, 5000) unless constrained away;
#  - every media type names both the paper (MediaType) and the remote-mode
#    media settings (cupsMediaType);
#  - the presets that IPP clients choose name only choices the PPD has.
# Usage: check_ppds.sh [--pending-filter NAME]... PROGRAM... -- PPD...
#   PROGRAM         a built filter program (inkbands, inkbands-commands)
#   NAME            a filter the PPDs name that is not built yet: cupstestppd
#                   then reports missing filters as warnings only
set -u
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
serverbin=$(cups-config --serverbin)
mkdir -p "$root$serverbin/filter"
lenient=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --pending-filter) echo "NOTE: $2 is not built; missing filters are warnings"
                      lenient="-W filters"; shift ;;
    *) ln -s "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" "$root$serverbin/filter/" ;;
  esac
  shift
done
shift

failed=0
# One run over every file keeps this fast; -q prints only the failures.
# shellcheck disable=SC2086
if ! cupstestppd -q $lenient -R "$root" "$@"; then
  cupstestppd $lenient -R "$root" "$@" | grep -v PASS | grep -B1 -A1 FAIL
  failed=1
fi

awk '
  function gcd(a, b,   t) { while (b) { t = a % b; a = b; b = t } return a }
  function bad(what) { printf "%s: %s\n", file, what; failed = 1 }
  # The band slots and feed the filter sets up for one resolution.
  function bands(name, grey, rows, xres, yres, step, cols,   nozzles, feed, slots, base) {
    nozzles = int(rows / step)
    if (family == 9 && grey) nozzles = 3 * (nozzles + nozzles % 2)
    else if ((family == 10 || family == 11) && grey) nozzles *= 3
    if (family == 10 && grey) step = int(step / 3)
    if (step < 1) { bad(name ": grey pages leave no vertical interleave"); return }
    slots = cols * step
    feed = int(int(rows / cols) / step)
    if (feed % 2 == nozzles % 2) feed--
    if (feed < 1) feed = 1
    if (slots > 128) bad(name ": " slots " band slots, more than 128")
    if (nozzles < 1) bad(name ": fewer rows than the nozzle pitch")
    if (!grey && feed != rowfeed) bad(name ": cupsRowFeed " rowfeed ", the filter feeds " feed)
    base = (family == 6 || family == 7 || family == 5500 || family >= 9000) ? 14400 : \
           (family >= 8 && family <= 11) ? 1440 : 0
    if (base && (int(base / yres) * step > 255 || int(base / xres) * cols > 255))
      bad(name ": raster unit does not fit in a byte")
  }
  function finish(   i, p, n, k, word, named, pair) {
    if (file == "") return
    if (file ~ /\/fam[0-9]+\.ppd$/) {
      named = file; sub(/.*\/fam/, "", named); sub(/\.ppd$/, "", named)
      if (family != named) bad("model number " family ", file says family " named)
    }
    if (!nres) bad("no resolution")
    if (family == 9 && photo) bad("family 9 offset heads have no light-ink rows")
    if (family >= 1 && family <= 5 && variable) bad("offers 2-bit dots the family cannot be sent")
    if (maxheight * maxy / 72 > 65535) bad("custom pages of " maxheight " pt pass 65535 rows")
    pair = "*Resolution 1440x720dpi *Weave Printer"
    if ((family == 4 || family == 5 || family == 5000) && (("Resolution", "1440x720dpi") in \
        choices) && (("Weave", "Printer") in choices) && !((pair) in constraint && \
        ("*Weave Printer *Resolution 1440x720dpi") in constraint))
      bad("the printer weave can be chosen at 1440 x 720 dpi")
    for (p in presets) {
      n = split(presets[p], word, /[ "]+/)
      for (k = 3; k < n; k++)
        if (word[k] ~ /^\*/ && !((substr(word[k], 2), word[k + 1]) in choices))
          bad("preset " p " names " word[k] " " word[k + 1] ", which the PPD does not offer")
    }
    for (i = 1; i <= nres; i++) {
      if (rrows[i] <= 1) continue  # the printer weaves
      rowfeed = rfeed[i]
      bands(rname[i], 0, rrows[i], rx[i], ry[i], rstep[i], rcols[i])
      if (hasgrey) bands(rname[i], 1, rrows[i], rx[i], ry[i], rstep[i], rcols[i])
    }
  }
  FNR == 1 {
    finish()
    file = FILENAME; family = ""; hasgrey = photo = variable = nres = maxheight = maxy = 0
    option = ""; split("", choices); split("", presets); split("", constraint)
  }
  /^\*cupsModelNumber:/ { family = $2 }
  /^\*ColorModel Gray/ { hasgrey = 1 }
  /^\*ColorModel Photo/ { photo = 1 }
  /cupsCompression [2-9]/ { variable = 1 }
  /^\*MaxMediaHeight:/ { maxheight = $2; gsub(/"/, "", maxheight) }
  /^\*UIConstraints:/ { c = $0; sub(/^\*UIConstraints: */, "", c); constraint[c] = 1 }
  /^\*Resolution / {
    name = $2; sub(/\/.*/, "", name); line = $0
    if (!match(line, /HWResolution\[[0-9]+ [0-9]+\]/)) { bad(name ": no HWResolution"); next }
    split(substr(line, RSTART + 13, RLENGTH - 14), res, " ")
    if (res[2] + 0 > maxy) maxy = res[2] + 0
    rows = 0; rowfeed = 0; rowstep = 0
    if (match(line, /cupsRowCount [0-9]+/)) rows = substr(line, RSTART + 13, RLENGTH - 13) + 0
    if (match(line, /cupsRowFeed [0-9]+/)) rowfeed = substr(line, RSTART + 12, RLENGTH - 12) + 0
    if (match(line, /cupsRowStep [0-9]+/)) rowstep = substr(line, RSTART + 12, RLENGTH - 12) + 0
    if (rows > 1 && rowstep % 100 < 1) { bad(name ": no vertical interleave"); next }
    nres++; rname[nres] = name; rrows[nres] = rows; rfeed[nres] = rowfeed
    rx[nres] = res[1]; ry[nres] = res[2]
    rstep[nres] = rowstep % 100; rcols[nres] = int(rowstep / 100) ? int(rowstep / 100) : 1
  }
  /^\*OpenUI \*/ { option = substr($2, 2); sub(/[\/:].*/, "", option) }
  option != "" && index($0, "*" option " ") == 1 {
    choice = $2; sub(/[\/:].*/, "", choice); choices[option, choice] = 1
  }
  /^\*CloseUI/ { option = "" }
  /^\*APPrinterPreset / { name = $2; sub(/\/.*/, "", name); presets[name] = $0 }
  /^\*MediaType / && !/\/MediaType\(/ { bad("media type " $2 " sets no MediaType") }
  /^\*MediaType / && !/\/cupsMediaType [0-9]+/ { bad("media type " $2 " sets no cupsMediaType") }
  END { finish(); exit failed }' "$@" || failed=1
exit $failed
