#!/usr/bin/env bash
# Makes the samples behind `norvavi verify --target` and runs the real
# readers on them: per rule, what each reader does with the bad sample and
# with the corrected one, and what `norvavi verify --target strict` says.
# Not part of the test command. Needs ffmpeg and python3, plus any of:
# python3-opencv (system python), gstreamer1.0-tools + -plugins-good,
# vlc-bin + vlc-plugin-base, mplayer, wine64 + g++-mingw-w64-x86-64 (for
# the AVIFile stack). A reader that is missing prints "-". Takes about 8
# minutes, most of it AVIFile on the 2 GiB sparse file (killed after 60 s)
# and the OpenDML one (1.3 GB, made and removed here).
# Usage: scripts/try-readers.sh [BUILD_DIR] (default: build)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
norvavi=$(cd "${1:-$here/../build}" && pwd)/norvavi
W=$(mktemp -d /tmp/try-readers.XXXXXX)
chmod 755 "$W"
trap 'rm -rf "$W"' EXIT
cvpython=${CV_PYTHON:-/usr/bin/python3}

ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mjpeg -q:v 5 "$W/v.avi"
tone=(-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v mjpeg -q:v 5 -c:a pcm_s16le)
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 "${tone[@]}" -map 0:v -map 1:a "$W/va.avi"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 "${tone[@]}" -map 1:a -map 0:v "$W/av.avi"

# Each prints the video frames the reader delivered, or what went wrong.
opencv() {
  "$cvpython" - "$1" <<'P' 2>/dev/null || echo -
import cv2, sys
c = cv2.VideoCapture(sys.argv[1], cv2.CAP_OPENCV_MJPEG)
n = 0
try:
    while c.isOpened() and c.read()[0]:
        n += 1
    print(n if c.isOpened() else 'refused')
except cv2.error:
    print('error after %d' % n)
P
}
ffmpeg_() {
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1" 2>/dev/null || echo refused
}
gst() {
  command -v gst-launch-1.0 >/dev/null || { echo -; return; }
  timeout 300 gst-launch-1.0 filesrc location="$1" ! decodebin name=d d. ! queue ! videoconvert \
    ! fakesink silent=false -v 2>&1 | grep -c 'last-message = chain'
}
gstpush() {  # from a pipe: no seeking, so no idx1
  command -v gst-launch-1.0 >/dev/null || { echo -; return; }
  [ "$(stat -c %s "$1")" -gt 100000000 ] && { echo skipped; return; }
  timeout 300 gst-launch-1.0 fdsrc fd=0 ! decodebin name=d d. ! queue ! videoconvert \
    ! fakesink silent=false -v <"$1" 2>&1 | grep -c 'last-message = chain'
}
vlc() {  # remuxed to Matroska, counted there (the muxer drops the last frame)
  command -v cvlc >/dev/null || { echo -; return; }
  mkdir -p "$W/vlc" && chmod 777 "$W/vlc" && rm -f "$W/vlc/v.mkv"
  local run=()
  [ "$(id -u)" = 0 ] && run=(runuser -u nobody -- env HOME="$W/vlc")
  timeout 300 "${run[@]}" cvlc -q --play-and-exit -A dummy "$1" \
    --sout "#std{access=file,mux=mkv,dst=$W/vlc/v.mkv}" >/dev/null 2>&1
  ffmpeg_ "$W/vlc/v.mkv"
}
mplayer_() {
  command -v mplayer >/dev/null || { echo -; return; }
  rm -f "$W/m.md5"
  timeout 300 mplayer -really-quiet -vo md5sum:outfile="$W/m.md5" -ao null "$1" >/dev/null 2>&1
  if [ -f "$W/m.md5" ]; then wc -l <"$W/m.md5"; else echo refused; fi
}

avifile() {  # Wine's AVIFile stack, through a small Windows program
  [ -x "$W/avicount.exe" ] || { echo -; return; }
  local out
  out=$(WINEPREFIX="$W/wine" WINEDEBUG=-all timeout 60 "$wine" "$W/avicount.exe" "Z:$(echo "$1" | tr / '\\')" 2>&1)
  [ $? = 124 ] && { echo hung; return; }
  echo "$out" | grep -q 'Assertion failed' && { echo aborted; return; }
  echo "$out" | tail -1 | cut -d' ' -f1
}
wine=/usr/lib/wine/wine64
if [ -x "$wine" ] && command -v x86_64-w64-mingw32-gcc >/dev/null; then
  cat >"$W/avicount.c" <<'C'
