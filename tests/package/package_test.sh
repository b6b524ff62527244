#!/usr/bin/env bash
# The Debian packages as a station installs them: built by CPack from a
# build configured with -DCMAKE_INSTALL_PREFIX=/usr, installed with dpkg,
# the installed program run headless against the scripted engine and node
# and on a display with its installed module, the unit verified, and
# everything purged again. Needs root; changes the machine while it runs.
set -u
build=$(realpath "$1")
work=$(mktemp -d /tmp/ovlar-package-XXXXXX)
pids=()
had_user=no
getent passwd ovlar >/dev/null && had_user=yes
fail() { echo "FAIL: $*"; exit 1; }
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  dpkg --purge ovlar-desktop ovlar >/dev/null 2>&1
  [ "$had_user" = no ] && getent passwd ovlar >/dev/null && deluser --system --quiet ovlar >/dev/null 2>&1
  rm -rf "$work"
}

[ "$(id -u)" = 0 ] || fail "needs root to install the packages"
dpkg -s ovlar >/dev/null 2>&1 && fail "a package ovlar is installed already; not touching it"
trap cleanup EXIT

# The packages: the program's needs no Qt, the front end's needs the program.
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
main_deb=$(ls "$work"/debs/ovlar_*.deb) || fail "no ovlar package"
desktop_deb=$(ls "$work"/debs/ovlar-desktop_*.deb) || fail "no ovlar-desktop package"
for deb in "$main_deb" "$desktop_deb"; do
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $(dpkg-deb -f "$deb" Depends)"
done
dpkg-deb -f "$main_deb" Depends | grep -qi qt && fail "the program's package depends on Qt"
dpkg-deb -f "$desktop_deb" Depends | grep -q "ovlar (=" || fail "ovlar-desktop does not depend on ovlar"
dpkg-deb -f "$desktop_deb" Depends | grep -qi libqt6widgets || fail "ovlar-desktop does not depend on Qt"
# Debian-clean: no error and no warning from lintian in either package.
lintian --fail-on error,warning "$main_deb" "$desktop_deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian found errors or warnings"; }
grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian found errors or warnings"
echo "lintian: no error, no warning"

dpkg -i "$main_deb" "$desktop_deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
getent passwd ovlar >/dev/null || fail "no ovlar user after the install"
unit=$(dpkg -L ovlar | grep '/systemd/system/ovlar.service$')
[ -e /etc/ovlar/OVLAR.INI ] && fail "the package ships /etc/ovlar/OVLAR.INI, which would start the service"
[ -r /etc/ovlar/OVLAR.ICO ] || fail "/etc/ovlar/OVLAR.ICO does not lead to the icon"

[ "$(/usr/bin/ovlar --version)" = "Ovlar 1.00.00" ] || fail "--version: $(/usr/bin/ovlar --version)"
/usr/bin/ovlar --help | grep -q "systemctl enable --now ovlar" || fail "--help does not tell how to run the service"
man ovlar 2>/dev/null | grep -q "RUNNING AS A SERVICE" || fail "man ovlar does not tell how to run the service"

# As the unit runs it: the user ovlar with CAP_NET_BIND_SERVICE alone, in
# /etc/ovlar, with the packaged example made DIRECT so that it binds XNet's
# port 93, without its LOGFILE, so that the log goes where LogsDirectory=
# puts it. Traced, to hold every system call against the unit's filter.
install -d -o ovlar -g ovlar /var/log/ovlar
sed -e 's/^MODE=.*/MODE=0/' -e '/^LOGFILE=/d' /usr/share/doc/ovlar/examples/OVLAR.INI >/etc/ovlar/OVLAR.INI
LOGS_DIRECTORY=/var/log/ovlar strace -f -qq -o "$work/calls.txt" \
  setpriv --reuid ovlar --regid ovlar --init-groups --no-new-privs --inh-caps=-all,+net_bind_service \
  --ambient-caps=-all,+net_bind_service --bounding-set=-all,+net_bind_service \
  /usr/bin/ovlar --headless --dir /etc/ovlar 2>"$work/service.err" </dev/null &
tracer=$!
pids+=($tracer)
for _ in $(seq 200); do grep -q "Create: Parameters" /var/log/ovlar/OVLAR.LOG 2>/dev/null && break; sleep 0.1; done
sleep 1
service=$(ps -o pid= --ppid "$tracer" | tr -d ' ')
[ -n "$service" ] && kill -0 "$service" 2>/dev/null || fail "the service's run ended: $(cat "$work/service.err")"
pids+=($service)
kill -USR1 "$service"
for _ in $(seq 200); do grep -q "Status:" /var/log/ovlar/OVLAR.LOG && break; sleep 0.1; done
kill -TERM "$service"
wait "$tracer"
rc=$?
[ "$rc" = 0 ] || fail "the service's run: status $rc after SIGTERM: $(cat "$work/service.err")"
grep -q "Destroy: ShutDown Completed" /var/log/ovlar/OVLAR.LOG || fail "no orderly shutdown in /var/log/ovlar/OVLAR.LOG"
rm /etc/ovlar/OVLAR.INI

