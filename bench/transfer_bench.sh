#!/usr/bin/env bash
# Dump and restore speed against dd over the same bytes, in one run: prints each time and its
# ratio to dd (ratios, not absolute times, because the machines here are noisy).
#   bench/transfer_bench.sh [SIZE_MIB] [BUILD_DIR]
# Needs root for the loop-device part (skipped otherwise).
set -euo pipefail
size_mib=${1:-1024}
build=${2:-$(dirname "$0")/../build}
cli=$(realpath "$build/bin/tarnwick-cli")
work=$(mktemp -d /var/tmp/tarnwick-bench-XXXXXX)
loops=()
cleanup() {
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

seconds() { # runs a command, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 </dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
drop_caches() { sync; echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true; }
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
# Three rounds, the three contenders interleaved and each starting from a cold cache; the
# median of each is reported.
compare() { # name, then three commands as strings: ours, dd bs=8K, dd bs=1M
    local name=$1 a=() b=() c=()
    for _ in 1 2 3; do
        drop_caches; a+=("$(seconds bash -c "$2")")
        drop_caches; b+=("$(seconds bash -c "$3")")
        drop_caches; c+=("$(seconds bash -c "$4")")
    done
    report "$name" "$(median3 "${a[@]}")" "$(median3 "${b[@]}")" "$(median3 "${c[@]}")"
}
report() { # name ours dd8k dd1m
    printf '%-34s tarnwick %6.2fs   dd bs=8K %6.2fs (x%.2f)   dd bs=1M %6.2fs (x%.2f)\n' \
        "$1" "$2" "$3" "$(echo "$2 / $3" | bc -l)" "$4" "$(echo "$2 / $4" | bc -l)"
}

echo "$size_mib MiB, $(nproc) cores; dd runs with conv=fsync because tarnwick flushes before it reports success"
head -c "$((size_mib * 1048576))" /dev/urandom >"$work/src.img"

compare "dump file -> image file" \
    "'$cli' dump '$work/src.img' '$work/out.raw' --replace" \
    "dd if='$work/src.img' of='$work/dd.raw' bs=8K conv=fsync" \
    "dd if='$work/src.img' of='$work/dd.raw' bs=1M conv=fsync"
cmp -s "$work/src.img" "$work/out.raw" || { echo "dump differs from its source" >&2; exit 1; }
if [ -x "$build/bin/gui_dump_bench" ]; then
    # The same dump started from the window's button: progress bar, status line and event pump.
    compare "dump file from the window" \
        "'$(realpath "$build/bin/gui_dump_bench")' '$work/src.img' '$work/gui.raw'" \
        "dd if='$work/src.img' of='$work/dd.raw' bs=8K conv=fsync" \
        "dd if='$work/src.img' of='$work/dd.raw' bs=1M conv=fsync"
fi

if [ "$(id -u)" -ne 0 ] || ! losetup -f >/dev/null 2>&1; then
    echo "loop devices: skipped (needs root)"
    exit 0
fi
truncate -s "$((size_mib * 1048576))" "$work/target.img"
src_loop=$(losetup -f --show "$work/src.img"); loops+=("$src_loop")
dst_loop=$(losetup -f --show "$work/target.img"); loops+=("$dst_loop")

compare "dump loop device -> image file" \
    "'$cli' dump '$src_loop' '$work/out.raw' --replace" \
    "dd if='$src_loop' of='$work/dd.raw' bs=8K conv=fsync" \
    "dd if='$src_loop' of='$work/dd.raw' bs=1M conv=fsync"
compare "restore image file -> loop device" \
    "'$cli' restore '$work/out.raw' '$dst_loop' --agree" \
    "dd if='$work/out.raw' of='$dst_loop' bs=8K conv=fsync" \
    "dd if='$work/out.raw' of='$dst_loop' bs=1M conv=fsync"
'$cli' restore "$work/out.raw" "$dst_loop" --agree >/dev/null 2>&1 </dev/null
cmp -s "$src_loop" "$dst_loop" || { echo "restore differs from the image" >&2; exit 1; }
