#!/usr/bin/env python3
"""Links on a real Samba share: every user who may write a link can save it, and Windows
clients then see what Windows would show them.

    samba_test.py --exe build/linux/shortcut/shortcut --shim PATH/libsmb_port_shim.so

Runs its own smbd on a free port of 127.0.0.1 from a temporary folder, in a mount namespace
whose /etc/passwd and /etc/group name the test's users, and stops every process it started, by
PID.  Sets links up through SMB (an NT ACL, DOS attributes, a stream), saves them with the tool
locally and through SMB as root, their owner, a group member and a user an ACL entry lets write,
and checks each through SMB again.  Needs root and Debian's samba, smbclient, samba-testsuite
and libsmbclient; without them it says why in one line and exits with 77."""

import argparse
import contextlib
import ctypes
import ctypes.util
import os
import pathlib
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
USERS = {OWNER: "zowner", MEMBER: "zmember", CHANGER: "zchanger"}  # SMB users, in smbd's view
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
    """smbd with the shares "acl" (NT ACLs, DOS attributes and streams in xattrs, clients'
    oplocks given to the kernel as leases), "plain" (no NT ACL), "archive" (the archive bit in
    the owner's execute bit, no DOS attributes) and "tiny" (16 KiB, that smbd alone sees)."""

    def __init__(self, top):
        self.top = top
        self.client_conf = os.path.join(top, "client.conf")
        pathlib.Path(self.client_conf).write_text("[global]\nclient min protocol = SMB2\n")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = f"smb://127.0.0.1:{self.port}"
        self.env = dict(os.environ, LD_PRELOAD=SHIM, SMB_TEST_PORT=str(self.port))  # port shim
        self.shares = {n: os.path.join(top, n) for n in ("acl", "plain", "archive", "tiny")}
        passwd = "".join(f"{name}:x:{uid}:{GROUP if uid == OWNER else uid}::/nonexistent:"
                         f"/bin/false\n" for uid, name in USERS.items())
        group = f"zteam:x:{GROUP}:{USERS[MEMBER]}\n" + "".join(
            f"{name}:x:{uid}:\n" for uid, name in USERS.items() if uid != OWNER)
        smbd(top, "ZELVOTEST", "127.0.0.1", self.port, {
            "acl": "vfs objects = acl_xattr streams_xattr\nstore dos attributes = yes\n"
                   "kernel oplocks = yes",
            "plain": "vfs objects = streams_xattr",
            "archive": "store dos attributes = no\nmap archive = yes\ncreate mask = 0777",
            "tiny": ""}, dict.fromkeys(["root", *USERS.values()], PASSWORD), passwd, group,
            "server min protocol = SMB2", [f"-t tmpfs -o size=16k,mode=0777 tiny {top}/tiny"])

    def smbclient(self, share, command):
        return ["smbclient", "-s", self.client_conf, "-p", str(self.port),
                "-U", f"root%{PASSWORD}", f"//127.0.0.1/{share}", "-c", command]

    def client(self, share, command):
        """smbclient's commands, as root; their output."""
        out = run(*self.smbclient(share, command)).stdout
        assert "NT_STATUS" not in out, (command, out)
        return out

    def acl(self, share, name, *change):
        """The NT ACL as smbcacls shows it to a Windows client, or changes it."""
        return run("smbcacls", "-s", self.client_conf, "-U", f"root%{PASSWORD}", "--numeric",
                   f"//127.0.0.1/{share}", name, *change, env=self.env).stdout

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


