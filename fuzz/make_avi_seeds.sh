#!/usr/bin/env bash
# Makes the seed corpora of the AVI targets: small movies from norvavi
# (24-bit, 8-bit, compressed with key and delta frames, with and without
# 'rec ' records, with and without audio), ffmpeg's (with the room its muxer
# keeps for OpenDML headers), one of ffmpeg's made into what that muxer
# writes past 1 GiB ('indx', 'odml', 'ix00', an 'AVIX' form), and exports cut
# off at several points as the writer leaves them (the lists still open keep
# the size 0 they were created with) or simply truncated.
# The files have no .avi extension: git ignores those.
# Usage: fuzz/make_avi_seeds.sh [BUILD_DIR]   (needs norvavi built, ffmpeg, python3)
set -euo pipefail
cd "$(dirname "$0")/.."
norvavi=${1:-build}/norvavi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
verify=fuzz/corpus/avi_verify
repair=fuzz/corpus/avi_repair
mkdir -p "$verify" "$repair"

small="--set width=32 --set height=32 --set frameRate=5 --duration 1 --set audioFormat.1=8 \
  --set audioFormat.2=11025 --set audioFormat.3=1"
make() {  # name, settings...
  local name=$1; shift
  # shellcheck disable=SC2086
  "$norvavi" make -q -y "$work/$name.avi" $small "$@"
}
make rgb24-records --set interleaveFrames=1
make rgb24-interleave2 --set interleaveFrames=2
make rgb24-silent --audio none
make pal8-records --set colorFormat=81 --set interleaveFrames=1
make pal8-interleave5 --set colorFormat=83 --set interleaveFrames=5
make mjpg-odd-chunks --set compressorHandler=MJPG --set interleaveFrames=2
make fmp4-deltas-records --set compressorHandler=FMP4 --set keyFrameEvery=3 --set interleaveFrames=1
make mrle-pal8 --set compressorHandler=MRLE --set colorFormat=80 --set keyFrameEvery=2 --audio none
make opendml-records --set interleaveFrames=1 --opendml

ffmpeg -v error -f lavfi -i testsrc2=d=1:s=16x12:r=5 -f lavfi -i sine=d=1:r=8000 \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 "$work/ffmpeg-raw.avi"
ffmpeg -v error -f lavfi -i testsrc2=d=1:s=16x12:r=5 -c:v mjpeg "$work/ffmpeg-mjpeg.avi"
# GStreamer's avimux (its own header layout and padding), where it is installed.
if command -v gst-launch-1.0 >/dev/null; then
  gst-launch-1.0 -q videotestsrc num-buffers=5 ! video/x-raw,width=16,height=16,framerate=5/1 \
    ! jpegenc ! avimux name=m ! filesink location="$work/gst-avimux-mjpg.avi" \
    audiotestsrc num-buffers=5 samplesperbuffer=1600 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! m.
fi

python3 - "$work" "$verify" "$repair" <<'PY'
import os, struct, sys
work, verify, repair = sys.argv[1:]

def walk(b, at, end, out):
    while at + 8 <= end:
        cid, size = b[at:at + 4], struct.unpack_from("<I", b, at + 4)[0]
        out.append((at, cid, size))
        if cid in (b"RIFF", b"LIST"):
            walk(b, at + 12, min(at + 8 + size, end), out)
        at += 8 + size + (size & 1)
    return out

def cut_off(b, cut):
    """What the writer leaves when an export stops at `cut`."""
    c = bytearray(b[:cut])
    for at, cid, size in walk(b, 0, len(b), []):
        if cid in (b"RIFF", b"LIST") and at + 8 <= cut < at + 8 + size:
            struct.pack_into("<I", c, at + 4, 0)
    return bytes(c)

