#!/usr/bin/env python3
"""Writes a zip or a gzip-compressed tar archive whose bytes depend only
on the files' names, contents and executable bits: members sorted by name,
every time SOURCE_DATE_EPOCH, no other metadata (owner root, modes 0755 or
0644).

    write_archive.py zip OUT.zip DIR          every file under DIR
    write_archive.py tar OUT.tar.gz DIR       DIR and everything under it,
                                              as DIR's name/...
"""
import gzip
import io
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


def write_tar(out, folder, epoch):
    top = os.path.basename(os.path.normpath(folder))
    paths = [folder] + [os.path.join(parent, name) for parent, folders, files in os.walk(folder)
                        for name in folders + files]
    relative = (os.path.relpath(path, folder).replace(os.sep, "/") for path in paths)
    members = sorted(top if name == "." else top + "/" + name for name in relative)
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name in members:
            path = os.path.join(folder, *name.split("/")[1:])
            info = tarfile.TarInfo(name)
            info.mtime = epoch
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if os.path.isdir(path):
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                archive.addfile(info)
            else:
                info.mode, info.size = mode_of(path), os.path.getsize(path)
                with open(path, "rb") as f:
                    archive.addfile(info, f)
    # No file name and the fixed time in the gzip header either.
    with open(out, "wb") as f, gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=epoch, compresslevel=9) as z:
        z.write(buffer.getvalue())


def main(argv):
    writers = {"zip": write_zip, "tar": write_tar}
    if len(argv) != 4 or argv[1] not in writers:
        sys.exit(__doc__)
    writers[argv[1]](argv[2], argv[3], int(os.environ["SOURCE_DATE_EPOCH"]))


if __name__ == "__main__":
    main(sys.argv)
