# Installs the Debian packages that building, running and testing need, but
# only those that are missing, so that a second run costs nothing.
# Sourced by tools/run.sh and tools/test.sh.

# xvfb: the layout's tests also run on a real X server, at 100 % and 200 %;
# weston and qt6-wayland: and on a Wayland compositor, at output scales 1 and 2.
# dbus-daemon: a session bus of the test's own, where the dock's progress signal is heard.
netrika_packages=(cmake g++ make pkgconf qt6-base-dev libcsv-dev qt6-qpa-plugins libgl-dev iproute2 iputils-ping xvfb
    weston qt6-wayland dbus-daemon ansible-core ansible openssh-server ansible-lint
    pylint python3-pycodestyle python3-voluptuous python3-venv yamllint)
# ansible-core and openssh-server: the Ansible collection's test runs a real
# playbook over SSH to sites that each run an sshd of their own, inside the
# test's network namespaces; the package's own sshd is never started.
# ansible-lint: the collection's role and example play, linted offline.
# pylint, python3-pycodestyle, python3-voluptuous, python3-venv and yamllint:
# ansible-test's sanity tests of the collection, run offline on Debian's own
# tools (ansible/tests/sanity/offline_venvs.py).
# ansible: the collections ansible-core leaves out, among them the json
# stdout callback through which the fleet test reads each play's results.
# Fuzzing only (tools/fuzz.sh): clang and libFuzzer's runtime, which is in
# libclang-rt-14-dev.
netrika_fuzz_packages=(clang-14 libclang-rt-14-dev libfuzzer-14-dev)
# The package check (tools/package.sh): a display without a screen, a way to
# type into the window, and the tools that read packages and capabilities.
# It also holds the package to Debian's own checks: lintian for the .deb,
# appstreamcli for the software-centre listing, desktop-file-validate for the
# menu entry.
netrika_package_test_packages=(xvfb xdotool libcap2-bin dpkg-dev file lintian appstream desktop-file-utils ansible-core)
# The Windows build: the MinGW-w64 cross compiler (Qt needs its POSIX thread
# model), wine to run what it builds, wixl and msitools for the installer,
# dpkg-dev to unpack Qt's source package, ninja to build it, icoutils for
# the program's .ico.
netrika_windows_packages=(g++-mingw-w64-x86-64-posix wine64 wixl msitools dpkg-dev ninja-build icoutils)
# Rendering the icon's PNG sizes from its drawing (tools/render-icons.sh).
netrika_icon_packages=(librsvg2-bin)
netrika_icon_sizes=(16 24 32 48 64 128 256)

netrika_install_packages() {
    local missing=()
    local p
    for p in "${netrika_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    # No service of a package starts on this machine as it installs (the
    # ssh server would listen on its real interface).
    local policy=/usr/sbin/policy-rc.d made=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod 755 "$policy"
        made=yes
    fi
    local status=0
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
    if [ -n "$made" ]; then
        $sudo rm -f "$policy"
    fi
    return "$status"
}

# Configures build/ once, then builds the given targets (everything when none).
netrika_build() {
    local top="$1"
    shift
    if [ ! -f "$top/build/CMakeCache.txt" ]; then
        cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    local targets=()
    local t
    for t in "$@"; do
        targets+=(--target "$t")
    done
    cmake --build "$top/build" -j"$(nproc)" "${targets[@]}"
}
