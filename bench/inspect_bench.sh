#!/usr/bin/env bash
# The hex viewer and the byte map against the system's own tools over the same bytes, in one run:
#   bench/inspect_bench.sh [BUILD_DIR] [ROUNDS]
# - a full page of the hex viewer on screen (offscreen), at 16 and 32 bytes a row: the median time
#   from the click to the painted grid (goal: under 30 ms);
# - a "Skip blank" scan over 1 GiB of zeros with a little data at its end, in the engine and in
#   the window, against `cmp -n 1G FILE /dev/zero` (goal: at least as fast);
# - a map of 2 GiB (the demo drive's image 32 times) at 1 sector a pixel, in the engine and in the
#   window, against `dd bs=1M` reading the same bytes (goal: at least dd's throughput).
# Files live in a RAM file system, so the tools' own costs are compared. As root, the map is also
# drawn from a loop device over its file, past the cache as the map reads, against dd
# iflag=direct. Medians of interleaved rounds, with the CPU seconds of each; ratios, not absolute
# times, because the machines here are shared and noisy.
set -euo pipefail
build=${1:-$(dirname "$0")/../build}
rounds=${2:-5}
bench=$(realpath "$build/bin/inspect_page_bench")
work=$(mktemp -d /dev/shm/tarnwick-inspect-bench-XXXXXX)
loop=
cleanup() {
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work

# Runs a command; prints its wall time and CPU time (user + system) in seconds. Our bench program
# prints the time of the action itself (without starting the program and its libraries): that
# one is taken instead of the process's.
measure() {
    /usr/bin/time -o "$work/time" -f '%e %U %S' bash -c "$1" >"$work/out" 2>/dev/null </dev/null || true
    local own
    own=$(grep -E '^[0-9.]+$' "$work/out" | tail -1 || true)
    tail -1 "$work/time" | awk -v own="$own" '{printf "%s %.3f\n", own != "" ? own : $1, $2 + $3}'
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# name, ours, theirs, what "theirs" is: interleaved rounds; ratio = their time / our time, so above
# 1 means faster than theirs.
compare() {
    local name=$1 a=() b=() ac=() bc=() m t
    for _ in $(seq "$rounds"); do
        m=$(measure "$2"); a+=("${m% *}"); ac+=("${m#* }")
        t=$(measure "$3"); b+=("${t% *}"); bc+=("${t#* }")
    done
    local ma mb
    ma=$(median "${a[@]}"); mb=$(median "${b[@]}")
    printf '%-36s tarnwick %6.3fs (cpu %5.3fs)   %-12s %6.3fs (cpu %5.3fs)   throughput x%.2f\n' "$name" "$ma" \
        "$(median "${ac[@]}")" "$4" "$mb" "$(median "${bc[@]}")" "$(echo "$mb / $ma" | bc -l)"
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), median of $rounds"

head -c 4M /dev/urandom >"$work/page.bin"
for width in 16 32; do
    printf 'hex viewer page, %2d bytes a row:      %s ms (goal: under 30)\n' "$width" \
        "$("$bench" page "$work/page.bin" "$width" 40 2>/dev/null)"
done

gib=1073741824
head -c $gib /dev/zero >"$work/blank.bin"
head -c 65536 /dev/urandom | dd of="$work/blank.bin" bs=65536 seek=$((gib / 65536 - 1)) conv=notrunc status=none
compare "skip blank, 1 GiB (engine)" "'$bench' scan '$work/blank.bin'" \
    "cmp -n $gib '$work/blank.bin' /dev/zero" "cmp"
compare "skip blank, 1 GiB (window)" "'$bench' blank '$work/blank.bin'" \
    "cmp -n $gib '$work/blank.bin' /dev/zero" "cmp"
rm -f "$work/blank.bin"

"$bench" demo "$work/demo.img"
for _ in $(seq 32); do cat "$work/demo.img"; done >"$work/map.img"
compare "map 2 GiB, S=1 (engine)" "'$bench' map '$work/map.img' 1" \
    "dd if='$work/map.img' of=/dev/null bs=1M" "dd bs=1M"
compare "map 2 GiB, S=1 (window)" "'$bench' mapwindow '$work/map.img' 1" \
    "dd if='$work/map.img' of=/dev/null bs=1M" "dd bs=1M"
if [ "$(id -u)" = 0 ] && loop=$(losetup -f --show "$work/map.img" 2>/dev/null); then
    compare "map 2 GiB, S=1, loop device (engine)" "'$bench' map '$loop' 1" \
        "dd if='$loop' of=/dev/null bs=1M iflag=direct" "dd direct"
fi
