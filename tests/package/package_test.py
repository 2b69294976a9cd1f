#!/usr/bin/env python3
"""The Debian package of the Linux build, built, unpacked and run.

Builds the package with `cpack -G DEB` from the build folder into a
temporary folder and checks that
- its Architecture is the one of the program in it;
- its Depends names only the C library, with no upper bound and a release
  no later than the oldest one the package is for (glibc 2.35, Ubuntu
  22.04), and the program asks for no newer symbol version of it;
- lintian, where it is installed, finds no error and no warning in it;
- it holds the program, the manual page, the copyright file and the
  changelog where a Debian system looks for them, and nothing else;
- the manual page renders without a single groff warning;
- the program needs no shared library but the C library's;
- the unpacked program creates a link and reads it back, also with a code
  page that the C library's iconv converts with the system's modules.
A cross build's package (arm64, armhf, ...) is checked the same way, its
program run through the qemu-user command given by --qemu, with the
target's C library that multiarch installed.
Prints 'N passed, N failed'.
"""

import argparse
import glob
import gzip
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

# Depends may name these, alone or as (>= VERSION) with VERSION no later
# than the oldest C library the package installs on.
ALLOWED_DEPENDS = {"libc6"}
OLDEST_LIBC = (2, 35)
ALLOWED_NEEDED = {"libc.so.6"}
# The Debian architecture of a program, by its ELF class and machine as
# readelf names them (and, for 32-bit ARM, its floating-point calling
# convention).
ARCHITECTURES = {
    ("ELF64", "Advanced Micro Devices X86-64"): "amd64",
    ("ELF32", "Intel 80386"): "i386",
    ("ELF64", "AArch64"): "arm64",
    ("ELF32", "ARM", "hard-float"): "armhf",
    ("ELF32", "ARM", "soft-float"): "armel",
    ("ELF64", "IBM S/390"): "s390x",
}
FILES = ["usr/bin/shortcut", "usr/share/man/man1/shortcut.1.gz",
         "usr/share/doc/shortcut/copyright", "usr/share/doc/shortcut/changelog.gz"]

LINK = "Zelvo ADSL.lnk"
CREATE = ["/F:" + LINK, "/A:C", "/T:rasphone.exe",
          "/P:-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo",
          "/I:c:\\windows\\system32\\zelvo.ico", "/H:1626", "/D:Dial Zelvo"]
REPORT = """
[Zelvo ADSL.lnk]
TargetPath=rasphone.exe
TargetPathExpanded=rasphone.exe
Arguments=-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo
ArgumentsExpanded=-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo
WorkingDirectory=
WorkingDirectoryExpanded=
RunStyle=1
IconLocation=c:\\windows\\system32\\zelvo.ico,0
IconLocationExpanded=c:\\windows\\system32\\zelvo.ico,0
HotKey=1626 (Ctrl+Alt+Z)
Description=Dial Zelvo

The command completed successfully.
"""


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def elf_architecture(exe):
    """The Debian architecture of the program, or what readelf says of it."""
    header = run(["readelf", "-h", exe]).stdout.decode(errors="replace")
    fields = dict(re.findall(r"^\s*(\w[\w ]*?):\s+(.*?)\s*$", header, re.M))
    key = (fields.get("Class"), fields.get("Machine"))
    if key[1] == "ARM":
        key += ("hard-float" if "hard-float" in fields.get("Flags", "") else "soft-float",)
    return ARCHITECTURES.get(key, f"{key}, unknown here")


def newest_glibc(exe):
    """The newest GLIBC_ symbol version the program asks for, as numbers."""
    symbols = run(["readelf", "--dyn-syms", "-W", exe]).stdout.decode(errors="replace")
    versions = {tuple(map(int, v.split("."))) for v in re.findall(r"@GLIBC_([\d.]+)", symbols)}
    return max(versions, default=None)


