#!/usr/bin/env bash
# Fresh machine to a running bridge: dependencies, a build, then Ovlar in
# examples/ with its OVLAR.INI (stop it with Ctrl-C).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVLAR_TESTS=OFF
cmake --build build -j"$(nproc)"
cd examples
exec ../build/ovlar "$@"
