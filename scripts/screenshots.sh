#!/usr/bin/env bash
# Renders the README's pictures (docs/*.png): the views of the channel sample under Xvfb, and
# the COADS samples through tessaly-render.
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

# docs/coads-jan-jul.png: the arrow plot of the COADS January and July samples at the grid's
# own size (180 x 90), north up, enlarged three times, January above July.
tessaly_real_samples "$ROOT/build" "$work" > /dev/null
if [ -f "$work/coads-jan.gri" ]; then
  "$ROOT/build/tools/render/tessaly-render" "$work/coads-jan.gri" "$work/coads-jul.gri" --view arrows --fit \
    --pressure --north-up -o "$work/%n.png"
  for m in jan jul; do
    convert "$work/coads-$m.png" -filter point -resize 300% "$work/$m.png"
  done
  convert "$work/jan.png" \( -size 540x6 xc:'#efefef' \) "$work/jul.png" -append "$ROOT/docs/coads-jan-jul.png"
fi