def smbd(top, name, address, port, shares, passwords, passwd="", group="", extra="", mounts=()):
    """A stand-alone smbd on address:port, answering, with its state and shares (name: lines)
    under top and passwords by user, in a mount namespace where passwd's and group's lines are
    added to the machine's files and mounts (mount's arguments) are made."""
    at = lambda *p: os.path.join(top, *p)  # noqa: E731
    for d in ("run", "lock", "state", "cache", "private", "log", *shares):
        os.mkdir(at(d))
    for share in shares:
        os.chmod(at(share), 0o777)
    with open(at("smb.conf"), "w") as f:
        f.write(f"""[global]
server role = standalone server
netbios name = {name}
interfaces = {address}
bind interfaces only = yes
smb ports = {port}
disable netbios = yes
{extra}
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
""" + "".join(f"[{s}]\npath = {at(s)}\nread only = no\n{lines}\n" for s, lines in shares.items()))
    for base, lines in (("passwd", passwd), ("group", group)):
        with open(f"/etc/{base}") as f, open(at(base), "w") as out:
            out.write(f.read() + lines)
    mounts = [f"--bind {at('passwd')} /etc/passwd", f"--bind {at('group')} /etc/group", *mounts]
    inside = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
              " && ".join(f"mount {m}" for m in mounts) + ' && exec "$@"', "inside"]
    for user, password in passwords.items():
        run(*inside, "smbpasswd", "-c", at("smb.conf"), "-s", "-a", user,
            input=f"{password}\n{password}\n")
    start([*inside, "smbd", "-s", at("smb.conf"), "--foreground", "--no-process-group"],
          address, port)


def start(command, address, *ports):
    """command in a session of its own, once it answers on ports; stop_all ends what it leaves."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    p = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    deadline = time.monotonic() + 60
    for port in ports:
        while True:
            try:
                socket.create_connection((address, port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or p.poll() is not None:
                    raise RuntimeError(f"nothing answers on {address}:{port}")
                time.sleep(0.1)


def stop_all():
    """Every process this one started or was left, by PID: ended, and reaped."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in descendants(os.getpid()):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, sig)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                if os.waitpid(-1, os.WNOHANG)[0] == 0:
                    time.sleep(0.05)
            except ChildProcessError:
                return


def run_each(cases, arg):
    """Each case with arg, PASS or FAIL and its note; 1 where one failed."""
    failed = 0
    for case in cases:
        try:
            note = case(arg)
            print(f"PASS {case.__name__}" + (f": {note}" if note else ""))
        except Exception as e:  # an assertion, or a hang
            failed += 1
            print(f"FAIL {case.__name__}: {type(e).__name__}: {e}")
    return 1 if failed else 0


