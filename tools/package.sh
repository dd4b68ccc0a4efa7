#!/usr/bin/env bash
# Builds the Debian package and checks it: its contents and control fields,
# then, as root, installs it, runs the installed program as a normal user in a
# network namespace of its own, and removes it again.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages "${netrika_package_test_packages[@]}"
netrika_build "$top" netrika netrika-cli netrika-net-helper netrika_man_pages
(cd "$top/build" && cpack -G DEB >/dev/null)
deb="$(ls "$top"/build/netrika_*.deb | head -n 1)"
echo "package: $deb"
bash "$top/tests/package/check_package.sh" "$deb"
# The Windows installer, built with the Windows programs; installing,
# starting and uninstalling it under wine is the Windows suite's test
# "installer" (tools/windows/build.sh test).
bash "$top/tools/windows/build.sh"
echo "package: $(ls "$top"/build-win/netrika-*-x64.msi)"
