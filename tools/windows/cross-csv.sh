#!/bin/bash
# Builds libcsv, which the batch reads and writes CSV with, for Windows, once
# per machine: Debian ships it for Linux only. Its source is Debian's own
# libcsv source package: one C file and one header, compiled with the cross
# compiler into a static library. Cached beside the cross Qt, in a folder
# named after the versions and the flags.
#
# Prints the prefix on its last line. Usage: tools/windows/cross-csv.sh
set -euo pipefail

cross_cc=x86_64-w64-mingw32-gcc-posix
flags=(-O2)

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../packages.sh
source "$here/../packages.sh"
# shellcheck source=cross-common.sh
source "$here/cross-common.sh"
netrika_install_packages "${netrika_windows_packages[@]}" >&2

csv_version="$(dpkg-query -W -f='${Version}' libcsv-dev | sed 's/[-+].*//')"
key="$(printf '%s\n' "${flags[@]}" "$($cross_cc -dumpfullversion)" "$csv_version" | sha256sum | cut -c1-12)"
prefix="$netrika_cross_cache/libcsv-$csv_version-mingw-$key"

if netrika_cross_done "$prefix"; then
    exit 0
fi
work="$netrika_cross_cache/work-csv-$key"
netrika_debian_source libcsv "$work"
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
$cross_cc "${flags[@]}" -c "$work/src/libcsv.c" -I "$work/src" -o "$work/libcsv.o"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libcsv.a" "$work/libcsv.o"
cp "$work/src/csv.h" "$prefix/include/"
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
