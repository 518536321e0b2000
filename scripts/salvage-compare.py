#!/usr/bin/env python3
"""Frames recovered from damaged AVI files: norvavi repair --salvage against
ffmpeg -c copy and ffmpeg -err_detect ignore_err.

Makes small files with ffmpeg (MJPG, MPEG-4 and H.264 with delta frames,
uncompressed; PCM sound; AVI 1.0 and ffmpeg's OpenDML layout) and with
GStreamer's avimux when gst-launch-1.0 is installed, damages each the ways
files are found, and counts for each way of recovery the decoded pictures
that are exactly one of the original's (ffmpeg's framemd5; each counted once): a picture that
decodes wrong because its reference frame was lost does not count. "whole"
is how many of the original's video chunks still stand intact, at their
place, in the damaged file: the most any recovery can keep.

Not part of the test command (a minute or two): run by hand,
    scripts/salvage-compare.py [--norvavi build/norvavi] [--work DIR]
"""
import argparse
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def frame_hashes(path, extra=()):
    """The md5 of each decoded picture, as ffmpeg decodes the file."""
    out = run(["ffmpeg", "-nostdin", "-v", "quiet", *extra, "-i", path, "-map", "0:v:0",
               "-f", "framemd5", "-"])
    return [l.rsplit(",", 1)[1].strip() for l in out.stdout.decode(errors="replace").splitlines()
            if l and not l.startswith("#")]


def chunks(data):
    """(offset, id, size) of the chunks inside every 'movi' list, walked
    from the headers, as the undamaged file holds them."""
    found = []

    def walk(start, end):
        at = start
        while at + 8 <= end:
            cid = data[at:at + 4]
            size = struct.unpack_from("<I", data, at + 4)[0]
            if cid in (b"LIST", b"RIFF"):
                kind = data[at + 8:at + 12]
                if kind in (b"movi", b"rec ", b"AVI ", b"AVIX"):
                    walk(at + 12, min(end, at + 8 + size))
            elif cid[2:] in (b"dc", b"db", b"wb"):
                found.append((at, cid, size))
            at += 8 + size + (size & 1)

    walk(0, len(data))
    return found


def video_chunks(data):
    return [c for c in chunks(data) if c[1][2:] in (b"dc", b"db")]


def whole(original, damaged):
    """The original's video chunks that stand intact in the damaged file."""
    count = 0
    for at, cid, size in video_chunks(original):
        piece = original[at:at + 8 + size]
        if piece in damaged:
            count += 1
    return count


# The damages: each takes the file's bytes and a random source, gives new bytes.
def cut(b, rnd):
    return b[:int(len(b) * rnd.uniform(0.35, 0.85))]


