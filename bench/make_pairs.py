#!/usr/bin/env python3
"""Makes a folder of input/output pairs for timing a batch run of kestrane.

    make_pairs.py N DIR [--audio-bytes B] [--sparse-gib G] [--tag-bytes T] [--seed S]
                        [--albums A]

DIR (created, must not hold pairs already) gets, for i in 0..N-1:
  tNNNNNN.ape  an input: a little audio, then its tag. Every fifth input
               ends in an ID3v1 block, the others in an APEv2 tag with a
               header (250 to 700 bytes of items).
  tNNNNNN.mp3  an output: B bytes of audio (default 4096). Odd-numbered
               outputs already end in a tag (i % 4 == 1: APEv2 of 150 to
               1000 bytes of items, so an update both grows and shrinks
               files; i % 4 == 3: ID3v1), even-numbered ones end in audio.
  .pairs.json  the parameters, from which check_pairs.py rebuilds what every
               file must hold (hidden, so the tool and the floor skip it).

With --tag-bytes T every input ends in an APEv2 tag of exactly T bytes
(header and footer included) that is mostly a "Cover Art (Front)" binary
item, as tags with embedded cover art are, and every output already ends in
such a tag too, so every pair is an update.

With --sparse-gib G every output is a sparse file of G GiB: a hole, then the
B bytes of audio, then its old tag if it has one. Only the end holds data, so
a folder of 4 GiB outputs costs little disk.

With --albums A the pairs are spread over A album folders in two trees, a
library and its lossy copy: input i is lossless/aNNNNN/tNNNNNN.ape and
output i is lossy/aNNNNN/tNNNNNN.mp3, album i * A // N, so each album holds
N / A consecutive pairs (.pairs.json stays at the top of DIR).

The content depends only on the parameters.
"""
import argparse
import json
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scripts"))
sys.dont_write_bytecode = True  # no __pycache__ in the repository
from sample_tags import ape_item, ape_tag, id3v1_tag  # noqa: E402

PARAMS_FILE = ".pairs.json"
GIB = 1 << 30
WORDS = ("amber basalt cedar delta ember fjord granite harbor island juniper "
         "kestrel lantern meadow nectar orchard pebble quartz raven saffron "
         "thistle umber valley willow yarrow zephyr").split()


def name_of(i):
    return f"t{i:06d}"


def album_of(params, i):
    """The album folder of pair i in a tree, or "" in a flat folder."""
    albums = params.get("albums", 0)
    return f"a{i * albums // params['count']:05d}" if albums else ""


def input_path(params, i):
    """Pair i's input, relative to DIR."""
    album = album_of(params, i)
    return f"lossless/{album}/{name_of(i)}.ape" if album else f"{name_of(i)}.ape"


def output_path(params, i):
    """Pair i's output, relative to DIR."""
    album = album_of(params, i)
    return f"lossy/{album}/{name_of(i)}.mp3" if album else f"{name_of(i)}.mp3"


def text(rng, count):
    return " ".join(rng.choice(WORDS) for _ in range(count)).title()


