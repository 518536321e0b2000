#!/usr/bin/env bash
# Checks that folders include each other without circles and that the tests
# stay within their share of the code, builds NorvAvi
# and runs the whole test suite: the normal build first, then
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the tests that run the host's two threads at once under ThreadSanitizer,
# then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# Folders form a graph without circles: no folder includes one that
# includes it back.
python3 scripts/folder-cycles.py

# Tests stay a modest share of the code. The limit only ever comes down, as
# the tests shrink onto the objects they check; the aim is 0.40.
python3 scripts/test-ratio.py --max 0.45

build build
(cd build && ctest -j "$jobs" --output-on-failure)

# The builds users make: Release (-O3) and clang, warnings as errors. Each
# must make the demo movie byte for byte as the build above does, and
# ffmpeg must decode all of it.
(cd build && ./norvavi make -y demo.avi >/dev/null)
for variant in "build-release -DCMAKE_BUILD_TYPE=Release" \
  "build-clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"; do
  read -r dir options <<<"$variant"
  # shellcheck disable=SC2086 # the options are words
  build "$dir" $options -DNORV_BUILD_TESTS=OFF -DNORV_BUILD_BENCH=OFF
  (cd "$dir" && ./norvavi make -y demo.avi >/dev/null)
  cmp build/demo.avi "$dir/demo.avi" || { echo "$dir: the demo movie differs" >&2; exit 1; }
  ffmpeg -v error -xerror -i "$dir/demo.avi" -map 0 -f null - ||
    { echo "$dir: ffmpeg cannot decode the demo movie" >&2; exit 1; }
  echo "$dir: the demo movie is made and decodes"
done

if [ "${NORV_SKIP_SANITIZERS:-0}" != 1 ]; then
  build build-asan -DNORV_SANITIZE=address,undefined -DNORV_BUILD_BENCH=OFF
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest -j "$jobs" --output-on-failure)

  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_WERROR=ON -DNORV_SANITIZE=thread \
    -DNORV_BUILD_BENCH=OFF >/dev/null
  cmake --build build-tsan -j "$jobs" --target plugin_tests
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$jobs" --output-on-failure \
    -R 'AudioThreads|AudioMovie')
fi

# A short run of every fuzz target over its seed corpus (the long runs are
# done by hand: see fuzz/CMakeLists.txt).
if [ "${NORV_SKIP_FUZZ:-0}" != 1 ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DNORV_WERROR=ON -DNORV_FUZZ=ON -DNORV_BUILD_TESTS=OFF -DNORV_BUILD_BENCH=OFF \
    >/dev/null
  cmake --build build-fuzz -j "$jobs"
  for target in wave_file palette_file preset set_field avi_verify avi_repair avi_salvage avi_deep; do
    scratch=$(mktemp -d)
    status=0
    build-fuzz/fuzz_$target -max_total_time=15 -print_final_stats=1 \
      -artifact_prefix="$scratch/found-" "$scratch" fuzz/corpus/$target >"$scratch.log" 2>&1 ||
      status=$?
    echo "fuzz_$target: $(grep -h 'stat::number_of_executed_units' "$scratch.log")"
    if [ "$status" != 0 ]; then
      tail -40 "$scratch.log"
      # The input dies with the machine that found it: print it, so that
      # `base64 -d` gives it back for a replay.
      for found in "$scratch"/found-*; do
        [ -f "$found" ] || continue
        echo "$(basename "$found") ($(stat -c %s "$found") bytes), base64:"
        head -c 65536 "$found" | base64 -w 100
      done
      echo "fuzz_$target found a problem"
      exit 1
    fi
    rm -rf "$scratch" "$scratch.log"
  done
fi
