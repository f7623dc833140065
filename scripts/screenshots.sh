#!/usr/bin/env bash
# Retakes the pictures of the manual (docs/screenshots/*.png) from the program itself: the main
# window on the demo drive, the overwrite gate, the information and reference windows, the file
# browser, and every tool window that is built (the others are skipped and named). Then rebuilds
# tarnwick.htm and tarnwick.pdf.
#   scripts/screenshots.sh           offscreen (no display needed)
#   scripts/screenshots.sh --xvfb    inside a virtual X display, as a desktop would draw it
# TARNWICK_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${TARNWICK_BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
targets=(tarnwick-screenshots)
# The disassembly is offered only when its library lies beside the program.
if cmake --build "$build" --target help 2>/dev/null | grep -qE '(^|[ .])Disasm( |$)'; then
    targets+=(Disasm)
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

out=docs/screenshots
mkdir -p "$out"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
# A run takes about 20 s; one that waits on something nobody answers is ended.
limit=(timeout -k 10 300)
status=0
if [ "${1:-}" = --xvfb ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "${limit[@]}" "$build/bin/tarnwick-screenshots" "$out" || status=$?
else
    QT_QPA_PLATFORM=offscreen "${limit[@]}" "$build/bin/tarnwick-screenshots" "$out" || status=$?
fi
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "screenshots.sh: the run did not end within 300 s" >&2
    exit 1
fi
[ "$status" -eq 0 ] || exit "$status"
cmake --build "$build" --target tarnwick-docs
echo "Pictures in $out; manual in $build/bin/tarnwick.htm and tarnwick.pdf"