#include <windows.h>
#include <vfw.h>
#include <stdio.h>
int main(int argc, char **argv) {  /* prints the video frames AVIFile reads */
  static char buf[1 << 22];
  PAVIFILE f; PAVISTREAM s;
  AVIFileInit();
  if (argc < 2 || AVIFileOpenA(&f, argv[1], OF_READ, NULL) != 0 ||
      AVIFileGetStream(f, &s, streamtypeVIDEO, 0) != 0) { puts("refused"); return 1; }
  LONG n = 0, bytes, samples;
  for (LONG i = AVIStreamStart(s); i < AVIStreamEnd(s); ++i)
    n += AVIStreamRead(s, i, 1, buf, sizeof buf, &bytes, &samples) == 0 && bytes > 0;
  printf("%ld\n", n);
  return 0;
}
C
  x86_64-w64-mingw32-gcc -O1 -o "$W/avicount.exe" "$W/avicount.c" -lvfw32
  WINEPREFIX="$W/wine" WINEDEBUG=-all "$wine" wineboot -i >/dev/null 2>&1
fi

run() {  # RULE LABEL FILE: one sample, every reader
  local f=$3 said
  said=$("$norvavi" verify --json --target strict "$f" |
    python3 -c 'import json,sys; print(",".join(x["rule"] for x in json.load(sys.stdin)["targets"]["findings"]) or "none")')
  printf '%-35s %-10s %-5s opencv=%-14s ffmpeg=%-3s gst=%-3s gst-push=%-7s vlc=%-4s mplayer=%-4s avifile=%-7s verify: %s\n' \
    "$1" "$2" "$(basename "$f" .avi | cut -d- -f1)" "$(opencv "$f")" "$(ffmpeg_ "$f")" "$(gst "$f")" "$(gstpush "$f")" \
    "$(vlc "$f")" "$(mplayer_ "$f")" "$(avifile "$f")" "$said"
  rm -f "$f"
}
try() {  # RULE FAULT SOURCE: the source rewritten with one fault
  python3 "$here/reader_samples.py" "$W/$3.avi" "$W/$3-$2.avi" "$2"
  run "$1" "${2:-as-made}" "$W/$3-$2.avi"
}

echo "video frames delivered (50 in every small sample; refused: the file did not open;"
echo "VLC's count is of its Matroska remux, which loses the last frame on every file)"
try opencv-mjpg-only handler v
try opencv-mjpg-only '' v
try opencv-video-last '' va
try opencv-video-last '' av
try opencv-00dc-only db v
try opencv-00dc-only somedb v
try opencv-needs-idx1 noindex v
try opencv-needs-idx1 noflag v
try opencv-idx1-base absolute v
try opencv-layout junk2 v
try opencv-layout junkafter v
try avifile-needs-idx1 noindex av
try avifile-needs-idx1 '' av
try avifile-riff-past-2gib big av
try avifile-riff-past-2gib bigok av
# 81 times a second of noise: 2025 frames, the last 424 in an 'AVIX' form;
# 41 times: one AVI 1.0 form.
ffmpeg -v error -f lavfi -i "nullsrc=s=1280x720:r=25,geq=lum='random(1)*255':cb=128:cr=128" \
  -frames:v 25 -c:v mjpeg -q:v 1 "$W/noise.avi"
ffmpeg -v error -stream_loop 80 -i "$W/noise.avi" -c copy "$W/odml-avix.avi"
run opencv-first-form-only,avifile-avix avix "$W/odml-avix.avi"
ffmpeg -v error -stream_loop 40 -i "$W/noise.avi" -c copy "$W/avi10-one-form.avi"
run opencv-first-form-only,avifile-avix one-form "$W/avi10-one-form.avi"
# Audio listed first, so that OpenCV's reader takes the file at all.
for fault in '' absolute db nobuffer audiofirst rec; do try '(tried)' "$fault" av; done
