#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target tarnwick tarnwick-cli
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "No display is available here (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "Start Tarnwick in a virtual display with:" >&2
    echo "  xvfb-run -a $(pwd)/build/bin/tarnwick $*" >&2
    exit 1
fi
exec build/bin/tarnwick "$@"
