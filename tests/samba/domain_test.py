#!/usr/bin/env python3
"""Links on the shares of a Samba AD domain controller and of the servers
its DFS links point to, reached by the tool as a Windows client reaches
them: with a Kerberos ticket where one gets it in, else the credentials
file, else a guest; DFS referrals followed with the same credentials.

    domain_test.py --exe build/linux/shortcut/shortcut

Runs itself again in a network and mount namespace of its own (unshare),
whose /etc/hosts names addresses on its loopback: dc.zelvo.test 10.37.0.1,
the domain controller of ZELVO.TEST, provisioned with samba-tool into a
temporary folder, with the shares "links" and "dfs" (DFS links "same" to
files and "gone" to gone); files.zelvo.test 10.37.0.2, a stand-alone smbd
where bob has his domain password and ann another; gone.zelvo.test
10.37.0.3, where nothing listens; old.zelvo.test 10.37.0.4, a stand-alone
smbd that speaks SMB1 alone.  Kerberos reads a krb5.conf of its own; the
machine's Samba and Kerberos set-up is neither read nor changed.  Every
process it started is stopped by its PID.  Needs root, samba, samba-tool,
smbd, winbindd, smbclient, smbcacls, kinit and unshare; without them it says why in
one line and exits with 77.
"""

import argparse
import ctypes
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import samba_test  # noqa: E402

SKIPPED = 77
INSIDE = "SHORTCUT_DOMAIN_TEST_INSIDE"
REALM, DOMAIN = "ZELVO.TEST", "ZELVO"
ADMIN = "Zelvo-Adm1n!"
HOSTS = {"dc": "10.37.0.1", "files": "10.37.0.2", "gone": "10.37.0.3", "old": "10.37.0.4"}
PASSWORDS = {"ann": "Ann-Pass1!", "bob": "Bob-Pass1!"}  # in the domain
ON_FILES = {"ann": "Another-1!", "bob": "Bob-Pass1!"}  # on files
TIMEOUT = 60
EXE = None


def run(*command, **options):
    options.setdefault("timeout", TIMEOUT)
    return subprocess.run(command, check=True, capture_output=True, text=True, **options)


def wait_for(address, port, process):
    deadline = time.monotonic() + TIMEOUT
    while True:
        try:
            socket.create_connection((address, port), timeout=1).close()
            return
        except OSError:
            if time.monotonic() > deadline or process.poll() is not None:
                raise RuntimeError(f"nothing answers on {address}:{port}")
            time.sleep(0.1)


