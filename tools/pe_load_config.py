#!/usr/bin/env python3
"""Points a linked Windows program's load configuration entry at its
_load_config_used structure.

    pe_load_config.py PROGRAM.exe PROGRAM.map

GNU ld 2.40 (MinGW on Debian 12) leaves the image's data directory entry
10 (IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG) empty although the program defines
_load_config_used, and has no option for the dependent load flags.  This
reads the structure's address from the linker's map, and its size from its
own first field, and writes both into the entry.  A linker that filled the
entry itself leaves nothing to do; one that filled it otherwise is an error.
"""

import re
import struct
import sys

LOAD_CONFIG = 10


def headers(image):
    """(optional header magic, image base, offset of the data directories,
    sections as (virtual address, virtual size, file offset, file size)) of
    a PE image; None when it is none."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        return None
    count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    if magic == 0x10B:    # PE32
        base, directories = struct.unpack_from("<I", image, optional + 28)[0], optional + 96
    elif magic == 0x20B:  # PE32+
        base, directories = struct.unpack_from("<Q", image, optional + 24)[0], optional + 112
    else:
        return None
    table = optional + optional_size
    sections = [struct.unpack_from("<4xIIII", image, table + 40 * i + 4) for i in range(count)]
    return magic, base, directories, sections


def file_offset(sections, rva, size):
    """Where size bytes at rva lie in the file, or None."""
    for vsize, vaddr, rsize, raw in sections:
        if vaddr <= rva and rva + size <= vaddr + min(vsize, rsize):
            return raw + rva - vaddr
    return None


def main():
    exe, map_file = sys.argv[1:3]
    with open(map_file, encoding="latin-1") as f:
        found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+_?_load_config_used\s*$", f.read(), re.M)
    if len(found) != 1:
        print(f"{map_file}: _load_config_used found {len(found)} times")
        return 1
    with open(exe, "r+b") as f:
        image = bytearray(f.read())
        parsed = headers(image)
        if parsed is None:
            print(f"{exe}: not a PE image")
            return 1
        _, base, directories, sections = parsed
        rva = int(found[0], 16) - base
        # The structure's first field is its size.
        at = file_offset(sections, rva, 4)
        if at is None:
            print(f"{exe}: no section holds _load_config_used at {rva:#x}")
            return 1
        size = struct.unpack_from("<I", image, at)[0]
        entry = directories + 8 * LOAD_CONFIG
        current = struct.unpack_from("<II", image, entry)
        if current == (rva, size):
            return 0
        if current != (0, 0):
            print(f"{exe}: the load configuration entry is {current}, not ({rva:#x}, {size})")
            return 1
        struct.pack_into("<II", image, entry, rva, size)
        f.seek(0)
        f.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
