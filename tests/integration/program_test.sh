#!/usr/bin/env bash
# The program as a user runs it: in a folder, headless, stopped by a signal.
set -u
ovlar=$(realpath "$1")
examples=$(realpath "$2")
work=$(mktemp -d /tmp/ovlar-program-XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Waits up to 20 s for a file to hold a text.
wait_for() {
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "no '$2' in $1"
}

# No OVLAR.INI: MAP mode without ports is a configuration error.
mkdir "$work/empty" && cd "$work/empty"
"$ovlar" --headless 2>err.txt </dev/null
rc=$?
[ "$rc" = 1 ] || fail "no OVLAR.INI: status $rc, wanted 1"
[ -f OVLAR.LOG ] && [ ! -s OVLAR.LOG ] || fail "no OVLAR.INI: OVLAR.LOG missing or not empty"
grep -q "XNet Port Configuration not found" err.txt || fail "configuration error not on stderr"
grep -qxF "ovlar: OVLAR.INI: \"$work/empty/OVLAR.INI\" not read: No such file or directory" err.txt ||
  fail "missing OVLAR.INI not named on stderr: $(cat err.txt)"

# A setting the bridge cannot work with: one line on stderr and in the log,
# the orderly shutdown, status 1. Two entries on one local port make the
# second listener fail.
n=0
while IFS='|' read -r ini line; do
  n=$((n + 1))
  mkdir "$work/fault-$n" && cd "$work/fault-$n"
  printf '[OVLAR]\nTRACE=1\n%b\n[XNET.PORT]\nP1=1,0,93\n' "$ini" >OVLAR.INI
  timeout 20 "$ovlar" --headless 2>err.txt </dev/null
  rc=$?
  [ "$rc" = 1 ] || fail "$ini: status $rc, wanted 1"
  [ "$(cat err.txt)" = "ovlar: $line" ] || fail "$ini: stderr was '$(cat err.txt)'"
  grep -qF "Create: $line" OVLAR.LOG || fail "$ini: not in the log"
  tail -n 1 OVLAR.LOG | grep -q "Destroy: ShutDown Completed" || fail "$ini: no orderly shutdown"
done <<'EOF_CASES'
[AGW]\nPORT=99999999999|OVLAR.INI [AGW] PORT: "99999999999" is too large (at most 65535)
[AGW]\nADDRESS=localhost|OVLAR.INI [AGW] ADDRESS: "localhost" is not an IPv4 address (a host name belongs in HOSTNAME)
[XNET]\nADDRESS=300.1.1.1|OVLAR.INI [XNET] ADDRESS: "300.1.1.1" is neither an IPv4 address nor a host name
[XNET.PORT]\nA=1,10193,93\nB=2,10193,94|OVLAR.INI [XNET.PORT] B: "2,10193,94" UDP listener on port 10193 not opened: Address already in use
[XNET.PORT]\nP2=0,10193,94|OVLAR.INI [XNET.PORT] P2: "0,10193,94" holds a radio port out of range (1 to 255)
[XNET]\nACCEPT=999.1.1.1|OVLAR.INI [XNET] ACCEPT: "999.1.1.1" holds "999.1.1.1", neither an IPv4 address nor a host name
[AGW]\nPORT=0|OVLAR.INI [AGW] PORT: "0" is too small (at least 1)
EOF_CASES

# An OVLAR.INI that is a folder and a LOGFILE that is a FIFO are refused at
# once, instead of idling without a log or blocking start-up; the FIFO is
# never opened, so the line is on stderr alone.
mkdir -p "$work/inidir/OVLAR.INI" && cd "$work/inidir"
timeout 20 "$ovlar" --headless 2>err.txt </dev/null
rc=$?
[ "$rc" = 1 ] && [ "$(cat err.txt)" = "ovlar: OVLAR.INI: \"$work/inidir/OVLAR.INI\" not read: Is a directory" ] ||
  fail "OVLAR.INI a folder: status $rc, stderr '$(cat err.txt)'"
mkdir "$work/logfifo" && cd "$work/logfifo" && mkfifo fifo
printf '[OVLAR]\nTRACE=1\nLOGFILE=fifo\n[XNET.PORT]\nP1=1,0,93\n' >OVLAR.INI
timeout 20 "$ovlar" --headless 2>err.txt </dev/null
rc=$?
[ "$rc" = 1 ] && [ "$(cat err.txt)" = 'ovlar: OVLAR.INI [OVLAR] LOGFILE: "fifo" is a FIFO, not a regular file' ] ||
  fail "LOGFILE a FIFO: status $rc, stderr '$(cat err.txt)'"

# Each shipped example starts, logs its parameters and stops on SIGTERM,
# SIGINT or SIGHUP, without asking.
for mode in direct cache map nodes kiss; do
  for sig in TERM INT HUP; do
    mkdir -p "$work/$mode-$sig" && cd "$work/$mode-$sig"
    cp "$examples/$mode/OVLAR.INI" .
    sed -i 's/^TRACE=.*/TRACE=5/' OVLAR.INI
    env -u DISPLAY -u WAYLAND_DISPLAY "$ovlar" 2>err.txt </dev/null &
    pid=$!
    wait_for OVLAR.LOG "Create: Parameters"
    kill -"$sig" "$pid"
    wait "$pid"
    rc=$?
    pid=
    [ "$rc" = 0 ] || fail "$mode: status $rc after SIG$sig"
    wait_for OVLAR.LOG "Destroy: ShutDown Completed"
    grep -q "Do you really want to exit" err.txt && fail "$mode: SIG$sig asked the exit question"
    grep -q "ovlar: AGWPE" err.txt && fail "$mode: link notice without a terminal"
  done
done
# The command line: --help and --version answer on stdout without starting
# the bridge; a wrong command line shows the usage on stderr with status 2;
# --dir makes DIR the bridge's folder, wherever it was started.
mkdir "$work/cli" && cd "$work/cli"
"$ovlar" --help >out.txt 2>err.txt; rc=$?
[ "$rc" = 0 ] && [ ! -s err.txt ] || fail "--help: status $rc"
for opt in --headless "--dir DIR" --help --version OVLAR.INI; do
  grep -q -- "$opt" out.txt || fail "--help does not name $opt"
done
[ "$("$ovlar" --version)" = "Ovlar 1.00.00" ] || fail "--version: $("$ovlar" --version)"
# An answer that could not be written is no answer.
for opt in --help --version; do
  "$ovlar" $opt >/dev/full 2>err.txt; rc=$?
  [ "$rc" = 1 ] && [ "$(cat err.txt)" = "ovlar: stdout not written: No space left on device" ] ||
    fail "$opt to /dev/full: status $rc, stderr '$(cat err.txt)'"
done
for args in --bogus --dir "--headless station"; do
  # shellcheck disable=SC2086
  "$ovlar" $args >out.txt 2>err.txt </dev/null; rc=$?
  [ "$rc" = 2 ] && [ ! -s out.txt ] && grep -q "^Usage: ovlar" err.txt || fail "'$args': status $rc or no usage on stderr"
done
"$ovlar" --headless --dir "$work/none" 2>err.txt </dev/null; rc=$?
[ "$rc" = 1 ] && grep -q "cannot enter $work/none: No such file or directory" err.txt || fail "missing --dir: status $rc"
[ -e OVLAR.LOG ] && fail "a refused command line wrote a log"
mkdir "$work/station" && cp "$examples/direct/OVLAR.INI" "$work/station/"
sed -i 's/^TRACE=.*/TRACE=1/' "$work/station/OVLAR.INI"
"$ovlar" --headless --dir "$work/station" 2>err.txt </dev/null &
pid=$!
wait_for "$work/station/OVLAR.LOG" "Create: Parameters"
kill -TERM "$pid"; wait "$pid"; rc=$?; pid=
[ "$rc" = 0 ] && [ ! -e OVLAR.LOG ] || fail "--dir: status $rc, or the log went to the starting folder"

# On a terminal a failed connect to the engine is told once, with the
# system's reason and the retry interval.
mkdir "$work/tty" && cd "$work/tty"
printf '[OVLAR]\nTRACE=1\n[AGW]\nPORT=1\n[XNET.PORT]\nP1=1,0,93\n' >OVLAR.INI
script -qec "'$ovlar' --headless & echo \$! >pid.txt; wait" /dev/null >tty.txt </dev/null &
spid=$!
wait_for tty.txt "ovlar: AGWPE 127.0.0.1:1: Connection refused, retrying in 60 s"
pid=$(cat pid.txt)
kill -TERM "$pid"
wait "$spid"
pid=
[ "$(grep -c "ovlar: AGWPE" tty.txt)" = 1 ] || fail "link notice not once: $(cat -v tty.txt)"
grep -q "Socket Error from AGWPE(127.0.0.1:1): Connection refused" OVLAR.LOG || fail "no reason in the log"
# As the service manager runs it: the example's relative LOGFILE goes to
# LOGS_DIRECTORY, a restart keeps the run before as OVLAR.LOG.1, and the
# link notice reaches the journal, the stderr that JOURNAL_STREAM names.
mkdir -p "$work/service/logs" && cd "$work/service"
sed 's/^PORT=8000/PORT=1/' "$examples/direct/OVLAR.INI" >OVLAR.INI
for run in 1 2; do
  : >err.txt
  LOGS_DIRECTORY="$work/service/logs" JOURNAL_STREAM=$(stat -c %d:%i err.txt) "$ovlar" --headless 2>>err.txt </dev/null &
  pid=$!
  wait_for err.txt "ovlar: AGWPE 127.0.0.1:1: Connection refused, retrying in 60 s"
  kill -TERM "$pid"; wait "$pid"; rc=$?; pid=
  [ "$rc" = 0 ] || fail "service run $run: status $rc"
done
[ "$(grep -c "ovlar: AGWPE" err.txt)" = 1 ] || fail "journal notice not once: $(cat err.txt)"
[ -e OVLAR.LOG ] && fail "the log went to the working folder, not to LOGS_DIRECTORY"
[ "$(grep -c "Create: Starting Ovlar" logs/OVLAR.LOG.1)" = 1 ] && grep -q "Destroy: ShutDown Completed" logs/OVLAR.LOG.1 ||
  fail "the first run's log was not kept whole as OVLAR.LOG.1"
[ "$(grep -c "Create: Starting Ovlar" logs/OVLAR.LOG)" = 1 ] || fail "the second run's log did not start afresh"
echo "program test passed"
