#!/usr/bin/env python3
"""Links on a real Samba share: every user who may write a link can save
it, and Windows clients then see what Windows would show them.

    samba_test.py --exe build/linux/shortcut/shortcut --shim PATH/libsmb_port_shim.so

Starts its own smbd on 127.0.0.1, on a free port of its own, with a private
configuration in a temporary folder, and stops it and every process it
started, by their PIDs.  Sets links up through SMB (smbclient, smbcacls):
an NT ACL, DOS attributes, a stream; saves them with the tool, locally, as
root, as their owner, as a member of their group and as a user an ACL entry
lets write; and checks each through SMB again.  Needs root and Debian's
samba, smbclient and samba-testsuite; without them it says why in one line
and exits with 77 (skipped).
"""

import argparse
import ctypes
import fcntl
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from query_report import read_report  # noqa: E402

SKIPPED = 77
PASSWORD = "zelvo-test"
OWNER, MEMBER, CHANGER, GROUP = 2001, 2002, 2003, 3000  # no accounts needed
SAVERS = [  # who, uid, gid, supplementary groups
    ("root", 0, 0, []),
    ("the owner", OWNER, GROUP, []),
    ("a group member", MEMBER, MEMBER, [GROUP]),
    ("a user granted Change", CHANGER, CHANGER, []),
]
TIMEOUT = 20  # every client call
PR_SET_CHILD_SUBREAPER = 36
EXE = SHIM = None


