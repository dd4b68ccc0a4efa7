#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang in build-fuzz/ and runs
# each for a bounded time from its seed corpus. The targets drive the window's
# logic through fakes only: no socket is opened, nothing reaches a network.
#
#   tools/fuzz.sh [target ...]       default: every target; NETRIKA_FUZZ_SECONDS (default 30) each
#
# Fails on any crash, broken rule, leak or time-out, and names the saved input.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-fuzz"
seconds="${NETRIKA_FUZZ_SECONDS:-30}"
source "$top/tools/packages.sh"
netrika_install_packages "${netrika_fuzz_packages[@]}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(entryfields addressrules dialogues builders helperrequest batchfile)
fi

start=$(date +%s)
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DNETRIKA_FUZZ=ON -DBUILD_TESTING=OFF
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
built=$(date +%s)

# The corpus grows in a scratch copy, so a run never writes into the tree.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
saved="$build/fuzz-findings"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:print_summary=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"

failures=0
summary=()
for t in "${targets[@]}"; do
    mkdir -p "$work/$t/corpus" "$work/$t/findings"
    cp "$top/tests/fuzz/corpus/$t/"* "$work/$t/corpus/"
    args=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
          -artifact_prefix="$work/$t/findings/")
    if [ -f "$top/tests/fuzz/$t.dict" ]; then
        args+=(-dict="$top/tests/fuzz/$t.dict")
    fi
    log="$work/$t/log"
    rc=0
    "$build/tests/fuzz/fuzz_$t" "${args[@]}" "$work/$t/corpus" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    coverage=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov:' | tail -1 || true)
    findings=("$work/$t/findings/"*)
    if [ "$rc" -ne 0 ] || [ -e "${findings[0]}" ]; then
        failures=$((failures + 1))
        mkdir -p "$saved/$t"
        echo "---- fuzz_$t failed (exit $rc); the end of its output:"
        tail -60 "$log"
        for f in "${findings[@]}"; do
            [ -e "$f" ] || continue
            cp "$f" "$saved/$t/"
            echo "fuzz $t: input saved as $saved/$t/$(basename "$f")"
        done
        summary+=("fuzz $t: ${runs:-?} executions, FAILED (exit $rc)")
    else
        echo "fuzz $t: $coverage"
        summary+=("fuzz $t: ${runs:-?} executions, 0 crashes")
    fi
done

printf '%s\n' "${summary[@]}"
echo "fuzz: build $((built - start)) s, runs $(($(date +%s) - built)) s"
echo "fuzz: $((${#targets[@]} - failures)) passed, $failures failed"
exit $((failures > 0))
