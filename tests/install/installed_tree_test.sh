#!/usr/bin/env bash
# Where the programs load code from, in the build tree and in a tree installed into a temporary
# prefix: no empty or relative RUNPATH/RPATH entry (the loader reads one as the current folder);
# started from a folder holding planted libraries (which write a marker when loaded), no program
# loads them or looks for any library there; the installed tarnwick-cli finds its plugin from its
# own location, and without it names the file and the places it looked in.
# Usage: installed_tree_test.sh CMAKE BUILD_DIR PLANTED_LIBRARY PROGRAM...
set -uo pipefail
cmake=$1 build=$2 planted=$3
shift 3
command -v readelf >/dev/null || { echo "SKIP: readelf (binutils) is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

check_tree() {
    local file paths
    while IFS= read -r -d '' file; do
        paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*Library r\(un\)\{0,1\}path: \[\(.*\)\]$/:\2:/p')
        if echo "$paths" | grep -Eq '::|:[^/$]|:\$[^O{]'; then fail "$file: library search path $paths"; fi
    done < <(find "$1" -type f -print0)
}

# Runs a command in the plant folder: a planted library must not load, and the loader must not
# try a relative file name (a planted copy that lacks symbols would stop the program before its
# constructor ran, so the loader's own account is read too).
plant=$work/plant marker=$work/marker
mkdir -p "$plant"
cp "$planted" "$plant/libisal.so.2"
cp "$planted" "$plant/libDisasm.so"
run_in_plant() {
    local what=$1 status=0
    shift
    rm -f "$marker" "$work"/ld.*
    (cd "$plant" && TW_PLANTED_MARKER=$marker LD_DEBUG=libs LD_DEBUG_OUTPUT=$work/ld "$@") \
        >"$work/out" 2>"$work/err" || status=$?
    [ ! -e "$marker" ] || fail "$what loaded a library planted in the folder it was started in"
    ! grep -hq 'trying file=[^/]' "$work"/ld.* 2>/dev/null || fail "$what looked for libraries in the current folder"
    return $status
}
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM) # the window ends after loading

check_tree "$build/bin"
for program in "$@"; do run_in_plant "build/bin/$program" "${no_display[@]}" "$build/bin/$program" --version; done

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; echo "FAIL: cmake --install (is everything built?)" >&2; exit 1; }
check_tree "$prefix"
for program in "$@"; do run_in_plant "installed $program" "${no_display[@]}" "$prefix/bin/$program" --version; done

cli=$prefix/bin/tarnwick-cli
printf '\353\376' >"$work/code.bin" # JMP $
ln -s "$cli" "$work/tw"
run_in_plant "installed tarnwick-cli disasm" "$work/tw" disasm "$work/code.bin" --max 2 && grep -q JMP "$work/out" ||
    fail "installed tarnwick-cli, started through a link, did not list with its plugin: $(cat "$work/err")"

# Without the plugin, even a search path that names the current folder leads to no planted copy
# of it (such a path leads the loader to any library there, so only the plugin stays planted).
rm "$prefix/lib/tarnwick/libDisasm.so" "$plant/libisal.so.2"
rm -f "$marker"
(cd "$plant" && TW_PLANTED_MARKER=$marker LD_LIBRARY_PATH=: "$cli" disasm "$work/code.bin") 2>"$work/err" &&
    fail "tarnwick-cli disasm succeeded without its plugin"
[ ! -e "$marker" ] || fail "tarnwick-cli loaded the plugin planted in the current folder"
for name in libDisasm.so "$prefix/bin/libDisasm.so" "$prefix/lib/tarnwick/libDisasm.so"; do
    grep -qF "$name" "$work/err" || fail "the missing plugin's message does not name $name: $(cat "$work/err")"
done
[ "$failures" -eq 0 ] && echo ok
