# A private CUPS for the tests that need the whole print system: its own
# directories with the installed layout inside (the system's backends and
# rasterizers, our filters, MIME rules and PPDs), listening on a free port of
# the loopback address and on a socket of its own, stopped when the test
# script exits, however it exits.
#
# Source it from a bash test script, then:
#   cupsd_skip_unless_able TOOL...   exit 77 (skipped) unless root and the tools exist
#   cupsd_prepare                    make $T with the installed layout
#   cupsd_install_filter FILE NAME   a filter program of ours, as NAME
#   cupsd_install_route FILTER PPDSRC  the filter and every step of our route
#                                    (the build's route/ beside FILTER), the
#                                    colour profile and the MIME rules of PPDSRC
#   cupsd_prepare_route FILTER PPDSRC TOOL...  all three above, for jobs through
#                                    Ghostscript (skipped without it or gstoraster)
#   cupsd_install_mime FILE...       MIME types and conversion rules of ours
#   cupsd_install_ppds FILE...       PPDs, listed by lpinfo -m as inkbands/NAME
#   cupsd_start                      start cupsd; sets $port and CUPS_SERVER
#   at_exit COMMAND                  run COMMAND when the script exits
#   fail MESSAGE, skip MESSAGE, cupsd_finish SUMMARY
#   wait_for_jobs SECONDS ID...      wait until cupsd logged how each job ended
#   show_job_log ID                  what cupsd logged about a job
# The work directory is kept when INKBANDS_KEEP_TMP is set.

PATH=$PATH:/usr/sbin:/sbin
failures=0
cupsd_pid=""
exit_hooks=()

skip() {
  echo "SKIP: $*"
  exit 77
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cupsd_skip_unless_able() {
  [ "$(id -u)" = 0 ] || skip "a private cupsd needs root"
  local tool
  for tool in cupsd lpadmin lp lpstat lpinfo cups-config "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
}

at_exit() {
  exit_hooks+=("$*")
}

cupsd_cleanup() {
  local hook
  for hook in "${exit_hooks[@]}"; do eval "$hook"; done
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  if [ -n "${T:-}" ]; then
    [ -n "${INKBANDS_KEEP_TMP:-}" ] && echo "kept $T" || rm -rf "$T"
  fi
}

cupsd_prepare() {
  local entry
  serverbin=$(cups-config --serverbin)
  datadir=$(cups-config --datadir)
  T=$(mktemp -d /tmp/inkbands-cupsd.XXXXXX)
  chmod 755 "$T" # filters run as the lp user and read the PPD and spool here
  trap cupsd_cleanup EXIT
  trap 'exit 1' INT TERM HUP
  mkdir -p "$T/root" "$T/bin/filter" "$T/data/mime" "$T/data/model/inkbands" \
    "$T/state" "$T/cache" "$T/spool/tmp" "$T/log" "$T/out"
  # The system's backends and rasterizers, but no other Epson driver.
  for entry in "$serverbin"/*; do
    case ${entry##*/} in filter | driver) ;; *) ln -s "$entry" "$T/bin/" ;; esac
  done
  for entry in "$serverbin"/filter/*; do
    case ${entry##*/} in *epson* | *escp* | inkbands*) ;; *) ln -s "$entry" "$T/bin/filter/" ;; esac
  done
  # DataDir: the system's, but only our PPDs in the model directory.
  for entry in "$datadir"/*; do
    case ${entry##*/} in mime | model | drv) ;; *) ln -s "$entry" "$T/data/" ;; esac
  done
  for entry in "$datadir"/mime/*; do
    case ${entry##*/} in inkbands.*) ;; *) ln -s "$entry" "$T/data/mime/" ;; esac
  done
}

cupsd_install_filter() { # FILE NAME
  install -m 755 "$1" "$T/bin/filter/$2"
}