def zeros(b, rnd):
    v = video_chunks(b)
    at = v[len(v) // 3][0]
    return b[:at] + bytes(60000) + b[at + 60000:]


def garbage(b, rnd):
    v = video_chunks(b)
    at = v[len(v) // 2][0] + 5
    return b[:at] + bytes(rnd.getrandbits(8) for _ in range(20000)) + b[at:]


def no_index(b, rnd):
    at = b.rfind(b"idx1")
    return b[:at] if at > 0 else b


def headers_zeroed(b, rnd):
    at = b.find(b"movi")
    return bytes(at) + b[at:]


def sizes_wrong(b, rnd):
    out = bytearray(b)
    struct.pack_into("<I", out, 4, 0xFFFFFFF0)
    at = out.find(b"movi") - 8
    struct.pack_into("<I", out, at + 4, 12)
    return bytes(out)


def torn_chunk(b, rnd):
    out = bytearray(b)
    v = video_chunks(b)
    at, _, size = v[len(v) // 2]
    struct.pack_into("<I", out, at + 4, size * 7 + 12345)
    return bytes(out)


def duplicated(b, rnd):
    v = video_chunks(b)
    start, end = v[len(v) // 4][0], v[len(v) // 4 + 6][0]
    return b[:end] + b[start:end] + b[end:]


DAMAGES = [("cut", cut), ("zeros", zeros), ("garbage", garbage), ("no idx1", no_index),
           ("headers zeroed", headers_zeroed), ("sizes wrong", sizes_wrong),
           ("torn chunk", torn_chunk), ("duplicated movi run", duplicated)]


def make_sources(work):
    lavfi = ["-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=4", "-f", "lavfi", "-i",
             "sine=f=440:sample_rate=44100:d=4", "-c:a", "pcm_s16le"]
    kinds = {
        "ffmpeg MJPG": ["-c:v", "mjpeg", "-q:v", "4"],
        "ffmpeg MPEG-4 (g 12)": ["-c:v", "mpeg4", "-g", "12", "-bf", "0", "-q:v", "4"],
        "ffmpeg H.264 (g 12)": ["-c:v", "libx264", "-g", "12", "-bf", "0", "-pix_fmt", "yuv420p"],
        "ffmpeg raw BGR": ["-c:v", "rawvideo", "-pix_fmt", "bgr24"],
    }
    made = {}
    for i, (name, opts) in enumerate(kinds.items()):
        path = os.path.join(work, f"src{i}.avi")
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-y", *lavfi, *opts, path])
        if r.returncode == 0:
            made[name] = path
    if shutil.which("gst-launch-1.0"):
        path = os.path.join(work, "gst.avi")
        r = run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=100", "pattern=ball", "!",
                 "video/x-raw,width=320,height=240,framerate=25/1", "!", "jpegenc", "!", "avimux",
                 "name=m", "!", "filesink", f"location={path}", "audiotestsrc",
                 "num-buffers=100", "samplesperbuffer=1764", "!",
                 "audio/x-raw,format=S16LE,rate=44100,channels=2", "!", "m."])
        if r.returncode == 0:
            made["GStreamer avimux MJPG"] = path
    return made


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--norvavi", default="build/norvavi")
    p.add_argument("--work")
    p.add_argument("--seed", type=int, default=1)
    args = p.parse_args()
    norvavi = os.path.abspath(args.norvavi)
    work = args.work or tempfile.mkdtemp(prefix="salvage-compare-")
    os.makedirs(work, exist_ok=True)
    print(f"| source | damage | whole | salvage | ffmpeg -c copy | ffmpeg ignore_err |")
    print(f"|---|---|---|---|---|---|")
    totals = [0, 0, 0, 0]
    for name, src in make_sources(work).items():
        original = open(src, "rb").read()
        known = set(frame_hashes(src))
        for label, harm in DAMAGES:
            rnd = random.Random(f"{args.seed}{name}{label}")
            damaged = harm(original, rnd)
            dpath = os.path.join(work, "damaged.avi")
            open(dpath, "wb").write(damaged)
            counts = []
            out = os.path.join(work, "salvaged.avi")
            if os.path.exists(out):
                os.remove(out)
            cmd = [norvavi, "repair", "--salvage", dpath, out]
            if label == "headers zeroed":
                cmd += ["--reference", src]
            run(cmd)
            counts.append(len(known.intersection(frame_hashes(out))) if os.path.exists(out) else 0)
            copy = os.path.join(work, "copied.avi")
            run(["ffmpeg", "-nostdin", "-v", "quiet", "-y", "-i", dpath, "-c", "copy", copy])
            counts.append(len(known.intersection(frame_hashes(copy))) if os.path.exists(copy) else 0)
            if os.path.exists(copy):
                os.remove(copy)
            counts.append(len(known.intersection(frame_hashes(dpath, ["-err_detect", "ignore_err"]))))
            w = whole(original, damaged)
            for i, v in enumerate([w, *counts]):
                totals[i] += v
            print(f"| {name} | {label} | {w} | {counts[0]} | {counts[1]} | {counts[2]} |")
            sys.stdout.flush()
    print(f"| all | all | {totals[0]} | {totals[1]} | {totals[2]} | {totals[3]} |")
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
