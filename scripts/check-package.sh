#!/usr/bin/env bash
# Builds the .deb package, installs it on this machine (as root), checks that the installed
# programs run, and removes it again. The machine should not have tarnwick installed otherwise.
#   TARNWICK_PACKAGE_BUILD picks the build folder (default: build-package).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "check-package.sh installs a package: run it as root" >&2
    exit 1
fi
build=${TARNWICK_PACKAGE_BUILD:-build-package}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tarnwick_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tarnwick_*.deb)
echo "built $deb"
dpkg-deb -I "$deb" | sed -n '/Depends/p;/Recommends/p'

cleanup() { DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarnwick >/dev/null 2>&1 || true; }
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null

# The command line, from its installed path, with its disassembler plugin from /usr/lib/tarnwick.
(cd /tmp && /usr/bin/tarnwick-cli --demo partitions 0 | grep 'FAT32 LBA' >/dev/null)
(cd /tmp && /usr/bin/tarnwick-cli --demo disasm 0 --max 16 | grep -E '(JMP|CLI|XOR|MOV)' >/dev/null)
/usr/bin/tarnwick-cli --version
# No program or library of the package may look for libraries in the current folder.
for file in /usr/bin/tarnwick /usr/bin/tarnwick-cli /usr/lib/tarnwick/libDisasm.so; do
    if readelf -d "$file" | sed -n 's/.*Library r\(un\)\{0,1\}path: \[\(.*\)\]$/:\2:/p' | grep -Eq '::|:[^/$]'; then
        echo "$file has an empty or relative library search path entry" >&2
        exit 1
    fi
done
man -w tarnwick-cli >/dev/null
test -f /usr/share/doc/tarnwick/tarnwick.htm
test -f /usr/share/polkit-1/actions/org.tarnwick.pkexec.tarnwick.policy
test -f /usr/share/icons/hicolor/scalable/apps/tarnwick.svg
if command -v desktop-file-validate >/dev/null; then desktop-file-validate /usr/share/applications/tarnwick.desktop; fi

# The window starts in a virtual display and ends cleanly when asked to (SIGTERM after 5 s).
runtime=$(mktemp -d)
status=0
XDG_RUNTIME_DIR=$runtime xvfb-run -a timeout -s TERM 5 /usr/bin/tarnwick --demo >/dev/null 2>&1 || status=$?
rm -rf "$runtime"
if [ "$status" -ne 124 ]; then
    echo "the installed window did not keep running until it was stopped (status $status)" >&2
    exit 1
fi
echo "package ok"
