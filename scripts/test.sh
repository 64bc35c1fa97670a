#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the plain build
# (with the Vulkan tests again under the Khronos validation layer), the unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the concurrency tests under ThreadSanitizer. The plain build's tests
# include the Windows executable (mingw-w64) and its runs under Wine. Each
# build asks for the tests (scripts/run.sh builds the same folder without
# them), and ctest fails where it finds no tests rather than pass with none run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/setup.sh" test

# The -Debug test of the Windows executable needs Wine 10: a Debian 13 root
# made once (a few minutes) and reused. Without it that one test skips.
echo "== Wine 10 root for the Windows -Debug test"
if OSTREL_WINE_ROOT=$("$root/scripts/wine-root.sh"); then
    export OSTREL_WINE_ROOT
else
    echo "no Wine 10 root: the Windows -Debug test skips"
fi

echo "== build and test, Vulkan use under the validation layer included"
"$root/scripts/build.sh" "$root/build" -DOSTREL_BUILD_TESTS=ON
OSTREL_REQUIRE_VALIDATION=1 ctest --no-tests=error --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=address,undefined -DOSTREL_BUILD_TESTS=ON
# check_printf=0: the platform registers a printf conversion of its own
# (wide text in narrow output), which the sanitizer's printf check would
# warn about on standard error, where tests read the tool's own lines.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:check_printf=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --no-tests=error --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -L unit

echo "== concurrency tests under ThreadSanitizer"
"$root/scripts/build.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=thread -DOSTREL_BUILD_TESTS=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --no-tests=error --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -L concurrency
