#!/usr/bin/env bash
# Lists every #include of the program's sources that reaches up to a higher
# layer, and fails when there is one. The layers, bottom up; a directory may
# include its own layer and the layers below it:
#   store < settings < cgi < access < page < roomconf < chat < live < request
# Usage: check-layers.sh [SOURCE_DIR]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2

layers=(store settings cgi access page roomconf chat live request)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
for dir in "${layers[@]}"; do
    [ -d "$dir" ] || { echo "check-layers: no directory $dir/" >&2; exit 2; }
    own=${rank[$dir]}
    while IFS= read -r hit; do
        target=${hit#*#*include \"}
        target=${target%%/*}
        to=${rank[$target]:--1}   # outside the layers (tests/, tools/): not checked
        if [ "$to" -gt "$own" ]; then
            echo "upward include: $hit"
            bad=1
        fi
    done < <(grep -nHE '^[[:space:]]*#[[:space:]]*include "[a-z_]+/' "$dir"/*.h "$dir"/*.cpp 2>/dev/null)
done

if [ $bad -ne 0 ]; then
    echo "check-layers: includes above reach up a layer (order: ${layers[*]})" >&2
    exit 1
fi
echo "check-layers: no include reaches up a layer"
