#!/usr/bin/env python3
"""Saves under faults: after each one the old link or the new one is there,
whole (Query reads it), and nothing else is left in its folder.

    fault_test.py --exe build/linux/shortcut/shortcut

Cases that need root (devices, another owner, mounts) are skipped with a
message where the test cannot have it.
"""

import argparse
import os
import random
import signal
import stat
import subprocess
import sys
import tempfile
import time

EXE = None
ROOT = os.geteuid() == 0
NOBODY = 65534


class Skip(Exception):
    pass


def run(folder, *args, user=None, timeout=10):
    kw = {}
    if user is not None:
        kw = dict(user=user, group=user, extra_groups=[])
    p = subprocess.run([EXE, *args], cwd=folder, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=timeout, **kw)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def fields(folder, name):
    """The link's fields as Query gives them; fails unless it is whole."""
    code, out = run(folder, "/F:" + name, "/A:Q")
    assert code == 0, f"{name} cannot be read ({code}): {out}"
    return dict(l.split("=", 1) for l in out.splitlines() if "=" in l)


def entries(folder):
    return sorted(os.listdir(folder))


def make(folder, name, description):
    code, out = run(folder, "/F:" + name, "/A:C", "/T:C:\\Zelvo\\app.exe",
                    "/D:" + description)
    assert code == 0, out


def expect(folder, name, code, *args, description="old", user=None):
    """Runs one command on a link whose description is "old"; it must end
    with code, leave the link with the given description and nothing else."""
    before = entries(folder)
    got, out = run(folder, "/F:" + name, *args, user=user)
    assert got == code, f"{args}: exit {got}, expected {code}: {out}"
    assert entries(folder) == before, f"{args}: left {entries(folder)}"
    assert fields(folder, name)["Description"] == description


# ---------------------------------------------------------------- the cases

def special_files(d):
    os.mkfifo(os.path.join(d, "pipe.lnk"))
    os.symlink("/dev/null", os.path.join(d, "null.lnk"))
    names = ["pipe.lnk", "null.lnk"]
    if ROOT:
        os.mknod(os.path.join(d, "zero.lnk"), 0o644 | stat.S_IFCHR, os.makedev(1, 5))
        names.append("zero.lnk")
    before = entries(d)
    for name in names:
        kind = stat.S_IFMT(os.stat(os.path.join(d, name)).st_mode)
        for args in (["/A:Q"], ["/A:E", "/D:x"], ["/A:C", "/T:x.exe"]):
            code, out = run(d, "/F:" + name, *args, timeout=5)
            assert code == 222, f"{name} {args}: {code} {out}"
        assert stat.S_IFMT(os.stat(os.path.join(d, name)).st_mode) == kind, name
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
    assert entries(d) == before
    if not ROOT:
        return "a pipe and /dev/null; a device node of its own needs root"


def symlink(d):
    os.mkdir(os.path.join(d, "real"))
    make(os.path.join(d, "real"), "app.lnk", "old")
    os.symlink("real/app.lnk", os.path.join(d, "app.lnk"))
    expect(d, "app.lnk", 0, "/A:E", "/D:new", description="new")
    assert os.path.islink(os.path.join(d, "app.lnk"))
    assert fields(os.path.join(d, "real"), "app.lnk")["Description"] == "new"
    assert entries(os.path.join(d, "real")) == ["app.lnk"]


def read_only(d):
    make(d, "ro.lnk", "old")
    os.chmod(os.path.join(d, "ro.lnk"), 0o444)
    expect(d, "ro.lnk", 5, "/A:E", "/D:new")
    expect(d, "ro.lnk", 5, "/A:C", "/D:new")


def read_only_folder(d):
    make(d, "app.lnk", "old")
    user = None
    if ROOT:  # root writes any folder; the test runs as nobody
        os.chown(d, NOBODY, NOBODY)
        os.chown(os.path.join(d, "app.lnk"), NOBODY, NOBODY)
        user = NOBODY
    os.chmod(d, 0o555)
    try:
        expect(d, "app.lnk", 5, "/A:E", "/D:new", user=user)
        got, _ = run(d, "/F:new.lnk", "/A:C", user=user)
        assert got == 5 and entries(d) == ["app.lnk"]
    finally:
        os.chmod(d, 0o755)


def foreign_owner(d):
    if not ROOT:
        raise Skip("giving a file to another user needs root")
    make(d, "theirs.lnk", "old")
    path = os.path.join(d, "theirs.lnk")
    os.chown(path, NOBODY, NOBODY)
    os.chmod(path, 0o600)
    expect(d, "theirs.lnk", 0, "/A:E", "/D:new", description="new")
    st = os.stat(path)
    assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (NOBODY, NOBODY, 0o600)
    # Its owner can still read it.
    assert run(d, "/F:theirs.lnk", "/A:Q", user=NOBODY)[0] == 0