def descendants(pid):
    """Every process pid started, and those they started."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            with contextlib.suppress(OSError), open(f"/proc/{entry}/stat") as f:
                parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
    found, todo = [], [pid]
    while todo:
        parent = todo.pop()
        children = [c for c, p in parents.items() if p == parent]
        found += children
        todo += children
    return found


def run(*command, timeout=TIMEOUT, **options):
    """command, which must exit 0: its CompletedProcess, with text output."""
    p = subprocess.run(command, capture_output=True, text=True, timeout=timeout, **options)
    assert p.returncode == 0, (command, p.stdout, p.stderr)
    return p


def run_tool(args, env=None, prefix=(), **options):
    """The tool: its exit code, standard output and error, and seconds."""
    start = time.monotonic()
    p = subprocess.run([*prefix, EXE, *args], capture_output=True, text=True, timeout=TIMEOUT,
                       env=env, **options)
    return p.returncode, p.stdout, p.stderr, time.monotonic() - start


def tool(args, uid=0, gid=0, groups=(), cwd=None):
    return run_tool(args, cwd=cwd, user=uid, group=gid, extra_groups=list(groups))[:2]


def local_query(data):
    """What the tool's Query prints of a link's bytes, named x.lnk."""
    with tempfile.TemporaryDirectory() as d:
        pathlib.Path(d, "x.lnk").write_bytes(data)
        code, out = tool(["/F:x.lnk", "/A:Q"], cwd=d)
        assert code == 0, out
        return out


def description(data):
    return read_report(local_query(data))["Description"]


def windows_link(server, name):
    """A link as a Windows client leaves it on "acl": with a stream, hidden, the archive bit
    cleared, owned by OWNER and GROUP, CHANGER allowed to change it and everyone to read it."""
    with tempfile.TemporaryDirectory() as d:
        assert tool([f"/F:{d}/x.lnk", "/A:C", "/T:C:\\Zelvo\\dial.exe", "/D:old"])[0] == 0
        pathlib.Path(d, "zone").write_text("[ZoneTransfer]\r\nZoneId=3\r\n")
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
    """Root, the owner, a group member and a user an ACL entry lets write each save the link;
    Windows then sees the same owner, group and ACL, the same create time and stream, and the
    archive bit set as a write through SMB sets it."""
    windows_link(server, "app.lnk")
    path = os.path.join(server.shares["acl"], "app.lnk")
    attributes, before = state(server, "app.lnk")
    assert attributes == "H", attributes
    for who, uid, gid, groups in SAVERS:
        code, out = tool([f"/F:{path}", "/A:E", f"/D:by {who}"], uid, gid, groups)
        assert code == 0, (who, out)
        attributes, now = state(server, "app.lnk")
        assert attributes == "HA" and dict(now, inode=0) == dict(before, inode=0), (who, now)
        assert description(server.get("acl", "app.lnk")) == f"by {who}", who
        server.client("acl", 'setmode "app.lnk" -a')
    assert sorted(os.listdir(server.shares["acl"])) == ["app.lnk"]
    return "owner " + before["acl"].split("OWNER:")[1].split()[0] + ", ACL and stream kept"


def group_member_on_plain_share(server):
    """On a share without NT ACLs, a group member's save leaves the link its owner's."""
    path = os.path.join(server.shares["plain"], "team.lnk")
    assert tool([f"/F:{path}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    os.chown(path, OWNER, GROUP)
    os.chmod(path, 0o664)
    owner = server.acl("plain", "team.lnk").split("OWNER:")[1].split()[0]
    code, out = tool([f"/F:{path}", "/A:E", "/D:member"], MEMBER, MEMBER, [GROUP])
    assert code == 0, out
    assert (os.stat(path).st_uid, os.stat(path).st_gid) == (OWNER, GROUP)
    assert f"OWNER:{owner}" in server.acl("plain", "team.lnk")
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
    """A link a client holds is waited for: a client with a batch oplock (smbtorture; smbd gives
    the kernel its oplocks as leases) lets go when told, and the save goes on; a holder that
    does not let go gives 32 after a bounded wait, never 5."""
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
        holder = subprocess.Popen(command, env=server.env, stdout=subprocess.PIPE, cwd=server.top,
                                  stderr=subprocess.STDOUT, text=True)
        try:
            next((line for line in holder.stdout if ready in line), None)
            assert leases(held) == 1, f"no lease on {held}"
            start = time.monotonic()
            code, out = tool([f"/F:{held}", *args])
            waits.append(time.monotonic() - start)
            assert code == expected, out
        finally:
            holder.kill()
            holder.wait()
    return ("a client's oplock broken and the link saved in {:.2f} s; "
            "a holder that keeps it: 32 after {:.2f} s".format(*waits))


def leases(path):
    inode = os.stat(path).st_ino
    with open("/proc/locks") as f:
        return sum(1 for line in f if "LEASE" in line and line.split()[5].endswith(f":{inode}"))


# ---------------------------------------------------------------- through SMB

BOUND = 10  # seconds: every failure comes sooner (a silent server: the 5 s timeout)

HOLDER = """
import ctypes, os, sys
from ctypes import CFUNCTYPE, c_void_p, c_char_p, c_int, c_uint, c_size_t, c_ssize_t
url, user, password = (a.encode() for a in sys.argv[1:4])
lib = ctypes.CDLL("libsmbclient.so.0", use_errno=True)
for name in ("smbc_new_context", "smbc_init_context", "smbc_getFunctionOpen",
             "smbc_getFunctionWrite", "smbc_getFunctionClose"):
    getattr(lib, name).restype = c_void_p
AUTH = CFUNCTYPE(None, c_void_p, c_char_p, c_char_p, c_void_p, c_int, c_void_p, c_int,
                 c_void_p, c_int)
@AUTH
def auth(ctx, server, share, workgroup, wl, u, ul, p, pl):
    ctypes.memmove(u, user + b"\\0", len(user) + 1)
    ctypes.memmove(p, password + b"\\0", len(password) + 1)
ctx = c_void_p(lib.smbc_new_context())
lib.smbc_setFunctionAuthDataWithContext(ctx, auth)
lib.smbc_setOptionOpenShareMode(ctx, 2)  # SMBC_SHAREMODE_DENY_WRITE
assert lib.smbc_init_context(ctx)
open_ = CFUNCTYPE(c_void_p, c_void_p, c_char_p, c_int, c_uint, use_errno=True)(
    lib.smbc_getFunctionOpen(ctx))
