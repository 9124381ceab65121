#!/usr/bin/env python3
"""Helpers of scripts/package.sh.

  package_files.py version <dll>
      Prints the file version of the DLL's version block (VS_FIXEDFILEINFO),
      for example 1.0.0.2.
  package_files.py zip <out.zip> <unix-time> <folder> <name>...
      Writes the named files of <folder> into a new zip file, reproducibly:
      names in byte order, every entry dated <unix-time> (UTC), mode 0644,
      no extra fields, the same compression every time.
"""

import os
import struct
import sys
import time
import zipfile

FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def dll_version(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise ValueError("not a Windows executable")
    at = data.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0:
        raise ValueError("no version block")
    # Signature, structure version, then the file version's high and low doublewords.
    high, low = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def write_zip(out, epoch, folder, names):
    # A zip file cannot hold a date before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(out, "x") as archive:
        for name in sorted(names, key=lambda n: n.encode()):
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = 3                       # Unix, so that the mode below counts
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                archive.writestr(entry, f.read(), compresslevel=9)


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "version":
            print(dll_version(argv[2]))
            return 0
        if len(argv) >= 6 and argv[1] == "zip" and argv[3].isdigit():
            write_zip(argv[2], int(argv[3]), argv[4], argv[5:])
            return 0
    except (OSError, ValueError, struct.error) as error:
        print("package_files.py %s: %s" % (argv[1], error), file=sys.stderr)
        return 1
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
