#!/usr/bin/env bash
# Makes the same movies with the plug-in of BASE (a commit) and with the
# working tree, and compares them byte for byte. A refactor must keep every
# byte of every movie; this is the check to run before each commit of one.
#
#   scripts/same-bytes.sh BASE [BUILD]
#
# BASE is built once in its own worktree (SAME_BYTES_BASE_DIR, default
# /tmp/same-bytes-<commit>) and reused; BUILD (default build) is the working
# tree's build folder. Movies go to SAME_BYTES_WORK (default a fresh
# temporary folder, removed when every movie matches).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
[ $# -ge 1 ] || { echo "usage: $0 BASE [BUILD]" >&2; exit 2; }
commit=$(git rev-parse --verify "$1^{commit}")
build=${2:-build}
base=${SAME_BYTES_BASE_DIR:-/tmp/same-bytes-${commit:0:12}}
jobs=${SAME_BYTES_JOBS:-2}

configure_and_build() {  # source folder, build folder
  if [ ! -f "$2/build.ninja" ]; then
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_BUILD_TESTS=OFF \
      -DNORV_BUILD_BENCH=OFF >/dev/null
  fi
  cmake --build "$2" -j "$jobs" --target norvavi NorvAvi >/dev/null
}

if [ ! -d "$base" ]; then
  git worktree add --detach "$base" "$commit" >/dev/null
fi
[ "$(git -C "$base" rev-parse HEAD)" = "$commit" ] ||
  { echo "$base holds another commit than $1" >&2; exit 2; }
configure_and_build "$base" "$base/build"
configure_and_build "$root" "$root/$build"

work=${SAME_BYTES_WORK:-$(mktemp -d /tmp/same-bytes.XXXXXX)}
mkdir -p "$work/src" "$work/old" "$work/new"
export NORV_ENCODER_THREADS=1
# The host's profile and folders stay out of the user's home.
export NORV_HOST_FOLDER=$work/host HOME=$work/home
mkdir -p "$NORV_HOST_FOLDER" "$HOME"

# Sources: a pattern with a tone, and one with stereo 8-bit-friendly sound.
src=$work/src/src.avi
if [ ! -f "$src" ]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=176x144:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v rawvideo -pix_fmt bgr24 \
    -c:a pcm_s16le -ac 2 "$src"
fi
dv=$work/src/dv.avi
if [ ! -f "$dv" ]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25 \
    -f lavfi -i sine=frequency=330:sample_rate=48000 -t 0.4 -c:v rawvideo -pix_fmt bgr24 \
    -c:a pcm_s16le "$dv"
fi
# A RIFF palette: 256 entries of a ramp.
pal=$work/src/ramp.pal
python3 - "$pal" <<'EOF'
import struct, sys
entries = b"".join(bytes(((i * 7) & 255, (i * 3) & 255, 255 - i, 0)) for i in range(256))
data = struct.pack("<HH", 0x300, 256) + entries
body = b"PAL " + b"data" + struct.pack("<I", len(data)) + data
open(sys.argv[1], "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
EOF

cases=()
add() { cases+=("$*"); }  # name, then norvavi make arguments

# Colour formats and palettes, uncompressed, with and without audio.
for color in 16 24 80 81 82 83 84; do
  add "color$color" --video "$src" --set colorFormat=$color --set paletteFile="$pal"
  add "color$color-mute" --video "$src" --audio none --set colorFormat=$color \
    --set paletteFile="$pal"
done
# Each compressor, with key-frame intervals and data rates.
for fourcc in MJPG MSVC cvid HFYU FFV1 FMP4 H264 ZMBV; do
  color=24
  [ $fourcc = ZMBV ] && color=81
  add "$fourcc" --video "$src" --set compressorHandler=$fourcc --set colorFormat=$color
  add "$fourcc-key5" --video "$src" --set compressorHandler=$fourcc --set keyFrameEvery=5 \
    --set colorFormat=$color
  add "$fourcc-rate90" --video "$src" --set compressorHandler=$fourcc --set dataRate=90 \
    --set keyFrameEvery=3 --set colorFormat=$color
done
add MRLE-332 --video "$src" --set compressorHandler=MRLE --set colorFormat=80
add MRLE-666-key4 --video "$src" --set compressorHandler=MRLE --set colorFormat=81 --set keyFrameEvery=4
add MRLE-opt --video "$src" --set compressorHandler=MRLE --set colorFormat=83 --set dataRate=40
add ZMBV-676 --video "$src" --set compressorHandler=ZMBV --set colorFormat=82
add cvid-q2000 --video "$src" --set compressorHandler=cvid --set quality=2000
add MJPG-q9000-rate200 --video "$src" --set compressorHandler=MJPG --set quality=9000 --set dataRate=200
add dvsd --video "$dv" --set compressorHandler=dvsd
add dvsd-raw --video "$dv" --set compressorHandler=dvsd --set qrvExport=1
# Interleaves, both audio modes, sample rates and sample sizes.
for interleave in 1 2 5 30; do
  for hardware in 1 0; do
    add "interleave$interleave-hw$hardware" --video "$src" --hardware $hardware --force \
      --set interleaveFrames=$interleave
  done
done
for rate in 11025 22050 32000 48000; do
  for hardware in 1 0; do
    add "rate$rate-hw$hardware" --video "$src" --hardware $hardware --force \
      --set audioFormat.2=$rate
  done
done
add rate11025-mono8 --video "$src" --set audioFormat.2=11025 --set audioFormat.1=8 --set audioFormat.3=1
add rate11025-mono8-hw0 --video "$src" --hardware 0 --force --set audioFormat.2=11025 \
  --set audioFormat.1=8 --set audioFormat.3=1
add rate44100-8bit-i3 --video "$src" --set audioFormat.1=8 --set interleaveFrames=3
add tone-11025-i2 --video "$src" --audio tone --set audioFormat.2=11025 --set interleaveFrames=2
add audio-off --video "$src" --set audioEnabled=0
# Frame-rate conversion: frames arrive at the project's rate.
for rate in 10 15 24 29.97 30; do
  add "fps$rate" --video "$src" --project 176x144@25 --same-as-project --set frameRate=$rate
done
add fps12-8bit-ZMBV --video "$src" --project 176x144@25 --same-as-project --set frameRate=12 \
  --set colorFormat=81 --set compressorHandler=ZMBV --set keyFrameEvery=4
add fps30-ntsc --video "$src" --ntsc 1 --project 176x144@29.97 --same-as-project --set frameRate=30
# Raw mode.
for fourcc in MJPG FFV1 MSVC HFYU cvid; do
  add "raw-$fourcc" --video "$src" --set qrvExport=1 --set compressorHandler=$fourcc
done
add raw-H264-key5 --video "$src" --set qrvExport=1 --set compressorHandler=H264 --set keyFrameEvery=5
add raw-odd-ntsc --video "$src" --ntsc 1 --set qrvExport=1 --set compressorHandler=FFV1 \
  --set width=175 --set height=143
# Odd sizes.
for size in 33x33 175x143 177x145 61x97; do
  w=${size%x*} h=${size#*x}
  add "odd$size" --video "$src" --set width=$w --set height=$h
  add "odd$size-8bit" --video "$src" --set width=$w --set height=$h --set colorFormat=83
done
add odd175x143-MJPG --video "$src" --set width=175 --set height=143 --set compressorHandler=MJPG
add odd100x72-cvid --video "$src" --set width=100 --set height=72 --set compressorHandler=cvid
# OpenDML on (a profile key; small movies still show its headers and indexes).
add odml --video "$src" --opendml
add odml-mute --video "$src" --opendml --audio none
add odml-i4 --video "$src" --opendml --set interleaveFrames=4
add odml-MJPG-hw0 --video "$src" --opendml --hardware 0 --force --set compressorHandler=MJPG
add odml-8bit --video "$src" --opendml --set colorFormat=80
# Cut exports: a span of the source.
add cut --video "$src" --start 400 --end 1400
add cut-i3-hw0 --video "$src" --start 120 --end 1720 --hardware 0 --force --set interleaveFrames=3
add cut-fps15 --video "$src" --start 200 --end 1200 --project 176x144@25 --same-as-project \
  --set frameRate=15
add cut-odml --video "$src" --opendml --start 500 --end 1500 --set compressorHandler=FFV1

make_movie() {  # build folder, output folder, name, arguments...
  local bin=$1 out=$2 name=$3
  shift 3
  local status=0
  "$bin/norvavi" make "$out/$name.avi" --quiet --plugin "$bin/NorvAvi.so" "$@" \
    >"$out/$name.log" 2>&1 || status=$?
  echo "$status" >"$out/$name.status"
}

same=0 differ=0
for entry in "${cases[@]}"; do
  # shellcheck disable=SC2086 # the arguments are words (no spaces in paths here)
  set -- $entry
  name=$1
  shift
  make_movie "$base/build" "$work/old" "$name" "$@"
  make_movie "$root/$build" "$work/new" "$name" "$@"
  verdict=identical
  if ! cmp -s "$work/old/$name.status" "$work/new/$name.status"; then
    verdict="exit status $(cat "$work/old/$name.status") -> $(cat "$work/new/$name.status")"
  elif [ "$(ls "$work/old/$name.avi" 2>/dev/null | wc -l)" != \
    "$(ls "$work/new/$name.avi" 2>/dev/null | wc -l)" ]; then
    verdict="made by one side only"
  elif [ -f "$work/old/$name.avi" ] && ! cmp -s "$work/old/$name.avi" "$work/new/$name.avi"; then
    verdict="differs: $(cmp "$work/old/$name.avi" "$work/new/$name.avi" 2>&1 | head -1 || true)"
  elif ! cmp -s <(sed "s|$work/old|OUT|g" "$work/old/$name.log") \
    <(sed "s|$work/new|OUT|g" "$work/new/$name.log"); then
    verdict="messages differ"
  fi
  if [ "$verdict" = identical ]; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
  fi
  size=$(stat -c %s "$work/new/$name.avi" 2>/dev/null || echo -)
  printf '%-28s %10s  status %s  %s\n' "$name" "$size" "$(cat "$work/new/$name.status")" "$verdict"
done

echo "$((same + differ)) movies: $same identical, $differ differ (movies in $work)"
if [ "$differ" = 0 ] && [ -z "${SAME_BYTES_WORK:-}" ]; then
  rm -rf "$work"
fi
[ "$differ" = 0 ]