write = CFUNCTYPE(c_ssize_t, c_void_p, c_void_p, c_char_p, c_size_t)(lib.smbc_getFunctionWrite(ctx))
close = CFUNCTYPE(c_int, c_void_p, c_void_p)(lib.smbc_getFunctionClose(ctx))
f = open_(ctx, url, os.O_RDWR, 0)
assert f, os.strerror(ctypes.get_errno())
print("held", flush=True)
data = sys.stdin.buffer.readline().rstrip(b"\\n")
assert write(ctx, f, data, len(data)) == len(data) and close(ctx, f) == 0
print("written", flush=True)
"""


@contextlib.contextmanager
def holding(server, name):
    """A client that has the file open for writing and shares it only for reading, as a Windows
    program holding a document does; what it yields writes through its handle and closes it."""
    p = subprocess.Popen([sys.executable, "-c", HOLDER, f"{server.url}/acl/{name}", "root",
                          PASSWORD], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def write(data):
        p.stdin.write(data + "\n")
        p.stdin.flush()
        assert p.stdout.readline().strip() == "written"
    try:
        assert p.stdout.readline().strip() == "held"
        yield write
    finally:
        p.kill()
        p.wait()


def credentials(where, user, password=PASSWORD, mode=0o600, owner=0, domain="ZELVOTEST"):
    """A credentials file in mount.cifs's format, in where's folder (password None: no line)."""
    path = os.path.join(where.top, f"credentials-{user}-{mode:o}-{owner}-{password!r}")
    pathlib.Path(path).write_text(f"username={user}\n" + (
        f"password = {password}\n" if password is not None else "") + f"domain={domain}\n")
    os.chown(path, owner, 0)
    os.chmod(path, mode)
    return path


def smb_tool(server, args, user="root", creds=None, prefix=(), home=None):
    """The tool, as root, reaching the share as user: its exit code, output and seconds.  Nothing
    goes to standard error, unless a user's smb.conf in home asks the library for its log."""
    env = dict(os.environ, SHORTCUT_SMB_CREDENTIALS=creds or credentials(server, user))
    if home:
        env["HOME"] = home
    code, out, err, seconds = run_tool(args, env, prefix)
    assert home or err == "", (args, err)
    return code, out, seconds


def state(server, name):
    """The link's attribute letters, and what else Windows sees of it but its contents (owner,
    group and ACL, create time, streams), with the server's inode."""
    info = server.info("acl", name)
    return info.pop("attributes"), dict(
        info, acl=server.acl("acl", name), stream=server.get("acl", f"{name}:Zone.Identifier"),
        inode=os.stat(os.path.join(server.shares["acl"], name)).st_ino)


def each_user_through_smb(server):
    """The owner, a group member and a user an ACL entry lets change the link each Create, Query
    and Edit it through SMB: the server keeps its file, owner, ACL, create time and stream, and
    sets the archive bit on each write."""
    steps = [  # action, arguments, the Description after, whether it writes
        ("Create", ["/A:C", "/T:C:\\Zelvo\\dial.exe", "/D:made by {who}"], "made by {who}", True),
        ("Query", ["/A:Q"], "made by {who}", False),
        ("Edit", ["/A:E", "/D:edited by {who}"], "edited by {who}", True),
    ]
    for who, uid, *_ in SAVERS[1:]:
        name = f"smb-{USERS[uid]}.lnk"
        windows_link(server, name)
        before = state(server, name)[1]
        for action, args, after, writes in steps:
            args = [a.format(who=who) for a in args]
            code, out, _ = smb_tool(server, [f"/F:{server.url}/acl/{name}", *args], USERS[uid])
            assert code == 0, (who, action, out)
            attributes, now = state(server, name)
            assert now == before and attributes == ("HA" if writes else "H"), (who, action, now)
            assert description(server.get("acl", name)) == after.format(who=who), (who, action)
            server.client("acl", f'setmode "{name}" -a')
    return "owner, ACL, create time, stream and inode kept; A set by each write"


