#!/usr/bin/env python3
"""The tags kestrane copies, built as bytes, for sample and test files.

Imported by make_sample.py, tests/fuzz/make_seeds.py and bench/make_pairs.py;
from a shell, it writes one tag to standard output:

    sample_tags.py ape KEY=VALUE...     an APEv2 tag with header, one item each
    sample_tags.py id3v1 FIELD=VALUE... an ID3v1 tag (fields: title, artist,
                                        album, year, comment, track, genre)
"""
import struct
import sys

APE_PREAMBLE = b"APETAGEX"
APE_HAS_HEADER = 0x80000000
APE_IS_HEADER = 0x20000000


def ape_item(key, value):
    """One APEv2 item: value length, flags 0, key, NUL, value (bytes)."""
    return struct.pack("<II", len(value), 0) + key.encode("ascii") + b"\0" + value


def ape_tag(body, count, header=True, version=2000, size=None):
    """An APEv2 tag holding the item bytes `body`: header (if wanted), body,
    footer. `count` and `size` go into the frames as given, so that tests can
    make them disagree with the body."""
    size = len(body) + 32 if size is None else size

    def frame(flags):
        return APE_PREAMBLE + struct.pack("<IIII", version, size, count, flags) + bytes(8)

    if not header:
        return body + frame(0)
    return frame(APE_HAS_HEADER | APE_IS_HEADER) + body + frame(APE_HAS_HEADER)


def id3v1_field(value, length):
    return value[:length].ljust(length, b"\0")


def id3v1_tag(title=b"", artist=b"", album=b"", year=b"", comment=b"", track=None, genre=0):
    """A 128-byte ID3v1 block; fields cut or padded with NULs. With a track
    number, the comment is 28 bytes and the track follows a NUL (ID3v1.1)."""
    if track is None:
        comment = id3v1_field(comment, 30)
    else:
        comment = id3v1_field(comment, 28) + b"\0" + bytes([track])
    return (b"TAG" + id3v1_field(title, 30) + id3v1_field(artist, 30) + id3v1_field(album, 30)
            + id3v1_field(year, 4) + comment + bytes([genre]))


def lyrics3v2_block(lyrics):
    """A Lyrics3v2 block: "LYRICSBEGIN", the field "LYR" with its five-digit
    length and the lyrics (bytes), the block's six-digit size, "LYRICS200"."""
    block = b"LYRICSBEGIN" + b"LYR" + b"%05d" % len(lyrics) + lyrics
    return block + b"%06d" % len(block) + b"LYRICS200"


def main(argv):
    if len(argv) < 2 or argv[1] not in ("ape", "id3v1") or any("=" not in a for a in argv[2:]):
        sys.exit(__doc__)
    fields = [a.split("=", 1) for a in argv[2:]]
    if argv[1] == "ape":
        tag = ape_tag(b"".join(ape_item(k, v.encode()) for k, v in fields), len(fields))
    else:
        numbers = ("track", "genre")
        tag = id3v1_tag(**{k: int(v) if k in numbers else v.encode() for k, v in fields})
    sys.stdout.buffer.write(tag)


if __name__ == "__main__":
    main(sys.argv)
