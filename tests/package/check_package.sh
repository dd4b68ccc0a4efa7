#!/usr/bin/env bash
# Checks a built netrika .deb: control fields and contents (always), then, as
# root, a real installation used by a normal user inside network namespaces of
# this script's own, and a removal that leaves nothing behind.
#
#   tests/package/check_package.sh build/netrika_1.0.4_amd64.deb
set -euo pipefail

# The installation makes, replaces and at the end removes the helpers'
# folder in /run, which the helpers of any other run on this host share (a
# second checkout's test suite, say). As root the check therefore runs in a
# mount namespace of its own, over a /run whose changes stay in it (the layer
# lives on a tmpfs over /mnt, which only this namespace sees); its network
# namespaces go with it however the check ends.
if [ "$(id -u)" -eq 0 ] && [ -z "${NETRIKA_PACKAGE_RUN_ISOLATED:-}" ]; then
    script="$(readlink -f "$0")"
    exec unshare --mount --propagation private env NETRIKA_PACKAGE_RUN_ISOLATED=1 bash -c '
        set -e
        layer=/mnt
        mount -t tmpfs netrika-run "$layer"
        mkdir "$layer/upper" "$layer/work"
        mount -t overlay netrika-run -o "lowerdir=/run,upperdir=$layer/upper,workdir=$layer/work" /run
        exec bash "$0" "$@"' "$script" "$@"
fi

deb="$1"
source "$(dirname "$0")/checking.sh"
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
check "holds the network helper" has /usr/libexec/netrika/netrika-net-helper
check "holds the command line" has /usr/bin/netrika-cli
check "holds the boot-time entry of the helpers' folder" has /usr/lib/tmpfiles.d/netrika.conf
completion_file=/usr/share/bash-completion/completions/netrika-cli
check "holds the bash completion of the command line, named for bash-completion's loader" has "$completion_file"
check "holds the manual pages" bash -c 'grep -qx /usr/share/man/man1/netrika.1.gz <<<"$1" && grep -qx /usr/share/man/man1/netrika-cli.1.gz <<<"$1"' _ "$contents"
# One application id names the desktop entry, the metainfo file and the icon.
app_id=org.netrika.Netrika
icon_sizes=(16 24 32 48 64 128 256)
check "holds the desktop entry" has "/usr/share/applications/$app_id.desktop"
check "holds the software-centre listing" has "/usr/share/metainfo/$app_id.metainfo.xml"
check "holds the scalable icon" has "/usr/share/icons/hicolor/scalable/apps/$app_id.svg"
for size in "${icon_sizes[@]}"; do
    check "holds the $size px icon" has "/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
done
check "holds the copyright file and the changelog" \
    bash -c 'grep -qx /usr/share/doc/netrika/copyright <<<"$1" && grep -qx /usr/share/doc/netrika/changelog.gz <<<"$1"' _ "$contents"
check "holds nothing else of ours" \
    test "$(grep -c -E '^/usr/(bin|libexec|share/(applications|icons|metainfo|doc))/.*[^/]$' <<<"$contents")" = 15
check "holds no test tool" bash -c '! grep -q adaptor-sim <<<"$1"' _ "$contents"
work="$(mktemp -d)"
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
desktop="$work/root/usr/share/applications/$app_id.desktop"
metainfo="$work/root/usr/share/metainfo/$app_id.metainfo.xml"
check "desktop entry: name" grep -qx "Name=Netrika" "$desktop"
check "desktop entry: comment" grep -qx "Comment=Ethernet adaptor IP address setup" "$desktop"
check "desktop entry: icon named by the application id" grep -qx "Icon=$app_id" "$desktop"
check "desktop entry: category Network" grep -qx "Categories=Network;" "$desktop"
check "desktop entry: the window tells the same id to the desktop" \
    bash -c 'strings -el "$1" | grep -qx "$2"' _ "$work/root/usr/bin/netrika" "$app_id"
