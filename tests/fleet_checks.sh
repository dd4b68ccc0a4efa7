#!/usr/bin/env bash
# The collection netrika.fleet as Ansible's own tools see it, from the source
# tree: each module's and the role's documentation rendered by ansible-doc,
# the collection built by ansible-galaxy, ansible-test's sanity tests that
# run offline, the collection (the role's calls of its modules checked
# against their arguments) and the README's example play passed by
# ansible-lint offline, and the modules run over netrika-cli's recorded
# output (ansible/tests/unit). Sends nothing anywhere.
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

# A copy laid out as Ansible finds collections, for ansible-test (which
# writes its results into the collection) and ansible-lint. ansible-lint's
# runtime takes the folder above the first path of ANSIBLE_COLLECTIONS_PATH
# as the root its module loader searches, so for it the path ends in
# ansible_collections; Ansible itself reads either.
tree="$work/tree/ansible_collections/netrika/fleet"
mkdir -p "$tree"
(cd "$top/ansible" && tar --exclude=tests/output --exclude=__pycache__ -cf - .) | tar -xf - -C "$tree"
lint_env=(env ANSIBLE_COLLECTIONS_PATH="$work/tree/ansible_collections")

# ansible-test runs each sanity test in a virtual environment it fills from
# a package index; offline_venvs.py makes them beforehand on the system's own
# packages (pycodestyle, pylint, voluptuous, yamllint from Debian).
sanity_tests=(pep8 pylint validate-modules yamllint)
check "ansible-test sanity (${sanity_tests[*]}), offline" bash -c '
    cd "$1" && shift &&
    /usr/bin/python3 tests/sanity/offline_venvs.py "$@" &&
    ansible-test sanity --python "$(/usr/bin/python3 -c "import sys; print(\"%d.%d\" % sys.version_info[:2])")" \
        $(printf -- "--test %s " "$@")' _ "$tree" "${sanity_tests[@]}"

check "ansible-lint --offline passes the collection, the role's module calls checked" \
    bash -c 'cd "$1" && shift && "$@" ansible-lint --offline --nocolor' _ "$tree" "${lint_env[@]}"

# The example play exactly as the README gives it.
awk '/^<!-- fleet example: site.yml -->$/ {want = 1; next}
     want && /^```/ {if (inside) exit; inside = 1; next}
     inside {print}' "$top/README.md" >"$work/play/site.yml"
check "the README gives an example play" test -s "$work/play/site.yml"
check "ansible-lint --offline passes the README's example play" \
    bash -c 'cd "$1" && shift && "$@" ansible-lint --offline --nocolor site.yml' _ "$work/play" "${lint_env[@]}"

check "the modules over netrika-cli's recorded output (ansible/tests/unit)" \
    /usr/bin/python3 -m unittest discover -s "$top/ansible/tests/unit"

[ "$failures" -eq 0 ]
