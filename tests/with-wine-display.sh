#!/usr/bin/env bash
# Runs a Windows program under wine on an X server of its own:
#   with-wine-display.sh <wine> <program> [arguments...]
# Wine draws every window of a prefix through the display that the prefix's
# first program had, and activates one window of a prefix at a time, so each
# program gets a prefix of its own (WINEPREFIX with "-display-<program>"
# added), whose wine server ends with it: two such tests run side by side.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:?}-display-$(basename "$2" .exe)"
status=0
"$(dirname "$0")/with-xvfb.sh" "$@" || status=$?
"$(dirname "$1")/wineserver" -k 2>/dev/null || true
exit "$status"