check "listing: launches the desktop entry, shows its icon" \
    bash -c 'grep -q "<launchable type=\"desktop-id\">$2.desktop</launchable>" "$1" && grep -q "<icon type=\"stock\">$2</icon>" "$1"' _ "$metainfo" "$app_id"
check "listing: release 1.0.4" grep -q '<release version="1.0.4"' "$metainfo"
for size in "${icon_sizes[@]}"; do
    check "the $size px icon is $size x $size" \
        bash -c 'file "$1" | grep -q "PNG image data, $2 x $2,"' _ "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" "$size"
done
check "copyright file is machine-readable (DEP-5)" \
    grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$work/root/usr/share/doc/netrika/copyright"
check "changelog.gz: gzip -9n, a Debian changelog of this version" \
    bash -c 'gzip -t "$1" && [ "$(od -An -tx1 -j4 -N4 "$1" | tr -d " ")" = 00000000 ] && zcat "$1" | head -n 1 | grep -q "^netrika (1\.0\.4) "' _ \
    "$work/root/usr/share/doc/netrika/changelog.gz"
check "recommends the Wayland platform plugin" grep -q "qt6-wayland" <<<"$(field Recommends)"
collection=/usr/share/ansible/collections/ansible_collections/netrika/fleet
check "holds the Ansible collection where ansible-core looks, without its tests" \
    bash -c 'grep -qx "$1/plugins/modules/adaptor.py" <<<"$2" && grep -qx "$1/roles/site/tasks/main.yml" <<<"$2" && ! grep -q "$1/tests" <<<"$2"' _ "$collection" "$contents"
check "suggests ansible-core for the collection" grep -q "ansible-core" <<<"$(field Suggests)"

