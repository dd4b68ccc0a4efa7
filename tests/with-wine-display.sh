#!/usr/bin/env bash
# Runs a Windows program under wine on an X server of its own:
#   with-wine-display.sh <wine> <program> [arguments...]
# Wine draws every window of a prefix through the display that the prefix's
# first program had, so these programs get a prefix of their own (WINEPREFIX
# with "-display" added), whose wine server ends with them.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:?}-display"
status=0
"$(dirname "$0")/with-xvfb.sh" "$@" || status=$?
"$(dirname "$1")/wineserver" -k 2>/dev/null || true
exit "$status"
