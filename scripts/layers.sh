#!/usr/bin/env bash
# Prints the product folders' include graph (from their `#include "folder/..."`
# lines) and fails on a loop, or on an include that goes up against the order
# of the layers the top README documents ("Bottom to top: ..." under Layers).
# Needs only bash, grep, sed and awk, so it runs before anything is built.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

order=$(sed -n 's/^Bottom to top: //p' "$root/README.md" | tr -d '`.,')
if [ -z "$order" ]; then
    echo "layers: README.md documents no order (a line \"Bottom to top: ...\")" >&2
    exit 1
fi

for folder in $order; do
    if [ ! -d "$root/$folder" ]; then
        echo "layers: README.md names $folder/, which does not exist" >&2
        exit 1
    fi
done

# One "from to" line for each include of another folder's header.
edges=$(
    for folder in $order; do
        grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[A-Za-z0-9_]+/' \
            --include='*.h' --include='*.c' --include='*.cpp' --include='*.rc' \
            --include='*.idl' "$root/$folder" |
            sed -E 's/.*"([A-Za-z0-9_]+)\/$/\1/' |
            awk -v from="$folder" '$1 != from { print from, $1 }'
    done | sort -u
)

echo "$edges" | awk -v order="$order" '
    BEGIN {
        n = split(order, name, " ")
        for (i = 1; i <= n; i++) { rank[name[i]] = i }
    }
    NF == 2 {
        uses[$1] = uses[$1] " " $2
        if (!($2 in rank)) {
            bad = bad sprintf("layers: %s includes %s/, which is no layer\n", $1, $2)
        } else {
            edge[$1, $2] = 1
            out[$1]++
            used[$2]++
            if (rank[$2] > rank[$1]) {
                bad = bad sprintf("layers: %s includes %s/, a layer above it\n", $1, $2)
            }
        }
    }
    END {
        print "Layers, bottom to top, with the folders each one includes:"
        for (i = 1; i <= n; i++) {
            printf "  %-18s ->%s\n", name[i], (name[i] in uses) ? uses[name[i]] : " (none)"
        }
        # Peel off folders that use no folder left, or that no folder left
        # uses; whatever remains lies on a loop.
        do {
            peeled = 0
            for (i = 1; i <= n; i++) {
                f = name[i]
                if ((f in gone) || (out[f] > 0 && used[f] > 0)) {
                    continue
                }
                gone[f] = 1
                peeled = 1
                for (j = 1; j <= n; j++) {
                    if ((name[j], f) in edge) { out[name[j]]-- }
                    if ((f, name[j]) in edge) { used[name[j]]-- }
                }
            }
        } while (peeled)
        for (i = 1; i <= n; i++) {
            if (!(name[i] in gone)) { loop = loop " " name[i] }
        }
        if (loop != "") { bad = bad "layers: folders in a loop:" loop "\n" }
        if (bad != "") { printf "%s", bad > "/dev/stderr"; exit 1 }
    }'
