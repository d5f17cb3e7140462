#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target, one folder each.

    make_seeds.py FOLDER

FOLDER/copy_tag: each seed is a mode byte (0 default, 1 append only, 2
update only), the input file's length as two little-endian bytes, the input
file, the output file. The files end in the layouts worth starting from:
APEv2 tags with and without header, ID3v1 blocks, an APEv2 tag and a
Lyrics3v2 block in front of an ID3v1 block, none, footers just outside the
rules, and footers whose size counts the header or reaches past it into the
audio.
FOLDER/end_block: one file each, the same layouts, and blocks longer than
the first read of a file's end (4 KiB).
FOLDER/name_rules: a pattern, a NUL byte and a name.
FOLDER/command_line: the arguments, separated by NUL bytes.
FOLDER/json_lines: a name, as bytes.
"""
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
sys.dont_write_bytecode = True  # no __pycache__ in the repository
from sample_tags import ape_item, ape_tag, id3v1_tag, lyrics3v2_block  # noqa: E402


def audio(n, seed):
    return bytes((i * 7 + seed) % 0x40 for i in range(n))


def ape(items=ape_item("Title", b"hello"), header=True, version=2000, count=1, size=None):
    return ape_tag(items, count, header=header, version=version, size=size)


def id3(title=b"Title"):
    return id3v1_tag(title)


def bad_digits(lyrics_block):
    """The Lyrics3v2 block with a letter among the six digits of its size."""
    return lyrics_block[:-13] + b"x" + lyrics_block[-12:]


def seed(mode, input_file, output_file):
    return bytes([mode]) + struct.pack("<H", len(input_file)) + input_file + output_file


SEEDS = {
    "ape-onto-none": seed(0, audio(100, 1) + ape(), audio(90, 2)),
    "id3-onto-ape": seed(0, audio(60, 3) + id3(), audio(50, 4) + ape(b"x" * 70)),
    "ape-onto-id3": seed(0, audio(40, 5) + ape(b"y" * 10), audio(30, 6) + id3(b"Old")),
    "ape-onto-ape-then-id3": seed(0, audio(20, 7) + ape(), audio(20, 8) + ape() + id3()),
    "headerless-onto-headerless": seed(0, audio(33, 9) + ape(header=False), audio(40, 1) + ape(b"z" * 5, header=False)),
    "append-only-onto-tagged": seed(1, audio(10, 2) + id3(), audio(10, 3) + ape()),
    "update-only-onto-bare": seed(2, audio(10, 4) + ape(), audio(200, 5)),
    "version-1000-input": seed(0, audio(10, 6) + ape(version=1000, header=False), audio(10, 7)),
    "count-0-footer-before-id3": seed(0, id3()[:96] + ape(b"", header=False, count=0, size=33)[-32:], audio(10, 8)),
    "footer-claims-more": seed(0, ape(b"q" * 100)[40:], audio(10, 9) + id3()),
    # footers at the size bound (256 MiB): just under it claims more than the
    # file holds; at it, the ID3v1 test follows
    "size-under-bound-claims-more": seed(0, audio(10, 1) + ape(size=0x0FFFFFFF), audio(10, 2) + id3()),
    "size-at-bound-footer-before-id3": seed(0, id3()[:96] + ape(size=0x10000000)[-32:], audio(10, 3) + ape()),
    # tags one byte shorter and longer than the one they replace
    "ape-127-bytes-onto-id3": seed(0, audio(10, 1) + ape(b"s" * 63), audio(10, 2) + id3()),
    "ape-onto-ape-one-byte-longer": seed(0, audio(10, 3) + ape(b"t" * 40), audio(10, 4) + ape(b"u" * 41)),
    "size-33-whole-file": seed(0, ape(b"1"), b""),
    # the tags that end a file as one block, and what is no part of it
    "ape-lyrics-id3-onto-ape-id3": seed(0, audio(30, 1) + ape() + lyrics3v2_block(b"la") + id3(),
                                        audio(30, 2) + ape(b"o" * 20) + id3(b"Old")),
    "id3-onto-ape-lyrics-id3": seed(0, audio(20, 3) + id3(), audio(20, 4) + ape() + lyrics3v2_block(b"x") + id3()),
    "lyrics-id3-onto-headerless-id3": seed(0, audio(20, 5) + lyrics3v2_block(b"words") + id3(),
                                           audio(20, 6) + ape(header=False) + id3()),
    "same-block-twice": seed(2, audio(10, 7) + ape() + id3(), audio(40, 8) + ape() + id3()),
    "lyrics-bad-digits": seed(0, audio(10, 9) + ape() + bad_digits(lyrics3v2_block(b"ab")) + id3(),
                              audio(10, 1) + id3()),
    "gap-between-ape-and-id3": seed(0, audio(10, 2) + ape() + b"\0" + id3(), audio(10, 3) + ape() + id3()),
    "version-1000-before-id3": seed(1, audio(10, 4) + ape(version=1000) + id3(), audio(10, 5)),
    # header flag: a size that counts the header, and one that reaches past
    # the header (in its place) into the audio
    "size-counts-header": seed(0, audio(50, 6) + ape(b"c" * 30, size=30 + 64),
                               audio(50, 7) + ape(b"d" * 10, size=10 + 64) + id3()),
    "size-past-header": seed(0, audio(300, 8) + ape(b"e" * 30, size=30 + 32 + 100),
                             audio(300, 9) + ape(b"f" * 30, size=30 + 32 + 100) + id3()),
    "empty-files": seed(0, b"", b""),
}


END_BLOCK_SEEDS = {
    "none": audio(300, 1),
    "empty": b"",
    "ape": audio(50, 2) + ape(),
    "ape-headerless": audio(50, 3) + ape(header=False),
    "ape-headerless-whole-file": ape(b"w" * 20, header=False),
    "ape-headerless-beyond-file": ape(b"v" * 30, header=False)[20:],
    "ape-size-counts-header": audio(40, 4) + ape(b"c" * 30, size=30 + 64),
    "ape-size-past-header": audio(200, 5) + ape(b"e" * 30, size=30 + 32 + 100),
    "ape-version-1000": audio(10, 6) + ape(version=1000),
    "ape-count-0": audio(10, 7) + ape(count=0),
    "ape-size-at-bound": audio(10, 8) + ape(size=0x10000000),
    "id3": audio(40, 9) + id3(),
    "id3-alone": id3(),
    "ape-id3": audio(20, 1) + ape() + id3(),
    "headerless-ape-id3": audio(20, 2) + ape(header=False) + id3(),
    "lyrics-id3": audio(20, 3) + lyrics3v2_block(b"words") + id3(),
    "ape-lyrics-id3": audio(30, 4) + ape() + lyrics3v2_block(b"la la") + id3(),
    "headerless-ape-lyrics-id3": audio(30, 5) + ape(header=False) + lyrics3v2_block(b"x") + id3(),
    "lyrics-bad-digits": audio(10, 6) + ape() + bad_digits(lyrics3v2_block(b"ab")) + id3(),
    "gap-between-ape-and-id3": audio(10, 7) + ape() + b"\0" + id3(),
    "gap-between-ape-and-lyrics": audio(10, 8) + ape() + b"\0" + lyrics3v2_block(b"g") + id3(),
    "ape-beyond-file-before-id3": ape(b"b" * 40, header=False)[10:] + id3(),
    "ape-footer-then-id3-then-ape": audio(10, 9) + ape() + id3() + ape(b"z"),
    # blocks that reach past the first read of the file's end
    "long-ape": audio(100, 1) + ape(b"L" * 5000),
    "long-lyrics-id3": audio(100, 2) + ape() + lyrics3v2_block(b"l" * 4500) + id3(),
    "long-ape-lyrics-id3": audio(100, 3) + ape(b"A" * 4000) + lyrics3v2_block(b"s" * 100) + id3(),
}

NAME_RULES_SEEDS = {
    "star-dot-ext": b"*.mp3\0Song.MP3",
    "question-marks": b"track??.ape\0track01.ape",
    "stars-backtracking": b"*a*b*c*\0xxaxxbxxcxxaxbc",
    "star-at-end-no-match": b"a*b\0aXbY",
    "folders": b"music/*/x*.ape\0music/rock/a.b.c",
    "letter-case": b"[\xc3\xa9Z]*\0[\xc3\x89z]abc",
    "extensions": b"dir.d/name\0name.flac",
    "default-extension": b"track\0.mp3",
    "base-names": b"a.live.ape\0A.mp3",
    "windows-separators": b"C:\\in\\*.ape\0\\\\?\\C:\\out\\x.mp3",
    "empty": b"\0",
}

COMMAND_LINE_SEEDS = {
    "two-specifications": b"*.ape\0*.mp3",
    "options": b"-aunrq\0in.ape\0out.mp3",
    "upper-case-options": b"-AUNRQ\0in\0out",
    "update-then-append": b"-u\0-a\0x\0y",
    "illegal-letters": b"-xyz\0a\0b",
    "non-ascii-letters": b"-\xc3\xa9\xff\xe2\x82\0a\0b",
    "too-many": b"a\0b\0c\0d",
    "help": b"a\0--help\0b",
    "version-after-help": b"--version\0--help",
    "end-of-options": b"--\0--help\0-live.ape\0*.mp3",
    "long-options": b"--json\0--sync\0-n\0a\0b",
    "undo": b"--undo\0--recover",
    "recover-with-specification": b"--recover\0x",
    "unknown-long-option": b"--jsonx\0--\0a\0b",
    "lone-dash": b"-\0a\0b",
    "empty-arguments": b"\0\0",
    "windows-slash": b"/?\0/a\0a\0b",
    "none": b"",
}

JSON_LINES_SEEDS = {
    "plain": b"Artist/Album/01 Intro.mp3",
    "escapes": b'q"uote\\back\tslash\n\r\x01\x1f\x7f',
    "utf8": "東京/Мумий Тролль/🎵.mp3".encode(),
    "latin1": b"caf\xe9.mp3",
    "lone-continuation": b"a\x80b",
    "overlong": b"\xc0\xaf\xe0\x80\xaf",
    "surrogate": b"\xed\xa0\x80\xed\xb0\x80",
    "past-u10ffff": b"\xf4\x90\x80\x80",
    "cut-short": b"\xe6\x9d",
    "base64-lengths": b"\xff",
    "empty": b"",
}

TARGETS = {
    "copy_tag": SEEDS,
    "end_block": END_BLOCK_SEEDS,
    "name_rules": NAME_RULES_SEEDS,
    "command_line": COMMAND_LINE_SEEDS,
    "json_lines": JSON_LINES_SEEDS,
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for target, seeds in TARGETS.items():
        folder = Path(sys.argv[1]) / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