# The bash completion, asked as bash asks it on Tab: the file sourced, the
# function it registers for netrika-cli called with the words up to the
# cursor. Prints the answers, sorted, on one line.
completions() { # completions <file> <folder to complete in> <word>... (the last at the cursor)
    bash -c 'source "$1" >/dev/null 2>&1 || exit 1
        function="$(complete -p netrika-cli 2>/dev/null | sed -n "s/.* -F \([^ ]*\) .*/\1/p")"
        [ -n "$function" ] || exit 1
        cd "$2" || exit 1
        shift 2
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        "$function" netrika-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$@" | LC_ALL=C sort | paste -sd ' '
}
# completes_to <file> <folder> <expected answers, blank-separated, any order> <word>...
completes_to() {
    local file="$1" folder="$2" want="$3"
    shift 3
    local got
    # A file that cannot be sourced, or registers nothing, answers nothing:
    # that must not pass for "nothing offered".
    got="$(set -o pipefail && completions "$file" "$folder" "$@")" || return 1
    [ "$got" = "$(tr ' ' '\n' <<<"$want" | grep . | LC_ALL=C sort | paste -sd ' ')" ]
}
completion="$work/root$completion_file"
completion_files="$work/completion-files"
mkdir -p "$completion_files/sites"
touch "$completion_files/"{signs.csv,OLD.CSV,notes.txt,signs.csv.bak}
# name | words before the cursor | word at the cursor | the answers
completion_cases=(
    "ok_commands|netrika-cli||batch scan setup"
    "ok_command_begun|netrika-cli|ba|batch"
    "ok_options_without_a_command|netrika-cli|-|--help --version -V"
    "ok_setup_options|netrika-cli setup|--|--check --current-ip --dry-run --gateway --help --in-place --ip --json --log --mac --mask --sign-test"
    "ok_batch_options|netrika-cli batch signs.csv|-|--check --delimiter --dry-run --force --help --jobs --json --log-dir --report --resume --site -q"
    "error_no_quiet_after_json|netrika-cli setup --json|-|--check --current-ip --dry-run --gateway --help --in-place --ip --log --mac --mask --sign-test"
    "error_no_json_after_quiet|netrika-cli batch signs.csv -q|--j|--jobs"
    "error_no_dry_run_after_check|netrika-cli batch signs.csv --check|--d|--delimiter"
    "ok_batch_option_begun|netrika-cli batch|--del|--delimiter"
    "ok_option_given_not_offered_again|netrika-cli setup --mac 00-80-a3-61-63-dd --ip 10.1.2.16|--ma|--mask"
    "ok_batch_file_csv_folders_and_stdin|netrika-cli batch||- OLD.CSV signs.csv sites"
    "ok_batch_file_given_then_options|netrika-cli batch -||--check --delimiter --dry-run --force --help --jobs --json --log-dir --report --resume --site -q"
    "ok_report_csv_and_folders|netrika-cli batch signs.csv --report||OLD.CSV signs.csv sites"
    "ok_report_after_equals|netrika-cli batch signs.csv --report|=|OLD.CSV signs.csv sites"
    "ok_report_after_equals_begun|netrika-cli batch signs.csv --report =|s|signs.csv sites"
    "ok_resume_csv_and_folders|netrika-cli batch signs.csv --resume|s|signs.csv sites"
    "ok_resume_value_is_not_the_batch_file|netrika-cli batch --resume signs.csv||- OLD.CSV signs.csv sites"
    "ok_delimiter_values|netrika-cli batch signs.csv --delimiter||, ';' tab"
    "ok_delimiter_values_in_quotes|netrika-cli batch signs.csv --delimiter|'|',' ';' 'tab'"
    "ok_delimiter_tab|netrika-cli batch signs.csv --delimiter|t|tab"
    "error_nothing_for_mac|netrika-cli setup --mac||"
    "error_nothing_for_ip|netrika-cli setup --ip||"
    "error_nothing_for_mask|netrika-cli setup --mask||"
    "error_nothing_for_gateway|netrika-cli setup --gateway||"
    "error_nothing_within_a_mac_with_colons|netrika-cli setup --mac 00 : 80|:|"
    "error_nothing_for_jobs|netrika-cli batch signs.csv --jobs||"
    "error_nothing_for_site|netrika-cli batch signs.csv --site||"
    "ok_in_place_values|netrika-cli setup --in-place||apply leave"
    "error_no_batch_option_for_setup|netrika-cli setup|--re|"
    "error_no_setup_option_for_batch|netrika-cli batch signs.csv|--ma|"
    "error_no_file_for_setup|netrika-cli setup||--check --current-ip --dry-run --gateway --help --in-place --ip --json --log --mac --mask --sign-test -q -v"
    "ok_scan_options|netrika-cli scan|--|--all --help --interface --json --range"
    "ok_scan_range_again|netrika-cli scan --range 10.1.2.0/24|--r|--range"
    "error_nothing_for_current_ip|netrika-cli setup --current-ip||"
    "error_nothing_after_an_unknown_command|netrika-cli frob||"
)
for case in "${completion_cases[@]}"; do
    IFS='|' read -r name before at want <<<"$case"
    read -ra words <<<"$before"
    check "bash completion: $name" completes_to "$completion" "$completion_files" "$want" "${words[@]}" "$at"
done
check "bash completion: a plain file, not executable (0644)" test "$(stat -c %a "$completion")" = 644

# Debian's own checks: the package, the listing and the menu entry.
lintian_out="$(lintian --fail-on error,warning --display-level '>=warning' "$deb" 2>&1 | grep -v 'running with root privileges' || true)"
check "lintian: no errors, no warnings" lintian --fail-on error,warning --display-level '>=warning' "$deb"
[ -z "$lintian_out" ] || sed 's/^/lintian: /' <<<"$lintian_out"
# --no-net: the screenshot and home page are not fetched, only their form checked.
appstream_out="$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1 || true)"
check "appstreamcli validate --pedantic: no errors, no warnings" \
    bash -c 'appstreamcli validate --pedantic --no-net "$1" >/dev/null 2>&1 && ! grep -Eq "^[EW]: " <<<"$2"' _ "$metainfo" "$appstream_out"
check "appstreamcli validate-tree: listing, entry and icons agree" \
    bash -c 'appstreamcli validate-tree --pedantic --no-net "$1" >/dev/null 2>&1' _ "$work/root"
