#!/usr/bin/env bash
# Checks a built netrika .deb: control fields and contents (always), then, as
# root, a real installation used by a normal user inside network namespaces of
# this script's own, and a removal that leaves nothing behind.
#
#   tests/package/check_package.sh build/netrika_1.0.4_amd64.deb
set -euo pipefail
deb="$1"
failures=0
passes=0
check() { # check <what> <command...>
    local what="$1"
    shift
    if "$@"; then
        echo "PASS: $what"
        passes=$((passes + 1))
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}
field() { dpkg-deb -f "$deb" "$1"; }
contents="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')"
has() { grep -qx "$1" <<<"$contents"; }

# --- the package as built ---
check "file name is netrika_1.0.4_<arch>.deb" grep -Eq '/?netrika_1\.0\.4_[a-z0-9]+\.deb$' <<<"$deb"
check "Package is netrika" test "$(field Package)" = netrika
check "Version is 1.0.4" test "$(field Version)" = 1.0.4
check "Description names the tool" grep -q "Ethernet adaptor IP address setup" <<<"$(field Description)"
check "depends on the Qt platform plugins" grep -q "qt6-qpa-plugins" <<<"$(field Depends)"
check "depends on the Qt libraries found in the binary" grep -q "libqt6widgets6" <<<"$(field Depends)"
check "depends on setcap" grep -q "libcap2-bin" <<<"$(field Depends)"
check "holds the program" has /usr/bin/netrika
check "holds the desktop entry" has /usr/share/applications/netrika.desktop
check "holds the 16 px icon" has /usr/share/icons/hicolor/16x16/apps/netrika.png
check "holds the 32 px icon" has /usr/share/icons/hicolor/32x32/apps/netrika.png
check "holds nothing else of ours" test "$(grep -c -E '^/usr/(bin|share/(applications|icons))/.*[^/]$' <<<"$contents")" = 4
check "holds no test tool" bash -c '! grep -q adaptor-sim <<<"$1"' _ "$contents"
work="$(mktemp -d)"
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
desktop="$work/root/usr/share/applications/netrika.desktop"
check "desktop entry: name" grep -qx "Name=Netrika" "$desktop"
check "desktop entry: comment" grep -qx "Comment=Ethernet adaptor IP address setup" "$desktop"
check "desktop entry: icon" grep -qx "Icon=netrika" "$desktop"
check "desktop entry: category Network" grep -qx "Categories=Network;" "$desktop"
check "icons are 16 and 32 px" bash -c 'file "$1" | grep -q "16 x 16" && file "$2" | grep -q "32 x 32"' _ \
    "$work/root/usr/share/icons/hicolor/16x16/apps/netrika.png" "$work/root/usr/share/icons/hicolor/32x32/apps/netrika.png"
check "postinst gives the capabilities" grep -q "setcap cap_net_raw,cap_net_admin+ep /usr/bin/netrika" "$work/control/postinst"
record="$(readelf -p .netrika.version "$work/root/usr/bin/netrika" 2>/dev/null || true)"
check "version record: description" grep -q "FileDescription=Ethernet adaptor IP address setup" <<<"$record"
check "version record: 1.00.0004" grep -q "FileVersion=1.00.0004" <<<"$record"
check "version record: product and internal name" bash -c 'grep -q "ProductName=Netrika" <<<"$1" && grep -q "InternalName=Netrika" <<<"$1"' _ "$record"

if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: installation not checked."
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
fi

