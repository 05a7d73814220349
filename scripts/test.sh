#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless; ends with CTest's summary.
set -euo pipefail
TESSALY_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TESSALY_ROOT/scripts/deps.sh"
tessaly_install_and_build "$TESSALY_ROOT/build"
cd "$TESSALY_ROOT/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2
