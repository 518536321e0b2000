#!/usr/bin/env bash
# Builds NorvAvi and runs the whole test suite: the normal build first, then
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the tests that run the host's two threads at once under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build
(cd build && ctest -j "$jobs" --output-on-failure)

if [ "${NORV_SKIP_SANITIZERS:-0}" != 1 ]; then
  build build-asan -DNORV_SANITIZE=address,undefined -DNORV_BUILD_BENCH=OFF
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest -j "$jobs" --output-on-failure)

  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_SANITIZE=thread \
    -DNORV_BUILD_BENCH=OFF >/dev/null
  cmake --build build-tsan -j "$jobs" --target plugin_tests
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$jobs" --output-on-failure \
    -R 'AudioThreads|AudioMovie')
fi
