#!/usr/bin/env bash
# Installs what is missing, builds, installs the Python package (import tessaly), writes the
# sample datasets into samples/ and starts Tessaly there (its file dialog opens in the
# current folder).
set -euo pipefail
TESSALY_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TESSALY_ROOT/scripts/deps.sh"
tessaly_install_and_build "$TESSALY_ROOT/build"
tessaly_install_python "$TESSALY_ROOT/build"
"$TESSALY_ROOT/build/tools/tessaly-gen" --samples "$TESSALY_ROOT/samples"
tessaly_real_samples "$TESSALY_ROOT/build" "$TESSALY_ROOT/samples"
cd "$TESSALY_ROOT/samples"
exec "$TESSALY_ROOT/build/app/tessaly"