def save(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

movies = {}
for name in sorted(os.listdir(work)):
    with open(os.path.join(work, name), "rb") as f:
        movies[name[:-4]] = f.read()

for name, b in movies.items():
    save(verify, name, b)
    if name.startswith("ffmpeg"):
        save(repair, name + "-cut", cut_off(b, len(b) * 2 // 3))
        continue
    if name.startswith("opendml"):
        # Cut in the first form: the super indexes' room is still JUNK.
        c = bytearray(b)
        for at, cid, size in walk(b, 0, len(b), []):
            if cid == b"indx":
                c[at:at + 8 + size] = b"JUNK" + struct.pack("<I", size) + bytes(size)
        save(repair, name + "-cut", cut_off(bytes(c), len(b) * 2 // 3))
        continue
    chunks = walk(b, 0, len(b), [])
    movi = next(at for at, cid, _ in chunks if b[at + 8:at + 12] == b"movi")
    data = [(at, size) for at, cid, size in chunks if at > movi and cid != b"LIST"]
    cuts = {
        "headers": movi + 12 + 5,                       # inside the first chunk's header
        "first-chunk": data[0][0] + 8 + data[0][1] // 2,  # inside the first chunk
        "half": len(b) // 2,
        "chunk-end": data[len(data) // 2][0] + 8 + data[len(data) // 2][1],  # before a pad byte
    }
    if name in ("rgb24-records", "mjpg-odd-chunks"):
        cuts["index"] = len(b) - 20  # inside idx1
    for what, at in cuts.items():
        save(repair, f"{name}-cut-{what}", cut_off(b, at))
    save(repair, name + "-truncated", b[:len(b) * 3 // 5])
    save(verify, name + "-cut-half", cut_off(b, len(b) // 2))
save(repair, "rgb24-records-finished", movies["rgb24-records"])

# ffmpeg's movie as its muxer finishes one of over 1 GiB: the placeholders
# turned into a super index ('indx') and an 'odml' list, each 'movi' closed by
# a standard index ('ix00'), and an extension form ('AVIX') holding one more
# frame.
def u32(v): return struct.pack("<I", v)
def std_index(base, chunks):  # chunks: (data position, size)
    ix = struct.pack("<HBBI4sQI", 2, 0, 1, len(chunks), b"00dc", base, 0)
    for at, size in chunks:
        ix += struct.pack("<II", at - base, size)
    return b"ix00" + u32(len(ix)) + ix

b = bytearray(movies["ffmpeg-mjpeg"])
chunks = walk(b, 0, len(b), [])
junk = [at for at, cid, _ in chunks if cid == b"JUNK"]
movi_at = next(at for at, cid, _ in chunks if b[at + 8:at + 12] == b"movi")
movi_end = movi_at + 8 + struct.unpack_from("<I", b, movi_at + 4)[0]
frames = [(at + 8, size) for at, cid, size in chunks if cid == b"00dc"]
ix1 = std_index(movi_at, frames)
b = b[:movi_end] + ix1 + b[movi_end:]
struct.pack_into("<I", b, movi_at + 4, movi_end + len(ix1) - movi_at - 8)
struct.pack_into("<I", b, 4, len(b) - 8)
frame = bytes(b[frames[0][0]:frames[0][0] + frames[0][1]])
frame += b"\0" * (len(frame) & 1)
form_at = len(b)
movi2_at = form_at + 12
ix2 = std_index(movi2_at, [(movi2_at + 12 + 8, frames[0][1])])
movi2 = b"movi" + b"00dc" + u32(frames[0][1]) + frame + ix2
form = b"AVIX" + b"LIST" + u32(len(movi2)) + movi2
super_index = struct.pack("<HBBI4s12x", 4, 0, 0, 2, b"00dc")
super_index += struct.pack("<QII", movi_end, len(ix1), len(frames))
super_index += struct.pack("<QII", movi2_at + 12 + 8 + len(frame), len(ix2), 1)
strl_junk, hdrl_junk = junk[0], junk[1]
b[strl_junk:strl_junk + 4] = b"indx"
b[strl_junk + 8:strl_junk + 8 + len(super_index)] = super_index
size = struct.unpack_from("<I", b, hdrl_junk + 4)[0]
b[hdrl_junk:hdrl_junk + 4] = b"LIST"
b[hdrl_junk + 8:hdrl_junk + 20] = b"odml" + b"dmlh" + u32(size - 12)
struct.pack_into("<I", b, hdrl_junk + 20, len(frames) + 1)
save(verify, "ffmpeg-mjpeg-opendml-avix", bytes(b) + b"RIFF" + u32(len(form)) + form)
PY
du -sh "$verify" "$repair"
