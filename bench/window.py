#!/usr/bin/env python3
"""The last windows of a local save: how long before a save puts its link
in place it last looked at what it replaces, timed from the calls
themselves by bench/window_shim.c.

    window.py --exe build/linux/shortcut/shortcut --shim window_shim.so [--runs N]

Each way a save goes (a new file exchanged with the link; the link written
in place, as for a link with a second name) is run N times, once as it
comes and once with the link held open by this script, so that no lease
can be had ("no lease").  For each it prints the median and the largest of:
  - bytes: from the end of the last read that compared the link's bytes
    to the exchange (renameat2 RENAME_EXCHANGE) or the first write into
    the link;
  - rights: from the end of the last call that copied or read the link's
    owner, mode or extended attributes to that moment;
  - lease: from the last look at the lease (F_GETLEASE) to that moment;
    a writer who opens the link in it waits at his open until the save is
    done, so nothing of his is overwritten;
  - exchange to its check: from the exchange's start to the look at the
    lease and the rights that follows it, which undoes the exchange for a
    writer held at his open or a change of rights that landed meanwhile.
Not a test: figures only.
"""

import argparse
import os
import statistics
import subprocess
import tempfile

F_SETLEASE, F_GETLEASE = 1024, 1025
RENAME_EXCHANGE = 2
RIGHTS = {"fchmod", "fsetxattr", "fgetxattr", "flistxattr", "getxattr", "listxattr"}


def calls(log):
    with open(log) as f:
        for line in f:
            name, fd, arg, begin, end = line.split()
            yield name, int(fd), int(arg), int(begin), int(end)


def windows(log):
    """The windows of one save, in µs, by name; {} where it put nothing in place."""
    cs = list(calls(log))
    truncated = {fd for name, fd, *_ in cs if name == "ftruncate"}
    at = None
    for i, (name, fd, arg, *_ ) in enumerate(cs):
        if (name == "renameat2" and arg & RENAME_EXCHANGE) or (name == "pwrite" and fd in truncated):
            at = i
            break
    if at is None:
        return {}
    start, end = cs[at][3], cs[at][4]

    def last_before(match):
        ends = [c[4] for c in cs[:at] if match(c)]
        return (start - max(ends)) / 1000 if ends else None

    w = {"bytes": last_before(lambda c: c[0] == "pread"),
         "rights": last_before(lambda c: c[0] in RIGHTS),
         "lease": last_before(lambda c: c[0] == "fcntl" and c[2] == F_GETLEASE)}
    if cs[at][0] == "renameat2":  # up to the lease's end, where there is one
        after = []
        for c in cs[at + 1:]:
            if c[0] == "fcntl" and c[2] == F_SETLEASE:
                break
            if c[0] in RIGHTS or (c[0] == "fcntl" and c[2] == F_GETLEASE):
                after.append(c[4])
        w["exchange to its check"] = (max(after) - start) / 1000 if after else None
    return {k: v for k, v in w.items() if v is not None}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--shim", required=True)
    ap.add_argument("--runs", type=int, default=300)
    args = ap.parse_args()
    exe, shim = os.path.abspath(args.exe), os.path.abspath(args.shim)
    with tempfile.TemporaryDirectory(prefix="window-") as d:
        log = os.path.join(d, "log")
        env = dict(os.environ, LD_PRELOAD=shim, WINDOW_LOG=log)
        link = os.path.join(d, "app.lnk")
        subprocess.run([exe, "/F:" + link, "/A:C", "/T:C:\\Zelvo\\app.exe"], check=True,
                       stdout=subprocess.DEVNULL)
        print(f"{'':44}{'median':>10}{'max':>10}   (µs, {args.runs} saves each)")
        for way in ("exchanged", "in place"):
            if way == "in place":
                os.link(link, os.path.join(d, "second"))
            for held in (False, True):
                got = {}
                for i in range(args.runs):
                    fd = os.open(link, os.O_RDONLY) if held else None
                    subprocess.run([exe, "/F:" + link, "/A:E", f"/D:{i}"], env=env,
                                   stdout=subprocess.DEVNULL, check=True)
                    if fd is not None:
                        os.close(fd)
                    for k, v in windows(log).items():
                        got.setdefault(k, []).append(v)
                label = f"{way}{', no lease' if held else ''}"
                for k, v in got.items():
                    print(f"{label + ': ' + k:44}{statistics.median(v):>10.1f}{max(v):>10.1f}")


if __name__ == "__main__":
    main()