def depends_ok(relation):
    """One relation of Depends: an allowed package, at most (>= VERSION)."""
    m = re.fullmatch(r"([a-z0-9.+-]+)(?:\s*\(>=\s*(\d+)\.(\d+)[^)]*\))?", relation)
    return bool(m) and m[1] in ALLOWED_DEPENDS and (
        m[2] is None or (int(m[2]), int(m[3])) <= OLDEST_LIBC)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cpack", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--qemu", default="",
                    help="the qemu-user command that runs a cross build's program")
    opts = ap.parse_args()
    qemu = shlex.split(opts.qemu)
    if qemu and shutil.which(qemu[0]):
        qemu[0] = shutil.which(qemu[0])
    results = []

    def check(name, problem):
        results.append((name, problem))
        print(f"{'FAIL' if problem else 'ok  '} {name}" + (f": {problem}" if problem else ""))

    with tempfile.TemporaryDirectory(prefix="package-") as work:
        out = os.path.join(work, "out")
        built = run([opts.cpack, "-G", "DEB", "-B", out], cwd=opts.build_dir)
        debs = glob.glob(os.path.join(out, "*.deb"))
        if built.returncode != 0 or len(debs) != 1:
            check("cpack -G DEB", (built.stdout + built.stderr).decode(errors="replace"))
            print("0 passed, 1 failed")
            return 1
        deb = debs[0]

        depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.decode().strip()
        wrong = [d.strip() for d in re.split(r"[,|]", depends) if d.strip() and not
                 depends_ok(d.strip())]
        oldest = ".".join(map(str, OLDEST_LIBC))
        check(f"Depends: {depends or '(none)'}",
              f"not the C library from {oldest} on, without an upper bound: {wrong}"
              if wrong else "")

        # Shares need Samba's client library, which is loaded only then.
        recommends = run(["dpkg-deb", "-f", deb, "Recommends"]).stdout.decode().strip()
        check(f"Recommends: {recommends or '(none)'}",
              "" if recommends == "libsmbclient" else "not libsmbclient alone")

        if shutil.which("lintian"):
            lint = run(["lintian", "--fail-on", "error,warning", deb])
            found = lint.stdout.decode(errors="replace")
            found += lint.stderr.decode(errors="replace")
            check("lintian: no error and no warning",
                  "" if lint.returncode == 0 and not re.search(r"^[EW]:", found, re.M)
                  else f"exit status {lint.returncode}\n{found}")
        else:
            print("skip lintian: not installed")

        root = os.path.join(work, "root")
        unpacked = run(["dpkg-deb", "-x", deb, root])
        check("dpkg-deb -x", unpacked.stderr.decode(errors="replace"))
        missing = [f for f in FILES if not os.path.isfile(os.path.join(root, f))]
        # Nothing else, such as the test corpus, whose licences the copyright
        # file does not name.
        extra = sorted(os.path.relpath(os.path.join(d, f), root)
                       for d, _, files in os.walk(root) for f in files
                       if os.path.relpath(os.path.join(d, f), root) not in FILES)
        check("files in the package, and nothing else",
              f"missing {missing}, extra {extra}" if missing or extra else "")

        page = os.path.join(root, FILES[1])
        if os.path.isfile(page):
            with gzip.open(page) as f:
                lint = run(["groff", "-man", "-ww", "-z"], input=f.read())
            check("manual page: groff -man -ww -z",
                  (lint.stderr.decode(errors="replace") or
                   ("" if lint.returncode == 0 else f"exit status {lint.returncode}")))

        exe = os.path.join(root, FILES[0])
        architecture = run(["dpkg-deb", "-f", deb, "Architecture"]).stdout.decode().strip()
        built_for = elf_architecture(exe)
        check(f"Architecture: {architecture}",
              "" if architecture == built_for else f"the program is for {built_for}")
        newest = newest_glibc(exe)
        check(f"newest C library symbol version: {'.'.join(map(str, newest or ()))}",
              f"newer than {oldest}" if newest and newest > OLDEST_LIBC else "")

        dynamic = run(["readelf", "-d", exe]).stdout.decode()
        needed = set(re.findall(r"\(NEEDED\).*\[(.+?)\]", dynamic))
        check(f"shared libraries needed: {sorted(needed) or '(none)'}",
              "" if needed <= ALLOWED_NEEDED else "more than the C library")

        folder = os.path.join(work, "links")
        os.mkdir(folder)
        env = {"PATH": "/usr/bin:/bin"}
        created = run(qemu + [exe] + CREATE, cwd=folder, env=env)
        check("unpacked shortcut: Create",
              "" if created.returncode == 0 else f"exit status {created.returncode}")
        for codepage in ("", "1251"):
            queried = run(qemu + [exe, "/F:" + LINK, "/A:Q"], cwd=folder,
                          env=dict(env, SHORTCUT_CODEPAGE=codepage))
            report = queried.stdout.decode(errors="replace")
            check(f"unpacked shortcut: Query, SHORTCUT_CODEPAGE={codepage}",
                  "" if queried.returncode == 0 and report == REPORT
                  else f"exit status {queried.returncode}, report:\n{report}")

    failed = sum(1 for _, problem in results if problem)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
