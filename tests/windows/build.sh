#!/usr/bin/env bash
# Configures and builds the Windows tree from scratch into BUILD_DIR, then
# builds NorvAvi.dll once more in a second folder and requires the same
# bytes: neither the time nor the place of a build may show in the DLL.
# Usage: build.sh SOURCE_DIR BUILD_DIR GENERATOR
set -euo pipefail
src=$1 dir=$2 generator=$3
again=$dir-again

configure() {
  rm -rf "$1"
  cmake -S "$src" -B "$1" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DNORV_WERROR=ON \
    >/dev/null
}

configure "$dir"
cmake --build "$dir" -j 2
for f in NorvAvi.dll norvhost.dll norvtest.exe NorvOpsUtils.dll QELENTRY.dll QELUTILS.dll \
  brilimg.dll; do
  [ -f "$dir/$f" ] || { echo "FAIL: $f was not built" >&2; exit 1; }
done

configure "$again"
cmake --build "$again" -j 2 --target NorvAvi >/dev/null
cmp "$dir/NorvAvi.dll" "$again/NorvAvi.dll" ||
  { echo "FAIL: two builds of NorvAvi.dll differ" >&2; exit 1; }
rm -rf "$again"
echo "two builds of NorvAvi.dll are byte-identical"
