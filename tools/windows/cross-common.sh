# What the scripts that build the Windows build's libraries share; sourced.
# Each builds once per machine into the cache, under a name that carries the
# versions and the flags, and prints the prefix on its last line.

netrika_cross_cache="${NETRIKA_CROSS_CACHE:-/var/cache/netrika-cross}"

# netrika_cross_done PREFIX: takes the cache's lock (one build at a time on
# the machine: a second clone's run waits for it), then tells whether PREFIX
# is built already, printing it if so.
netrika_cross_done() {
    mkdir -p "$netrika_cross_cache"
    exec 9>"$netrika_cross_cache/.lock"
    flock 9
    if [ -f "$1/.complete" ]; then
        echo "$1"
        return 0
    fi
    return 1
}

# netrika_debian_source PACKAGE FOLDER: the package's Debian source, its
# patches applied, unpacked into FOLDER/src. apt-get source needs a deb-src
# entry for the release the machine runs: one is added where none is.
netrika_debian_source() {
    if ! apt-get source --print-uris "$1" >/dev/null 2>&1; then
        cat > /etc/apt/sources.list.d/netrika-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        apt-get update -qq >&2
    fi
    rm -rf "$2"
    mkdir -p "$2"
    ( cd "$2" && apt-get source -qq --download-only "$1" >&2 && dpkg-source -x ./*.dsc src >&2 )
}
