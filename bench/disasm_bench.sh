#!/usr/bin/env bash
# The disassembly listing against objdump -d over the same bytes: 1 MiB of real x86-64 code (the
# text section of a system library), listed through our library by tarnwick-cli disasm and by
# objdump; prints instructions per second of each and their ratio, medians of ROUNDS runs.
#   bench/disasm_bench.sh [BUILD_DIR] [ROUNDS] [LIBRARY]
# Both write their listing to a file in a RAM file system. Exits with 1 when ours is slower.
set -euo pipefail
build=${1:-$(dirname "$0")/../build}
rounds=${2:-5}
cli=$(realpath "$build/bin/tarnwick-cli")
bytes=1048576
work=$(mktemp -d /dev/shm/tarnwick-disasm-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

library=${3:-}
if [ -z "$library" ]; then
    for candidate in /usr/lib/x86_64-linux-gnu/libQt6Widgets.so.6 /usr/lib/x86_64-linux-gnu/libQt6Core.so.6 \
                     /usr/lib/x86_64-linux-gnu/libcrypto.so.3 /usr/lib/x86_64-linux-gnu/libc.so.6; do
        [ -e "$candidate" ] && { library=$candidate; break; }
    done
fi
[ -n "$library" ] || { echo "no system library found; name one as the third argument" >&2; exit 2; }

# The first MiB of its code, as a raw file for us and as the .text of an object for objdump -d.
objcopy -O binary --only-section=.text "$library" "$work/text.bin"
head -c "$bytes" "$work/text.bin" >"$work/code.bin"
[ "$(stat -c %s "$work/code.bin")" -eq "$bytes" ] || { echo "$library has less than 1 MiB of code" >&2; exit 2; }
objcopy -I binary -O elf64-x86-64 -B i386:x86-64 --rename-section .data=.text,contents,alloc,load,readonly,code \
    "$work/code.bin" "$work/code.o"

ours="'$cli' disasm '$work/code.bin' --max $bytes --bits 64 >'$work/ours.lst'"
theirs="objdump -d -M intel '$work/code.o' >'$work/objdump.lst'"

bash -c "$ours" || { echo "tarnwick-cli disasm failed (is the command registered?)" >&2; exit 2; }
[ -s "$work/ours.lst" ] || { echo "tarnwick-cli disasm listed nothing" >&2; exit 2; }

seconds() { local s e; s=$(date +%s%N); bash -c "$1"; e=$(date +%s%N); echo "($e - $s) / 1000000000" | bc -l; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

a=() b=()
for _ in $(seq "$rounds"); do
    a+=("$(seconds "$ours")")
    b+=("$(seconds "$theirs")")
done
ta=$(median "${a[@]}")
tb=$(median "${b[@]}")
# One line per instruction in our listing; objdump's instruction lines start with an address and a
# colon (a long instruction continues on a line of bytes only, which has no mnemonic).
na=$(wc -l <"$work/ours.lst")
nb=$(grep -cP '^\s*[0-9a-f]+:\t[0-9a-f ]+\t' "$work/objdump.lst")
ra=$(echo "$na / $ta" | bc -l)
rb=$(echo "$nb / $tb" | bc -l)

echo "1 MiB of code from $library, $(nproc) cores, median of $rounds"
printf '%-10s %8d instructions  %7.3fs  %10.0f instructions/s\n' tarnwick "$na" "$ta" "$ra"
printf '%-10s %8d instructions  %7.3fs  %10.0f instructions/s\n' objdump "$nb" "$tb" "$rb"
printf 'tarnwick lists x%.2f the instructions per second of objdump\n' "$(echo "$ra / $rb" | bc -l)"
[ "$(echo "$ra >= $rb" | bc -l)" -eq 1 ]
