# Sourced by the package's check scripts: check <what> <command...> runs the
# command and prints PASS or FAIL with what it checks, counting both.
failures=0
passes=0
check() {
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
