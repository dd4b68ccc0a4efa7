#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its one drawing,
# app/icons/hicolor/scalable/apps/org.netrika.Netrika.svg, into the hicolor
# folders beside it. The PNGs are checked in, so a build needs no SVG
# renderer; run this again after changing the drawing, look at the result at
# 16 px, and commit the drawing and the PNGs together.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages "${netrika_icon_packages[@]}"
icons="$top/app/icons/hicolor"
svg="$icons/scalable/apps/org.netrika.Netrika.svg"
for size in "${netrika_icon_sizes[@]}"; do
    dir="$icons/${size}x${size}/apps"
    mkdir -p "$dir"
    rsvg-convert --width "$size" --height "$size" --format png "$svg" --output "$dir/org.netrika.Netrika.png"
    echo "$dir/org.netrika.Netrika.png"
done
