#!/usr/bin/env bash
# The manual's pictures, taken offscreen into a temporary folder: the run must end within its time
# and write every picture expected of this build. Usage: screenshots_test.sh TOOL SECONDS NAME...
set -uo pipefail
tool=$1 seconds=$2
shift 2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$out timeout -k 5 "$seconds" "$tool" "$out/pictures"
status=$?
[ $status -ne 124 ] && [ $status -ne 137 ] || { echo "FAIL: the run did not end within $seconds s"; exit 1; }
[ $status -eq 0 ] || { echo "FAIL: the run ended with status $status"; exit 1; }
for name in "$@"; do
    [ "$(head -c 4 "$out/pictures/$name.png" 2>/dev/null | tail -c 3)" = PNG ] || { echo "FAIL: no $name.png"; exit 1; }
done
