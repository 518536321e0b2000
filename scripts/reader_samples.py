#!/usr/bin/env python3
"""Rewrites a small ffmpeg-made AVI 1.0 file with one fault planted, for
scripts/try-readers.sh: reader_samples.py SOURCE OUT FAULT ('' = none).
The output keeps the source's headers and chunk data; 'movi' and idx1 are
written afresh (idx1 offsets from the 'movi' code, every entry a key frame)."""
import struct
import sys


def chunks(d, a, e):
    while a + 8 <= e:
        i, s = d[a:a + 4], struct.unpack('<I', d[a + 4:a + 8])[0]
        yield a, i, s
        a += 8 + s + (s & 1)


def rewrite(src, dst, fault):
    d = open(src, 'rb').read()
    top = {i if i != b'LIST' else d[a + 8:a + 12]: (a, s) for a, i, s in chunks(d, 12, len(d))}
    ha, hs = top[b'hdrl']
    hdrl = bytearray(d[ha:ha + 8 + hs])
    ma, ms = top[b'movi']
    items = [(i, d[a + 8:a + 8 + s]) for a, i, s in chunks(d, ma + 12, ma + 8 + ms) if i != b'JUNK']
    for a, i, s in chunks(hdrl, 12, len(hdrl)):
        if i == b'avih' and fault == 'noflag':
            struct.pack_into('<I', hdrl, a + 8 + 12, struct.unpack_from('<I', hdrl, a + 8 + 12)[0] & ~0x10)
        if i == b'avih' and fault == 'nobuffer':
            struct.pack_into('<I', hdrl, a + 8 + 28, 0)
        for b, j, t in chunks(hdrl, a + 12, a + 8 + s) if i == b'LIST' else []:
            if j == b'strh' and fault == 'nobuffer':
                struct.pack_into('<I', hdrl, b + 8 + 36, 0)
            if j == b'strh' and fault == 'handler' and hdrl[b + 8:b + 12] == b'vids':
                hdrl[b + 12:b + 16] = b'\0\0\0\0'  # the codec stays named in 'strf'
    if fault in ('db', 'somedb'):  # every video chunk, or every fourth
        dc = [k for k, (i, _) in enumerate(items) if i[2:] == b'dc']
        for k in dc[3::4] if fault == 'somedb' else dc:
            items[k] = (items[k][0][:2] + b'db', items[k][1])
    if fault == 'audiofirst':  # two audio chunks ahead of the first frame
        a = [k for k, (i, _) in enumerate(items) if i[2:] == b'wb'][:2]
        items = [items[k] for k in a] + [x for k, x in enumerate(items) if k not in a]
    out = bytearray(b'RIFF\0\0\0\0AVI ') + hdrl
    out += b'JUNK\x04\0\0\0\0\0\0\0' * (2 if fault == 'junk2' else 1)
    out += b'LIST\0\0\0\0movi'
    movi = len(out) - 12
    idx = bytearray()

    def put(i, p):
        idx.extend(i + struct.pack('<III', 0x10, len(out) - (movi + 8), len(p)))
        out.extend(i + struct.pack('<I', len(p)) + p + b'\0' * (len(p) & 1))
    k = 0
    while k < len(items):
        n = 2 if fault == 'rec' and k + 1 < len(items) else 1
        rec = len(out)
        if fault == 'rec':
            out.extend(b'LIST\0\0\0\0rec ')
        for i, p in items[k:k + n]:
            put(i, p)
        if fault == 'rec':
            struct.pack_into('<I', out, rec + 4, len(out) - rec - 8)
        k += n
    # A sparse 'JUNK' taking the RIFF size past 2 GiB, or to just below.
    gap = {'big': 2**31 + 1000, 'bigok': 2**31 - 600000}.get(fault, 0)
    if gap:
        out += b'JUNK' + struct.pack('<I', gap)
    struct.pack_into('<I', out, movi + 4, len(out) + gap - movi - 8)
    if fault == 'absolute':
        for e in range(0, len(idx), 16):
            struct.pack_into('<I', idx, e + 8, struct.unpack_from('<I', idx, e + 8)[0] + movi + 8)
    tail = b'JUNK\x04\0\0\0\0\0\0\0' if fault == 'junkafter' else b''
    if fault != 'noindex':
        tail += b'idx1' + struct.pack('<I', len(idx)) + idx
    struct.pack_into('<I', out, 4, len(out) + gap + len(tail) - 8)
    with open(dst, 'wb') as f:
        f.write(out)
        f.seek(gap, 1)
        f.write(tail)


rewrite(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else '')
