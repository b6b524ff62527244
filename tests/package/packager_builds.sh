#!/usr/bin/env bash
# The builds a packager makes, warnings as errors: Release (-O3) in
# build-release, for /usr as the Debian packages are, and Debian's own
# flags (hardening, _FORTIFY_SOURCE, format checks; dpkg-buildflags) in
# build-debian. Run from the top folder.
set -euo pipefail
jobs=$(nproc)
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DOVLAR_WERROR=ON -DOVLAR_TESTS=ON
cmake --build build-release -j"$jobs"
build-release/tests/ovlar_tests --gtest_brief=1
(
  eval "$(dpkg-buildflags --export=sh)"
  # CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS; debhelper joins them the same way.
  export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
  cmake -S . -B build-debian -DCMAKE_BUILD_TYPE=None -DOVLAR_WERROR=ON -DOVLAR_TESTS=ON
  cmake --build build-debian -j"$jobs"
)