# What the unit's hardening allows was enough for that run: every system
# call the program made is in its SystemCallFilter=, every socket of a
# family in RestrictAddressFamilies=, and no memory was made executable
# (MemoryDenyWriteExecute=).
calls() {
  for item in "$@"; do
    case "$item" in
      @*) calls $(systemd-analyze syscall-filter "$item" | sed '1d; s/#.*//') ;;
      *) echo "$item" ;;
    esac
  done
}
allowed=$(comm -23 <(calls $(sed -n 's/^SystemCallFilter=\([^~]\)/\1/p' "$unit") | sort -u) \
  <(calls $(sed -n 's/^SystemCallFilter=~//p' "$unit") | sort -u))
program=$(sed -n '\|execve("/usr/bin/ovlar"|,$p' "$work/calls.txt")
used=$(sed -n 's/^[0-9]* *\([a-z0-9_]*\)(.*/\1/p' <<<"$program" | sort -u)
[ -n "$used" ] || fail "no system calls traced"
outside=$(comm -23 <(echo "$used") <(echo "$allowed") | tr '\n' ' ')
[ -z "$outside" ] || fail "system calls outside the unit's SystemCallFilter=: $outside"
for family in $(grep -o 'socket(AF_[A-Z0-9]*' <<<"$program" | cut -c8- | sort -u); do
  grep -qE "^RestrictAddressFamilies=.*\b$family\b" "$unit" || fail "a socket of $family, which the unit refuses"
done
grep -E 'mprotect\(.*PROT_EXEC|mmap\(.*PROT_WRITE\|PROT_EXEC' <<<"$program" && fail "memory made writable and executable"
echo "system calls: $(wc -l <<<"$used") kinds used, all within the unit's filter"

# A frame forwarded each way through the installed program, by the peer
# test that scripts the engine and the node.
OVLAR_PROGRAM=/usr/bin/ovlar "$build/tests/ovlar_peer_tests" --gtest_filter=Program.ForwardsBothWaysAndStopsOnSigterm \
  >"$work/peer.log" 2>&1 || { cat "$work/peer.log"; fail "the installed program did not forward both ways"; }

# On a display the installed program loads the installed module.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
mkdir "$work/station"
printf '[OVLAR]\nTRACE=1\n[AGW]\nPORT=1\n[XNET.PORT]\nP=1,0,93\n' >"$work/station/OVLAR.INI"
cp /usr/share/ovlar/OVLAR.ICO "$work/station/"
DISPLAY=":$display" /usr/bin/ovlar --dir "$work/station" 2>"$work/desktop.err" </dev/null &
desktop=$!
pids+=($desktop)
for _ in $(seq 200); do grep -q "Create: Parameters" "$work/station/OVLAR.LOG" 2>/dev/null && break; sleep 0.1; done
module=$(grep -o "/[^ ]*/ovlar/libovlar-desktop.so" "/proc/$desktop/maps" | head -1)
kill -TERM "$desktop"
wait "$desktop"
rc=$?
grep -q "no desktop front end" "$work/desktop.err" && fail "no module: $(cat "$work/desktop.err")"
case "$module" in /usr/lib/*) ;; *) fail "the installed module was not loaded (maps: '$module')" ;; esac
[ "$rc" = 0 ] || fail "desktop run: status $rc after SIGTERM"
echo "module loaded: $module"

systemd-analyze verify "$unit" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "systemd-analyze verify $unit"; }
echo "systemd-analyze verify $unit: passed$(sed 's/^/ | /' "$work/verify.log")"
# The hardening stays where it is: an exposure of 2.0 at most.
exposure=$(systemd-analyze security --offline=yes "$unit" 2>/dev/null |
  sed -n 's/.*Overall exposure level for ovlar.service: \([0-9.]*\).*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.0) }' || fail "systemd-analyze security: exposure '$exposure'"
echo "systemd-analyze security: exposure $exposure"
ls /etc/systemd/system/multi-user.target.wants/ovlar.service >/dev/null 2>&1 || fail "the unit was not enabled"

dpkg --purge ovlar-desktop ovlar >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
for left in /usr/bin/ovlar /etc/ovlar /var/log/ovlar /etc/systemd/system/multi-user.target.wants/ovlar.service; do
  [ -e "$left" ] || [ -L "$left" ] && fail "$left is left after the purge"
done
pgrep -u ovlar >/dev/null 2>&1 && fail "processes of the ovlar user are left"
echo "package test passed"