# --- installed, and used by a normal user ---
tag="$$"
host="nk-ph-$tag"
device="nk-pd-$tag"
display=":$((90 + tag % 9))"
user="netrika-check"
xvfb_pid=""
app_pid=""
cleanup() {
    pkill -x -u "$user" netrika 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    ip netns del "$host" 2>/dev/null || true
    ip netns del "$device" 2>/dev/null || true
    if dpkg-query -W -f='${Status}' netrika 2>/dev/null | grep -q 'install ok installed'; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq netrika >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(readlink -f "$deb")" >/dev/null
check "installs" test -x /usr/bin/netrika
caps="$(getcap /usr/bin/netrika)"
check "installed program holds cap_net_admin and cap_net_raw" grep -Eq "cap_net_admin,cap_net_raw[+=]ep" <<<"$caps"

id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
ip netns add "$host"
ip netns add "$device"
ip link add "nkph$tag" netns "$host" type veth peer name "nkpd$tag" netns "$device"
for ns in "$host" "$device"; do ip -n "$ns" link set lo up; done
ip -n "$host" addr add 10.77.120.1/24 dev "nkph$tag"
ip -n "$device" addr add 10.77.120.2/24 dev "nkpd$tag"
ip -n "$host" link set "nkph$tag" up
ip -n "$device" link set "nkpd$tag" up
Xvfb "$display" -ac -nolisten tcp -screen 0 640x480x24 >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1

as_user() { ip netns exec "$host" setpriv --reuid="$user" --regid="$user" --clear-groups env DISPLAY="$display" HOME=/tmp "$@"; }
echos() { ip netns exec "$device" nstat -az IcmpInEchos | awk '/IcmpInEchos/ {print $2}'; }

# Types a MAC and an address into the window and presses Setup, as a user would.
setup_run() {
    local ip_keys="$1"
    as_user /usr/bin/netrika >>"$work/netrika.log" 2>&1 &
    app_pid=$!
    local wid
    wid="$(as_user timeout 20 xdotool search --sync --name "^Ethernet Adaptor IP Configuration v1\.0\.4$" | head -n 1)"
    [ -n "$wid" ] || return 1
    # Without a window manager the window takes the keyboard only once it is
    # mapped and given the focus: wait for both before typing.
    as_user xdotool windowmap --sync "$wid" windowfocus --sync "$wid"
    sleep 1
    as_user xdotool windowfocus --sync "$wid" type --delay 40 "0080a36163dd$ip_keys"
    # The Setup button, in the middle.
    as_user xdotool mousemove --window "$wid" 233 156 click 1
}
stop_app() {
    # $app_pid is the shell around the program: end the program itself.
    pkill -x -u "$user" netrika 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    for _ in $(seq 50); do
        pgrep -x -u "$user" netrika >/dev/null || break
        sleep 0.1
    done
    app_pid=""
}

# An address that answers: the unprivileged program's echo requests arrive.
before="$(echos)"
check "window opens for a normal user, with its versioned title" setup_run "010077120002"
sleep 4
after="$(echos)"
check "a normal user's pre-check sends echo requests (CAP_NET_RAW)" test "$((after - before))" -ge 1
check "an answering address gets no neighbour entry" bash -c '! ip -n "$1" neigh show 10.77.120.2 | grep -q PERMANENT' _ "$host"
stop_app

# A silent address: after the pre-check the ARP route binds it (CAP_NET_ADMIN).
setup_run "010077120099"
found=no
for _ in $(seq 40); do
    if ip -n "$host" neigh show 10.77.120.99 | grep -q "lladdr 00:80:a3:61:63:dd PERMANENT"; then
        found=yes
        break
    fi
    sleep 0.5
done
check "a normal user's ARP route makes the neighbour entry (CAP_NET_ADMIN)" test "$found" = yes
[ "$found" = yes ] || { ip -n "$host" neigh show; sed 's/^/netrika: /' "$work/netrika.log"; }
stop_app

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq netrika >/dev/null
leftover=""
for f in /usr/bin/netrika /usr/share/applications/netrika.desktop /usr/share/icons/hicolor/16x16/apps/netrika.png \
    /usr/share/icons/hicolor/32x32/apps/netrika.png; do
    [ -e "$f" ] && leftover="$leftover $f"
done
check "removal leaves nothing behind" test -z "$leftover"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