cupsd_install_route() { # FILTER SOURCE_PPD_DIR
  local route
  route=$(dirname "$1")/route
  cupsd_install_filter "$1" inkbands
  cupsd_install_filter "$route/rastertoinkbands" rastertoinkbands
  cupsd_install_filter "$route/pdftoinkbands" pdftoinkbands
  # The colour profile where the PPDs name it, not the system's profiles.
  rm -f "$T/data/profiles"
  mkdir -p "$T/data/profiles"
  cp "$route/inkbands-kcmy.icc" "$T/data/profiles/"
  cupsd_install_mime "$2/inkbands.types" "$2/inkbands.convs"
}

# Makes a private CUPS that prints documents through our whole route.
cupsd_prepare_route() { # FILTER SOURCE_PPD_DIR TOOL...
  local filter=$1 mimesrc=$2
  shift 2
  cupsd_skip_unless_able gs "$@"
  cupsd_prepare
  [ -x "$serverbin/filter/gstoraster" ] || skip "cups-filters' gstoraster is not installed"
  cupsd_install_route "$filter" "$mimesrc"
}

cupsd_install_mime() {
  cp "$@" "$T/data/mime/"
}

cupsd_install_ppds() {
  cp "$@" "$T/data/model/inkbands/"
}

# A free TCP port on the loopback address.
free_port() {
  local try candidate
  for try in $(seq 40); do
    candidate=$((20000 + (RANDOM * 7 + try) % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

cupsd_start() {
  local try watched=$$
  port=$(free_port) || skip "no free TCP port on 127.0.0.1"
  cat >"$T/root/cups-files.conf" <<EOF
ServerRoot $T/root
ServerBin $T/bin
DataDir $T/data
StateDir $T/state
CacheDir $T/cache
RequestRoot $T/spool
TempDir $T/spool/tmp
ErrorLog $T/log/error_log
AccessLog $T/log/access_log
PageLog $T/log/page_log
FileDevice Yes
SystemGroup root
EOF
  cat >"$T/root/cupsd.conf" <<EOF
LogLevel ${CUPSD_LOGLEVEL:-info}
MaxLogSize 0
PageLogFormat %p %j %P %C
Listen 127.0.0.1:$port
Listen $T/cups.sock
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  export CUPS_SERVER=$T/cups.sock
  cupsd -f -c "$T/root/cupsd.conf" -s "$T/root/cups-files.conf" \
    >"$T/log/cupsd.stdout" 2>"$T/log/cupsd.stderr" &
  cupsd_pid=$!
  # Stops cupsd should the test script be killed outright (a test time-out).
  (
    while kill -0 "$watched" 2>/dev/null; do sleep 1; done
    kill "$cupsd_pid" 2>/dev/null
  ) >/dev/null 2>&1 &
  at_exit "kill $! 2>/dev/null"
  for try in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q 'scheduler is running' && break
    if ! kill -0 "$cupsd_pid" 2>/dev/null; then
      cat "$T/log/cupsd.stderr" "$T/log/error_log" 2>/dev/null | tail -n 20
      echo "FAIL: cupsd did not start"
      exit 1
    fi
    sleep 0.1
  done
  lpstat -h "127.0.0.1:$port" -r | grep -q 'scheduler is running' ||
    fail "cupsd does not answer on 127.0.0.1:$port"
}

# What cupsd logged about a job, for a failure's message.
show_job_log() {
  grep "\[Job $1\]" "$T/log/error_log" | grep -v '^D' | tail -n 20
}

# A job is over once cupsd has logged how it ended.
job_over() {
  grep -q "\[Job $1\] \(Job completed\|Job stopped\|Job canceled\|Job aborted\)" \
    "$T/log/error_log"
}

wait_for_jobs() { # SECONDS ID...
  local seconds=$1 try id pending=""
  shift
  for try in $(seq $((seconds * 10))); do
    pending=""
    for id in "$@"; do job_over "$id" || pending="$pending $id"; done
    [ -z "$pending" ] && return 0
    sleep 0.1
  done
  fail "jobs$pending still printing after $seconds s"
  return 1
}

# Ends the test script: the summary when every check passed, else exit 1.
cupsd_finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "$*"
  exit 0
}
