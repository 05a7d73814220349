#!/usr/bin/env bash
# Renders the README's pictures (docs/*.png) from the channel sample under Xvfb.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/deps.sh"
tessaly_install_missing "${TESSALY_BUILD_PACKAGES[@]}" xvfb xauth fonts-dejavu-core
TESSALY_ROOT=$ROOT tessaly_build "$ROOT/build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$ROOT/build/tools/tessaly-gen" channel "$work/channel.gri"
cd "$work"
xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/build/tools/tessaly-shots" "$work/channel.gri" "$ROOT/docs"
