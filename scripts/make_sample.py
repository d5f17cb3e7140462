#!/usr/bin/env python3
"""Makes a small sample folder for trying kestrane, or describes files' ends.

    make_sample.py DIR            write the sample files into DIR
    make_sample.py --describe F.. print each file's size and the tag it ends with
"""
import struct
import sys
from pathlib import Path


def ape_item(key, value):
    return struct.pack("<II", len(value), 0) + key.encode() + b"\0" + value.encode()


def ape_tag(**items):
    body = b"".join(ape_item(k.title(), v) for k, v in items.items())
    size = len(body) + 32
    frame = lambda flags: b"APETAGEX" + struct.pack("<IIII", 2000, size, len(items), flags) + bytes(8)
    return frame(0xA0000000) + body + frame(0x80000000)


def id3v1_tag(title, artist):
    field = lambda text, n: text.encode()[:n].ljust(n, b"\0")
    return b"TAG" + field(title, 30) + field(artist, 30) + field("Sample", 30) + b"2026" + bytes(30) + b"\x0c"


def audio(n, seed):
    return bytes((i * 31 + seed * 7) % 251 for i in range(n)).replace(b"T", b"t").replace(b"A", b"a")


def make(folder):
    folder.mkdir(parents=True, exist_ok=True)
    files = {
        "intro.ape": audio(3000, 1) + ape_tag(title="Intro", artist="The Samples"),
        "ballad.ape": audio(3000, 2) + id3v1_tag("Ballad", "The Samples"),
        "outro.ape": audio(3000, 3),
        "intro.mp3": audio(2000, 4),
        "ballad.mp3": audio(2000, 5) + ape_tag(title="Old title", artist="Nobody", comment="x" * 200),
        "outro.mp3": audio(2000, 6),
        "bonus.mp3": audio(2000, 7),
    }
    for name, data in files.items():
        (folder / name).write_bytes(data)


def describe(path):
    data = Path(path).read_bytes()
    end = "no tag"
    if len(data) >= 32 and data[-32:-24] == b"APETAGEX":
        version, size, count, flags = struct.unpack("<IIII", data[-24:-8])
        length = size + (32 if flags & 0x80000000 else 0)
        body = data[-size:-32]
        title = ""
        if b"Title\0" in body:
            start = body.index(b"Title\0")
            vlen = struct.unpack("<I", body[start - 8:start - 4])[0]
            title = body[start + 6:start + 6 + vlen].decode(errors="replace")
        end = f"APEv2 tag, {length} bytes, title {title!r}"
    elif len(data) >= 128 and data[-128:-125] == b"TAG":
        end = f"ID3v1 tag, title {data[-125:-95].rstrip(bytes(1)).decode(errors='replace')!r}"
    print(f"  {path:12} {len(data):6} bytes, ends with {end}")


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "--describe":
        for name in sorted(sys.argv[2:]):
            describe(name)
    elif len(sys.argv) == 2:
        make(Path(sys.argv[1]))
    else:
        sys.exit(__doc__)
