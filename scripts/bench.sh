#!/usr/bin/env bash
# Speed against ffmpeg on the same conversions: whole processes, the same
# inputs (made here by ffmpeg's lavfi sources), paired runs one after the
# other so that both sides see the same load, medians reported (a ratio is
# the median of the pairs' ratios, which holds when the machine's speed
# drifts between pairs, where a ratio of medians would not); then every
# shipped compressor against ffmpeg's same encoder (size and PSNR beside the
# times), the nearest-colour mapping and compressed-frame benchmarks, and
# the peak memory of a 10-second and a 60-second `norvavi make`.
#
#   scripts/bench.sh                 # build/ against ffmpeg, 5 pairs
#   RUNS=9 scripts/bench.sh          # more pairs on a busy machine
#   BASELINE=../old/build scripts/bench.sh   # an older build in the same run
#
# Needs ffmpeg, ffprobe and GNU time (/usr/bin/time, Debian package "time").
# The machine should be otherwise idle: timings on a shared one are noise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
runs=${RUNS:-5}
baseline=${BASELINE:-}
norvavi=$build/norvavi
for tool in ffmpeg ffprobe /usr/bin/time "$norvavi"; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== inputs (ffmpeg lavfi)"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=1280x720:r=30000/1001:d=10" \
  -f lavfi -i "sine=f=440:sample_rate=44100:d=10" -ac 2 -c:v libx264 -pix_fmt yuv420p \
  -c:a aac -shortest "$work/hd.mp4"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=1920x1080:r=25:d=6" \
  -f lavfi -i "sine=f=440:sample_rate=48000:d=6" -ac 2 -c:v libx264 -pix_fmt yuv420p \
  -c:a aac -shortest "$work/fhd.mp4"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=640x480:r=25:d=8" -c:v rawvideo \
  -pix_fmt bgr24 "$work/sd.nut"
ffmpeg -nostdin -v error -f lavfi -i "sine=f=440:sample_rate=44100:d=8" -ac 2 "$work/sd.wav"

# One timed run: "wall cpu maxrss_kb" on standard output.
timed() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    echo "bench: failed: $*" >&2
    cat "$work/err" >&2
    exit 1
  }
  awk '{printf "%.3f %.3f %d\n", $1, $2 + $3, $4}' "$work/time"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The median over the pairs of norvavi's figure in column $1 over ffmpeg's.
pair_ratio() { paste -d' ' "$work/norv" "$work/ff" | awk -v c="$1" '{print $c / $(c + 3)}' | median; }

# Quality 9333 is the JPEG quantiser 3 of `-q:v 3`.
norv_args() {
  case $1 in
    mjpg) echo "--video $work/hd.mp4 --audio $work/hd.mp4 --duration 10 --set width=1280" \
      "--set height=720 --set frameRate=29.97 --set compressorHandler=MJPG --set quality=9333" ;;
    mjpg1080) echo "--video $work/fhd.mp4 --audio $work/fhd.mp4 --duration 6 --set width=1920" \
      "--set height=1080 --set frameRate=25 --set compressorHandler=MJPG --set quality=9333" ;;
    ffv1) echo "--video $work/hd.mp4 --audio $work/hd.mp4 --duration 10 --set width=1280" \
      "--set height=720 --set frameRate=29.97 --set compressorHandler=FFV1" ;;
    raw) echo "--video $work/sd.nut --audio $work/sd.wav --duration 8 --set width=640" \
      "--set height=480 --set frameRate=25 --set interleaveFrames=1" ;;
    raw-silent) echo "--video $work/sd.nut --audio none --duration 8 --set width=640" \
      "--set height=480 --set frameRate=25 --set interleaveFrames=1" ;;
  esac
}
ffmpeg_args() {
  case $1 in
    mjpg) echo "-i $work/hd.mp4 -c:v mjpeg -q:v 3 -c:a pcm_s16le" ;;
    mjpg1080) echo "-i $work/fhd.mp4 -c:v mjpeg -q:v 3 -c:a pcm_s16le" ;;
    ffv1) echo "-i $work/hd.mp4 -c:v ffv1 -pix_fmt bgr0 -c:a pcm_s16le" ;;
    raw) echo "-i $work/sd.nut -i $work/sd.wav -c:v rawvideo -c:a pcm_s16le" ;;
    raw-silent) echo "-i $work/sd.nut -c:v rawvideo -an" ;;
  esac
}

echo "== conversions: medians of $runs paired runs, seconds (load: $(cut -d' ' -f1-3 /proc/loadavg))"
printf "%-11s %8s %8s %8s %8s %10s %10s %s\n" conversion norv_wall ff_wall norv_cpu ff_cpu \
  wall_ratio cpu_ratio "${baseline:+baseline_wall baseline_cpu}"
for c in mjpg mjpg1080 ffv1 raw raw-silent; do
  : >"$work/norv" && : >"$work/ff" && : >"$work/base"
  # shellcheck disable=SC2046 # the argument lists are split on purpose
  for ((i = 0; i < runs; i++)); do
    timed "$norvavi" make -q -y "$work/n.avi" $(norv_args $c) >>"$work/norv"
    timed ffmpeg -nostdin -v error -y $(ffmpeg_args $c) "$work/f.avi" >>"$work/ff"
    if [ -n "$baseline" ]; then
      rm -f "$work/b.avi"  # an older norvavi may not know -y
      timed "$baseline/norvavi" make -q --plugin "$baseline/NorvAvi.so" "$work/b.avi" \
        $(norv_args $c) >>"$work/base"
    fi
  done
  # Both files hold every frame.
  frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries \
    stream=nb_read_frames -of csv=p=0 "$1"; }
  [ "$(frames "$work/n.avi")" = "$(frames "$work/f.avi")" ] ||
    echo "bench: $c: frame counts differ: $(frames "$work/n.avi") vs $(frames "$work/f.avi")" >&2
  nw=$(cut -d' ' -f1 "$work/norv" | median) fw=$(cut -d' ' -f1 "$work/ff" | median)
  nc=$(cut -d' ' -f2 "$work/norv" | median) fc=$(cut -d' ' -f2 "$work/ff" | median)
  extra=""
  if [ -n "$baseline" ]; then
    extra="$(cut -d' ' -f1 "$work/base" | median) $(cut -d' ' -f2 "$work/base" | median)"
  fi
  printf "%-11s %8.3f %8.3f %8.3f %8.3f %10.3f %10.3f %s\n" $c "$nw" "$fw" "$nc" "$fc" \
    "$(pair_ratio 1)" "$(pair_ratio 2)" "$extra"
