#!/usr/bin/env bash
# Installs what Ovlar needs to build and test on Debian 12. Run as root, or
# as a user with sudo.
set -euo pipefail
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
packages=(
  build-essential cmake libgtest-dev libgmock-dev
  direwolf ax25-apps socat iproute2
  qt6-base-dev xvfb xdotool trayer x11-utils xdg-utils imagemagick
  microsocks dante-server libio-socket-socks-perl
)
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
