#!/usr/bin/env bash
# Makes a long OpenDML movie with norvavi (by default 90 s of uncompressed
# 1280x720 with the test tone, about 6.2 GB) and reads it whole with the
# readers people play such files with: norvavi verify, ffmpeg, GStreamer's
# avidemux, MPlayer and VLC. Each prints what it read (frames and audio
# bytes) and how long it took. Not part of CI: it needs the readers
# (apt-get install gstreamer1.0-tools gstreamer1.0-plugins-good mplayer
# vlc-bin vlc-plugin-base) and disk room for the movie.
#
#   scripts/opendml-readers.sh [BUILD_DIR] [SECONDS]
# The movie goes to $TMPDIR (or /tmp) and is removed at the end.
set -uo pipefail
build=${1:-build}
seconds=${2:-90}
work=$(mktemp -d "${TMPDIR:-/tmp}/opendml-readers.XXXXXX")
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
movie=$work/movie.avi

timed() {  # label, command...
  local label=$1 start status
  shift
  start=$(date +%s.%N)
  "$@"
  status=$?
  echo "$label: $(echo "$(date +%s.%N) - $start" | bc) s (exit $status)"
}

# Counts the bytes written into two named pipes while a reader fills them.
count_pipes() {  # video-pipe audio-pipe
  mkfifo "$1" "$2"
  chmod 666 "$1" "$2"
  (wc -c <"$1" >"$1.count") &
  (wc -c <"$2" >"$2.count") &
}

timed "make" "$build/norvavi" make -y "$movie" --opendml --duration "$seconds" \
  --set width=1280 --set height=720 --set interleaveFrames=1 -q || exit 1
ls -l "$movie"
timed "norvavi verify" "$build/norvavi" verify "$movie"

timed "ffprobe" ffprobe -v error -count_frames -show_entries \
  stream=codec_type,nb_read_frames,duration -of compact "$movie"
echo "ffmpeg video bytes $(ffmpeg -v error -i "$movie" -map 0:v -f rawvideo - | wc -c)" \
  "audio bytes $(ffmpeg -v error -i "$movie" -map 0:a -f s16le - | wc -c)"

if command -v gst-launch-1.0 >/dev/null; then
  count_pipes "$work/gv" "$work/ga"
  timed "gstreamer avidemux" gst-launch-1.0 -q filesrc location="$movie" ! avidemux name=d \
    d.video_0 ! queue ! filesink location="$work/gv" d.audio_0 ! queue ! filesink location="$work/ga"
  wait
  echo "gstreamer video bytes $(cat "$work/gv.count") audio bytes $(cat "$work/ga.count")"
fi

if command -v mplayer >/dev/null; then
  timed "mplayer" bash -c "mplayer -vo null -ao pcm:fast:nowaveheader:file=$work/mp.raw \
    -benchmark '$movie' 2>&1 | tr '\r' '\n' | grep -E 'BENCHMARKs|V:.*[0-9]+/' | tail -2"
  echo "mplayer audio bytes $(stat -c %s "$work/mp.raw")"
fi

if command -v cvlc >/dev/null; then
  # VLC refuses to run as root.
  run=()
  [ "$(id -u)" = 0 ] && run=(runuser -u nobody --)
  count_pipes "$work/vv" "$work/va"
  quiet() { "$@" >/dev/null 2>&1; }
  timed "vlc" quiet "${run[@]}" cvlc -I dummy -q --play-and-exit --sout-all \
    --sout "#es{access=file,mux=raw,dst-video=$work/vv,dst-audio=$work/va}" "$movie" vlc://quit
  wait
  echo "vlc video bytes $(cat "$work/vv.count") audio bytes $(cat "$work/va.count")"
fi