def map_archive_share(server):
    """On a share that keeps the archive bit in the owner's execute bit, an SMB save sets it."""
    path = os.path.join(server.shares["archive"], "arch.lnk")
    url = f"{server.url}/archive/arch.lnk"
    assert smb_tool(server, [f"/F:{url}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    server.client("archive", 'setmode "arch.lnk" -a')
    assert os.stat(path).st_mode & 0o100 == 0
    code, out, _ = smb_tool(server, [f"/F:{url}", "/A:E", "/D:archived"])
    assert code == 0, out
    assert os.stat(path).st_mode & 0o100, oct(os.stat(path).st_mode)
    assert "A" in server.info("archive", "arch.lnk")["attributes"]


def read_only(server):
    """A link a Windows user made read-only is refused to everyone, root included, locally and
    through SMB, and stays as it was."""
    windows_link(server, "ro.lnk")
    server.client("acl", 'setmode "ro.lnk" +r')
    path, url = os.path.join(server.shares["acl"], "ro.lnk"), f"{server.url}/acl/ro.lnk"
    before = server.get("acl", "ro.lnk")
    for who, uid, gid, groups in SAVERS:
        for args in (["/A:E", "/D:x"], ["/A:C", "/T:C:\\x.exe"]):
            local = tool([f"/F:{path}", *args], uid, gid, groups)
            smb = smb_tool(server, [f"/F:{url}", *args], USERS.get(uid, "root"))[:2]
            assert local[0] == 5 and smb[0] == 5, (who, args, local, smb)
    assert server.get("acl", "ro.lnk") == before
    assert server.info("acl", "ro.lnk")["attributes"] == "RH"


def held_deny_write(server):
    """A client holds the link for writing, sharing it only for reading: a save waits the bounded
    while and gives 32, a Query still reads it, and the client's own later write is there."""
    url = f"{server.url}/acl/busy.lnk"
    assert smb_tool(server, [f"/F:{url}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    with holding(server, "busy.lnk") as write:
        code, out, seconds = smb_tool(server, [f"/F:{url}", "/A:E", "/D:x"])
        assert code == 32 and 1.5 < seconds < BOUND, (code, out, seconds)
        assert smb_tool(server, [f"/F:{url}", "/A:Q"])[0] == 0
        write("the holder's write")
    assert server.get("acl", "busy.lnk").startswith(b"the holder's write")
    return f"32 after {seconds:.2f} s; the holder's write kept"


def writer_at_the_same_moment(server):
    """A client puts its own link while the tool edits: the link is always whole, the client's or
    the tool's edit, and a save that says success lost no one's change.  The two must have met
    both ways round: the put landing after the edit's save, and before it."""
    with tempfile.TemporaryDirectory() as d:
        base, theirs = os.path.join(d, "base.lnk"), os.path.join(d, "theirs.lnk")
        assert tool([f"/F:{base}", "/A:C", "/T:C:\\base.exe", "/D:base"])[0] == 0
        assert tool([f"/F:{theirs}", "/A:C", "/T:C:\\theirs.exe", "/D:theirs" + "x" * 200])[0] == 0
        their_bytes = open(theirs, "rb").read()
        env = dict(os.environ, SHORTCUT_SMB_CREDENTIALS=credentials(server, "root"))
        outcomes = set()
        for n in range(16):
            server.client("acl", f'put {base} race.lnk')
            # The edit starts first, the put a little later each round: they meet at each step.
            edit = subprocess.Popen([EXE, f"/F:{server.url}/acl/race.lnk", "/A:E", f"/D:tool {n}"],
                                    stdout=subprocess.PIPE, text=True, env=env)
            time.sleep(0.02 * (n % 8))
            put = subprocess.Popen(server.smbclient("acl", f"put {theirs} race.lnk"),
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            edit_out = edit.communicate(timeout=TIMEOUT)[0]
            put_out = put.communicate(timeout=TIMEOUT)[0]
            put_ok = put.returncode == 0 and "NT_STATUS" not in put_out
            assert edit.returncode in (0, 32), edit_out
            now = server.get("acl", "race.lnk")
            outcome = "theirs" if now == their_bytes else "tool's edit"
            if outcome == "theirs":
                assert put_ok
            else:
                report = read_report(local_query(now))
                assert edit.returncode == 0 and report["Description"] == f"tool {n}", report
                # Over the client's link where its put came first.
                assert report["TargetPath"] == ("C:\\theirs.exe" if put_ok else "C:\\base.exe")
            outcomes.add((outcome, edit.returncode, put_ok))
    note = "outcomes (link, tool's code, put succeeded): " + ", ".join(map(str, sorted(outcomes)))
    assert {outcome for outcome, *_ in outcomes} == {"theirs", "tool's edit"}, note
    return note


def disk_full_mid_save(server):
    """A save the server refuses halfway (its disk fills up) fails with 112 and puts the old
    link back; a Create of a new link leaves no file."""
    with tempfile.TemporaryDirectory() as d:
        assert tool([f"/F:{d}/k.lnk", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
        # A link that fills one page of the file system, and a file that
        # fills the rest: an edit that makes the link longer needs a page more.
        run(sys.executable, os.path.join(os.path.dirname(__file__), "..", "..", "bench",
                                         "make_big_link.py"), f"{d}/k.lnk", "4080", f"{d}/big.lnk")
        pathlib.Path(d, "fill").write_bytes(b"x" * 12288)
        server.client("tiny", f"put {d}/big.lnk big.lnk; put {d}/fill fill")
    before = server.get("tiny", "big.lnk")
    for name, args in [("big.lnk", ["/A:E", "/D:" + "d" * 200]),
                       ("new.lnk", ["/A:C", "/T:C:\\x.exe"])]:  # an edit, and a new link
        code, out, _ = smb_tool(server, [f"/F:{server.url}/tiny/{name}", *args])
        listing = server.client("tiny", "ls")
        assert code == 112 and server.get("tiny", "big.lnk") == before, (name, code, out)
        assert "new.lnk" not in listing, (name, listing)


def error_table(server):
    """Each failure through SMB has its Windows number, within the bound."""
    windows_link(server, "theirs.lnk")
    server.acl("acl", "theirs.lnk", "--set", f"ACL:S-1-22-1-{OWNER}:ALLOWED/0x0/FULL")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        closed = s.getsockname()[1]  # nobody listens on it once closed
    silent = socket.create_server(("127.0.0.1", 0))  # accepts, never answers
    # The library as the loader finds it, hidden under /dev/null for one run.
    listed = run("ldconfig", "-p").stdout
    library = os.path.realpath(next(line.split(" => ")[1] for line in listed.splitlines()
                                    if line.strip().startswith("libsmbclient.so.0 ")))
    without_library = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                       f'mount --bind /dev/null "{library}" && exec "$@"', "without"]
    u, busy = server.url, f"{server.url}/acl/busy.lnk"
    rows = [  # situation, path, arguments, code[, user[, password[, prefix]]]
        ("sharing violation", busy, ["/A:E", "/D:x"], 32),
        ("access denied", f"{u}/acl/theirs.lnk", ["/A:E", "/D:x"], 5, "zchanger"),
        ("no such file", f"{u}/acl/none.lnk", ["/A:Q"], 2),
        ("no such folder", f"{u}/acl/none/x.lnk", ["/A:C", "/T:x"], 3),
        ("no such share", f"{u}/none/x.lnk", ["/A:Q"], 67),
        ("wrong password", busy, ["/A:Q"], 1326, "root", "wrong"),
        ("unknown user", busy, ["/A:Q"], 1326, "nobody-here"),
        ("server not reachable", f"smb://127.0.0.1:{closed}/acl/x.lnk", ["/A:Q"], 53),
        ("server not answering", f"smb://127.0.0.1:{silent.getsockname()[1]}/acl/x.lnk",
         ["/A:Q"], 53),
        ("an empty password", busy, ["/A:Q"], 1326, "root", ""),
        ("no password", busy, ["/A:Q"], 1326, "root", None),
        ("a path on IPC$", f"{u}/IPC$/x.lnk", ["/A:C", "/T:x"], 66),
        ("a name the server refuses", f"{u}/acl/a*b.lnk", ["/A:C", "/T:x"], 123),
        ("no libsmbclient", busy, ["/A:Q"], 126, "root", PASSWORD, without_library),
    ]
    slowest = 0.0
    assert smb_tool(server, [f"/F:{busy}", "/A:C", "/T:C:\\Zelvo\\dial.exe"])[0] == 0
    with silent, holding(server, "busy.lnk"):
        for situation, path, args, expected, *given in rows:
            user, password, prefix = [*given, *["root", PASSWORD, ()][len(given):]]
            before = server.get("acl", "theirs.lnk")
            code, out, seconds = smb_tool(server, [f"/F:{path}", *args], prefix=prefix,
                                          creds=credentials(server, user, password))
            assert code == expected & 0xFF and f"System error {expected} has" in out, \
                (situation, code, out)
            assert not password or password not in out, situation
            assert seconds < BOUND, (situation, seconds)
            assert server.get("acl", "theirs.lnk") == before, situation
            slowest = max(slowest, seconds)
    return f"{len(rows)} rows, the slowest in {slowest:.2f} s"


def credentials_file(server):
    """The credentials file is used only where no one else may read or change it, as ssh asks of
    a key; it names the user, and its password never shows, not even in the trace."""
    url = f"{server.url}/acl/cred.lnk"
    rows = [(0o600, 0, 0), (0o400, 0, 0), (0o640, 0, 10), (0o604, 0, 10), (0o620, 0, 10),
            (0o600, OWNER, 10)]  # mode, owner, code
    for mode, owner, expected in rows:
        creds = credentials(server, "root", mode=mode, owner=owner)
        code, out, _ = smb_tool(server, [f"/F:{url}", "/A:C", "/T:x", "/TraceOut"], creds=creds)
        assert code == expected, (oct(mode), owner, out)
        assert PASSWORD not in out
    missing = os.path.join(server.top, "no-such-credentials")
    assert smb_tool(server, [f"/F:{url}", "/A:Q"], creds=missing)[0] == 10


def report_alone_on_stdout(server):
    """A user's smb.conf asking the library for its debug log changes nothing on standard output:
    a Query through SMB prints the local Query's report, and the log goes to standard error."""
    url = f"{server.url}/acl/logged.lnk"
    assert smb_tool(server, [f"/F:{url}", "/A:C", "/T:C:\\Zelvo\\dial.exe", "/D:logged"])[0] == 0
    home = os.path.join(server.top, "home")
    os.makedirs(os.path.join(home, ".smb"))
    pathlib.Path(home, ".smb", "smb.conf").write_text(
        "[global]\nclient min protocol = SMB2\nlog level = 10\n")
    code, out, _ = smb_tool(server, [f"/F:{url}", "/A:Q"], home=home)
    local = local_query(server.get("acl", "logged.lnk"))
    assert code == 0 and out == local.replace("\n[x.lnk]\n", f"\n[{url}]\n", 1), out


CASES = [each_user_saves, group_member_on_plain_share, held_links, each_user_through_smb,
         map_archive_share, read_only, held_deny_write, writer_at_the_same_moment,
         disk_full_mid_save, error_table, credentials_file, report_alone_on_stdout]


def main():
    global EXE, SHIM
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--shim", required=True)
    args = ap.parse_args()
    EXE, SHIM = os.path.abspath(args.exe), os.path.abspath(args.shim)
    return with_server("the Samba test", ("smbcacls", "smbtorture"), run_cases)


def skipped(what, programs):
    """77, and why in one line, where what cannot run (not as root, or without one of programs
    or libsmbclient); else None."""
    missing = [p for p in programs if shutil.which(p) is None]
    if ctypes.util.find_library("smbclient") is None:
        missing.append("libsmbclient")
    if os.geteuid() == 0 and not missing:
        return None
    print(f"SKIP {what}: " + ("it needs root" if os.geteuid() != 0 else
                              "missing " + ", ".join(missing)))
    return SKIPPED


def with_server(what, programs, body):
    """body(server) with smbd running, or 77 (skipped) where it cannot run."""
    if skip := skipped(what, ("smbd", "smbclient", "smbpasswd", "unshare", *programs)):
        return skip
    with tempfile.TemporaryDirectory(prefix="samba-") as top:
        os.chmod(top, 0o755)
        try:
            return body(Server(top))
        finally:
            stop_all()


def run_cases(server):
    print(f"smbd {run('smbd', '--version').stdout.split()[-1]} on 127.0.0.1:{server.port}")
    return run_each(CASES, server)


if __name__ == "__main__":
    sys.exit(main())