class Network:
    """The servers, started in this namespace; stopped with every process
    they started."""

    def __init__(self, top):
        self.top = top
        at = lambda *p: os.path.join(top, *p)  # noqa: E731
        run("ip", "link", "set", "lo", "up")
        for address in HOSTS.values():
            run("ip", "addr", "add", f"{address}/32", "dev", "lo")
        with open(at("hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n" + "".join(
                f"{a} {n}.zelvo.test {n}\n" for n, a in HOSTS.items()))
        with open(at("krb5.conf"), "w") as f:
            f.write(f"[libdefaults]\n default_realm = {REALM}\n dns_lookup_kdc = false\n"
                    f" dns_lookup_realm = false\n[realms]\n {REALM} = {{\n"
                    f"  kdc = {HOSTS['dc']}\n }}\n[domain_realm]\n .zelvo.test = {REALM}\n")
        # /run of its own: the DC's winbindd socket, and no KCM service.
        run("mount", "--bind", at("hosts"), "/etc/hosts")
        run("mount", "-t", "tmpfs", "-o", "mode=0755", "domain-test-run", "/run")
        os.mkdir("/run/samba")
        os.environ["KRB5_CONFIG"] = at("krb5.conf")
        self.env = dict(os.environ, HOME=at("home"))
        os.mkdir(at("home"))
        with open(at("client.conf"), "w") as f:
            f.write(f"[global]\nworkgroup = {DOMAIN}\nrealm = {REALM}\n")

    def provision(self):
        """The domain controller; how long samba-tool took."""
        d = os.path.join(self.top, "dc")
        start = time.monotonic()
        run("samba-tool", "domain", "provision", f"--targetdir={d}", f"--realm={REALM}",
            f"--domain={DOMAIN}", "--host-name=dc", f"--host-ip={HOSTS['dc']}",
            f"--adminpass={ADMIN}", "--dns-backend=NONE", "--server-role=dc", "--quiet",
            f"--option=interfaces={HOSTS['dc']}", "--option=bind interfaces only=yes",
            f"--option=log file={d}/log.%m", f"--option=pid directory={d}/run",
            f"--option=ncalrpc dir={d}/ncalrpc", f"--option=ntp signd socket directory={d}/ntp",
            "--option=server services=s3fs, kdc, rpc, winbindd", "--option=disable netbios=yes",
            timeout=300)
        seconds = time.monotonic() - start
        os.mkdir(os.path.join(d, "run"))
        for user, password in PASSWORDS.items():
            run("samba-tool", "user", "add", user, password, "-H", f"{d}/private/sam.ldb")
        links, dfs = os.path.join(self.top, "links"), os.path.join(self.top, "dfsroot")
        os.mkdir(links)
        os.chmod(links, 0o777)
        os.mkdir(dfs)
        os.symlink("msdfs:files.zelvo.test\\share", os.path.join(dfs, "same"))
        os.symlink("msdfs:gone.zelvo.test\\share", os.path.join(dfs, "gone"))
        with open(f"{d}/etc/smb.conf", "a") as f:
            f.write(f"[links]\npath = {links}\nread only = no\n"
                    f"[dfs]\npath = {dfs}\nread only = no\nmsdfs root = yes\n")
        self.start(["samba", "-s", f"{d}/etc/smb.conf", "--interactive"], "dc", 445, 88)
        return seconds

    def standalone(self, name, extra=""):
        """A stand-alone smbd on name's address with the shares "share" and
        "guest", in a mount namespace of its own (its own /run/samba, and a
        passwd file that names ann and bob)."""
        d = os.path.join(self.top, name)
        os.mkdir(d)
        with open(f"{d}/smb.conf", "w") as f:
            f.write(samba_test.standalone_conf(
                d, name.upper(), HOSTS[name], [f"{d}/share", f"{d}/guest"],
                f"workgroup = {DOMAIN}\nmap to guest = Bad User\n{extra}") +
                f"[share]\npath = {d}/share\nread only = no\n"
                f"[guest]\npath = {d}/guest\nread only = no\nguest ok = yes\n")
        with open("/etc/passwd") as f, open(f"{d}/passwd", "w") as out:
            out.write(f.read() + "ann:x:2101:2101::/:/bin/false\nbob:x:2102:2102::/:/bin/false\n")
        inside = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                  'mount -t tmpfs samba-run /run/samba && mount --bind "$1" /etc/passwd && '
                  'shift && exec "$@"', "inside", f"{d}/passwd"]
        for user, password in ON_FILES.items():
            run(*inside, "smbpasswd", "-c", f"{d}/smb.conf", "-s", "-a", user,
                input=f"{password}\n{password}\n")
        self.start([*inside, "smbd", "-s", f"{d}/smb.conf", "--foreground", "--no-process-group"],
                   name, 445)

    def start(self, command, name, *ports):
        p = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
        for port in ports:
            wait_for(HOSTS[name], port, p)

    def stop(self):
        """Every process the test started, by its PID: the servers and what
        they started, reaped here (this process is their reaper)."""
        family = samba_test.descendants(os.getpid())
        for sig in (15, 9):
            for pid in family + samba_test.descendants(os.getpid()):
                samba_test.kill(pid, sig)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                try:
                    pid, _ = os.waitpid(-1, os.WNOHANG)
                except ChildProcessError:
                    return
                if pid == 0:
                    time.sleep(0.05)

    def tool(self, args, cache=None, creds=None):
        """The tool; its exit code, standard output and standard error."""
        env = dict(self.env, KRB5CCNAME=cache or "MEMORY:none")
        env.pop("SHORTCUT_SMB_CREDENTIALS", None)
        if creds:
            env["SHORTCUT_SMB_CREDENTIALS"] = self.credentials(creds)
        p = subprocess.run([EXE, *args], capture_output=True, text=True, timeout=TIMEOUT,
                           env=env)
        return p.returncode, p.stdout, p.stderr

    def credentials(self, user):
        path = os.path.join(self.top, f"{user}.cred")
        with open(path, "w") as f:
            f.write(f"username={user}\npassword={PASSWORDS[user]}\ndomain={DOMAIN}\n")
        os.chmod(path, 0o600)
        return path

    def ticket(self, user, name, lifetime="10h"):
        """A ticket cache of user's, from kinit."""
        cache = "FILE:" + os.path.join(self.top, name)
        run("kinit", "-l", lifetime, "-c", cache, user, input=PASSWORDS[user] + "\n",
            env=self.env)
        return cache

    def owner(self, name):
        """The owner of a file on "links", as smbcacls shows it to Windows."""
        out = run("smbcacls", "-s", os.path.join(self.top, "client.conf"), "--use-kerberos=disabled",
                  "-U", f"Administrator%{ADMIN}", "//dc.zelvo.test/links", name,
                  env=self.env).stdout
        return out.split("OWNER:")[1].split()[0]


