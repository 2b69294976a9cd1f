#!/usr/bin/env python3
"""Links written by shortcut, read back by lnkinfo (liblnk-utils).

Each case creates a link with the built tool and checks that lnkinfo finds
the same target, arguments, working directory, icon location and index,
and description.  With --qemu a program built for another processor runs
through that qemu-user command: a link it writes on a big-endian machine
must read the same here.  Prints 'N passed, N failed'.
"""

import argparse
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

CASES = [
    # (target, arguments, working directory, icon, index, description)
    ("rasphone.exe", "-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo", "",
     "c:\\windows\\system32\\zelvo.ico", 0, ""),
    ("C:\\Program Files\\Zelvo\\dial.exe", "-x 1", "C:\\Temp", "C:\\icons\\a.ico", 3,
     "Dial Zelvo"),
    ("%WINDIR%\\notepad.exe", "", "%HOMEDRIVE%%HOMEPATH%", "%WINDIR%\\notepad.exe", 0,
     "Notepad"),
    ("\\\\server\\share\\dir\\file.txt", "", "\\\\server\\share", "", 0, "on a share"),
    ("C:\\Données\\café.exe", "é ü ß", "C:\\Données", "", 0, "Café"),
    ("D:\\日本語\\説明.txt", "", "", "", 0, "説明"),
]


def lnkinfo_fields(path):
    out = subprocess.run(["lnkinfo", path], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT).stdout.decode("utf-8", "replace")
    fields = {}
    section = None
    for line in out.split("\n"):
        if line and not line.startswith("\t"):
            section = line
            continue
        if section != "Link information:" or not line.startswith("\t") or line.startswith("\t\t"):
            continue
        key, sep, value = line[1:].partition(": ")
        if sep:
            fields[key.strip()] = value
    return fields


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--qemu", default="")
    opts = ap.parse_args()
    if shutil.which("lnkinfo") is None:
        print("lnkinfo is not installed (Debian package liblnk-utils)")
        print("0 passed, 1 failed")
        return 1
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="lnkinfo-") as work:
        for n, (target, args, wd, icon, index, desc) in enumerate(CASES):
            name = os.path.join(work, f"case{n}.lnk")
            cmd = shlex.split(opts.qemu) + [os.path.abspath(opts.exe), "/F:" + name, "/A:C", "/T:" + target,
                   "/P:" + args, "/W:" + wd, "/D:" + desc]
            if icon:
                cmd.append(f"/I:{icon},{index}")
            proc = subprocess.run(cmd, stdout=subprocess.PIPE)
            if proc.returncode != 0:
                print(f"FAIL case {n}: shortcut exited {proc.returncode}")
                failed += 1
                continue
            f = lnkinfo_fields(name)
            target_key = ("Environment variables location" if "Environment variables location" in f
                          else "Local path" if "Local path" in f else "Network path")
            expected = {
                target_key: target,
                "Command line arguments": args,
                "Working directory": wd,
                "Icon location": icon,
                "Icon index": str(index),
                "Description": desc,
            }
            problems = [f"{k}: {f.get(k, '')!r} != {v!r}" for k, v in expected.items()
                        if f.get(k, "") != v]
            if problems:
                print(f"FAIL case {n} ({target}): " + "; ".join(problems))
                failed += 1
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
