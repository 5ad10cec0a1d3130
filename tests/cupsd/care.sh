#!/bin/bash
# Printer care through a private cupsd, as the web interface's Maintenance
# menu and the desktop's printer settings use it: queues of the built PPDs
# whose device is a fake socket printer on the loopback address, command
# files sent with lp, the bytes that reach the printer compared whole, and
# the printer's ink-level answer read back as the queue's marker-levels.
#
# Usage: care.sh FILTER COMMANDS_FILTER PPD_DIR
#   FILTER           the built inkbands (the PPDs name it for raster jobs)
#   COMMANDS_FILTER  the built inkbands-commands
#   PPD_DIR          the compiled PPDs (famN.ppd)
# Exit status 77 (skipped) when not root or when CUPS tools are missing.
set -u
filter=$1 commands=$2 ppds=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_cupsd.sh"

cupsd_skip_unless_able ipptool python3 od
cupsd_prepare
cupsd_install_filter "$filter" inkbands
cupsd_install_filter "$commands" inkbands-commands
for family in 7 5000; do
  grep -q '^\*cupsFilter2\?: "application/vnd.cups-command .* inkbands-commands"' \
    "$ppds/fam$family.ppd" || fail "fam$family.ppd names no command filter"
  grep -qx '\*cupsCommands: "Clean PrintSelfTestPage ReportLevels"' "$ppds/fam$family.ppd" ||
    fail "fam$family.ppd lists no printer commands"
done
# Printers without remote mode cannot be cleaned from here.
grep -qx '\*cupsCommands: "ReportLevels"' "$ppds/fam1.ppd" ||
  fail "fam1.ppd offers commands a printer without remote mode cannot take"
cupsd_install_ppds "$ppds/fam7.ppd" "$ppds/fam5000.ppd"

# The fake printer answers the ink query with six levels, as a photo printer.
answer='IQ:4b3c2d1e0f05;'
mkdir "$T/printer"
python3 "$here/fake_printer.py" "$T/printer/port" "$T/printer" "$answer" 90 \
  >"$T/log/printer" 2>&1 &
at_exit "kill $! 2>/dev/null"
for try in $(seq 50); do [ -s "$T/printer/port" ] && break; sleep 0.1; done
[ -s "$T/printer/port" ] || { fail "the fake printer did not start"; cupsd_finish; }
printer_port=$(cat "$T/printer/port")
cupsd_start

# The backend's printer look-up (SNMP, some seconds without an answer) is
# left out except on the queue that asks for ink levels: the answer must be
# waited for from when the question reached the printer, not from when the
# filter sent it.
add_queue() { # NAME FAMILY URI
  lpadmin -p "$1" -E -v "$3" -m "inkbands/fam$2.ppd" 2>"$T/log/lpadmin" ||
    fail "lpadmin could not add $1: $(cat "$T/log/lpadmin")"
}
add_queue care7 7 "socket://127.0.0.1:$printer_port/?snmp=false"
add_queue care5000 5000 "socket://127.0.0.1:$printer_port/?snmp=false"
add_queue levels7 7 "socket://127.0.0.1:$printer_port"

# The queue's attributes as an IPP client sees them, one "name = value" a line.
cat >"$T/attributes.test" <<'EOF'
{
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-commands,marker-names,marker-levels
  STATUS successful-ok
  DISPLAY printer-commands
  DISPLAY marker-names
  DISPLAY marker-levels
}
EOF
attribute() { # QUEUE NAME
  ipptool -t "ipp://127.0.0.1:$port/printers/$1" "$T/attributes.test" 2>/dev/null |
    sed -n "s/^ *$2 ([^)]*) = //p"
}

# --- The Maintenance menu: printer-commands --------------------------------

got=$(attribute care7 printer-commands)
[ "$got" = "Clean,PrintSelfTestPage,ReportLevels" ] ||
  fail "printer-commands of care7 is \"$got\", not the three commands"

# --- Each command's bytes as the printer receives them ---------------------

# Hex text as the printer's bytes.
hex_of() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

jobs_sent=0
# Sends the command file text to a queue and checks the printer got WANT.
send_command() { # QUEUE TEXT WANT_HEX
  printf '#CUPS-COMMAND\n%s\n' "$2" >"$T/command"
  local id
  id=$(lp -d "$1" -o document-format=application/vnd.cups-command "$T/command" |
    sed -n 's/.*request id is [^ ]*-\([0-9]*\) .*/\1/p')
  [ -n "$id" ] || { fail "lp refused $2 for $1"; return; }
  jobs_sent=$((jobs_sent + 1))
  wait_for_jobs 30 "$id" || return
  grep -q "\[Job $id\] Job completed" "$T/log/error_log" ||
    fail "$2 on $1 did not complete: $(show_job_log "$id")"
  local record="$T/printer/job-$jobs_sent.bin"
  for try in $(seq 20); do [ -f "$record" ] && break; sleep 0.1; done
  [ -f "$record" ] || { fail "$2 on $1 reached no printer"; return; }
  local got
  got=$(hex_of "$record")
  [ "$got" = "$3" ] || fail "$2 on $1 sent
  $got
  instead of
  $3"
}

ejl='00 00 00 1b 01 40 45 4a 4c 20 31 32 38 34 2e 34 0a 40 45 4a 4c 20 20 20 20 20 0a 1b 40'
remote='1b 28 52 08 00 00 52 45 4d 4f 54 45 31'
leave='1b 00 00 00'
send_command care7 Clean "$ejl $remote 43 48 02 00 00 00 $leave"
send_command care7 PrintSelfTestPage "$ejl $remote 56 49 02 00 00 00 4e 43 02 00 00 00 $leave 0c"
send_command care5000 Clean "1b 40 $remote 43 48 02 00 00 00 $leave"

# --- Ink levels: the printer's answer becomes marker-levels ----------------

send_command levels7 ReportLevels "$ejl $remote 49 51 01 00 01 $leave"
got=$(attribute levels7 marker-levels)
[ "$got" = "75,60,45,30,15,5" ] || fail "marker-levels of levels7 are \"$got\" after \"$answer\""
got=$(attribute levels7 marker-names)
[ "$got" = "Black,Cyan,Magenta,Yellow,Light Cyan,Light Magenta" ] ||
  fail "marker-names of levels7 are \"$got\""

cupsd_finish "printer care: printer-commands, Clean, PrintSelfTestPage and ReportLevels" \
  "through cupsd to a socket printer"