def error_text(code, text):
    return f"\nSystem error {code} has occurred.\n\n{text}\n"


# ---------------------------------------------------------------- the cases

def kerberos_first(net):
    """A ticket gets the run in: a Create and an Edit as the ticket's user,
    who owns the link on the server, though a credentials file names
    another user."""
    cache = net.ticket("ann", "ann.cc")
    url = "\\\\dc.zelvo.test\\links\\kerberos.lnk"
    for args in (["/A:C", "/T:C:\\Zelvo\\dial.exe"], ["/A:E", "/D:by ann's ticket"]):
        code, out, _ = net.tool([f"/F:{url}", *args], cache=cache, creds="bob")
        assert code == 0, (args, out)
    code, out, _ = net.tool([f"/F:{url}", "/A:Q"], cache=cache)
    assert code == 0 and "Description=by ann's ticket" in out, out
    assert net.owner("kerberos.lnk") == "ZELVO\\ann", net.owner("kerberos.lnk")
    return "owner ZELVO\\ann"


def falls_through(net):
    """A cache that gives no ticket, or a server named by its address, falls
    through to the credentials file: the file's user owns what is made."""
    with open(os.path.join(net.top, "junk.cc"), "w") as f:
        f.write("\x05\x04 not a ticket cache")
    good = net.ticket("ann", "ann.cc")
    expired = net.ticket("ann", "expired.cc", lifetime="2s")
    theirs = os.path.join(net.top, "theirs.cc")  # ann's ticket, in a file another user owns
    shutil.copy(good[len("FILE:"):], theirs)
    os.chown(theirs, 2001, 2001)
    time.sleep(3)
    rows = [  # what, cache, server
        ("an empty memory cache", "MEMORY:x", "dc.zelvo.test"),
        ("KCM: with no KCM service", "KCM:", "dc.zelvo.test"),
        ("a junk FILE: cache", "FILE:" + os.path.join(net.top, "junk.cc"), "dc.zelvo.test"),
        ("an expired ticket", expired, "dc.zelvo.test"),
        ("someone else's cache", "FILE:" + theirs, "dc.zelvo.test"),
        ("a good ticket, the server by its address", good, HOSTS["dc"]),
    ]
    for n, (what, cache, server) in enumerate(rows):
        name = f"fall{n}.lnk"
        code, out, _ = net.tool([f"/F:\\\\{server}\\links\\{name}", "/A:C", "/T:C:\\x.exe"],
                                cache=cache, creds="bob")
        assert code == 0, (what, out)
        assert net.owner(name) == "ZELVO\\bob", (what, net.owner(name))
        # Without the file, on to a guest, on a share that lets guests in.
        server = HOSTS["files"] if server[0].isdigit() else "files.zelvo.test"
        code, out, _ = net.tool([f"/F:\\\\{server}\\guest\\{name}", "/A:C", "/T:C:\\x.exe"],
                                cache=cache)
        assert code == 0, (what, "as a guest", out)
        assert os.path.exists(os.path.join(net.top, "files", "guest", name)), what
    return f"{len(rows)} rows, each as the file's user, and without it as a guest"


