#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest, headless;
# then the same for the Windows build, cross-built and run under wine.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages "${netrika_windows_packages[@]}"
netrika_build "$top"
export QT_QPA_PLATFORM=offscreen
(cd "$top/build" && ctest --output-on-failure -j"$(nproc)" "$@")
# The first run on a machine also builds the cross Qt (about 25 CPU-minutes).
started=$(date +%s)
bash "$top/tools/windows/build.sh" test "$@"
echo "Windows stage: $(( $(date +%s) - started )) s"
