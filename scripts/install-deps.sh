#!/usr/bin/env bash
# Installs what Ovlar needs on Debian 12: `run` to build and run it, `test`
# to build it and pass every test (the peers, the display tools, the
# package tools, clang with libFuzzer and llvm-symbolizer for the fuzz
# targets). Run as root, or as a user with sudo.
set -euo pipefail
run=(build-essential cmake qt6-base-dev xdg-utils)
test=(
  "${run[@]}" libgtest-dev libgmock-dev
  direwolf ax25-apps socat iproute2
  xvfb xdotool trayer x11-utils imagemagick chromium
  microsocks dante-server libio-socket-socks-perl
  dpkg-dev adduser systemd man-db lintian strace
  clang libclang-rt-14-dev llvm
)
case "${1:-}" in
  run) packages=("${run[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
