#!/usr/bin/env bash
# Rescue of a failing device against dd of a healthy one of the same size, in one run: prints
# both times and their ratio (ratios, not absolute times, because the machines here are noisy).
#   bench/rescue_bench.sh [SIZE_MIB] [BUILD_DIR]
# Both devices are read-only loop devices over the FUSE test disk (faulty_fuse, built with the
# tests): the failing one has 100 bad 4 KiB ranges spread evenly, each failed read taking 50 ms.
# The rescue must end with every good byte in its image (checked against dd's copy); the FUSE
# server's count of failed reads shows what the bad ranges cost. Needs root and /dev/fuse.
set -euo pipefail
size_mib=${1:-256}
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

# Runs a command from a dropped cache; prints its wall time in seconds.
measure() {
    sync; echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true
    /usr/bin/time -o "$work/time" -f '%e' bash -c "$1" >/dev/null 2>&1 </dev/null || true
    tail -1 "$work/time"
}

echo "$size_mib MiB, $ranges bad ranges of $range bytes, $delay_ms ms a failed read, $(nproc) cores; dd bs=1M iflag=direct conv=fsync"
t_dd=$(measure "dd if='$healthy' of='$work/dd.img' bs=1M iflag=direct conv=fsync")
t_ok=$(measure "'$cli' rescue '$healthy' '$work/ok.img' '$work/ok.map'")
cmp -s "$work/dd.img" "$work/ok.img" || { echo "the rescue of the healthy device differs from dd's copy" >&2; exit 1; }
t_bad=$(measure "'$cli' rescue '$failing' '$work/bad.img' '$work/bad.map'")

# Every good byte rescued: dd's copy with the bad ranges zeroed (the default fill) is the image.
for ((i = 1; i < ${#bad[@]}; i += 2)); do
    r=${bad[i]}
    dd if=/dev/zero of="$work/dd.img" bs=$range seek=$((${r%:*} / range)) count=1 conv=notrunc status=none
done
cmp "$work/dd.img" "$work/bad.img" || { echo "the rescued image differs from the good bytes" >&2; exit 1; }
grep -q ' +$' "$work/bad.map" && [ "$(grep -c '  -$' "$work/bad.map")" -eq "$ranges" ] ||
    { echo "the map does not name the $ranges bad ranges" >&2; exit 1; }

# The servers print their counts on the way out.
losetup -d "$failing" && losetup -d "$healthy" && loops=()
for p in "${servers[@]}"; do kill "$p"; wait "$p" || true; done
servers=()
printf '%-44s %7.2fs\n' "dd, healthy device" "$t_dd"
printf '%-44s %7.2fs   x%.2f\n' "rescue, healthy device" "$t_ok" "$(echo "$t_ok / $t_dd" | bc -l)"
printf '%-44s %7.2fs   x%.2f   (%s)\n' "rescue, failing device" "$t_bad" "$(echo "$t_bad / $t_dd" | bc -l)" \
    "$(sed -n 's/^faulty_fuse: //p' "$work/failing.log")"
echo "sector-by-sector floor for the failing device: $ranges ranges x $((range / 512)) sectors x $delay_ms ms =" \
    "$((ranges * range / 512 * delay_ms / 1000)) s when each bad sector fails once"
