#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs every test through CTest, headless. Any memory error,
# undefined behaviour or leak of our own code fails the run.
# Extra arguments go to ctest, for example `tools/sanitize.sh -R entryfields`.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-asan"
source "$top/tools/packages.sh"
netrika_install_packages

start=$(date +%s)
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETRIKA_SANITIZE=ON
fi
cmake --build "$build" -j"$(nproc)"
built=$(date +%s)

export QT_QPA_PLATFORM=offscreen
# Programs the tests start (the adaptor simulator) come from this build too.
export NETRIKA_BUILD="$build"
# The first finding ends the test with a stack; leaks are looked for at exit.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:print_summary=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"
# Leaks that live inside Qt, fontconfig and other system libraries (caches
# held until exit); each entry names a library, never one of ours.
export LSAN_OPTIONS="suppressions=$top/tests/sanitizer/lsan.supp:print_suppressions=1"
# On Wayland the window's widgets draw into shared memory; Qt's EGL client
# buffer integration would only load the GL driver, which keeps memory it
# never frees and is unloaded before the leak check, so no suppression can
# name it. The tests under Wayland run without that integration.
export QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none

cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
echo "sanitize: build $((built - start)) s, tests $(($(date +%s) - built)) s"
