#!/usr/bin/env bash
# SIGTERM ends the window while its start-up question "Administrator rights" is open. The real
# program runs as user nobody in a virtual X display (offscreen it would not ask) and finds a
# pkexec at /usr/bin/pkexec, laid over /usr/bin in a private mount namespace when the system has
# none. Once the question is on screen it gets SIGTERM and must end, with status 0, within 3 s.
# Usage: elevation_signal_test.sh PROGRAM
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root, to start the program as another user"; exit 77; }
for tool in Xvfb xwininfo setpriv unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
install -m 755 "$1" "$work/tarnwick" # runnable by nobody, whatever the build folder allows
install -d -o nobody -m 700 "$work/home"
mkdir "$work/bin" && printf '#!/bin/sh\nexit 127\n' >"$work/bin/pkexec" && chmod 755 "$work/bin/pkexec"

WORK=$work exec unshare --mount bash -euo pipefail -c '
    [ -x /usr/bin/pkexec ] || mount -t overlay overlay -o "lowerdir=$WORK/bin:/usr/bin" /usr/bin ||
        { echo "SKIP: cannot lay a pkexec over /usr/bin"; exit 77; }
    Xvfb -displayfd 3 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
    trap "kill $! 2>/dev/null" EXIT
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    display=:$(head -n 1 "$WORK/display")
    setpriv --reuid=nobody --regid=nogroup --clear-groups env -i DISPLAY="$display" HOME="$WORK/home" \
        XDG_RUNTIME_DIR="$WORK/home" PATH=/usr/bin:/bin ASAN_OPTIONS=detect_leaks=0 "$WORK/tarnwick" 2>"$WORK/log" &
    program=$!
    asked=
    for _ in $(seq 200); do
        xwininfo -display "$display" -root -tree 2>/dev/null | grep -q "\"Administrator rights\"" && asked=1 && break
        kill -0 $program 2>/dev/null || { echo "FAIL: ended before asking: $(cat "$WORK/log")"; exit 1; }
        sleep 0.1
    done
    [ -n "$asked" ] || { echo "FAIL: the question did not appear within 20 s"; exit 1; }
    kill -TERM $program
    for _ in $(seq 30); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
    if kill -0 $program 2>/dev/null; then
        kill -KILL $program
        echo "FAIL: SIGTERM did not end the program within 3 s while it asked"; exit 1
    fi
    status=0 && wait $program || status=$?
    [ $status -eq 0 ] || { echo "FAIL: ended with status $status: $(cat "$WORK/log")"; exit 1; }
'
