#!/usr/bin/env bash
# Two release runs of one commit give the same bytes: runs tools/release.sh in two fresh clones,
# in folders of different names, one after the other, and compares every file of the zip's
# folder, the zip and the Debian packages (this machine's, and on amd64 the Raspberry Pi's).
#   bash tests/release/reproducible.sh [commit]      (default HEAD; KELMA_RELEASE_ARCH as for
#                                                    release.sh)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
commit=$(git -C "$repo" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/kelma-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

clones=("$work/first" "$work/second-run")
for clone in "${clones[@]}"; do
    git clone -q --no-checkout "$repo" "$clone"
    git -C "$clone" checkout -q "$commit"
    bash "$clone/tools/release.sh" </dev/null >"$clone.out"
done

status=0
compare() {
    if cmp -s "$1" "$2"; then
        echo "same: $3 ($(stat -c %s "$1") bytes, $(sha256sum <"$1" | cut -c1-16))"
    else
        echo "DIFFERENT: $3"
        status=1
    fi
}
package=$(dirname "$(find "${clones[0]}/build" -path '*/package/*' -name SHA256SUMS)")
while IFS= read -r file; do
    compare "$package/$file" "${package/${clones[0]}/${clones[1]}}/$file" "$file"
done < <(cd "$package" && find . -type f | LC_ALL=C sort)
compare "$(tail -n 1 "${clones[0]}.out")" "$(tail -n 1 "${clones[1]}.out")" \
    "$(basename "$(tail -n 1 "${clones[0]}.out")")"
while IFS= read -r deb; do
    compare "$deb" "${deb/${clones[0]}/${clones[1]}}" "$(basename "$deb")"
done < <(grep '\.deb$' "${clones[0]}.out")
exit "$status"
