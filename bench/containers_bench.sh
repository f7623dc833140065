#!/usr/bin/env bash
# Compressed images and zip export against gzip and zip over the same bytes, in one run: the
# median time of each, and times and sizes as ratios to the reference tool (ratios, not absolute
# times, because the machines here are noisy).
#   bench/containers_bench.sh [SIZE_MIB] [BUILD_DIR] [ROUNDS]
# The data is a third zeros, a third text (C headers and documentation from /usr) and a third
# random bytes. Everything lives in a RAM file system (/dev/shm), so what is measured is the
# programs' own work. Needs the tests built (containers_bench_tool) and gzip and zip installed.
set -euo pipefail
size_mib=${1:-256}
build=${2:-$(dirname "$0")/../build}
rounds=${3:-3}
tool=$(realpath "$build/bin/containers_bench_tool")
for t in gzip zip python3 bc; do
    command -v "$t" >/dev/null || { echo "$t is missing: apt-get install -y $t" >&2; exit 2; }
done
work=$(mktemp -d /dev/shm/tarnwick-containers-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

measure() { # wall seconds of a command
    /usr/bin/time -o "$work/time" -f '%e' bash -c "$1" >/dev/null 2>"$work/stderr" </dev/null ||
        { cat "$work/stderr" >&2; echo "failed: $1" >&2; exit 1; }
    tail -1 "$work/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc -l | sed 's/^\./0./'; }

bytes=$((size_mib * 1048576))
third=$((bytes / 3))
head -c "$third" /dev/zero >"$work/src.bin"
find /usr/include /usr/share/doc -type f \( -name '*.h' -o -name '*.txt' -o -name 'copyright' -o -name '*.md' \) \
    -print0 2>/dev/null | xargs -0 cat 2>/dev/null | head -c "$third" >"$work/text" || true
while [ "$(stat -c %s "$work/text")" -lt "$third" ]; do cat "$work/text" "$work/text" | head -c "$third" >"$work/t2"; mv "$work/t2" "$work/text"; done
cat "$work/text" >>"$work/src.bin"
head -c $((bytes - 2 * third)) /dev/urandom >>"$work/src.bin"
rm "$work/text"
truncate -s "$bytes" "$work/target.bin"

echo "$size_mib MiB (a third zeros, text, random), $(nproc) cores, median of $rounds"
echo "$("$tool" 2>&1 | tail -1)"
printf '%-34s %8s %8s %8s %8s\n' "" "ours s" "ref s" "time" "size"

# name, our command, reference command, our output, reference output (empty: no size column)
compare() {
    local name=$1 a=() b=() ma mb size=""
    for _ in $(seq "$rounds"); do
        a+=("$(measure "$2")")
        b+=("$(measure "$3")")
    done
    ma=$(median "${a[@]}"); mb=$(median "${b[@]}")
    if [ -n "${4:-}" ]; then size=$(ratio "$(stat -c %s "$4")" "$(stat -c %s "$5")"); fi
    printf '%-34s %8.2f %8.2f %8s %8s\n' "$name" "$ma" "$mb" "x$(ratio "$ma" "$mb")" "${size:+x$size}"
}

gz="gzip -1 -c '$work/src.bin' >'$work/ref.gz'"
for codec in zlib zlib-parallel isal isal-parallel; do
    "$tool" cdi-save "$codec" "$work/src.bin" "$work/probe.cdi" >/dev/null 2>&1 || { echo "$codec: not in this build"; continue; }
    compare "save, $codec vs gzip -1" "'$tool' cdi-save $codec '$work/src.bin' '$work/$codec.cdi'" "$gz" \
        "$work/$codec.cdi" "$work/ref.gz"
    python3 - "$work/$codec.cdi" "$work/src.bin" <<'EOF'
import sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[512:514] == b"\x78\x01"
d = zlib.decompressobj()
assert d.decompress(data[512:]) == open(sys.argv[2], "rb").read() and d.eof
EOF
done
rm -f "$work/probe.cdi"

# Without ISA-L only the zlib image exists: ls fails on the other, which is not an error here.
default=$(ls "$work"/isal-parallel.cdi "$work"/zlib-parallel.cdi 2>/dev/null | head -1 || true)
for codec in zlib isal; do
    "$tool" cdi-load "$codec" "$default" "$work/target.bin" >/dev/null 2>&1 || { echo "$codec: not in this build"; continue; }
    compare "load, $codec vs gzip -dc" "'$tool' cdi-load $codec '$default' '$work/target.bin'" \
        "gzip -dc '$work/ref.gz' >'$work/ref.out'"
    cmp -s "$work/src.bin" "$work/target.bin" || { echo "load differs from its source" >&2; exit 1; }
done

# A zip entry holds at most 2 GiB, and zip stores the file's name: compare the same bytes.
compare "zip export vs zip -1" "rm -f '$work/ours.zip'; '$tool' zip '$work/src.bin' '$work/ours.zip'" \
    "rm -f '$work/ref.zip'; cd '$work' && zip -1 -q ref.zip src.bin" "$work/ours.zip" "$work/ref.zip"
python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None' "$work/ours.zip"
