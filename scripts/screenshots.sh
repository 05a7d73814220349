#!/usr/bin/env bash
# Renders the README's pictures (docs/*.png) from the channel sample under Xvfb.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/deps.sh"
tessaly_install_missing "${TESSALY_BUILD_PACKAGES[@]}" "${TESSALY_DATA_PACKAGES[@]}" xvfb xauth fonts-dejavu-core imagemagick
TESSALY_ROOT=$ROOT tessaly_build "$ROOT/build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$ROOT/build/tools/tessaly-gen" channel "$work/channel.gri"
cd "$work"
xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/build/tools/tessaly-shots" "$work/channel.gri" "$ROOT/docs"

# docs/coads-jan-jul.png: the arrow plot of the COADS January and July samples, cropped to
# the 180 x 90 grid cells at the plot's top-left corner (a 223, 34 offset in the dialog's
# picture), enlarged three times and flipped north-up, January above July.
tessaly_real_samples "$ROOT/build" "$work" > /dev/null
if [ -f "$work/coads-jan.gri" ]; then
  for m in jan jul; do
    mkdir -p "$work/$m"
    xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/build/tools/tessaly-shots" "$work/coads-$m.gri" "$work/$m" > /dev/null
    convert "$work/$m/arrowplot.png" -crop 180x90+223+34 +repage -flip -filter point -resize 300% "$work/$m.png"
  done
  convert "$work/jan.png" \( -size 540x6 xc:'#efefef' \) "$work/jul.png" -append "$ROOT/docs/coads-jan-jul.png"
fi
