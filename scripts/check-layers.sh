#!/usr/bin/env bash
# Checks from the #include lines that the layers stay in order (DESIGN.md):
#   platform <- core <- jobs, discovery <- tool engines <- ui <- tool windows <- registry <- app, cli
# A folder may include its own files and those of the layers below it; a tool includes no other
# tool; engines (a tool's files outside gui/) include no Qt; app/ and cli/ reach the tools only
# through registry/. The tools are the ones TARNWICK_TOOLS lists in CMakeLists.txt; info/ (the
# information windows and texts) is the shell's own and checked as a tool. Prints every include
# that breaks a rule and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

read -r -a registered < <(sed -nE 's/^set\(TARNWICK_TOOLS (.*)\)$/\1/p' CMakeLists.txt)
[ ${#registered[@]} -gt 0 ] || { echo "check-layers: no TARNWICK_TOOLS list in CMakeLists.txt"; exit 1; }
tools=("${registered[@]}" info)
status=0

# What a folder may include besides itself, as a pattern on the included path.
allowed() {
    case "$1" in
    platform) echo '^platform/' ;;
    core) echo '^(platform|core)/' ;;
    jobs | discovery) echo '^(platform|core|jobs)/' ;;
    ui) echo '^(platform|core|jobs|ui)/' ;;
    plugins) echo '^plugins/' ;;
    esac
}

report() {
    echo "$1: includes $2 ($3)"
    status=1
}

check_folder() { # folder pattern reason [files...]
    local folder=$1 pattern=$2 reason=$3
    while IFS=: read -r file include; do
        [[ "$include" =~ $pattern ]] || report "$file" "$include" "$reason"
    done < <(grep -rHoE '^#include "[^"]+"' "$folder" --include='*.h' --include='*.cpp' |
        sed -E 's/#include "([^"]+)"/\1/' | grep -E '^[^:]+:[a-z_]+/')
}

for layer in platform core jobs discovery ui plugins; do
    check_folder "$layer" "$(allowed "$layer")|^$layer/" "below the tools"
done

for tool in "${tools[@]}"; do
    # The disassembler library's call interface is what the inspection tool loads it by.
    base="^(platform|core|jobs|discovery|$tool)/|^plugins/[a-z_]+/[a-z_]+_abi\.h$"
    while IFS= read -r file; do
        case "$file" in
        "$tool"/gui/*) pattern="$base|^ui/" reason="a tool window includes its tool, ui/ and what is below" ;;
        *) pattern="$base" reason="a tool's engine includes only its tool and what is below" ;;
        esac
        while IFS= read -r include; do
            [[ "$include" =~ $pattern ]] || report "$file" "$include" "$reason"
        done < <(grep -oE '^#include "[a-z_]+/[^"]+"' "$file" | sed -E 's/#include "([^"]+)"/\1/')
        if [[ "$file" != "$tool"/gui/* ]] && grep -qE '^#include <Q[A-Za-z]+>' "$file"; then
            report "$file" "$(grep -m1 -oE '^#include <Q[A-Za-z]+>' "$file" | cut -c10-)" "an engine knows no Qt"
        fi
    done < <(find "$tool" -name '*.h' -o -name '*.cpp' | sort)
done

# The registry is the one place above the tools that names them.
registered_pattern="^($(IFS='|'; echo "${registered[*]}"))/"
for folder in app cli; do
    while IFS=: read -r file include; do
        [[ "$include" =~ $registered_pattern ]] &&
            report "$file" "$include" "app/ and cli/ reach the tools only through registry/"
    done < <(grep -rHoE '^#include "[^"]+"' "$folder" --include='*.h' --include='*.cpp' |
        sed -E 's/#include "([^"]+)"/\1/')
done
check_folder registry '^(platform|core|jobs|discovery|ui|registry|plugins)/|'"$registered_pattern" "below app/ and cli/"

# Engines below the tools, the registry's command list and the command line know no Qt either.
while IFS=: read -r file include; do
    report "$file" "${include#\#include }" "an engine knows no Qt"
done < <(grep -rHoE '^#include <Q[A-Za-z]+>' platform core jobs discovery cli registry/commands.* --include='*.h' \
    --include='*.cpp' || true)

[ $status -eq 0 ] && echo "check-layers: every include follows the layers"
exit $status
