#!/usr/bin/env python3
"""Writes an archive whose bytes depend only on the files' names, contents
and executable bits: members sorted by name, every time SOURCE_DATE_EPOCH,
owner root, no other metadata.

    write_archive.py zip OUT.zip DIR          every file under DIR
    write_archive.py tar OUT.tar.gz PREFIX    the files named on standard input
                                              (NUL-separated, as `git ls-files -z`
                                              prints them), under PREFIX/
"""
import gzip
import os
import stat
import sys
import tarfile
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


def write_tar_gz(out, prefix, names, epoch):
    with open(out, "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for name in sorted(names):
            if not os.path.isfile(name):
                continue  # tracked, but deleted in this checkout
            info = tarfile.TarInfo(f"{prefix}/{name}")
            info.size = os.path.getsize(name)
            info.mode = mode_of(name)
            info.mtime = epoch
            info.uname = info.gname = "root"
            with open(name, "rb") as f:
                archive.addfile(info, f)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("zip", "tar"):
        sys.exit(__doc__)
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    if argv[1] == "zip":
        write_zip(argv[2], argv[3], epoch)
    else:
        names = [name for name in sys.stdin.buffer.read().decode().split("\0") if name]
        write_tar_gz(argv[2], argv[3], names, epoch)


if __name__ == "__main__":
    main(sys.argv)
