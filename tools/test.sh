#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest, headless.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages
netrika_build "$top"
export QT_QPA_PLATFORM=offscreen
cd "$top/build"
ctest --output-on-failure -j"$(nproc)" "$@"
