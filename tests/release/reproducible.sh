#!/usr/bin/env bash
# Two release runs of one commit give the same bytes: runs tools/release.sh in two fresh clones,
# in folders of different names, one after the other, and compares the programs and the zips.
#   bash tests/release/reproducible.sh [commit]      (default HEAD; KELMA_RELEASE_ARCH as for
#                                                    release.sh)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
commit=$(git -C "$repo" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/kelma-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

zips=()
for clone in "$work/first" "$work/second-run"; do
    git clone -q --no-checkout "$repo" "$clone"
    git -C "$clone" checkout -q "$commit"
    zips+=("$(bash "$clone/tools/release.sh" </dev/null | tail -n 1)")
done

status=0
for i in 0 1; do
    (cd "$(dirname "${zips[$i]}")" && sha256sum "$(basename "${zips[$i]}")")
done
for program in KelmaRotator.exe predsim.exe kelma_sim.exe; do
    first=$(find "$work/first/build" -path '*/package/*' -name "$program")
    second=$(find "$work/second-run/build" -path '*/package/*' -name "$program")
    if cmp -s "$first" "$second"; then
        echo "same: $program ($(stat -c %s "$first") bytes, $(sha256sum <"$first" | cut -c1-16))"
    else
        echo "DIFFERENT: $program"
        status=1
    fi
done
if cmp -s "${zips[0]}" "${zips[1]}"; then
    echo "same: $(basename "${zips[0]}")"
else
    echo "DIFFERENT: $(basename "${zips[0]}")"
    status=1
fi
exit "$status"
