#!/bin/bash
# Builds libcsv, which the batch reads and writes CSV with, for Windows, once
# per machine: Debian ships it for Linux only. Its source is Debian's own
# libcsv source package: one C file and one header, compiled with the cross
# compiler into a static library. Cached beside the cross Qt, in a folder
# named after the versions and the flags.
#
# Prints the prefix on its last line. Usage: tools/windows/cross-csv.sh
set -euo pipefail

cache_root="${NETRIKA_CROSS_CACHE:-/var/cache/netrika-cross}"
cross_cc=x86_64-w64-mingw32-gcc-posix
flags=(-O2)

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../packages.sh
source "$here/../packages.sh"
netrika_install_packages "${netrika_windows_packages[@]}" >&2

csv_version="$(dpkg-query -W -f='${Version}' libcsv-dev | sed 's/[-+].*//')"
key="$(printf '%s\n' "${flags[@]}" "$($cross_cc -dumpfullversion)" "$csv_version" | sha256sum | cut -c1-12)"
prefix="$cache_root/libcsv-$csv_version-mingw-$key"

mkdir -p "$cache_root"
exec 9>"$cache_root/.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

source_list=/etc/apt/sources.list.d/netrika-deb-src.sources
if ! apt-get source --print-uris libcsv >/dev/null 2>&1; then
    cat > "$source_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt-get update -qq >&2
fi

work="$cache_root/work-csv-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib"
( cd "$work" && apt-get source -qq --download-only libcsv >&2 && dpkg-source -x ./*.dsc src >&2 )
$cross_cc "${flags[@]}" -c "$work/src/libcsv.c" -I "$work/src" -o "$work/libcsv.o"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libcsv.a" "$work/libcsv.o"
cp "$work/src/csv.h" "$prefix/include/"
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
