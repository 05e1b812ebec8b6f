#!/usr/bin/env bash
# Remakes the operator guide's screenshots with the demo (tools/demo.sh, which builds what it
# needs): the window fed through kelmafeed for each source, and for Orbitron kelmafeed's console
# too, each the shot 10 s into a 30 s pass, its PNG time stamps stripped so that the same picture
# makes the same bytes.
#   bash tools/guide_screenshots.sh
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
for source in orbitron satpc32 sky; do
  shots=$build/guide-shots/$source
  rm -rf "$shots"
  console=()
  [ "$source" = orbitron ] && console=(--console)
  bash "$repo/tools/demo.sh" --source "$source" --seconds 30 --shots "$shots" "${console[@]}"
  convert "$shots/kelma-demo-02.png" -strip "$repo/docs/screenshot-$source.png"
  echo "docs/screenshot-$source.png"
  if [ ${#console[@]} -gt 0 ]; then
    convert "$shots/kelmafeed-02.png" -strip "$repo/docs/console-$source.png"
    echo "docs/console-$source.png"
  fi
done
