#!/usr/bin/env python3
"""Makes a large link for the benchmark: a copy of a link with as many
12-byte ExtraData blocks (console code page blocks) put before its terminal
block as fit in SIZE bytes.

Usage: make_big_link.py LINK SIZE OUT
"""

import struct
import sys

CONSOLE_FE_SIGNATURE = 0xA0000004
TERMINAL = b"\0\0\0\0"


def main():
    source, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(source, "rb") as f:
        data = f.read()
    if not data.endswith(TERMINAL):
        raise SystemExit(f"{source} does not end in a terminal block")
    block = struct.pack("<III", 12, CONSOLE_FE_SIGNATURE, 1252)
    count = max(0, (size - len(data)) // len(block))
    with open(out, "wb") as f:
        f.write(data[:-4] + block * count + TERMINAL)
    print(count)


if __name__ == "__main__":
    main()