def dfs_referrals(net):
    """A DFS link is followed with the same credentials: where the target
    takes them the link lands there; where it refuses them, or cannot be
    reached, the numbers are those the first server would give.  The
    library's words go to standard error; standard output is the tool's."""
    landed = os.path.join(net.top, "files", "share", "bob.lnk")
    rows = [  # what, path under \\dc\dfs, user (file) or ticket, code
        ("the same password on the target", "same\\bob.lnk", "bob", None, 0),
        ("another password on the target", "same\\ann.lnk", "ann", None, 1326),
        ("a ticket for a target outside the realm", "same\\ann.lnk", None, "ann", 1326),
        ("a target that cannot be reached", "gone\\x.lnk", "bob", None, 53),
    ]
    texts = {1326: "The server refused the user name or password.",
             53: "The server cannot be reached on the network."}
    cache = net.ticket("ann", "ann.cc")
    for what, path, creds, ticket, expected in rows:
        code, out, err = net.tool([f"/F:\\\\dc.zelvo.test\\dfs\\{path}", "/A:C", "/T:C:\\x.exe"],
                                  cache=cache if ticket else None, creds=creds)
        assert code == expected & 0xFF, (what, code, out, err)
        assert out == ("\nThe command completed successfully.\n" if expected == 0 else
                       error_text(expected, texts[expected])), (what, out)
        assert expected == 0 or "dfs referral" in err, (what, err)
    assert os.path.exists(landed), "the link did not land on the target"
    return f"{len(rows)} rows"


def smb1_only(net):
    """A server that speaks SMB1 alone: 384, as Windows 10 says it."""
    code, out, _ = net.tool(["/F:\\\\old.zelvo.test\\share\\x.lnk", "/A:Q"], creds="bob")
    assert code == 384 & 0xFF and "System error 384 has" in out, (code, out)


CASES = [kerberos_first, falls_through, dfs_referrals, smb1_only]


def body(top):
    net = Network(top)
    try:
        seconds = net.provision()
        print(f"samba {run('samba', '--version').stdout.split()[-1]}: the domain controller "
              f"provisioned in {seconds:.1f} s")
        net.standalone("files")
        net.standalone("old", "server min protocol = NT1\nserver max protocol = NT1")
        return samba_test.run_each(CASES, net)
    finally:
        net.stop()


def main():
    global EXE
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    args = ap.parse_args()
    EXE = os.path.abspath(args.exe)
    if os.environ.get(INSIDE) != "1":
        missing = [p for p in ("samba", "samba-tool", "smbd", "winbindd", "smbclient", "smbcacls",
                               "smbpasswd", "kinit", "unshare", "ip") if shutil.which(p) is None]
        if os.geteuid() != 0 or missing:
            print("SKIP the domain test: " + ("it needs root" if os.geteuid() != 0 else
                                              "missing " + ", ".join(missing)))
            return SKIPPED
        sys.stdout.flush()
        return subprocess.run(["unshare", "--net", "--mount", "--propagation", "private",
                               sys.executable, os.path.abspath(__file__), "--exe", EXE],
                              env=dict(os.environ, **{INSIDE: "1"})).returncode
    # Helpers the servers leave become this process's children, to be
    # stopped and reaped here.
    ctypes.CDLL(None, use_errno=True).prctl(samba_test.PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    with tempfile.TemporaryDirectory(prefix="samba-domain-") as top:
        os.chmod(top, 0o755)
        return body(top)


if __name__ == "__main__":
    sys.exit(main())
