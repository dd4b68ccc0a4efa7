#!/usr/bin/env bash
# The collection netrika.fleet as Ansible's own tools see it, from the source
# tree: each module's and the role's documentation rendered by ansible-doc,
# the collection built by ansible-galaxy, the role and the README's example
# play passed by ansible-lint offline, and the modules run over netrika-cli's
# recorded output (ansible/tests/unit). Sends nothing anywhere.
#
#   tests/fleet_checks.sh <source folder>
set -euo pipefail
top="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check <what> <command...>
    local what="$1"
    shift
    if "$@" >"$work/out" 2>&1; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        sed 's/^/  /' "$work/out" | tail -n 30
        failures=$((failures + 1))
    fi
}
export HOME="$work/home" ANSIBLE_NOCOLOR=1 PYTHONDONTWRITEBYTECODE=1 LC_ALL=C.UTF-8
mkdir -p "$HOME" "$work/collections/ansible_collections/netrika" "$work/play"
ln -s "$top/ansible" "$work/collections/ansible_collections/netrika/fleet"
export ANSIBLE_COLLECTIONS_PATH="$work/collections"

renders() { # renders <ansible-doc arguments...>: a page with its options and examples
    ansible-doc "$@" >"$work/doc" && grep -q "OPTIONS" "$work/doc"
}
for module in adaptor batch scan; do
    check "ansible-doc renders netrika.fleet.$module, with examples and return values" \
        bash -c "$(declare -f renders); work=$work; renders netrika.fleet.$module && grep -q EXAMPLES \"\$work/doc\" && grep -q 'RETURN VALUES' \"\$work/doc\""
done
check "ansible-doc renders the role netrika.fleet.site" bash -c "$(declare -f renders); work=$work; renders -t role netrika.fleet.site"

check "ansible-galaxy builds the collection, modules and role in it" bash -c '
    ansible-galaxy collection build "$1/ansible" --output-path "$2" >/dev/null &&
    tar -tzf "$2"/netrika-fleet-*.tar.gz | grep -qx "plugins/modules/adaptor.py" &&
    tar -tzf "$2"/netrika-fleet-*.tar.gz | grep -qx "roles/site/tasks/main.yml"' _ "$top" "$work"

# The example play exactly as the README gives it.
awk '/^<!-- fleet example: site.yml -->$/ {want = 1; next}
     want && /^```/ {if (inside) exit; inside = 1; next}
     inside {print}' "$top/README.md" >"$work/play/site.yml"
check "the README gives an example play" test -s "$work/play/site.yml"
check "ansible-lint --offline passes the README's example play" \
    bash -c 'cd "$1" && ansible-lint --offline --nocolor site.yml' _ "$work/play"
check "ansible-lint --offline passes the role" \
    bash -c 'cd "$1/ansible" && ansible-lint --offline --nocolor roles/site' _ "$top"

check "the modules over netrika-cli's recorded output (ansible/tests/unit)" \
    /usr/bin/python3 -m unittest discover -s "$top/ansible/tests/unit"

[ "$failures" -eq 0 ]
