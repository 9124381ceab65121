#!/usr/bin/env python3
"""Sets the two time stamps that chmcmd writes into a compiled help file.

Usage: pin_chm_time.py <file.chm> <unix-time>

chmcmd stamps every file it writes with the time of day of the run, in
milliseconds, at two places: the ITSF header (offset 0x10, big-endian) and
the #SYSTEM entry with code 10 (little-endian). Everything else it writes is
the same from run to run, so setting both to the time of day of <unix-time>
(UTC) makes the file reproducible. Nothing else in the file is touched.
"""

import struct
import sys


def read_encint(data, pos):
    """A CHM directory number: 7 bits a byte, high bit set on all but the last."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def find_entry(data, wanted):
    """(section, offset, length) of a directory entry, read from the PMGL chunks."""
    if data[0:4] != b"ITSF" or struct.unpack_from("<I", data, 4)[0] != 3:
        raise ValueError("not an ITSF version 3 file")
    directory = struct.unpack_from("<Q", data, 0x48)[0]
    if data[directory:directory + 4] != b"ITSP":
        raise ValueError("no ITSP directory header")
    header_length = struct.unpack_from("<I", data, directory + 8)[0]
    chunk_size = struct.unpack_from("<I", data, directory + 0x10)[0]
    chunk_count = struct.unpack_from("<I", data, directory + 0x2C)[0]
    for index in range(chunk_count):
        chunk = directory + header_length + index * chunk_size
        if data[chunk:chunk + 4] != b"PMGL":
            continue
        free_space = struct.unpack_from("<I", data, chunk + 4)[0]
        end = chunk + chunk_size - free_space
        pos = chunk + 0x14
        while pos < end:
            name_length, pos = read_encint(data, pos)
            name = bytes(data[pos:pos + name_length])
            pos += name_length
            section, pos = read_encint(data, pos)
            offset, pos = read_encint(data, pos)
            length, pos = read_encint(data, pos)
            if name == wanted:
                return section, offset, length
    raise ValueError("no %s entry in the directory" % wanted.decode())


def pin(path, epoch):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    stamp = (epoch % 86400) * 1000

    section, offset, length = find_entry(data, b"/#SYSTEM")
    if section != 0:
        raise ValueError("#SYSTEM is compressed; its time stamp cannot be set in place")
    content = struct.unpack_from("<Q", data, 0x58)[0]
    start = content + offset
    pos, end = start + 4, start + length     # after the #SYSTEM version
    found = False
    while pos + 4 <= end:
        code, size = struct.unpack_from("<HH", data, pos)
        if code == 10:
            if size != 4:
                raise ValueError("#SYSTEM time stamp has %d bytes, not 4" % size)
            struct.pack_into("<I", data, pos + 4, stamp)
            found = True
        pos += 4 + size
    if not found:
        raise ValueError("#SYSTEM has no time stamp (code 10)")

    struct.pack_into(">I", data, 0x10, stamp)
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit("usage: pin_chm_time.py <file.chm> <unix-time>")
    try:
        pin(sys.argv[1], int(sys.argv[2]))
    except (OSError, ValueError, IndexError, struct.error) as error:
        sys.exit("pin_chm_time.py: %s: %s" % (sys.argv[1], error))


if __name__ == "__main__":
    main()
