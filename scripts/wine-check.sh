#!/usr/bin/env bash
# Runs the Windows build under Wine (see docs/windows.md):
# norvtest.exe makes movies with NorvAvi.dll (uncompressed; with audio from a
# wave file and pushed from a second thread; MRLE; the optimum palette) and
# the Linux norvavi makes the same movies with NorvAvi.so. ffprobe must read
# every frame of the Windows movies; the uncompressed ones must equal the
# Linux ones frame for frame, the ones with audio byte for byte. The MRLE frames are compared too, for
# information only: Wine's MRLE encoder trades exactness for size. Then
# norvtest.exe --settings opens the AVI Settings dialog from its template,
# checks every control's place, works the controls and presses OK (under
# xvfb-run when there is no display).
#
# The shipped DLL is 32-bit. Without an option it runs under the machine's
# own Wine, which needs a kernel that runs 32-bit programs. --32 runs it on
# any x86-64 Linux, as root: a 32-bit Wine in an i386 Debian chroot, its
# programs emulated by qemu-i386 (scripts/wine32-chroot.sh; slow, so not in
# CI). With --64 the same tree is built for 64-bit Windows and run by a
# 64-bit Wine: not the shipped bytes, but the same Windows code.
#
# Usage: scripts/wine-check.sh [--32|--64] [WINDOWS_BUILD_DIR] [LINUX_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=32
chroot32=0
if [ "${1:-}" = --64 ]; then
  bits=64
  shift
elif [ "${1:-}" = --32 ]; then
  chroot32=1
  shift
fi
started=$SECONDS
if [ $bits = 64 ]; then
  toolchain=cmake/mingw-x86_64.cmake
  win=$(realpath -m "${1:-build-win64}")
  # Debian's wine64 package alone installs no wrapper on the PATH.
  wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
else
  toolchain=cmake/mingw-i686.cmake
  win=$(realpath -m "${1:-build-win}")
  wine=$(command -v wine || echo wine)
  [ $chroot32 = 1 ] && wine=bash # the chroot brings its own
fi
lin=$(realpath -m "${2:-build}")

for tool in "$wine" ffprobe ffmpeg cmake; do
  command -v "$tool" >/dev/null || { echo "wine-check: $tool is not installed" >&2; exit 2; }
done
export WINEDEBUG=${WINEDEBUG:--all}
if [ $chroot32 = 1 ]; then
  # The chroot first: it is what most often cannot be had.
  source scripts/wine32-chroot.sh
  work=$W32_ROOT/norv/work
  w32_prepare
  # A bound for hangs, not a speed check: the first program of a new
  # wineserver also waits for Wine's start-up (wineboot --init), and on a
  # loaded machine that first movie has taken 875 s.
  wine_timeout=1800
  run_norvtest() {  # arguments..., in $work
    w32_chroot timeout "$wine_timeout" wine /norv/bin/norvtest.exe "$@"
  }
  export -f run_norvtest
  export wine_timeout
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  run_norvtest() {  # arguments..., in $work
    (cd "$work" && "$wine" "$win/norvtest.exe" "$@")
  }
