#!/usr/bin/env bash
# Cross-builds tarnwick-cli.exe and the engine tests for 64-bit Windows with mingw-w64, each one
# static .exe that needs only the system's DLLs. Qt for Windows is not packaged on Debian, so the
# window is not built here.
#   scripts/build-windows.sh          installs the cross compiler when missing, builds into build-win/
#   scripts/build-windows.sh --run    also installs wine64 and runs the engine tests under it, then
#                                     compares the CLI's output with a Linux build's
#                                     (scripts/windows-smoke.sh; the Linux program is
#                                     $TARNWICK_LINUX_CLI, or is built in $TARNWICK_LINUX_BUILD,
#                                     default build-lin/)
# TARNWICK_WINDOWS_BUILD (default build-win) is the build folder; WINEPREFIX defaults to one of
# its own under /tmp, so that the user's ~/.wine is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

run=0
case "${1:-}" in
--run) run=1 ;;
"") ;;
*)
    echo "usage: $0 [--run]" >&2
    exit 2
    ;;
esac

# Everything the cross build needs from Debian: the compiler (the posix thread model: the win32 one
# has no std::thread), zlib built for the target, and GoogleTest's source to build for it.
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || need+=(libz-mingw-w64-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v g++ >/dev/null || need+=(g++) # the manual's converter runs on this machine
wine=
if [ $run = 1 ]; then
    if [ -x /usr/lib/wine/wine64 ]; then
        wine=/usr/lib/wine/wine64
    else
        need+=(wine64)
    fi
fi
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}"
    [ "$(id -u)" = 0 ] || {
        echo "not root: install ${need[*]} first" >&2
        exit 2
    }
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
[ $run = 1 ] && wine=/usr/lib/wine/wine64

build=${TARNWICK_WINDOWS_BUILD:-build-win}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
werror=()
[ "${CI:-}" = true ] && werror=(-DTARNWICK_WERROR=ON)
# -O2 as on Linux: at -O3 GCC 12 warns falsely (-Wrestrict) inside std::string.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DTARNWICK_GUI=OFF -DTARNWICK_TESTS=ON "${launcher[@]}" "${werror[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

# One file to copy: no DLL beside it but the system's own.
exe=$build/bin/tarnwick-cli.exe
for program in "$exe" "$build"/bin/*_tests.exe; do
    others=$(x86_64-w64-mingw32-objdump -p "$program" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p' |
        grep -viE '^(kernel32|msvcrt|bcrypt|advapi32|user32|shell32|ole32|ws2_32|ntdll|api-ms-win-.*)\.dll$' || true)
    if [ -n "$others" ]; then
        echo "$program needs DLLs that Windows does not have: $others" >&2
        exit 1
    fi
done
echo "built $exe (needs only system DLLs)"
[ $run = 1 ] || exit 0

export WINEPREFIX=${WINEPREFIX:-/tmp/tarnwick-wine}
export WINEDEBUG=-all
# A server kept running spares every test the start of its own. It is started before anything
# else: one that a first command started ends a few seconds after it, refuses `-p` meanwhile, and
# a test started while it ends fails at once. It needs the prefix's folder to exist.
wineserver=$(dirname "$(readlink -f "$wine")")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
mkdir -p "$WINEPREFIX"
if [ -n "$wineserver" ] && ! "$wineserver" -p 60 2>/dev/null; then
    # Another one runs: let it end, then start ours.
    "$wineserver" -w || true
    "$wineserver" -p 60 || true
fi
# The first start makes the prefix (some seconds).
"$wine" cmd /c exit >/dev/null 2>&1 || true

(cd "$build" && ctest --output-on-failure -j "$(nproc)" --timeout 300)

linux_cli=${TARNWICK_LINUX_CLI:-}
if [ -z "$linux_cli" ]; then
    # Only the command line; the Linux build's own dependencies must be there (install-deps.sh).
    linux_build=${TARNWICK_LINUX_BUILD:-build-lin}
    [ -f "$linux_build/CMakeCache.txt" ] ||
        cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_GUI=OFF -DTARNWICK_TESTS=OFF \
            "${launcher[@]}" >/dev/null
    cmake --build "$linux_build" --target tarnwick-cli -j "$(nproc)"
    linux_cli=$linux_build/bin/tarnwick-cli
fi
WINE=$wine scripts/windows-smoke.sh "$linux_cli" "$exe"
