#!/usr/bin/env python3
"""Checks a folder made by make_pairs.py after a batch run.

    check_pairs.py DIR [--report FILE] [--synced]

Rebuilds from DIR/.pairs.json what every pair held and checks that
  - every input is unchanged, byte for byte;
  - every output is its old audio followed by exactly its input's tag (for
    sparse outputs: the same length, the audio that has data unchanged and
    no data written into the hole);
  - with --report, that the report ends with one block per output, in name
    order: "\\nNAME.mp3:\\n" then "updated tag from NAME.ape\\n" for outputs
    that had a tag, "appended tag from NAME.ape\\n" for the others (in a
    tree, NAME is the path below DIR: lossy/aNNNNN/tNNNNNN.mp3 and
    lossless/aNNNNN/tNNNNNN.ape); with --synced (a second run over pairs
    already in sync), "tag already up to date from NAME.ape\\n" for all.
Prints "check: N pairs ok" or the first faults, and exits 1 on any fault.
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ in the repository
import make_pairs  # noqa: E402

SHOWN_FAULTS = 5


def check_output(path, params, output_audio, old_tag, input_tag):
    expected_length = make_pairs.audio_length(params, output_audio, old_tag) + len(input_tag)
    data_start = expected_length - len(input_tag) - len(output_audio)
    fd = os.open(path, os.O_RDONLY)
    try:
        length = os.fstat(fd).st_size
        if length != expected_length:
            return f"{length} bytes, expected {expected_length}"
        if os.pread(fd, length - data_start, data_start) != output_audio + input_tag:
            return "audio or tag bytes differ"
        if data_start > 0:
            try:
                first_data = os.lseek(fd, 0, os.SEEK_DATA)
            except OSError:
                first_data = data_start  # no hole reporting here: trust the length
            if first_data < data_start - data_start % 4096:
                return f"data written into the hole at {first_data}"
    finally:
        os.close(fd)
    return None


def check_pair(folder, params, i):
    input_bytes, input_tag, output_audio, old_tag = make_pairs.pair(params, i)
    with open(os.path.join(folder, make_pairs.input_path(params, i)), "rb") as f:
        if f.read() != input_bytes:
            return "input changed"
    return check_output(os.path.join(folder, make_pairs.output_path(params, i)), params, output_audio,
                        old_tag, input_tag)


def expected_report(params, synced=False, input_folder_of_output=False):
    """The report's last lines. input_folder_of_output: the input is named
    with the output's folder (the floor's tree mode prints it so)."""
    blocks = []
    for i in range(params["count"]):
        output = make_pairs.output_path(params, i)
        source = make_pairs.input_path(params, i)
        if input_folder_of_output:
            source = os.path.join(os.path.dirname(output), os.path.basename(source))
        if synced:
            outcome = "tag already up to date from"
        else:
            outcome = ("updated" if i % 2 == 1 or params.get("tag_bytes") else "appended") + " tag from"
        blocks.append(f"\n{output}:\n{outcome} {source}\n")
    return "".join(blocks)


def params_of(folder):
    with open(os.path.join(folder, make_pairs.PARAMS_FILE)) as f:
        return json.load(f)


def check(folder, report_path=None, synced=False, input_folder_of_output=False):
    """The faults found, as (what, why) pairs; empty when all is well."""
    params = params_of(folder)
    faults = []
    for i in range(params["count"]):
        try:
            why = check_pair(folder, params, i)
        except OSError as error:
            why = f"{type(error).__name__}: {error.strerror}"
        if why:
            faults.append((make_pairs.output_path(params, i), why))
    if report_path is not None:
        with open(report_path, encoding="latin-1") as f:
            report = f.read()
        if not report.endswith(expected_report(params, synced, input_folder_of_output)):
            faults.append((report_path, "report does not end with one outcome per output"))
    return params["count"], faults


def modification_times(folder):
    """Every output's modification time, in nanoseconds, in pair order."""
    params = params_of(folder)
    return [os.stat(os.path.join(folder, make_pairs.output_path(params, i))).st_mtime_ns
            for i in range(params["count"])]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", metavar="DIR")
    parser.add_argument("--report", metavar="FILE")
    parser.add_argument("--synced", action="store_true", help="every output reported up to date")
    args = parser.parse_args()
    count, faults = check(args.folder, args.report, args.synced)
    for what, why in faults[:SHOWN_FAULTS]:
        print(f"check: {what}: {why}")
    if faults:
        print(f"check: {len(faults)} faults in {count} pairs")
        sys.exit(1)
    print(f"check: {count} pairs ok")


if __name__ == "__main__":
    main()