done

# Every shipped compressor against ffmpeg's own encoder of the same library,
# each side at its defaults (FFV1: the same coder; the driver makes every
# frame a key frame, ffmpeg one in twelve): the size and the PSNR against the source stand beside the
# times, so a faster but worse side shows. ffmpeg's MSVC encoder makes a key
# frame only every 26 frames, where the plug-in asks for one every 4 by default
# (a restart each): norvavi is given 25, so both sides do about the same work
# (their files within 2% of each other). The 8-bit-only ones (MRLE, ZMBV) are
# left out: ffmpeg has no same path for them.
echo "== every compressor: 6 s of 640x360 (dvsd 720x576), no audio, medians of $runs pairs"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=640x360:r=25:d=6" -c:v rawvideo -pix_fmt bgr24 \
  "$work/c.nut"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=720x576:r=25:d=6" -c:v rawvideo -pix_fmt bgr24 \
  "$work/c576.nut"
# Cinepak's encoder takes about ten seconds a second of this: one second of it.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=640x360:r=25:d=1" -c:v rawvideo -pix_fmt bgr24 \
  "$work/c1.nut"
psnr() {  # output, source: the average PSNR over every frame and plane
  ffmpeg -nostdin -v info -i "$1" -i "$2" -lavfi "[0:v]format=bgr24[a];[1:v]format=bgr24[b];[a][b]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -1
}
printf "%-6s %8s %8s %6s %10s %10s %7s %7s\n" codec norv_wall ff_wall ratio norv_bytes ff_bytes \
  norv_dB ff_dB
while read -r handler src norvargs ffargs; do
  [ "$norvargs" = - ] && norvargs=""
  : >"$work/norv" && : >"$work/ff"
  for ((i = 0; i < runs; i++)); do
    # shellcheck disable=SC2086
    timed "$norvavi" make -q -y "$work/n.avi" --video "$work/$src.nut" --audio none \
      -c "$handler" --size source --rate source $norvargs >>"$work/norv"
    # shellcheck disable=SC2086
    timed ffmpeg -nostdin -v error -y -i "$work/$src.nut" $ffargs -an "$work/f.avi" >>"$work/ff"
  done
  nw=$(cut -d' ' -f1 "$work/norv" | median) fw=$(cut -d' ' -f1 "$work/ff" | median)
  printf "%-6s %8.3f %8.3f %6.3f %10d %10d %7s %7s\n" "$handler" "$nw" "$fw" \
    "$(pair_ratio 1)" "$(stat -c %s "$work/n.avi")" \
    "$(stat -c %s "$work/f.avi")" "$(psnr "$work/n.avi" "$work/$src.nut")" \
    "$(psnr "$work/f.avi" "$work/$src.nut")"
done <<'CODECS'
MJPG c --set=quality=9333 -c:v mjpeg -q:v 3 -pix_fmt yuvj420p
FMP4 c - -c:v mpeg4 -pix_fmt yuv420p
H264 c - -c:v libx264 -bf 0 -pix_fmt yuv420p
FFV1 c - -c:v ffv1 -pix_fmt bgr0
HFYU c - -c:v huffyuv -pix_fmt rgb24
dvsd c576 - -c:v dvvideo -pix_fmt yuv420p
MSVC c --keyframes=25 -c:v msvideo1
cvid c1 - -c:v cinepak
CODECS

echo "== peak memory of norvavi make (MJPG, 1280x720), KiB"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=1280x720:r=30000/1001:d=60" \
  -f lavfi -i "sine=f=440:sample_rate=44100:d=60" -ac 2 -c:v libx264 -preset ultrafast \
  -pix_fmt yuv420p -c:a aac -shortest "$work/long.mp4"
for seconds in 10 60; do
  # shellcheck disable=SC2046
  rss=$(timed "$norvavi" make -q -y "$work/m.avi" --video "$work/long.mp4" --audio "$work/long.mp4" \
    --duration $seconds --set width=1280 --set height=720 --set frameRate=29.97 \
    --set compressorHandler=MJPG | cut -d' ' -f3)
  echo "$seconds s: $rss"
  rm -f "$work/m.avi"
done

if [ -x "$build/norv_bench" ]; then
  echo "== benchmarks (medians of 3)"
  "$build/norv_bench" --benchmark_filter='MapFrameNearest|CompressedFrames|EncoderAlone' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep _median | tee "$work/bench"
  # What the plug-in adds to the encoder's own time per compressed frame.
  for codec in MJPG FFV1; do
    awk -v c=$codec '$1 ~ "^BM_PluginCompressedFrames/" c "/" {p = $2}
      $1 ~ "^BM_EncoderAlone/" c "/" {e = $2}
      END {if (p && e) printf "plug-in overhead over the %s encoder: %+.1f%%\n", c, (p / e - 1) * 100}' \
      "$work/bench"
  done
fi