def mounted(d, options):
    if not ROOT:
        raise Skip("mounting a file system needs root")
    m = os.path.join(d, "mnt")
    os.mkdir(m)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", m],
                      stderr=subprocess.DEVNULL).returncode != 0:
        raise Skip("this machine allows no mounts")
    return m


def unmount(m):
    subprocess.run(["umount", m], check=True)


def full_file_system(d):
    m = mounted(d, "size=64k")
    try:
        make(m, "app.lnk", "old")
        fd = os.open(os.path.join(m, "filler"), os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"\0" * 4096) > 0:
                pass
        except OSError:
            pass
        os.close(fd)
        expect(m, "app.lnk", 112, "/A:E", "/D:new")
        got, _ = run(m, "/F:new.lnk", "/A:C")
        assert got == 112 and entries(m) == ["app.lnk", "filler"]
    finally:
        unmount(m)


def read_only_mount(d):
    m = mounted(d, "size=64k")
    try:
        make(m, "app.lnk", "old")
        subprocess.run(["mount", "-o", "remount,ro", m], check=True)
        expect(m, "app.lnk", 19, "/A:E", "/D:new")
    finally:
        unmount(m)


def kill_during_saves(d, rounds=300):
    """Saves killed at random moments: the link is always whole, old or
    new; a save killed between naming its new file and putting it in place
    leaves a whole link under a hidden temporary name, which no save takes
    for the link."""
    make(d, "app.lnk", "0")
    # Kills spread over the time an edit takes with this build.
    start = time.monotonic()
    for _ in range(5):
        run(d, "/F:app.lnk", "/A:E", "/D:0")
    span = (time.monotonic() - start) / 5 * 1.2
    leftovers = saved = 0
    for i in range(1, rounds + 1):
        p = subprocess.Popen([EXE, "/F:app.lnk", "/A:E", f"/D:{i}"], cwd=d,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0, span))
        p.send_signal(signal.SIGKILL)
        p.wait()
        now = fields(d, "app.lnk")["Description"]
        assert now in (str(i - 1), str(i)), now
        saved += now == str(i)
        for extra in (n for n in entries(d) if n != "app.lnk"):
            leftovers += 1
            assert extra.startswith(".lnk-") and extra.endswith(".tmp"), extra
            assert fields(d, extra)["Description"] in (str(i - 1), str(i))
            os.unlink(os.path.join(d, extra))
        make(d, "app.lnk", str(i))  # the next round starts from i
        assert entries(d) == ["app.lnk"], entries(d)
    return (f"{rounds} saves killed, {saved} after their rename; {leftovers} left "
            "a whole link under a temporary name")


def concurrent_editors(d, rounds=150):
    """Editors of one link at once, each changing its own field, and a
    reader between them: every read finds the link whole, and an edit
    either saves or, where another one saved since it read the link, is
    refused (32) rather than undo that save."""
    make(d, "app.lnk", "old")
    switches = {"D": "Description", "P": "Arguments", "W": "WorkingDirectory",
                "I": "IconLocation"}
    editors = [subprocess.Popen(
        ["sh", "-c", f'for i in $(seq {rounds}); do "$0" /F:app.lnk /A:E "/{sw}:$i" '
                     '>/dev/null; c=$?; [ $c = 0 ] && echo saved; '
                     '[ $c = 0 ] || [ $c = 32 ] || exit 1; done', EXE], cwd=d,
        stdout=subprocess.PIPE, text=True)
        for sw in switches]
    reads = 0
    while any(e.poll() is None for e in editors):
        fields(d, "app.lnk")
        reads += 1
    saves = sum(e.stdout.read().count("saved") for e in editors)
    assert all(e.returncode == 0 for e in editors), "an edit failed otherwise"
    assert entries(d) == ["app.lnk"], entries(d)
    assert os.stat(os.path.join(d, "app.lnk")).st_nlink == 1
    f = fields(d, "app.lnk")
    assert saves > 0 and all(f[key] for key in ("Description", "Arguments")), f
    return (f"{len(editors)} x {rounds} edits at once, {saves} saved, the rest refused; "
            f"{reads} reads between them, each whole")


CASES = [special_files, symlink, read_only, read_only_folder, foreign_owner,
         full_file_system, read_only_mount, kill_during_saves, concurrent_editors]


def main():
    global EXE
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    EXE = os.path.abspath(ap.parse_args().exe)
    failed = 0
    for case in CASES:
        with tempfile.TemporaryDirectory(prefix="fault-") as d:
            os.chmod(d, 0o755)
            try:
                note = case(d)
                print(f"PASS {case.__name__}" + (f": {note}" if note else ""))
            except Skip as e:
                print(f"SKIP {case.__name__}: {e}")
            except Exception as e:  # an assertion, or a hang
                failed += 1
                print(f"FAIL {case.__name__}: {type(e).__name__}: {e}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
