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
if [ "${1:-}" = --xvfb ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/tarnwick-screenshots" "$out"
else
    QT_QPA_PLATFORM=offscreen "$build/bin/tarnwick-screenshots" "$out"
fi
cmake --build "$build" --target tarnwick-docs
echo "Pictures in $out; manual in $build/bin/tarnwick.htm and tarnwick.pdf"
