#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on the files' names,
contents and executable bits: members sorted by name, every time
SOURCE_DATE_EPOCH, no other metadata.

    write_archive.py zip OUT.zip DIR          every file under DIR
"""
import os
import stat
import sys
import time
import zipfile


def mode_of(path):
    return 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644


def write_zip(out, folder, epoch):
    names = sorted(os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/")
                   for parent, _, files in os.walk(folder) for name in files)
    date_time = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
    with zipfile.ZipFile(out, "w") as archive:
        for name in names:
            path = os.path.join(folder, name)
            info = zipfile.ZipInfo(name, date_time)
            info.external_attr = (stat.S_IFREG | mode_of(path)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


def main(argv):
    if len(argv) != 4 or argv[1] != "zip":
        sys.exit(__doc__)
    write_zip(argv[2], argv[3], int(os.environ["SOURCE_DATE_EPOCH"]))


if __name__ == "__main__":
    main(sys.argv)
