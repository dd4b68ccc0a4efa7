#!/bin/bash
# Builds the Qt that the Windows build links against, once per machine.
#
# Debian ships no Qt for MinGW, but Qt's own source is Debian's qt6-base
# source package. It cross-builds for Windows with the host's Qt as its host
# tools. The result is cached outside any clone, in a folder whose name
# carries the Qt version, the cross compiler's version and a digest of the
# configure flags, so a second clone, a second run or CI on the same machine
# pays nothing.
#
# Prints the prefix on its last line. Usage: tools/windows/cross-qt.sh
set -euo pipefail

cross_cxx=x86_64-w64-mingw32-g++-posix
cross_cc=x86_64-w64-mingw32-gcc-posix

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../packages.sh
source "$here/../packages.sh"
# shellcheck source=cross-common.sh
source "$here/cross-common.sh"
netrika_install_packages "${netrika_windows_packages[@]}" >&2

qt_version="$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[-+].*//')"
gcc_version="$($cross_cxx -dumpfullversion)"

# Only what the window, the command line and the tests use. OpenGL is off at
# its input (the feature switch alone leaves dynamic OpenGL on); direct2d,
# tablet events (Debian's trimmed source has no wintab) and DirectWrite 3
# need parts the cross compiler's headers or the source lack.
flags=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DINPUT_opengl=no
    -DFEATURE_opengl=OFF
    -DFEATURE_direct2d=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_directwrite3=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_openssl=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_sql=OFF
)
key="$(printf '%s\n' "${flags[@]}" "$gcc_version" "$qt_version" | sha256sum | cut -c1-12)"
prefix="$netrika_cross_cache/qt-$qt_version-mingw-$gcc_version-$key"

if netrika_cross_done "$prefix"; then
    exit 0
fi
work="$netrika_cross_cache/work-$key"
started=$(date +%s)
netrika_debian_source qt6-base "$work"

toolchain="$work/toolchain.cmake"
cat > "$toolchain" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER $cross_cc)
set(CMAKE_CXX_COMPILER $cross_cxx)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC

cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "${flags[@]}" >&2
cmake --build "$work/build" --parallel "$(nproc)" >&2
rm -rf "$prefix"
cmake --install "$work/build" >&2
# The toolchain for what builds against it: this Qt is found there too.
{ cat "$toolchain"; echo "list(APPEND CMAKE_FIND_ROOT_PATH $prefix)"; } > "$prefix/netrika-toolchain.cmake"
touch "$prefix/.complete"
rm -rf "$work"
echo "Cross Qt built in $(( $(date +%s) - started )) s: $prefix" >&2
echo "$prefix"
