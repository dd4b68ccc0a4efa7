#!/bin/bash
# Cross-builds the Windows programs and tests into build-win/, against the
# cross Qt that tools/windows/cross-qt.sh builds once per machine, and runs
# the Windows tests under wine when given "test".
#
# Usage: tools/windows/build.sh [test [ctest's arguments]]
set -euo pipefail

top="$(cd "$(dirname "$0")/../.." && pwd)"
qt="$(bash "$top/tools/windows/cross-qt.sh" | tail -n 1)"
csv="$(bash "$top/tools/windows/cross-csv.sh" | tail -n 1)"
build="$top/build-win"

# What a Windows program of this build loads, found by wine: Qt's DLLs and
# the cross compiler's run-time libraries.
runtime="$qt/bin;$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)");/usr/x86_64-w64-mingw32/lib"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt/netrika-toolchain.cmake" \
        -DCMAKE_PREFIX_PATH="$qt" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
        -DNETRIKA_WINE_PREFIX="$build/wine" \
        -DLIBCSV_INCLUDE_DIR="$csv/include" -DLIBCSV_LIBRARY="$csv/lib/libcsv.a" \
        -DNETRIKA_WINE_PATH="$runtime"
fi
# The Linux build beside it holds the test that drives the Windows programs
# in network namespaces (tests/tst_winee2e.cpp).
if ! grep -qx "NETRIKA_LINUX_BUILD:PATH=$top/build" "$build/CMakeCache.txt"; then
    cmake "$build" -DNETRIKA_LINUX_BUILD:PATH="$top/build" >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"

if [ "${1:-}" = test ]; then
    shift
    # A wine prefix of the build's own, made once; nothing of wine's own
    # desktop integration is wanted.
    export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
        /usr/lib/wine/wineserver -w || true
    fi
    started=$(date +%s)
    (cd "$build" && ctest --output-on-failure -j"$(nproc)" "$@")
    echo "Windows tests under wine: $(( $(date +%s) - started )) s"
fi
