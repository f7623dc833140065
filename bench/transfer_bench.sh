#!/usr/bin/env bash
# Dump, restore and copy against dd bs=1M conv=fsync over the same bytes, in one run: prints the
# median of each and their ratio (ratios, not absolute times, because the machines here are noisy).
#   bench/transfer_bench.sh [SIZE_MIB] [BUILD_DIR] [ROUNDS]
# Everything lives in a RAM file system (/dev/shm), so the first part measures the program's own
# cost with the data in memory. As root, the same is measured on loop devices over those files,
# through the block layer: past the system's cache (tarnwick's default, against dd
# iflag=direct/oflag=direct) and through it (--buffered, against dd's default). Peak memory is
# reported for each of our runs.
set -euo pipefail
size_mib=${1:-1024}
build=${2:-$(dirname "$0")/../build}
rounds=${3:-5}
cli=$(realpath "$build/bin/tarnwick-cli")
work=$(mktemp -d /dev/shm/tarnwick-bench-XXXXXX)
loops=()
cleanup() {
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Runs a command, prints its wall time in seconds and its peak memory in KiB.
measure() {
    /usr/bin/time -o "$work/time" -f '%e %M' bash -c "$1" >"$work/stdout" 2>/dev/null </dev/null || true
    tail -1 "$work/time"
}
# Only the devices' own cached copies: dropping every cache frees gigabytes at once, and on a
# virtual machine that hands freed memory back to its host, the next runs then pay for touching
# memory again, for seconds and at random (one such run measured x5 where the figure is x1).
drop_device_caches() { [ "${#loops[@]}" -eq 0 ] || blockdev --flushbufs "${loops[@]}" 2>/dev/null || true; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# name, ours, dd[, other's name]: the two interleaved, `rounds` times; with cold=1 each with the
# loop devices' cached copies dropped first (where a device is read through the cache).
# With timed_by_itself=1, ours prints the seconds its action took (the window's dump, from the
# click: the window's start is not the action's cost), and that is its time.
# `before_ours` and `before_theirs`, when set, run untimed before each run of the two: they remove
# the output files, so that both write a new one (replacing a file frees the old one only after
# the new one is written, while dd's truncation frees it first, for the writing to take again).
timed_by_itself=0
before_ours=
before_theirs=
new_outputs() { before_ours="rm -f '$work/out.raw'"; before_theirs="rm -f '$work/dd.raw'"; }
same_outputs() { before_ours=; before_theirs=; }
cold=0
compare() {
    local name=$1 other=${4:-dd} a=() b=() peak=0 m t
    for _ in $(seq "$rounds"); do
        [ -z "$before_ours" ] || bash -c "$before_ours"
        [ "$cold" = 1 ] && drop_device_caches; m=$(measure "$2"); [ "${m#* }" -gt "$peak" ] && peak=${m#* }
        if [ "$timed_by_itself" = 1 ]; then a+=("$(tail -1 "$work/stdout")"); else a+=("${m% *}"); fi
        [ -z "$before_theirs" ] || bash -c "$before_theirs"
        [ "$cold" = 1 ] && drop_device_caches; t=$(measure "$3"); b+=("${t% *}")
    done
    local ma mb
    ma=$(median "${a[@]}"); mb=$(median "${b[@]}")
    printf '%-44s tarnwick %6.2fs   %s %6.2fs   x%.2f   peak %d MiB\n' "$name" "$ma" "$other" "$mb" \
        "$(echo "$ma / $mb" | bc -l)" "$((peak / 1024))"
}

echo "$size_mib MiB, $(nproc) cores, median of $rounds; dd bs=1M conv=fsync (tarnwick flushes before it reports success)"
bytes=$((size_mib * 1048576))
head -c "$bytes" /dev/urandom >"$work/src.img"
truncate -s "$bytes" "$work/target.img"

new_outputs
compare "dump file -> image file" \
    "'$cli' dump '$work/src.img' '$work/out.raw'" \
    "dd if='$work/src.img' of='$work/dd.raw' bs=1M conv=fsync"
same_outputs
cmp -s "$work/src.img" "$work/out.raw" || { echo "dump differs from its source" >&2; exit 1; }
compare "restore image file -> file" \
    "'$cli' restore '$work/out.raw' '$work/target.img' --agree" \
    "dd if='$work/out.raw' of='$work/target.img' bs=1M conv=fsync,notrunc"
compare "copy file -> file" \
    "'$cli' copy '$work/src.img' '$work/target.img' --agree" \
    "dd if='$work/src.img' of='$work/target.img' bs=1M conv=fsync,notrunc"
cmp -s "$work/src.img" "$work/target.img" || { echo "copy differs from its source" >&2; exit 1; }
# Digests while imaging: one read feeding MD5, SHA-1 and SHA-256, against the pipeline that tees
# dd's output into the three standard tools (which run side by side too); and a restore with its
# read-back check against a restore followed by cmp.
new_outputs
compare "dump + md5,sha1,sha256 vs dd|tee 3 sums" \
    "'$cli' dump '$work/src.img' '$work/out.raw' --hash md5,sha1,sha256" \
    "rm -f '$work/m' '$work/s'; dd if='$work/src.img' bs=1M | tee '$work/dd.raw' | tee >(md5sum >'$work/m') >(sha1sum >'$work/s') | sha256sum >'$work/h'; while [ ! -s '$work/m' ] || [ ! -s '$work/s' ]; do sleep 0.01; done; sync '$work/dd.raw'"
same_outputs
compare "restore --verify vs restore + cmp" \
    "'$cli' restore '$work/out.raw' '$work/target.img' --agree --verify" \
    "'$cli' restore '$work/out.raw' '$work/target.img' --agree && cmp '$work/out.raw' '$work/target.img'"
if [ -x "$build/bin/gui_dump_bench" ]; then
    # The same dump started from the window's button: progress bar, status line and event pump,
    # timed from the click to its end, against dd and against the whole command line's run.
    # Each writes a new file: the window's run has no replace question to answer.
    timed_by_itself=1
    before_ours="rm -f '$work/gui.raw'"
    before_theirs="rm -f '$work/dd.raw' '$work/cli.raw'"
    compare "dump file from the window (the action)" \
        "'$(realpath "$build/bin/gui_dump_bench")' '$work/src.img' '$work/gui.raw'" \
        "dd if='$work/src.img' of='$work/dd.raw' bs=1M conv=fsync"
    compare "dump file, the window's action vs the cli" \
        "'$(realpath "$build/bin/gui_dump_bench")' '$work/src.img' '$work/gui.raw'" \
        "'$cli' dump '$work/src.img' '$work/cli.raw'" "cli"
    timed_by_itself=0
fi

if [ "$(id -u)" -ne 0 ] || ! losetup -f >/dev/null 2>&1; then
    echo "loop devices: skipped (needs root)"
    exit 0
fi
src_loop=$(losetup -f --show "$work/src.img"); loops+=("$src_loop")
dst_loop=$(losetup -f --show "$work/target.img"); loops+=("$dst_loop")

cold=1
new_outputs
compare "dump loop device -> image file, buffered" \
    "'$cli' dump '$src_loop' '$work/out.raw' --buffered" \
    "dd if='$src_loop' of='$work/dd.raw' bs=1M conv=fsync"
same_outputs
cold=0
compare "restore image file -> loop device, buffered" \
    "'$cli' restore '$work/out.raw' '$dst_loop' --agree --buffered" \
    "dd if='$work/out.raw' of='$dst_loop' bs=1M conv=fsync"
cold=1
compare "copy loop device -> loop device, buffered" \
    "'$cli' copy '$src_loop' '$dst_loop' --agree --buffered" \
    "dd if='$src_loop' of='$dst_loop' bs=1M conv=fsync"
cmp -s "$src_loop" "$dst_loop" || { echo "copy differs from its source" >&2; exit 1; }
cold=0
new_outputs
compare "dump loop device -> image file, direct" \
    "'$cli' dump '$src_loop' '$work/out.raw'" \
    "dd if='$src_loop' of='$work/dd.raw' bs=1M iflag=direct conv=fsync"
same_outputs
compare "restore image file -> loop device, direct" \
    "'$cli' restore '$work/out.raw' '$dst_loop' --agree" \
    "dd if='$work/out.raw' of='$dst_loop' bs=1M oflag=direct conv=fsync"
compare "copy loop device -> loop device, direct" \
    "'$cli' copy '$src_loop' '$dst_loop' --agree" \
    "dd if='$src_loop' of='$dst_loop' bs=1M iflag=direct oflag=direct conv=fsync"
