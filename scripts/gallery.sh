#!/usr/bin/env bash
# Renders docs/gallery/: one figure per family of tessaly-render's figure options, on the
# COADS January and July samples, the channel and the vortices.
# Usage: scripts/gallery.sh [BUILD_DIR]   (default build/; the tools are built if missing)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
source "$ROOT/scripts/deps.sh"
if [ ! -x "$BUILD/tools/render/tessaly-render" ] || [ ! -x "$BUILD/tools/tessaly-gen" ] \
   || [ ! -x "$BUILD/tools/import/tessaly-import" ]; then
  tessaly_install_missing "${TESSALY_BUILD_PACKAGES[@]}" "${TESSALY_DATA_PACKAGES[@]}"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j2 --target tessaly-render tessaly-gen tessaly-import
fi
render="$BUILD/tools/render/tessaly-render"
out="$ROOT/docs/gallery"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
"$BUILD/tools/tessaly-gen" --samples "$work" > /dev/null
tessaly_real_samples "$BUILD" "$work" > /dev/null
s="$work"

# --scale: the COADS January winds and sea-level pressure, four pixels per cell, north up.
if [ -f "$s/coads-jan.gri" ]; then
  "$render" "$s/coads-jan.gri" --view arrows --fit --pressure --north-up --scale 4 -o "$out/coads-jan-scale.png"
  # --arrow-step, --arrow-scale auto and the reference arrow beside the colour bar, both in the
  # units coads-jan.meta.json gives (SLP in hPa, the winds in m/s), labelled by its long name.
  "$render" "$s/coads-jan.gri" --view arrows --fit --pressure --north-up --scale 4 --arrow-step 5 \
    --arrow-scale auto --colorbar -o "$out/coads-jan-arrows.png"
  # --smooth with the colour bar: July, the monsoon's reversal.
  "$render" "$s/coads-jul.gri" --view arrows --fit --pressure --smooth --north-up --scale 4 --arrow-step 5 \
    --arrow-scale auto --colorbar -o "$out/coads-jul-smooth.png"
  # Streamlines over the winds, coloured by the wind speed, heads downstream.
  "$render" "$s/coads-jul.gri" --view evenly --dsep 4 --north-up --scale 4 --antialias --color-by speed \
    --cmap magma --colorbar --line-arrows 2 -o "$out/coads-jul-lines.png"
fi
# --color-by with the view's own ramp: the channel's lines by their pressure.
"$render" "$s/channel.gri" --view evenly --dsep 6 --scale 2 --line-width 2 --antialias --color-by pressure --cmap tessaly \
  --colorbar -o "$out/channel-pressure.png"
# --color-by speed, cividis, fitted into 800 x 1100.
"$render" "$s/channel.gri" --view streamlines --size 800x1100 --antialias --color-by speed --cmap cividis \
  --colorbar -o "$out/channel-speed.png"
# --line-arrows and viridis: the vortices.
"$render" "$s/vortices.gri" --view evenly --dsep 8 --scale 3 --antialias --color-by speed --line-arrows 3 \
  --colorbar -o "$out/vortices-lines.png"
# Vector files: the same as SVG and PDF (background embedded at one pixel per cell).
"$render" "$s/vortices.gri" --view evenly --dsep 8 --scale 3 --antialias --color-by speed --line-arrows 3 \
  --colorbar -o "$out/vortices-lines.svg"
"$render" "$s/channel.gri" --view arrows --fit --pressure --scale 2 --arrow-step 16 --arrow-scale auto \
  --colorbar -o "$out/channel-arrows.pdf"
ls -l "$out"