def random_ape_tag(rng, least, most):
    """An APEv2 tag with header; its item bytes number between least and most."""
    items = [ape_item("Title", text(rng, rng.randint(1, 5)).encode()),
             ape_item("Artist", text(rng, rng.randint(1, 3)).encode()),
             ape_item("Track", str(rng.randint(1, 30)).encode())]
    used = sum(len(item) for item in items)
    comment_overhead = len(ape_item("Comment", b""))
    wanted = max(1, rng.randint(least, most) - used - comment_overhead)
    comment = (text(rng, 12) + " ") * (wanted // 40 + 1)
    items.append(ape_item("Comment", comment[:wanted].encode()))
    return ape_tag(b"".join(items), len(items))


def cover_art_tag(rng, length):
    """An APEv2 tag with header of exactly length bytes: a title and a front
    cover (a random 4 KiB block repeated, cheap to make at any size)."""
    title = ape_item("Title", text(rng, 3).encode())
    cover_key = "Cover Art (Front)"
    wanted = length - 64 - len(title) - len(ape_item(cover_key, b""))
    block = rng.randbytes(4096)
    cover = ape_item(cover_key, (block * (wanted // len(block) + 1))[:wanted])
    cover = cover[:4] + struct.pack("<I", 2) + cover[8:]  # flags: binary item
    return ape_tag(title + cover, 2)


def random_id3v1_tag(rng):
    return id3v1_tag(text(rng, 3).encode(), text(rng, 2).encode(), text(rng, 2).encode(),
                     str(rng.randint(1960, 2026)).encode(), text(rng, 3).encode(),
                     track=rng.randint(1, 30), genre=rng.randint(0, 120))


def audio(rng, length):
    """Random bytes that cannot be taken for the end of a tag."""
    data = bytearray(rng.randbytes(length))
    if length >= 128 and data[-128:-125] == b"TAG":
        data[-128] ^= 0xFF
    if length >= 32 and data[-32:-24] == b"APETAGEX":
        data[-32] ^= 0xFF
    return bytes(data)


def pair(params, i):
    """What pair i holds before a run: (input bytes, input tag, output audio
    that has data, output's old tag). Sparse outputs have a hole before the
    audio that has data."""
    rng = random.Random(params["seed"] * 7_368_787 + i)
    tag_bytes = params.get("tag_bytes", 0)
    if tag_bytes:
        input_tag = cover_art_tag(rng, tag_bytes)
    else:
        input_tag = random_id3v1_tag(rng) if i % 5 == 0 else random_ape_tag(rng, 250, 700)
    input_bytes = audio(rng, rng.randint(300, 900)) + input_tag
    output_audio = audio(rng, params["audio_bytes"])
    old_tag = b""
    if tag_bytes:
        old_tag = cover_art_tag(rng, tag_bytes)
    elif i % 4 == 1:
        old_tag = random_ape_tag(rng, 150, 1000)
    elif i % 4 == 3:
        old_tag = random_id3v1_tag(rng)
    return input_bytes, input_tag, output_audio, old_tag


def audio_length(params, output_audio, old_tag):
    """Length of an output's audio, hole included."""
    if params["sparse_gib"] > 0:
        return int(params["sparse_gib"] * GIB) - len(old_tag)
    return len(output_audio)


def write_output(path, params, output_audio, old_tag):
    """Writes the output as it is before a run, over whatever it holds."""
    length = audio_length(params, output_audio, old_tag)
    fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        os.pwrite(fd, output_audio + old_tag, length - len(output_audio))
        os.ftruncate(fd, length + len(old_tag))
    finally:
        os.close(fd)


def make(count, folder, audio_bytes=4096, sparse_gib=0.0, seed=1, tag_bytes=0, albums=0):
    params = {"count": count, "audio_bytes": audio_bytes, "sparse_gib": sparse_gib, "seed": seed,
              "tag_bytes": tag_bytes, "albums": albums}
    if sparse_gib > 0 and int(sparse_gib * GIB) < audio_bytes + max(2048, tag_bytes):
        sys.exit("make_pairs.py: --sparse-gib too small for the audio and a tag")
    if not 0 <= albums <= count:
        sys.exit("make_pairs.py: --albums must be 0 to N")
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        input_bytes, _, output_audio, old_tag = pair(params, i)
        album = album_of(params, i)
        if album and (i == 0 or album != album_of(params, i - 1)):
            for root in ("lossless", "lossy"):
                os.makedirs(os.path.join(folder, root, album))
        with open(os.path.join(folder, input_path(params, i)), "xb") as f:
            f.write(input_bytes)
        output = os.path.join(folder, output_path(params, i))
        write_output(output, params, output_audio, old_tag)
        if i == 0 and sparse_gib > 0 and os.stat(output).st_blocks * 512 > 64 << 20:
            os.remove(output)
            sys.exit(f"make_pairs.py: {folder} holds no sparse files: not writing {sparse_gib} GiB each")
    with open(os.path.join(folder, PARAMS_FILE), "w") as f:
        json.dump(params, f)


def restore_outputs(folder):
    """Puts every output of a folder made by make() back as it was made
    (cheaper than making the folder anew; a run never changes inputs)."""
    with open(os.path.join(folder, PARAMS_FILE)) as f:
        params = json.load(f)
    for i in range(params["count"]):
        _, _, output_audio, old_tag = pair(params, i)
        write_output(os.path.join(folder, output_path(params, i)), params, output_audio, old_tag)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("count", type=int, metavar="N")
    parser.add_argument("folder", metavar="DIR")
    parser.add_argument("--audio-bytes", type=int, default=4096)
    parser.add_argument("--sparse-gib", type=float, default=0.0)
    parser.add_argument("--tag-bytes", type=int, default=0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--albums", type=int, default=0)
    args = parser.parse_args()
    if not 0 < args.count <= 999_999:
        sys.exit("make_pairs.py: N must be 1 to 999999")
    if args.audio_bytes < 128:
        sys.exit("make_pairs.py: --audio-bytes must be at least 128")
    if args.tag_bytes and not 200 <= args.tag_bytes < (256 << 20):
        sys.exit("make_pairs.py: --tag-bytes must be 200 to 256 MiB")
    make(args.count, args.folder, args.audio_bytes, args.sparse_gib, args.seed, args.tag_bytes, args.albums)


if __name__ == "__main__":
    main()