class Server:
    """smbd with two shares: "acl", which keeps NT ACLs, DOS attributes and
    streams in extended attributes and gives clients' oplocks to the kernel
    as leases; and "plain", which keeps no NT ACL."""

    def __init__(self, top):
        self.top = top
        self.conf = os.path.join(top, "smb.conf")
        self.client_conf = os.path.join(top, "client.conf")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.shares = {n: os.path.join(top, n) for n in ("acl", "plain")}
        for d in ("run", "lock", "state", "cache", "private", "log", *self.shares):
            os.mkdir(os.path.join(top, d))
        for path in self.shares.values():
            os.chmod(path, 0o777)  # room for the copies saves keep
        at = lambda d: os.path.join(top, d)  # noqa: E731
        with open(self.conf, "w") as f:
            f.write(f"""[global]
server role = standalone server
netbios name = ZELVOTEST
interfaces = 127.0.0.1
bind interfaces only = yes
smb ports = {self.port}
disable netbios = yes
server min protocol = SMB2
pid directory = {at("run")}
lock directory = {at("lock")}
state directory = {at("state")}
cache directory = {at("cache")}
private dir = {at("private")}
ncalrpc dir = {at("run")}/ncalrpc
log file = {at("log")}/%m.log
passdb backend = tdbsam:{at("private")}/passdb.tdb
load printers = no
printcap name = /dev/null
disable spoolss = yes
[acl]
path = {self.shares["acl"]}
read only = no
vfs objects = acl_xattr streams_xattr
store dos attributes = yes
kernel oplocks = yes
[plain]
path = {self.shares["plain"]}
read only = no
vfs objects = streams_xattr
""")
        with open(self.client_conf, "w") as f:
            f.write("[global]\nclient min protocol = SMB2\n")
        self.smbd = None

    def __enter__(self):
        # Helpers that smbd leaves become this process's children, to be
        # reaped here rather than left to whoever is the system's reaper.
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        subprocess.run(["smbpasswd", "-c", self.conf, "-s", "-a", "root"], check=True,
                       input=f"{PASSWORD}\n{PASSWORD}\n", text=True, timeout=TIMEOUT,
                       stdout=subprocess.DEVNULL)
        # A session of its own: what smbd signals as its group is its own.
        self.smbd = subprocess.Popen(["smbd", "-s", self.conf, "--foreground",
                                      "--no-process-group"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + TIMEOUT
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if time.monotonic() > deadline or self.smbd.poll() is not None:
                    raise RuntimeError("smbd did not start")
                time.sleep(0.1)

    def __exit__(self, *exc):
        family = descendants(self.smbd.pid)
        for pid in [self.smbd.pid, *family]:
            kill(pid, signal.SIGTERM)
        try:
            self.smbd.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        for pid in [self.smbd.pid, *family, *descendants(self.smbd.pid)]:
            kill(pid, signal.SIGKILL)
        self.smbd.wait()
        deadline = time.monotonic() + 10
        while family and time.monotonic() < deadline:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid in family:
                family.remove(pid)
            elif pid == 0:
                time.sleep(0.05)

    def client(self, share, command):
        """smbclient's commands, as root; their output."""
        p = subprocess.run(["smbclient", "-s", self.client_conf, "-p", str(self.port),
                            "-U", f"root%{PASSWORD}", f"//127.0.0.1/{share}", "-c", command],
                           capture_output=True, text=True, timeout=TIMEOUT)
        assert p.returncode == 0 and "NT_STATUS" not in p.stdout, (command, p.stdout, p.stderr)
        return p.stdout

    def acl(self, share, name, *change):
        """The NT ACL as smbcacls shows it to a Windows client, or changes it."""
        env = dict(os.environ, LD_PRELOAD=SHIM, SMB_TEST_PORT=str(self.port))
        p = subprocess.run(["smbcacls", "-s", self.client_conf, "-U", f"root%{PASSWORD}",
                            "--numeric", f"//127.0.0.1/{share}", name, *change],
                           capture_output=True, text=True, timeout=TIMEOUT, env=env)
        assert p.returncode == 0, (change, p.stdout, p.stderr)
        return p.stdout

    def info(self, share, name):
        """What allinfo shows: create time, attribute letters, streams."""
        lines = self.client(share, f'allinfo "{name}"').splitlines()
        pick = lambda key: [l.split(":", 1)[1].strip() for l in lines if l.startswith(key)]  # noqa
        return {"create": pick("create_time"), "attributes": pick("attributes")[0].split()[0],
                "streams": [s for s in pick("stream") if not s.startswith("[::$DATA]")]}

    def get(self, share, name):
        with tempfile.NamedTemporaryFile() as f:
            self.client(share, f'get "{name}" {f.name}')
            return open(f.name, "rb").read()


def descendants(pid):
    """Every process pid started, and those they started."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                pass
    found, todo = [], [pid]
    while todo:
        parent = todo.pop()
        children = [c for c, p in parents.items() if p == parent]
        found += children
        todo += children
    return found


def kill(pid, sig):
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


def tool(args, uid=0, gid=0, groups=(), cwd=None):
    p = subprocess.run([EXE, *args], capture_output=True, text=True, timeout=TIMEOUT, cwd=cwd,
                       user=uid, group=gid, extra_groups=list(groups))
    return p.returncode, p.stdout


def description(data):
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "x.lnk"), "wb") as f:
            f.write(data)
        code, out = tool(["/F:x.lnk", "/A:Q"], cwd=d)
        assert code == 0, out
        return read_report(out)["Description"]


def windows_link(server, name):
    """A link as a Windows client leaves it on the "acl" share: put there,
    given a stream, hidden, with the archive bit cleared, owned by OWNER and
    GROUP, with an ACL that lets CHANGER change it and everyone read it."""
    with tempfile.TemporaryDirectory() as d:
        assert tool([f"/F:{d}/x.lnk", "/A:C", "/T:C:\\Zelvo\\dial.exe", "/D:old"])[0] == 0
        with open(os.path.join(d, "zone"), "w") as f:
            f.write("[ZoneTransfer]\r\nZoneId=3\r\n")
        server.client("acl", f'put {d}/x.lnk "{name}"; put {d}/zone "{name}:Zone.Identifier"; '
                             f'setmode "{name}" +h-a')
    server.acl("acl", name, "-C", f"S-1-22-1-{OWNER}")
    server.acl("acl", name, "-G", f"S-1-22-2-{GROUP}")
    server.acl("acl", name, "--set", ",".join(
        f"ACL:{sid}:ALLOWED/0x0/{rights}" for sid, rights in
        [(f"S-1-22-1-{OWNER}", "FULL"), (f"S-1-22-2-{GROUP}", "CHANGE"),
         (f"S-1-22-1-{CHANGER}", "CHANGE"), ("S-1-1-0", "READ")]))


# ---------------------------------------------------------------- the cases

def each_user_saves(server):
    """Root, the owner, a group member and a user an ACL entry lets write each
    save the link; Windows then sees the same owner, group and ACL, the same
    create time and stream, and the archive bit set as a write through SMB
    sets it."""
    windows_link(server, "app.lnk")
    path = os.path.join(server.shares["acl"], "app.lnk")
    acl, info = server.acl("acl", "app.lnk"), server.info("acl", "app.lnk")
    stream = server.get("acl", "app.lnk:Zone.Identifier")
    assert info["attributes"] == "H", info
    for who, uid, gid, groups in SAVERS:
        code, out = tool([f"/F:{path}", "/A:E", f"/D:by {who}"], uid, gid, groups)
        assert code == 0, (who, out)
        now = server.info("acl", "app.lnk")
        assert now["attributes"] == "HA" and now["create"] == info["create"], (who, now)
        assert now["streams"] == info["streams"], (who, now)
        assert server.acl("acl", "app.lnk") == acl, (who, server.acl("acl", "app.lnk"))
        assert server.get("acl", "app.lnk:Zone.Identifier") == stream, who
        assert description(server.get("acl", "app.lnk")) == f"by {who}", who
        server.client("acl", 'setmode "app.lnk" -a')
    assert sorted(os.listdir(server.shares["acl"])) == ["app.lnk"]
    return "owner " + acl.split("OWNER:")[1].split()[0] + ", ACL and stream kept"


def read_only(server):
    """A link a Windows user made read-only is refused to everyone, root
    included, and stays as it was, read-only."""
    windows_link(server, "ro.lnk")
    server.client("acl", 'setmode "ro.lnk" +r')
    path = os.path.join(server.shares["acl"], "ro.lnk")
    before = server.get("acl", "ro.lnk")
    for who, uid, gid, groups in SAVERS:
        for args in (["/A:E", "/D:x"], ["/A:C", "/T:C:\\x.exe"]):
            code, out = tool([f"/F:{path}", *args], uid, gid, groups)
            assert code == 5, (who, args, code, out)
    assert server.get("acl", "ro.lnk") == before
    assert server.info("acl", "ro.lnk")["attributes"] == "RH"


def group_member_on_plain_share(server):
    """On a share without NT ACLs, a group member's save leaves the link its
    owner's."""
    path = os.path.join(server.shares["plain"], "team.lnk")
    assert tool([f"/F:{path}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    os.chown(path, OWNER, GROUP)
    os.chmod(path, 0o664)
    code, out = tool([f"/F:{path}", "/A:E", "/D:member"], MEMBER, MEMBER, [GROUP])
    assert code == 0, out
    assert (os.stat(path).st_uid, os.stat(path).st_gid) == (OWNER, GROUP)
    assert f"OWNER:S-1-22-1-{OWNER}" in server.acl("plain", "team.lnk")
    assert description(server.get("plain", "team.lnk")) == "member"


LEASE_HOLDER = """
import fcntl, signal, sys, time
signal.signal(signal.SIGIO, signal.SIG_IGN)  # told to let go; does not
fd = open(sys.argv[1], "rb")
fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_WRLCK)
print("held", flush=True)
time.sleep(60)
"""


def held_links(server):
    """A link a client holds is waited for: a client with a batch oplock
    (smbtorture, whose oplocks smbd gives the kernel as leases) lets go when
    told, and the save goes on; a holder that does not let go gives 32 after
    a bounded wait, never 5."""
    env = dict(os.environ, LD_PRELOAD=SHIM, SMB_TEST_PORT=str(server.port))
    kept = os.path.join(server.shares["acl"], "kept.lnk")
    assert tool([f"/F:{kept}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    rows = [  # the holder, what it prints once it holds, the file, the save, its code
        (["smbtorture", "-s", server.client_conf, "//127.0.0.1/acl", "-U", f"root%{PASSWORD}",
          "smb2.hold-oplock"], "Waiting for oplock events",
         os.path.join(server.shares["acl"], "oplock_test", "shared_close"),
         ["/A:C", "/T:C:\\Zelvo\\dial.exe"], 0),
        ([sys.executable, "-c", LEASE_HOLDER, kept], "held", kept, ["/A:E", "/D:x"], 32),
    ]
    waits = []
    for command, ready, held, args, expected in rows:
        holder = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
        try:
            for line in holder.stdout:
                if ready in line:
                    break
            assert leases(held) == 1, f"no lease on {held}"
            start = time.monotonic()
            code, out = tool([f"/F:{held}", *args])
            waits.append(time.monotonic() - start)
            assert code == expected, out
        finally:
            holder.kill()
            holder.wait()
    client_wait, kept_wait = waits
    return (f"a client's oplock broken and the link saved in {client_wait:.2f} s; "
            f"a holder that keeps it: 32 after {kept_wait:.2f} s")


def leases(path):
    inode = os.stat(path).st_ino
    with open("/proc/locks") as f:
        return sum(1 for line in f if "LEASE" in line and line.split()[5].endswith(f":{inode}"))


CASES = [each_user_saves, read_only, group_member_on_plain_share, held_links]


def main():
    global EXE, SHIM
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--shim", required=True)
    args = ap.parse_args()
    EXE, SHIM = os.path.abspath(args.exe), os.path.abspath(args.shim)
    missing = [p for p in ("smbd", "smbclient", "smbcacls", "smbpasswd", "smbtorture")
               if shutil.which(p) is None]
    if os.geteuid() != 0 or missing:
        print("SKIP the Samba test: " + ("it needs root" if os.geteuid() != 0 else
                                         "missing " + ", ".join(missing)))
        return SKIPPED
    failed = 0
    with tempfile.TemporaryDirectory(prefix="samba-") as top:
        os.chmod(top, 0o755)
        with Server(top) as server:
            print(f"smbd {subprocess.run(['smbd', '--version'], capture_output=True, text=True).stdout.split()[-1]}"
                  f" on 127.0.0.1:{server.port}")
            for case in CASES:
                try:
                    note = case(server)
                    print(f"PASS {case.__name__}" + (f": {note}" if note else ""))
                except Exception as e:  # an assertion, or a hang
                    failed += 1
                    print(f"FAIL {case.__name__}: {type(e).__name__}: {e}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
