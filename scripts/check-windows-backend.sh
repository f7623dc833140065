#!/usr/bin/env bash
# Cross-compiles the Windows platform backend with a small smoke program and, when wine64 is
# installed, runs it. A manual check, not part of CI: Qt for Windows is not packaged here, so the
# whole program cannot be cross-built, but the platform layer can.
#   apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix   # required
#   apt-get install -y --no-install-recommends wine64                       # optional, to run it
# Output goes to $TARNWICK_WINDOWS_OUT (default /tmp/tarnwick-windows-check).
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null; then
    echo "$cxx not found: apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix" >&2
    exit 2
fi

out=${TARNWICK_WINDOWS_OUT:-/tmp/tarnwick-windows-check}
mkdir -p "$out"
exe=$out/windows_smoke.exe

"$cxx" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -I. \
    tests/platform/windows_smoke.cpp platform/common.cpp \
    platform/windows/backend_windows.cpp platform/windows/library_windows.cpp \
    -static -o "$exe"
echo "built $exe"

wine=
if [ "${TARNWICK_WINDOWS_RUN:-1}" = 0 ]; then
    echo "compiled only (TARNWICK_WINDOWS_RUN=0)"
    exit 0
elif [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null; then
    wine=$(command -v wine64)
fi
if [ -z "$wine" ]; then
    echo "wine64 is not installed: compiled only, not run"
    exit 0
fi

# A prefix of our own, so that the user's ~/.wine is left alone; the first run creates it.
export WINEPREFIX=${WINEPREFIX:-$out/wineprefix}
export WINEDEBUG=-all
"$wine" "$exe"