fi
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=$toolchain >/dev/null
cmake --build "$win" -j 2
[ -x "$lin/norvavi" ] || { cmake -S . -B "$lin" -G Ninja >/dev/null; cmake --build "$lin" -j 2; }
if [ $chroot32 = 1 ]; then
  cp "$win"/*.dll "$win"/norvtest.exe "$W32_ROOT/norv/bin/"
  # One wineserver for all the runs, not one started per program.
  w32_step "start a wineserver" 300 w32_chroot wineserver -p600
fi

# Two seconds of the test pattern at 320 x 240, 25 frames a second.
common=(--set width=320 --set height=240 --set frameRate=25)
frames=50
status=0

frames_of() {  # movie -> frame checksums of its video, without the header lines
  ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#'
}

check_movie() {  # name
  local movie=$work/$1.avi count
  count=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of csv=p=0 "$movie" || true)
  if [ "$count" = "$frames" ]; then
    echo "ok: ffprobe reads $1.avi, $count frames"
  else
    echo "FAIL: ffprobe reads $count frames from $1.avi, not $frames" >&2
    status=1
  fi
}

make_pair() {  # name, none|tone, options both hosts take...
  local name=$1 audio=$2
  shift 2
  local start=$SECONDS
  run_norvtest "win-$name.avi" --duration 2 --audio "$audio" "${common[@]}" "$@" ||
    { echo "FAIL: norvtest.exe $name: exit status $?" >&2; status=1; }
  echo "norvtest.exe $name took $((SECONDS - start))s"
  (cd "$work" && "$lin/norvavi" make -y "linux-$name.avi" --duration 2 --audio "$audio" \
    "${common[@]}" "$@")
  check_movie "win-$name"
}

same_file() {  # name, what
  if cmp -s "$work/win-$1.avi" "$work/linux-$1.avi"; then
    echo "ok: $2: the movies of NorvAvi.dll and NorvAvi.so are byte-identical"
  else
    echo "FAIL: $2: the movies of NorvAvi.dll and NorvAvi.so differ" >&2
    status=1
  fi
}

make_pair raw none
if diff <(frames_of "$work/win-raw.avi") <(frames_of "$work/linux-raw.avi") >/dev/null; then
  echo "ok: the uncompressed frames of NorvAvi.dll equal those of NorvAvi.so"
  cmp -s "$work/win-raw.avi" "$work/linux-raw.avi" && echo "ok: the two files are byte-identical"
else
  echo "FAIL: the uncompressed frames differ between NorvAvi.dll and NorvAvi.so" >&2
  status=1
fi

# Audio read from the wave file the host rendered (file mapping), and audio
# pushed from the host's second thread (events, critical sections), here at
# 11025 Hz, so the plug-in keeps every fourth sample.
make_pair wave tone --hardware 0
same_file wave "tone from a wave file"
make_pair pushed tone --hardware 1 --set audioFormat.2=11025
same_file pushed "tone pushed from a second thread"

# MRLE takes 8-bit frames: the fixed 6-6-6 palette, mapped without GDI.
make_pair mrle none --set compressorHandler=MRLE --set colorFormat=81
if diff <(ffmpeg -v error -i "$work/win-mrle.avi" -map 0:v -pix_fmt rgb24 -f framemd5 - |
  grep -v '^#') <(ffmpeg -v error -i "$work/linux-mrle.avi" -map 0:v -pix_fmt rgb24 \
  -f framemd5 - | grep -v '^#') >/dev/null; then
  echo "info: the decoded MRLE frames are equal"
else
  echo "info: the decoded MRLE frames differ (Wine's encoder is lossy, and until the first key" \
    "frame it codes against the blank previous frame the compressor was started with)"
fi

# The optimum palette: the plug-in samples frames through the host's render
# callback, and the host reduces them (median cut on Windows, libimagequant
# on Linux), so the palettes differ; each movie must be as close to the
# 24-bit frames as the other, within 3 dB.
make_pair optimum none --set colorFormat=83
psnr_of() {  # movie -> average PSNR against the uncompressed Linux movie
  ffmpeg -i "$1" -i "$work/linux-raw.avi" \
    -lavfi '[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr' -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p' | tail -1
}
win_db=$(psnr_of "$work/win-optimum.avi")
lin_db=$(psnr_of "$work/linux-optimum.avi")
if awk -v w="${win_db:-0}" -v l="${lin_db:-0}" 'BEGIN { exit !(w + 3 >= l) }'; then
  echo "ok: optimum palette, ${win_db} dB on Windows and ${lin_db} dB on Linux"
else
  echo "FAIL: optimum palette, ${win_db:-?} dB on Windows against ${lin_db:-?} dB on Linux" >&2
  status=1
fi

# The summary's words come from the DLL's string table on Windows and from
# the plug-in's own table on Linux: the summaries must be equal, for every
# field handling and both channel words.
info_sets=("--set audioFormat.3=2" "--set fieldHandling=1 --set subPixel=1 --set audioFormat.3=1"
  "--set fieldHandling=2 --set colorFormat=81" "--set fieldHandling=3 --set audioEnabled=0"
  "--set fieldHandling=4 --set lockAspect=1")
for options in "${info_sets[@]}"; do
  # shellcheck disable=SC2086 # the options are words
  run_norvtest --info $options | tr -d "\r" >"$work/win-info.txt" || true
  # shellcheck disable=SC2086
  "$lin/norvavi" info --no-project $options >"$work/linux-info.txt"
  if [ -s "$work/win-info.txt" ] && cmp -s "$work/win-info.txt" "$work/linux-info.txt"; then
    echo "ok: the summary ($options) has the same words on Windows and Linux"
  else
    echo "FAIL: the summaries ($options) differ:" >&2
    diff "$work/win-info.txt" "$work/linux-info.txt" >&2 || true
    status=1
  fi
done
# A compressor's description reaches the summary in the ANSI code page.
narrow=$(run_norvtest --narrow | tr -d "\r" || true)
case $narrow in
  "80 78 (code page 1252)") echo "ok: \"\u20ACx\" is 80 78 in code page 1252" ;;
  *"(code page 1252)") echo "FAIL: \"\u20ACx\" in code page 1252 is $narrow" >&2; status=1 ;;
  *) echo "info: \"\u20ACx\" is ${narrow:-nothing}" ;;
esac

# The settings dialog needs a display; xvfb-run lends one.
settings=(run_norvtest --settings)
if [ $chroot32 = 1 ]; then
  # The chroot has no X server: the host's Xvfb lends one through the shared socket.
  # xvfb-run is a /bin/sh script, and dash drops exported bash functions:
  # the chroot's helpers are sourced again on the far side.
  settings=(xvfb-run -a -f "$W32_ROOT/norv/xauth" bash -c
    'source scripts/wine32-chroot.sh && w32_chroot timeout "$0" wine /norv/bin/norvtest.exe --settings'
    "$wine_timeout")
elif [ -z "${DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    settings=(xvfb-run -a "${settings[@]}")
  else
    settings=()
    echo "skip: no display and no xvfb-run, so no settings dialog"
  fi
fi
if [ ${#settings[@]} -gt 0 ]; then
  if "${settings[@]}"; then
    echo "ok: the AVI Settings dialog came from its template and kept what was done in it"
  else
    echo "FAIL: the AVI Settings dialog check" >&2
    status=1
  fi
fi

[ -n "${NORV_WINE_KEEP:-}" ] && cp "$work"/*.avi "$root/" && echo "movies copied to $root"
[ $chroot32 = 1 ] && { w32_chroot wineserver -k 2>/dev/null || true; }
echo "wine-check: $((SECONDS - started))s in all"
exit $status
