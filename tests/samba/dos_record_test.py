#!/usr/bin/env python3
"""Samba's DOS attribute records (user.DOSATTRIB), hand-written, read by the
tool as the project's own smbd shows them through SMB: a link Samba shows
read-only is refused (5), any other saved, after which Samba sees the same
attributes and the archive bit and the record's other bytes are kept; a
record Samba cannot read is left byte for byte.  Skipped (77) as samba_test.py.

    dos_record_test.py --exe build/linux/shortcut/shortcut
"""

import argparse
import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import samba_test  # noqa: E402

READ_ONLY, ARCHIVE, NORMAL = 0x01, 0x20, 0x80
CREATE_TIME = bytes.fromhex("a672afc69787dd01")
TAIL = b"\x55" * 16  # bytes after the info, which Samba ignores


def record(text, version, info, level=None):
    """attrib_hex and its NUL, the version and level at the next even
    offset, the info at the next multiple of 4."""
    data = text + b"\0"
    data += b"\0" * (len(data) % 2) + struct.pack("<HH", version,
                                                  version if level is None else level)
    return data + b"\0" * (-len(data) % 4) + info


def v5(valid, attrib, tail=b""):
    return record(b"", 5, struct.pack("<II", valid, attrib) + CREATE_TIME + tail)


ROWS = [  # what the record is, its bytes
    ("version 5, attrib valid", v5(0x11, 0x01)),
    ("version 5, valid_flags without the attrib bit", v5(0x10, 0x01)),
    ("version 5, hidden and system, valid_flags without the attrib bit", v5(0x10, 0x06)),
    ("version 4, valid_flags without the attrib bit",
     record(b"", 4, struct.pack("<II", 0x10, 0x06) + bytes(8) + CREATE_TIME)),
    ("version 3, valid_flags without the attrib bit",
     record(b"", 3, struct.pack("<III", 0x10, 0x02, 0) + bytes(32))),
    ("text without 0x", b"1\0"),
    ("text with trailing junk", b"0x1 \0"),
    ("text without its NUL", b"0x2"),
    ("text and version 5: the version counts", record(b"0x1", 5, struct.pack("<II", 0x11, 0x02)
                                                      + CREATE_TIME)),
    ("version 5 with trailing bytes", v5(0x11, 0x02, TAIL)),
    ("version 5, 256 bytes: as long as Samba reads", v5(0x11, 0x06, b"\x55" * 232)),
    ("version 5, 257 bytes: longer than Samba reads", v5(0x11, 0x01, b"\x55" * 233)),
    ("version 5, over 1,024 bytes", v5(0x11, 0x01, b"\x55" * 1100)),
    ("version 5 cut short", v5(0x11, 0x01)[:-4]),
    ("version 5 whose level is not its version",
     record(b"", 5, struct.pack("<II", 0x11, 0x01) + CREATE_TIME, level=4)),
    ("version 1, whole", record(b"0x2", 1, struct.pack("<II", 0x02, 0) + bytes(32))),
    ("version 1, short", record(b"0x1", 1, struct.pack("<II", 0x01, 0))),
    ("version 2 with its name", record(b"", 2, struct.pack("<III", 0, 0x06, 0) + bytes(40)
                                       + b"n\0")),
    ("version 2 without its name", record(b"", 2, struct.pack("<III", 0, 0x03, 0) + bytes(40))),
    ("version 0xFFFF in binary", record(b"", 0xFFFF, struct.pack("<I", 0x01))),
    ("unknown version", record(b"", 9, struct.pack("<II", 0x11, 0x01) + CREATE_TIME)),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    samba_test.EXE = os.path.abspath(ap.parse_args().exe)
    return samba_test.with_server("the DOS record test", (), check_rows)


def check_rows(server):
    failed = 0
    share = server.shares["acl"]
    names = [f"r{i}.lnk" for i in range(len(ROWS))]

    def seen():  # the attributes smbd shows for each, through SMB
        out = server.client("acl", "; ".join(f'allinfo "{n}"' for n in names))
        return [int(line.rsplit("(", 1)[1].rstrip(")"), 16)
                for line in out.splitlines() if line.startswith("attributes:")]

    for name, (_, data) in zip(names, ROWS):
        assert samba_test.tool([f"/F:{share}/{name}", "/A:C", "/T:C:\\app.exe"])[0] == 0
        os.setxattr(os.path.join(share, name), "user.DOSATTRIB", data)
    before = seen()
    codes = [samba_test.tool([f"/F:{share}/{n}", "/A:E", "/D:x"])[0] for n in names]
    after = seen()
    for i, (what, data) in enumerate(ROWS):
        now = os.getxattr(os.path.join(share, names[i]), "user.DOSATTRIB")
        saved = codes[i] == 0 and before[i] != NORMAL  # and the record rewritten
        problems = [
            f"Edit gave {codes[i]}" * (codes[i] != (5 if before[i] & READ_ONLY else 0)),
            f"then Samba saw {after[i]:#x}" * (saved and after[i] != before[i] | ARCHIVE),
            "the record changed" * (not saved and now != data),
            "a field it keeps changed" * (saved and any(
                kept in data and kept not in now for kept in (CREATE_TIME, TAIL)))]
        problems = [p for p in problems if p]
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'PASS'} {what}: Samba sees {before[i]:#x}, "
              f"Edit {codes[i]}" + "".join("; " + p for p in problems))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
