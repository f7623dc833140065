#!/usr/bin/env bash
# The Windows build's check, under its older name: scripts/build-windows.sh cross-builds
# tarnwick-cli.exe and the engine tests (the platform backend's smoke program among them) and,
# unless TARNWICK_WINDOWS_RUN=0, runs them under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${TARNWICK_WINDOWS_RUN:-1}" = 0 ]; then
    exec scripts/build-windows.sh
fi
exec scripts/build-windows.sh --run
