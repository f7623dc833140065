#!/usr/bin/env bash
# Rescue of a failing device against dd in one run: dd of a healthy one of the same size, and dd
# going on past each error (conv=noerror,sync, one 4 KiB page a read: the standard tool's way to
# every good byte of the failing one). Prints the times and their ratio to the healthy dd
# (ratios, not absolute times, because the machines here are noisy).
#   bench/rescue_bench.sh [SIZE_MIB] [BUILD_DIR]
# The devices are read-only loop devices over the FUSE test disk (faulty_fuse, built with the
# tests): the failing ones have 100 bad 4 KiB ranges spread evenly, each failed read taking 50 ms
# (one per run, so that each server's count of failed reads is that run's). Every image must end
# with every good byte (checked against dd's copy) and every complete map must name exactly the
# bad ranges. Needs root and /dev/fuse.
set -euo pipefail
size_mib=${1:-1024}
build=${2:-$(dirname "$0")/../build}
ranges=100 range=4096 delay_ms=50
cli=$(realpath "$build/bin/tarnwick-cli")
fuse=$build/bin/faulty_fuse
if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/fuse ] || [ ! -x "$fuse" ]; then
    echo "rescue bench: skipped (needs root, /dev/fuse and $fuse, built when fuse3 is installed)"
    exit 0
fi
work=$(mktemp -d /dev/shm/tarnwick-rescue-bench-XXXXXX)
loops=() servers=() mounts=()
cleanup() {
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    for p in "${servers[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    for m in "${mounts[@]}"; do
        if grep -q " $m " /proc/mounts; then fusermount3 -u -z "$m" 2>/dev/null || true; fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

bytes=$((size_mib * 1048576))
bad=()
for i in $(seq 0 $((ranges - 1))); do
    bad+=(--bad "$(((bytes / ranges * i + bytes / ranges / 2) / range * range)):$range")
done

# name, server options...: mounts a disk on $work/name and attaches a read-only loop device to it;
# the node goes to the variable named `name`.
disk() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    "$fuse" "$work/$name" "$bytes" "$@" 2>"$work/$name.log" &
    servers+=($!)
    mounts+=("$work/$name")
    for _ in $(seq 500); do [ -e "$work/$name/disk" ] && break; sleep 0.01; done
    [ -e "$work/$name/disk" ] || { echo "mounting the FUSE disk failed" >&2; exit 1; }
    local node
    node=$(losetup --find --show --read-only "$work/$name/disk")
    loops+=("$node")
    printf -v "$name" '%s' "$node"
}
disk healthy
disk failing --delay-ms "$delay_ms" "${bad[@]}"
disk failing2 --delay-ms "$delay_ms" "${bad[@]}"
disk failing3 --delay-ms "$delay_ms" "${bad[@]}"
disk failing4 --delay-ms "$delay_ms" "${bad[@]}"

# Runs a command from a dropped cache; prints its wall time in seconds.
measure() {
    sync; echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true
    /usr/bin/time -o "$work/time" -f '%e' bash -c "$1" >/dev/null 2>&1 </dev/null || true
    tail -1 "$work/time"
}

echo "$size_mib MiB, $ranges bad ranges of $range bytes, $delay_ms ms a failed read, $(nproc) cores"
echo "(the loop devices say 512-byte sectors; the FUSE disk under them fails whole 4 KiB pages)"
t_dd=$(measure "dd if='$healthy' of='$work/dd.img' bs=1M iflag=direct conv=fsync")
t_ok=$(measure "'$cli' rescue '$healthy' '$work/ok.img' '$work/ok.map'")
cmp -s "$work/dd.img" "$work/ok.img" || { echo "the rescue of the healthy device differs from dd's copy" >&2; exit 1; }
# The standard tool's way to every good byte: dd going on past each error, one page a read.
t_noerror=$(measure "dd if='$failing4' of='$work/noerror.img' bs=$range iflag=direct conv=noerror,sync,fsync")
# Every good byte, the bad pages' middles left for later; then the complete map at the pages'
# size, and the complete map at the size the device says.
t_good=$(measure "'$cli' rescue '$failing' '$work/good.img' '$work/good.map' --no-scrape")
t_page=$(measure "'$cli' rescue '$failing2' '$work/page.img' '$work/page.map' --sector-size $range")
t_full=$(measure "'$cli' rescue '$failing3' '$work/full.img' '$work/full.map'")

# Every good byte rescued: dd's copy with the bad ranges zeroed (the default fill, and the holes
# a --no-scrape run leaves) is each image.
for ((i = 1; i < ${#bad[@]}; i += 2)); do
    r=${bad[i]}
    dd if=/dev/zero of="$work/dd.img" bs=$range seek=$((${r%:*} / range)) count=1 conv=notrunc status=none
done
for name in good page full noerror; do
    cmp "$work/dd.img" "$work/$name.img" || { echo "the $name image differs from the good bytes" >&2; exit 1; }
done
for name in page full; do
    grep -q ' +$' "$work/$name.map" && [ "$(grep -c '  -$' "$work/$name.map")" -eq "$ranges" ] ||
        { echo "the $name map does not name the $ranges bad ranges" >&2; exit 1; }
done

# The servers print their counts on the way out.
for l in "${loops[@]}"; do losetup -d "$l"; done
loops=()
for p in "${servers[@]}"; do kill "$p"; wait "$p" || true; done
servers=()
counts() { sed -n 's/^faulty_fuse: //p' "$work/$1.log"; }
line() { printf '%-52s %7.2fs   x%.2f   (%s)\n' "$1" "$2" "$(echo "$2 / $t_dd" | bc -l)" "$3"; }
printf '%-52s %7.2fs\n' "dd bs=1M iflag=direct, healthy device" "$t_dd"
line "rescue, healthy device" "$t_ok" "$(counts healthy)"
line "dd bs=$range conv=noerror,sync, failing device" "$t_noerror" "$(counts failing4)"
line "rescue --no-scrape: every good byte" "$t_good" "$(counts failing)"
line "rescue --sector-size $range: complete map" "$t_page" "$(counts failing2)"
line "rescue: complete map in 512-byte sectors" "$t_full" "$(counts failing3)"
echo "floor: one failed read per bad range costs $ranges x $delay_ms ms = $((ranges * delay_ms / 1000)) s;" \
    "a rescue reads each bad range once whole in its first pass and once more when it trims"
