#!/usr/bin/env bash
# Checksum and erase against the usual tools over the same bytes, in one run, and the speed test
# against dd iflag=direct: prints the median of each and the speed ratio (the other tool's time
# over ours: above 1 we are faster). Ratios, not absolute times: the machines here are noisy.
#   bench/maintenance_bench.sh [SIZE_MIB] [BUILD_DIR] [ROUNDS]
# The data lives in a RAM file system (/dev/shm), so the digests and the generator, not a disk,
# are what is measured. As root, the speed test and the erase also run on a loop device over such
# a file, past the system's cache as tarnwick does (against dd iflag=direct / oflag=direct).
# Goals: each digest alone at least 0.95 x openssl dgst; both digests in one pass at least 1.5 x
# md5sum followed by sha1sum; erase (zeros and random) at least as fast as dd bs=1M conv=fsync.
set -euo pipefail
size_mib=${1:-1024}
build=${2:-$(dirname "$0")/../build}
rounds=${3:-5}
cli=$(realpath "$build/bin/tarnwick-cli")
work=$(mktemp -d /dev/shm/tarnwick-maint-bench-XXXXXX)
loop=
cleanup() {
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

seconds() {
    local start end
    start=$(date +%s%N)
    bash -c "$1" >/dev/null 2>&1 </dev/null || { echo "failed: $1" >&2; exit 1; }
    end=$(date +%s%N)
    echo "scale=4; ($end - $start) / 1000000000" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Runs every case once per round, interleaved, so a busy moment hits all of them alike.
declare -A runs
run_rounds() {
    local name
    for _ in $(seq "$rounds"); do
        for name in "$@"; do runs[$name]+=" $(seconds "${cmd[$name]}")"; done
    done
}
med() { median ${runs[$1]}; }
ratio() { # name, ours, theirs (median seconds)
    printf '%-48s tarnwick %6.2fs   %s %6.2fs   x%.2f\n' "$1" "$2" "$4" "$3" "$(echo "$3 / $2" | bc -l)"
}

bytes=$((size_mib * 1048576))
echo "$size_mib MiB in /dev/shm, $(nproc) cores, median of $rounds; $(openssl version)"
openssl rand -out "$work/data.bin" "$bytes"
truncate -s "$bytes" "$work/wipe.bin"

# The digests must agree before they are timed.
ours=$("$cli" checksum "$work/data.bin")
theirs="MD5 $(md5sum "$work/data.bin" | cut -c1-32 | tr a-f A-F)
SHA1 $(sha1sum "$work/data.bin" | cut -c1-40 | tr a-f A-F)"
[ "$ours" = "$theirs" ] || { echo "digests differ: $ours / $theirs" >&2; exit 1; }

declare -A cmd=(
    [ours_md5]="'$cli' checksum '$work/data.bin' --md5"
    [openssl_md5]="openssl dgst -md5 '$work/data.bin'"
    [ours_sha1]="'$cli' checksum '$work/data.bin' --sha1"
    [openssl_sha1]="openssl dgst -sha1 '$work/data.bin'"
    [ours_both]="'$cli' checksum '$work/data.bin' --both"
    [md5sum]="md5sum '$work/data.bin'"
    [sha1sum]="sha1sum '$work/data.bin'"
    [md5sum_sha1sum]="md5sum '$work/data.bin'; sha1sum '$work/data.bin'"
    [ours_erase_00]="'$cli' erase '$work/wipe.bin' --pattern 00 --agree"
    [ours_erase_random]="'$cli' erase '$work/wipe.bin' --pattern random --agree"
    [dd_zero]="dd if=/dev/zero of='$work/wipe.bin' bs=1M count=$size_mib conv=fsync,notrunc"
)
run_rounds ours_md5 openssl_md5 ours_sha1 openssl_sha1 ours_both md5sum_sha1sum md5sum sha1sum \
    ours_erase_00 ours_erase_random dd_zero
ratio "checksum --md5 vs openssl dgst -md5" "$(med ours_md5)" "$(med openssl_md5)" "openssl"
ratio "checksum --sha1 vs openssl dgst -sha1" "$(med ours_sha1)" "$(med openssl_sha1)" "openssl"
ratio "checksum --md5 vs md5sum" "$(med ours_md5)" "$(med md5sum)" "md5sum "
ratio "checksum --sha1 vs sha1sum" "$(med ours_sha1)" "$(med sha1sum)" "sha1sum"
ratio "checksum (both) vs md5sum then sha1sum" "$(med ours_both)" "$(med md5sum_sha1sum)" "both   "
ratio "erase --pattern 00 vs dd if=/dev/zero bs=1M" "$(med ours_erase_00)" "$(med dd_zero)" "dd     "
ratio "erase --pattern random vs dd if=/dev/zero bs=1M" "$(med ours_erase_random)" "$(med dd_zero)" "dd     "

if [ "$(id -u)" != 0 ] || ! loop=$(losetup -f --show "$work/wipe.bin" 2>/dev/null); then
    echo "(not root or no loop devices: the loop-device part is left out)"
    exit 0
fi
echo "loop device $loop over a $size_mib MiB file in /dev/shm, past the cache"
cmd[ours_loop_erase_00]="'$cli' erase '$loop' --pattern 00 --agree"
cmd[ours_loop_erase_random]="'$cli' erase '$loop' --pattern random --agree"
cmd[dd_loop_zero]="dd if=/dev/zero of='$loop' bs=1M count=$size_mib oflag=direct conv=fsync"
cmd[dd_loop_read]="dd if='$loop' of=/dev/null bs=128K count=$((size_mib * 8)) iflag=direct"
run_rounds ours_loop_erase_00 ours_loop_erase_random dd_loop_zero dd_loop_read
ratio "erase --pattern 00 vs dd oflag=direct bs=1M" "$(med ours_loop_erase_00)" "$(med dd_loop_zero)" "dd     "
ratio "erase --pattern random vs dd oflag=direct bs=1M" "$(med ours_loop_erase_random)" "$(med dd_loop_zero)" "dd     "

# The speed test's average against dd's rate over the same bytes. The test counts at least one
# millisecond a sample, so a sample of n x 128 KiB reads at most n x 131072 bytes a millisecond.
averages=()
samples=0
for _ in $(seq "$rounds"); do
    out=$("$cli" speed "$loop")
    samples=$(printf '%s\n' "$out" | grep -c '^[0-9]')
    averages+=("$(printf '%s\n' "$out" | sed -n 's/^Average: \([0-9]*\) kb\/s.*/\1/p')")
done
average=$(median "${averages[@]}")
dd_rate=$(echo "$bytes / ($(med dd_loop_read) * 1000)" | bc -l) # bytes per millisecond
n=$(( (size_mib + 64) / 128 ))
ceiling=$((n * 131072))
printf '%-48s %d samples, average %d kB/s, dd %.0f kB/s, ratio x%.2f (ceiling %d kB/s)\n' \
    "speed test vs dd iflag=direct bs=128K" "$samples" "$average" "$dd_rate" \
    "$(echo "$average / $dd_rate" | bc -l)" "$ceiling"
