#!/usr/bin/env bash
# Checks that the includes between the folders of src/ point one way:
#
#   host -> channel -> events -> wire -> crypto / messages / common / platform
#
# A folder may include itself and the folders below it, never one above it or
# beside it. Prints every include that runs against the order and exits 1 when
# there is one.
#
#   scripts/check-layers.sh [SRC_DIR]     (default: the project's src/)
#   scripts/check-layers.sh --self-test   plants a reversed include in a copy of
#                                         src/ and fails unless the check catches it
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

declare -A allowed=(
    [host]="host channel events wire crypto messages common platform"
    [channel]="channel events wire crypto messages common platform"
    [events]="events wire crypto messages common platform"
    [wire]="wire crypto messages common platform"
    [crypto]="crypto common"
    [messages]="messages common"
    [common]="common"
    [platform]="platform"
    # The simulated host loads the library as a desktop host does: through its ABI.
    [simhost]="simhost platform"
)
# The one header of host/ that the simulated host may see: the binary interface.
exempt='^simhost/.*"host/host_abi\.h"$'

check() {
    local src=$1 bad=0 file folder line target
    for folder in "$src"/*/; do
        folder=$(basename "$folder")
        if [ -z "${allowed[$folder]+set}" ]; then
            echo "check-layers: src/$folder has no place in the layer order" >&2
            bad=1
            continue
        fi
        while IFS= read -r line; do
            file=${line%%:*}
            target=$(sed -E 's/.*#include "([a-z0-9_]+)\/.*/\1/' <<<"$line")
            [ "$target" = "$line" ] && continue
            [[ "${file#"$src"/}:${line#*:}" =~ $exempt ]] && continue
            if ! [[ " ${allowed[$folder]} " == *" $target "* ]]; then
                echo "${file#"$src"/}: ${line#*:}  ($folder may not include $target/)"
                bad=1
            fi
        done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include "[a-z0-9_]+/' "$src/$folder" \
            --include='*.h' --include='*.cpp' | sed -E 's/:[[:space:]]*#[[:space:]]*include /:#include /')
    done
    return $bad
}

if [ "${1:-}" = --self-test ]; then
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    cp -r "$root/src" "$copy/src"
    check "$copy/src" >/dev/null || { echo "check-layers: the tree fails before planting" >&2; exit 1; }
    echo '#include "host/library.h"' >>"$copy/src/wire/protocol.h"
    if check "$copy/src" >/dev/null; then
        echo "check-layers: a reversed include (wire -> host) went unnoticed" >&2
        exit 1
    fi
    echo "check-layers: a reversed include is caught"
    exit 0
fi

if check "${1:-$root/src}"; then
    echo "check-layers: every include points down the layer order"
else
    exit 1
fi
