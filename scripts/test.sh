#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick with its tests and runs every test.
# TARNWICK_SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer instead
# (into build-sanitize/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_TESTS=ON)
if [ "${TARNWICK_SANITIZE:-0}" = 1 ]; then
    build=build-sanitize
    flags+=(-DTARNWICK_SANITIZE=ON)
fi
[ "${CI:-}" = true ] && flags+=(-DTARNWICK_WERROR=ON)
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
mkdir -p "$build/xdg-runtime"
cd "$build"
# Tests that need root (loop devices, mounts) say why they skip when run without it.
ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$(nproc)" --timeout 600
