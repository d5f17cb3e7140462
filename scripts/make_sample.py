#!/usr/bin/env python3
"""Makes a small sample folder for trying kestrane, or describes files' ends.

    make_sample.py DIR            write the sample files into DIR
    make_sample.py --describe F.. print each file's size and the tag it ends with
"""
import struct
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the repository
from sample_tags import ape_item, ape_tag, id3v1_tag  # noqa: E402


def ape(**items):
    return ape_tag(b"".join(ape_item(k.title(), v.encode()) for k, v in items.items()), len(items))


def id3v1(title, artist):
    return id3v1_tag(title.encode(), artist.encode(), b"Sample", b"2026", genre=12)


def audio(n, seed):
    return bytes((i * 31 + seed * 7) % 251 for i in range(n)).replace(b"T", b"t").replace(b"A", b"a")


def make(folder):
    folder.mkdir(parents=True, exist_ok=True)
    files = {
        "intro.ape": audio(3000, 1) + ape(title="Intro", artist="The Samples"),
        "ballad.ape": audio(3000, 2) + id3v1("Ballad", "The Samples"),
        "outro.ape": audio(3000, 3),
        "intro.mp3": audio(2000, 4),
        "ballad.mp3": audio(2000, 5) + ape(title="Old title", artist="Nobody", comment="x" * 200),
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