sed 's/^/appstreamcli: /' <<<"$appstream_out"
check "desktop-file-validate accepts the entry" desktop-file-validate "$desktop"
check "postinst gives the capabilities to the helper" bash -c 'grep -q "^helper=/usr/libexec/netrika/netrika-net-helper$" "$1" && grep -q "setcap cap_net_raw,cap_net_admin+ep \"\$helper\"" "$1"' _ "$work/control/postinst"
check "postinst gives no capability to the window" bash -c '! grep -q "/usr/bin/netrika" "$1"' _ "$work/control/postinst"
check "postinst makes the group and the helper's mode" bash -c 'grep -q "addgroup --system --quiet netrika" "$1" && grep -q "dpkg-statoverride --update --add root netrika 0750" "$1"' _ "$work/control/postinst"
check "depends on adduser for the group" grep -q "adduser" <<<"$(field Depends)"
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

check "the host's /run is not touched by this check" grep -q "^netrika-run /run overlay" /proc/self/mounts

# --- installed, and used by a normal user ---
tag="$$"
host="nk-ph-$tag"
device="nk-pd-$tag"
display=":$((90 + tag % 9))"
user="netrika-check"
outsider="netrika-outsider"
helper=/usr/libexec/netrika/netrika-net-helper
xvfb_pid=""
app_pid=""
cleanup() {
    pkill -x -u "$user" swap_race 2>/dev/null || true
    pkill -x -u "$user" netrika 2>/dev/null || true
    pkill -x -u "$outsider" netrika 2>/dev/null || true
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
check "the window holds no capability" test -z "$(getcap /usr/bin/netrika)"
check "the command line holds no capability" test -z "$(getcap /usr/bin/netrika-cli)"
check "the command line links no GUI library" bash -c '! ldd /usr/bin/netrika-cli | grep -Eq "libQt6(Gui|Widgets)"'
check "the command line starts with no display" bash -c 'env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/netrika-cli --version | grep -qx "netrika-cli 1.0.4"'
check "the helper holds cap_net_admin and cap_net_raw" grep -Eq "cap_net_admin,cap_net_raw[+=]ep" <<<"$(getcap "$helper")"
check "no other file of the package holds a capability" test "$(dpkg -L netrika | xargs getcap 2>/dev/null | grep -c .)" = 1
check "the group netrika exists" getent group netrika
check "the helpers' shared folder is /run/netrika, root:netrika, mode 3770 (sticky)" test "$(stat -c '%a %U %G' /run/netrika)" = "3770 root netrika"
check "the folder is made again at boot" grep -qx "d /run/netrika 3770 root netrika -" /usr/lib/tmpfiles.d/netrika.conf
for fixed in probes sweep; do
    # Empty, or holding what helpers wrote since (another suite's may run beside).
    check "the fixed file $fixed is root:netrika 0660" bash -c '[[ "$(stat -c "%a %U %G %F" "$1")" == "660 root netrika regular"*file ]]' _ "/run/netrika/$fixed"
    check "the fixed file $fixed is made again at boot" grep -qx "f /run/netrika/$fixed 0660 root netrika -" /usr/lib/tmpfiles.d/netrika.conf
done
# A run path would let whoever writes one of its folders load a library into the program.
for program in "$helper" /usr/bin/netrika /usr/bin/netrika-cli; do
    check "no RUNPATH or RPATH in $program" bash -c '! readelf -d "$1" | grep -Eq "\((RUNPATH|RPATH)\)"' _ "$program"
done
check "the helper is root:netrika, mode 0750" test "$(stat -c '%a %U %G' "$helper")" = "750 root netrika"
check "ansible-doc netrika.fleet.adaptor renders the installed collection's page" \
    bash -c 'env -u ANSIBLE_COLLECTIONS_PATH HOME=/tmp ansible-doc netrika.fleet.adaptor | grep -q "OPTIONS"' 

id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
id "$outsider" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$outsider"
usermod -a -G netrika "$user"

# A member of the group swaps the probe budget between a file and a link to a
# file of root's while the install script runs again and again, each time
# into an empty /run/netrika (as after a reboot without tmpfiles, or a
# removal), so that the member's swapper is there first: the file of root's
# keeps its owner and mode, as the script never changes a file through a
# path a member can write.
racer="$(mktemp -d)"
chmod 755 "$racer"
cc -O2 -o "$racer/swap_race" "$(dirname "$0")/swap_race.c"
secret="$racer/root-only"
install -m 0600 /dev/null "$secret"
setpriv --reuid="$user" --regid="$user" --init-groups "$racer/swap_race" /run/netrika/probes "$secret" 2>/dev/null &
racer_pid=$!
for _ in $(seq 300); do
    rm -rf /run/netrika 2>/dev/null || true # the swapper may make a file meanwhile
    "$work/control/postinst" configure >/dev/null 2>&1 || true
done
kill "$racer_pid" 2>/dev/null || true
wait "$racer_pid" 2>/dev/null || true
check "install script raced by a member: a file of root's keeps root:root 0600" \
    test "$(stat -c '%a %U %G' "$secret")" = "600 root root"
rm -rf /run/netrika/probes /run/netrika/probes.swap "$racer"
"$work/control/postinst" configure >/dev/null
# In the sticky folder a member removes or replaces nothing of root's: one
# sweep at a time holds, and the budget stays everyone's.
as_member_here() { (cd / && setpriv --reuid="$user" --regid="$user" --init-groups "$@"); }
member_removes_sweep_lock() {
    as_member_here rm -f /run/netrika/sweep 2>/dev/null || true
    test ! -e /run/netrika/sweep
}
member_replaces_budget() {
    as_member_here bash -c ': >/run/netrika/.m && mv -f /run/netrika/.m /run/netrika/probes' 2>/dev/null || true
    rm -f /run/netrika/.m
    test "$(stat -c %U /run/netrika/probes)" != root
}
check "a member cannot remove the sweep lock" bash -c "$(declare -f as_member_here member_removes_sweep_lock); user=$user; ! member_removes_sweep_lock"
check "a member cannot replace the probe budget" bash -c "$(declare -f as_member_here member_replaces_budget); user=$user; ! member_replaces_budget"

# What a member leaves at the fixed files' names, as a race with an
# installation after a removal left it (directories of theirs): the install
# script replaces it as root, without following it. Fixed files that are
# right are left as they are (a sweep in progress keeps its lock), and what
# cannot be laid out fails the script aloud.
fixed_files_right() {
    for fixed in probes sweep; do
        [[ "$(stat -c '%U %G %a %F' "/run/netrika/$fixed")" == "root netrika 660 regular"*file ]] || return 1
    done
}
rm -f /run/netrika/probes /run/netrika/sweep
as_member_here mkdir /run/netrika/probes /run/netrika/sweep
check "a member's directories at the fixed files' names: the install script succeeds" \
    "$work/control/postinst" configure
check "... and lays the fixed files out as root's" fixed_files_right
before="$(stat -c %i /run/netrika/probes /run/netrika/sweep)"
"$work/control/postinst" configure >/dev/null
check "fixed files that are right are left as they are by the install script" \
    test "$(stat -c %i /run/netrika/probes /run/netrika/sweep)" = "$before"
rm -f /run/netrika/probes
mkdir /run/netrika/probes
mount -t tmpfs netrika-busy /run/netrika/probes
check "a fixed file that cannot be laid out fails the install script" \
    bash -c '! "$1" configure >/dev/null 2>&1' _ "$work/control/postinst"
umount /run/netrika/probes
rmdir /run/netrika/probes
"$work/control/postinst" configure >/dev/null
check "... and the next run of it lays it out" fixed_files_right

# A second member turns the folder against the first, root and the host, in
# a mount namespace and network namespaces of its own.
second="netrika-second"
id "$second" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$second"
usermod -a -G netrika "$second"
check "a second member's attacks on the helpers' folder all fail" \
    unshare --mount --propagation private bash "$(dirname "$0")/member_attacks.sh" "$user" "$second"

# The completion as installed, sourced by a user outside the group.
as_outsider_here() { (cd / && setpriv --reuid="$outsider" --regid="$outsider" --init-groups env HOME=/tmp "$@"); }
check "installed bash completion: netrika-cli ba gives batch" \
    as_outsider_here bash -c "$(declare -f completions completes_to); completes_to $completion_file / batch netrika-cli ba"
check "installed bash completion: netrika-cli batch --del gives --delimiter" \
    as_outsider_here bash -c "$(declare -f completions completes_to); completes_to $completion_file / --delimiter netrika-cli batch --del"

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

# A technician in the group netrika, and a user outside it.
as_user() { ip netns exec "$host" setpriv --reuid="$user" --regid="$user" --init-groups env DISPLAY="$display" HOME=/tmp "$@"; }
as_outsider() { ip netns exec "$host" setpriv --reuid="$outsider" --regid="$outsider" --init-groups env DISPLAY="$display" HOME=/tmp "$@"; }
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
check "a technician's pre-check sends echo requests (through the helper)" test "$((after - before))" -ge 1
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
check "a technician's ARP route makes the neighbour entry (through the helper)" test "$found" = yes
[ "$found" = yes ] || { ip -n "$host" neigh show; sed 's/^/netrika: /' "$work/netrika.log"; }
# Killed in the middle of its run: the helper still removes what it made.
stop_app
gone=no
for _ in $(seq 30); do
    ip -n "$host" neigh show 10.77.120.99 | grep -q PERMANENT || { gone=yes; break; }
    sleep 0.1
done
check "a killed window leaves no neighbour entry behind" test "$gone" = yes
for _ in $(seq 30); do pgrep -x -u "$user" netrika-net-hel >/dev/null || break; sleep 0.1; done
check "no helper outlives its window" bash -c '! pgrep -x -u "$1" netrika-net-hel' _ "$user"

# Root's helper and a technician's share the folder, each after the other: the
# fixed files are root's and the group's, each record its owner's.
checks_free() { "$@" /usr/bin/netrika-cli setup --check --json --mac 0080a36163dd --ip 10.77.120.50 \
    --mask 255.255.255.0 --gateway 0.0.0.0 2>"$work/check.err" | grep -q '"state":"to-assign"'; }
check "root's check after a technician's run finds the address free" checks_free ip netns exec "$host"
check "a technician's check after root's finds the address free" checks_free as_user
if grep -q "Permission denied" "$work/check.err"; then sed 's/^/check: /' "$work/check.err"; fi

# The helper as a technician runs it: not dumpable, so its user can neither
# trace it nor read its memory while it holds capabilities; its /proc files
# belong to root then.
as_user bash -c 'sleep 5 | /usr/libexec/netrika/netrika-net-helper >/dev/null 2>&1' &
helper_shell=$!
helper_pid=""
for _ in $(seq 30); do helper_pid="$(pgrep -x -u "$user" netrika-net-hel | head -n 1)" && [ -n "$helper_pid" ] && break; sleep 0.1; done
check "the helper runs as the technician" test -n "$helper_pid"
check "the helper is not dumpable (its /proc status belongs to root)" \
    bash -c '[ "$(stat -c %U "/proc/$1/status")" = root ] && grep -q "^Uid:[[:space:]]*$(id -u "$2")" "/proc/$1/status"' _ "$helper_pid" "$user"
wait "$helper_shell" 2>/dev/null || true

# A user outside the group: the socket-library box, no probe, and a message
# that names the group and the command.
before="$(echos)"
as_outsider /usr/bin/netrika >"$work/outsider.log" 2>&1 &
app_pid=$!
wid="$(as_outsider timeout 20 xdotool search --sync --name "^Ethernet Adaptor IP Configuration v1\.0\.4$" | head -n 1)"
if [ -n "$wid" ]; then
    as_outsider xdotool windowmap --sync "$wid" windowfocus --sync "$wid"
    sleep 1
    as_outsider xdotool windowfocus --sync "$wid" type --delay 40 "0080a36163dd010077120002"
    as_outsider xdotool mousemove --window "$wid" 233 156 click 1
fi
# The first probe tick comes 3 s after Setup.
for _ in $(seq 100); do grep -q "sudo adduser" "$work/outsider.log" && break; sleep 0.1; done
box="$(as_outsider timeout 15 xdotool search --sync --onlyvisible --name "^Netrika$" | head -n 1 || true)"
check "outside the group: the socket-library message box" test -n "$box"
check "outside the group: standard error names the group and the command" \
    bash -c 'grep -q "group \"netrika\"" "$1" && grep -q "sudo adduser \$USER netrika" "$1"' _ "$work/outsider.log"
check "outside the group: no echo request is sent, so no false answer" test "$(echos)" = "$before"
sed 's/^/outsider: /' "$work/outsider.log"
pkill -x -u "$outsider" netrika 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""

# A batch checked before it runs: it passes for a technician, and for a user
# outside the group it names the group, sends nothing and ends with status 2.
rows_dir="$(mktemp -d)"
chmod 755 "$rows_dir"
printf 'Name;MAC;IP;Mask;Gateway\r\n"Sign 1";00-80-a3-61-63-dd;10.77.120.50;255.255.255.0;10.77.120.254\r\n' >"$rows_dir/rows.csv"
chmod 644 "$rows_dir/rows.csv"
before="$(echos)"
status=0
checked="$(as_user /usr/bin/netrika-cli batch --check "$rows_dir/rows.csv" 2>&1)" || status=$?
# The row's address is free: the check predicts it to be assigned, status 1.
check "a technician's batch --check predicts the row (status 1)" \
    bash -c '[ "$1" = 1 ] && grep -q "1 row: 1 to assign" <<<"$2"' _ "$status" "$checked"
[ "$status" = 1 ] || sed 's/^/check: /' <<<"$checked"
status=0
checked="$(as_outsider /usr/bin/netrika-cli batch --check "$rows_dir/rows.csv" 2>&1)" || status=$?
check "outside the group: batch --check says so and ends with status 2" \
    bash -c '[ "$1" = 2 ] && grep -q "group \"netrika\"" <<<"$2" && grep -q "cannot be started" <<<"$2"' _ "$status" "$checked"
check "batch --check sends no echo request" test "$(echos)" = "$before"
rm -rf "$rows_dir"

# A Qt plugin of the user's own, loaded into the window, runs with nothing.
plugins="$(mktemp -d)"
chmod 755 "$plugins"
cmake -S "$(dirname "$0")/capprobe" -B "$plugins" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$plugins" >/dev/null
chmod -R a+rX "$plugins"
out="$(mktemp -d)"
chmod 777 "$out"
as_user env QT_PLUGIN_PATH="$plugins/plugins" QT_QPA_GENERIC_PLUGINS=capprobe CAPPROBE_OUT="$out/caps" \
    timeout 10 /usr/bin/netrika >/dev/null 2>&1 &
app_pid=$!
for _ in $(seq 50); do [ -s "$out/caps" ] && break; sleep 0.2; done
pkill -x -u "$user" netrika 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
check "a user's plugin is loaded into the window" test -s "$out/caps"
check "a user's plugin runs with no capability in force" grep -qx "CapEff:	0000000000000000" "$out/caps"
check "a user's plugin runs with no capability it could raise" grep -qx "CapPrm:	0000000000000000" "$out/caps"
sed 's/^/capprobe: /' "$out/caps" || true
rm -rf "$plugins" "$out"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq netrika >/dev/null
leftover=""
for f in /usr/bin/netrika /usr/bin/netrika-cli "$helper" /usr/lib/tmpfiles.d/netrika.conf /run/netrika "/usr/share/applications/$app_id.desktop" "$completion_file" \
    "/usr/share/metainfo/$app_id.metainfo.xml" /usr/share/icons/hicolor/*/apps/$app_id.* /usr/share/doc/netrika; do
    [ -e "$f" ] && leftover="$leftover $f"
done
check "removal leaves nothing behind" test -z "$leftover"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
