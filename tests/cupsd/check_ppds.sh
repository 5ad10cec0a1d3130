#!/bin/sh
# Checks the PPDs compiled from ppd/inkbands.drv before any printer uses them:
#  - cupstestppd passes each one, with the built filter where CUPS will look
#    for it;
#  - each PPD's family is the one its file is named after;
#  - every woven resolution lets the filter place a first band in every slot
#    (the feed shares no factor with columns x nozzle pitch, at most 128
#    slots, at least one nozzle), also for the grey pages that families 9,
#    10 and 11 print with their black heads, and keeps the raster-unit
#    command's one-byte fields in range;
#  - every media type names both the paper (MediaType) and the remote-mode
#    media settings (cupsMediaType);
#  - the presets that IPP clients choose name only choices the PPD has.
# Usage: check_ppds.sh FILTER PPD...
set -u
filter=$1
shift

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
serverbin=$(cups-config --serverbin)
mkdir -p "$root$serverbin/filter"
ln -s "$filter" "$root$serverbin/filter/inkbands"

failed=0
for ppd in "$@"; do
  if ! cupstestppd -R "$root" "$ppd"; then
    failed=1
  fi
  family=$(basename "$ppd" .ppd | sed 's/^fam//')
  awk -v family="$family" -v file="$ppd" '
    function gcd(a, b,   t) { while (b) { t = a % b; a = b; b = t } return a }
    function bad(what) { printf "%s: %s\n", file, what; failed = 1 }
    # The first band of each slot is placed by stepping through the slots
    # with the feed; it must come round to every slot.
    function placement(name, grey, rows, xres, yres, step, cols,   nozzles, feed, slots, base) {
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
      if (gcd(feed, slots) != 1) bad(name (grey ? " (grey)" : "") ": feed " feed " misses slots of " slots)
      if (!grey && feed != rowfeed) bad(name ": cupsRowFeed " rowfeed ", the filter feeds " feed)
      base = (family == 6 || family == 7 || family == 5500 || family >= 9000) ? 14400 : \
             (family >= 8 && family <= 11) ? 1440 : 0
      if (base && (int(base / yres) * step > 255 || int(base / xres) * cols > 255))
        bad(name ": raster unit does not fit in a byte")
    }
    /^\*cupsModelNumber:/ { model = $2 }
    /^\*ColorModel Gray/ { hasgrey = 1 }
    /^\*ColorModel Photo/ { photo = 1 }
    /^\*Resolution / {
      name = $2; sub(/\/.*/, "", name); line = $0
      if (!match(line, /HWResolution\[[0-9]+ [0-9]+\]/)) { bad(name ": no HWResolution"); next }
      split(substr(line, RSTART + 13, RLENGTH - 14), res, " ")
      rows = 0; rowfeed = 0; rowstep = 0
      if (match(line, /cupsRowCount [0-9]+/)) rows = substr(line, RSTART + 13, RLENGTH - 13) + 0
      if (match(line, /cupsRowFeed [0-9]+/)) rowfeed = substr(line, RSTART + 12, RLENGTH - 12) + 0
      if (match(line, /cupsRowStep [0-9]+/)) rowstep = substr(line, RSTART + 12, RLENGTH - 12) + 0
      if (rows <= 1) { bad(name ": not woven"); next }
      if (rowstep % 100 < 1) { bad(name ": no vertical interleave"); next }
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
    END {
      if (model != family) bad("model number " model ", file says family " family)
      if (!nres) bad("no resolution")
      if (family == 9 && photo) bad("family 9 offset heads have no light-ink rows")
      for (p in presets) {
        n = split(presets[p], word, /[ "]+/)
        for (k = 3; k < n; k++)
          if (word[k] ~ /^\*/ && !((substr(word[k], 2), word[k + 1]) in choices))
            bad("preset " p " names " word[k] " " word[k + 1] ", which the PPD does not offer")
      }
      for (i = 1; i <= nres; i++) {
        rowfeed = rfeed[i]
        placement(rname[i], 0, rrows[i], rx[i], ry[i], rstep[i], rcols[i])
        if (hasgrey) placement(rname[i], 1, rrows[i], rx[i], ry[i], rstep[i], rcols[i])
      }
      exit failed
    }' "$ppd" || failed=1
done
exit $failed
