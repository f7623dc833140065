#!/usr/bin/env bash
# Runs the same tarnwick-cli commands with the Linux build and with the Windows build under Wine,
# on copies of the same image files, and compares what each printed, its exit status and the
# files it wrote, byte for byte.
#   scripts/windows-smoke.sh LINUX_CLI WINDOWS_EXE
# WINE (default /usr/lib/wine/wine64 or wine64) and WINEPREFIX may be set; the work folder is
# kept when TARNWICK_SMOKE_KEEP=1. Exits 1 on the first difference and shows it.
#
# Both sides run in a folder of their own and are given names relative to it, so that a message
# that quotes a name reads the same. What is normalised before comparing: the demo drive's folder,
# which each run makes under its system's temporary folder with a random name, and the system's
# own text for a failed open ("No such file or directory" against "File not found."). Compressed
# images are not compared byte for byte (the Linux build may deflate with ISA-L, the Windows one
# with zlib): each side loads the other's, and both must give back the original bytes.
set -euo pipefail

[ $# -eq 2 ] || {
    echo "usage: $0 LINUX_CLI WINDOWS_EXE" >&2
    exit 2
}
linux=$(realpath "$1")
windows=$(realpath "$2")
wine=${WINE:-}
if [ -z "$wine" ]; then
    if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; else wine=$(command -v wine64); fi
fi
export WINEDEBUG=-all

work=$(mktemp -d /tmp/tarnwick-windows-smoke.XXXXXX)
if [ "${TARNWICK_SMOKE_KEEP:-0}" != 1 ]; then trap 'rm -rf "$work"' EXIT; fi
mkdir -p "$work/inputs" "$work/linux" "$work/windows"

# A disk image with a partition table and bytes that differ everywhere; the same image under a
# name outside every ANSI code page.
python3 - "$work/inputs/disk.img" <<'EOF'
import random, struct, sys
size = 8 << 20
data = bytearray(random.Random(7).randbytes(size))
data[446:510] = bytes(64)
def slot(i, boot, kind, first, count):
    data[446 + 16 * i:446 + 16 * (i + 1)] = struct.pack("<B3sB3sII", boot, b"\0\0\0", kind, b"\0\0\0", first, count)
slot(0, 0x80, 0x0B, 2048, 8192)
slot(1, 0x00, 0x83, 10240, 4096)
data[510:512] = b"\x55\xaa"
open(sys.argv[1], "wb").write(data)
EOF
cp "$work/inputs/disk.img" "$work/inputs/磁盘 ünï.img"

# One command, on both sides. The first word is a label; the rest are the arguments.
status=0
run() {
    local label=$1
    shift
    for side in linux windows; do
        (
            cd "$work/$side"
            if [ $side = linux ]; then
                set +e
                "$linux" "$@" >"$label.out" 2>"$label.err" </dev/null
                echo $? >"$label.status"
            else
                set +e
                "$wine" "$windows" "$@" >"$label.out" 2>"$label.err" </dev/null
                echo $? >"$label.status"
            fi
        )
    done
    # The demo drive's folder: /tmp/tarnwick-demo-N/ against C:\users\NAME\Temp\tarnwick-demo-N\.
    sed -i -E -e 's#[^ "]*tarnwick-demo-[0-9]+[\\/]#DEMO/#g' \
        -e 's#^(Cannot open file "[^"]*"\.) .*#\1 SYSTEM-TEXT#' "$work"/*/"$label".out "$work"/*/"$label".err
    local f same=1
    for f in out err status; do
        if ! cmp -s "$work/linux/$label.$f" "$work/windows/$label.$f"; then
            echo "DIFFERENT: $label ($f) for: $*"
            diff -u --label linux --label windows "$work/linux/$label.$f" "$work/windows/$label.$f" | head -20 || true
            same=0
            status=1
        fi
    done
    [ $same = 0 ] || echo "same: $label (exit $(cat "$work/linux/$label.status"))"
}

# Output files of both sides, byte for byte.
same_file() {
    if ! cmp "$work/linux/$1" "$work/windows/$1"; then
        echo "DIFFERENT: the file $1"
        status=1
    else
        echo "same: the file $1 ($(stat -c %s "$work/linux/$1") bytes)"
    fi
}

for side in linux windows; do
    cp "$work"/inputs/* "$work/$side/"
    truncate -s 8M "$work/$side/target.img" "$work/$side/other.img"
done

run demo-partitions --demo partitions 0
run demo-partitions-json --demo partitions 0 --json
run partitions partitions disk.img
run select select disk.img --offset 1M --size 2M
run hexdump hexdump disk.img --offset 0x1B0 --size 96
run checksum checksum disk.img --sha256
run checksum-range checksum disk.img --offset 1M --size 3M --md5
run dump --quiet dump disk.img part.img --offset 1M --size 2M
same_file part.img
run dump-stdout --quiet dump disk.img - --offset 512 --size 4K
run cdi-save --quiet cdi-save disk.img disk.cdi
cp "$work/linux/disk.cdi" "$work/windows/other.cdi"
cp "$work/windows/disk.cdi" "$work/linux/other.cdi"
run cdi-load --quiet cdi-load disk.cdi target.img --agree
same_file target.img
run cdi-load-other --quiet cdi-load other.cdi other.img --agree
same_file other.img
for f in target.img other.img; do
    cmp "$work/inputs/disk.img" "$work/windows/$f" || {
        echo "DIFFERENT: cdi-load did not give back the image in $f"
        status=1
    }
done
run missing checksum no-such.img
# A name outside the ANSI code page, read and written.
run unicode-checksum checksum "磁盘 ünï.img"
run unicode-select select "磁盘 ünï.img"
run unicode-dump --quiet dump "磁盘 ünï.img" "镜像 ß.img" --size 1M
same_file "镜像 ß.img"

[ $status = 0 ] && echo "the Windows build printed and wrote the same as the Linux build"
exit $status
