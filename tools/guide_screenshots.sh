#!/usr/bin/env bash
# Remakes the operator guide's screenshots of the window fed through kelmafeed, one for each
# source, with the demo (tools/demo.sh, which builds what it needs): the shot 10 s into a 30 s
# pass, its PNG time stamps stripped so that the same picture makes the same bytes.
#   bash tools/guide_screenshots.sh
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
for source in orbitron satpc32; do
  shots=$build/guide-shots/$source
  rm -rf "$shots"
  bash "$repo/tools/demo.sh" --source "$source" --seconds 30 --shots "$shots"
  convert "$shots/kelma-demo-02.png" -strip "$repo/docs/screenshot-$source.png"
  echo "docs/screenshot-$source.png"
done
