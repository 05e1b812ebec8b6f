"""Writes a zip whose bytes depend only on the files it holds, so two release runs give the same
zip: the entries in the order given, under one folder, each with the time SOURCE_DATE_EPOCH,
mode 0644 and the same compression, and nothing else (no extra time fields).

    release_zip.py <zip> <folder> <file>...

The files are read from <folder> and stored as <folder's name>/<file>."""

import os
import sys
import time
import zipfile
from pathlib import Path

EARLIEST_ZIP_TIME = 315532800  # 1980-01-01: a zip entry cannot hold an earlier time


def write_zip(target, folder, names, epoch):
    stamp = time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6]
    temporary = target.with_name(target.name + ".tmp")
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in names:
            entry = zipfile.ZipInfo(f"{folder.name}/{name}", date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that unzip reads the mode below
            entry.external_attr = 0o100644 << 16
            archive.writestr(entry, (folder / name).read_bytes(), compresslevel=9)
    temporary.replace(target)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", EARLIEST_ZIP_TIME))
    write_zip(Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3:], epoch)


if __name__ == "__main__":
    main()
