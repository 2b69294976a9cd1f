#!/usr/bin/env python3
"""Links on a Samba AD domain controller's shares and on the servers its DFS links point to,
reached with a ticket where one gets the run in, else the credentials file, else a guest:
domain_test.py --exe PATH.  Runs itself again in a network and mount namespace of its own,
whose /etc/hosts names HOSTS on its loopback: the DC, provisioned with samba-tool; files, an
smbd where bob has his domain password and ann another; gone, where nothing listens; old, an
smbd of SMB1 alone.  Without root, samba, krb5-user: 77 (skipped)."""

import argparse
import functools
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import samba_test  # noqa: E402

INSIDE = "SHORTCUT_DOMAIN_TEST_INSIDE"
REALM, DOMAIN, ADMIN = "ZELVO.TEST", "ZELVO", "Zelvo-Adm1n!"
HOSTS = {"dc": "10.37.0.1", "files": "10.37.0.2", "gone": "10.37.0.3", "old": "10.37.0.4"}
PASSWORDS = {"ann": "Ann-Pass1!", "bob": "Bob-Pass1!"}  # in the domain
ON_FILES = {"ann": "Another-1!", "bob": "Bob-Pass1!"}  # on files
run = functools.partial(samba_test.run, timeout=300)


class Network:
    """The servers, in this process's namespaces."""

    def __init__(self, top):
        self.top = top
        at = lambda *p: os.path.join(top, *p)  # noqa: E731
        run("ip", "link", "set", "lo", "up")
        for address in HOSTS.values():
            run("ip", "addr", "add", f"{address}/32", "dev", "lo")
        pathlib.Path(at("hosts")).write_text("127.0.0.1 localhost\n" + "".join(
            f"{a} {n}.zelvo.test {n}\n" for n, a in HOSTS.items()))
        pathlib.Path(at("krb5.conf")).write_text(
            f"[libdefaults]\n default_realm = {REALM}\n dns_lookup_kdc = false\n"
            f" dns_lookup_realm = false\n[realms]\n {REALM} = {{\n  kdc = {HOSTS['dc']}\n }}\n"
            f"[domain_realm]\n .zelvo.test = {REALM}\n")
        pathlib.Path(at("client.conf")).write_text(
            f"[global]\nworkgroup = {DOMAIN}\nrealm = {REALM}\n")
        # /run of its own: the DC's winbindd socket, and no KCM service.
        run("mount", "--bind", at("hosts"), "/etc/hosts")
        run("mount", "-t", "tmpfs", "-o", "mode=0755", "domain-test-run", "/run")
        os.mkdir("/run/samba")
        os.mkdir(at("home"))
        os.environ.pop("SHORTCUT_SMB_CREDENTIALS", None)
        os.environ["KRB5_CONFIG"] = at("krb5.conf")
        self.env = dict(os.environ, HOME=at("home"))

    def provision(self):
        """The domain controller, answering; how long samba-tool took."""
        d = os.path.join(self.top, "dc")
        began = time.monotonic()
        run("samba-tool", "domain", "provision", f"--targetdir={d}", f"--realm={REALM}",
            f"--domain={DOMAIN}", "--host-name=dc", f"--host-ip={HOSTS['dc']}",
            f"--adminpass={ADMIN}", "--dns-backend=NONE", "--server-role=dc", "--quiet",
            *(f"--option={o}" for o in (
                f"interfaces={HOSTS['dc']}", "bind interfaces only=yes", f"log file={d}/log.%m",
                f"pid directory={d}/run", f"ncalrpc dir={d}/ncalrpc",
                f"ntp signd socket directory={d}/ntp", "disable netbios=yes",
                "server services=s3fs, kdc, rpc, winbindd")))
        seconds = time.monotonic() - began
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
        samba_test.start(["samba", "-s", f"{d}/etc/smb.conf", "--interactive"], HOSTS["dc"],
                         445, 88)
        return seconds

    def standalone(self, name, extra=""):
        """An smbd on name's address with the shares "share" and "guest"."""
        os.mkdir(os.path.join(self.top, name))
        samba_test.smbd(os.path.join(self.top, name), name.upper(), HOSTS[name], 445,
                        {"share": "", "guest": "guest ok = yes"}, ON_FILES,
                        "ann:x:2101:2101::/:/bin/false\nbob:x:2102:2102::/:/bin/false\n",
                        extra=f"workgroup = {DOMAIN}\nmap to guest = Bad User\n{extra}",
                        mounts=["-t tmpfs samba-run /run/samba"])

    def tool(self, args, cache="MEMORY:none", creds=None):
        """The tool's exit code, standard output and error."""
        env = dict(self.env, KRB5CCNAME=cache)
        if creds:
            env["SHORTCUT_SMB_CREDENTIALS"] = samba_test.credentials(
                self, creds, PASSWORDS[creds], domain=DOMAIN)
        return samba_test.run_tool(args, env)[:3]

    def ticket(self, user, name, lifetime="10h"):
        cache = "FILE:" + os.path.join(self.top, name)
        run("kinit", "-l", lifetime, "-c", cache, user, input=PASSWORDS[user] + "\n", env=self.env)
        return cache

    def owner(self, name):
        """The owner of a file on "links", as smbcacls shows it to Windows."""
        out = run("smbcacls", "-s", os.path.join(self.top, "client.conf"), "-U",
                  f"Administrator%{ADMIN}", "--use-kerberos=disabled", "//dc.zelvo.test/links",
                  name, env=self.env)
        return out.stdout.split("OWNER:")[1].split()[0]


# ---------------------------------------------------------------- the cases

def kerberos_first(net):
    """A ticket comes before a credentials file: its user makes, edits and owns the link."""
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
    """A cache that gives no ticket, or a server named by its address, falls through to the
    credentials file's user, and without the file to a guest."""
    junk, theirs = os.path.join(net.top, "junk.cc"), os.path.join(net.top, "theirs.cc")
    pathlib.Path(junk).write_text("\x05\x04 not a ticket cache")
    good = net.ticket("ann", "ann.cc")
    expired = net.ticket("ann", "expired.cc", lifetime="2s")
    shutil.copy(good[len("FILE:"):], theirs)
    os.chown(theirs, 2001, 2001)  # ann's ticket, in a file another user owns
    time.sleep(3)
    rows = [  # what, cache, server
        ("an empty memory cache", "MEMORY:x", "dc.zelvo.test"),
        ("KCM: with no KCM service", "KCM:", "dc.zelvo.test"),
        ("a junk FILE: cache", "FILE:" + junk, "dc.zelvo.test"),
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
        guest = HOSTS["files"] if server[0].isdigit() else "files.zelvo.test"
        code, out, _ = net.tool([f"/F:\\\\{guest}\\guest\\{name}", "/A:C", "/T:C:\\x.exe"],
                                cache=cache)
        assert code == 0, (what, "as a guest", out)
        assert os.path.exists(os.path.join(net.top, "files", "guest", name)), what
    return f"{len(rows)} rows, each as the file's user, and without it as a guest"


def dfs_referrals(net):
    """A DFS link is followed with the same credentials; a target that refuses them or cannot be
    reached gives the first server's numbers, and the library's words go to standard error, not
    into the tool's output."""
    rows = [  # what, path under \\dc\dfs, credentials file's user, ticket, code
        ("the same password on the target", "same\\bob.lnk", "bob", False, 0),
        ("another password on the target", "same\\ann.lnk", "ann", False, 1326),
        ("a ticket for a target outside the realm", "same\\ann.lnk", None, True, 1326),
        ("a target that cannot be reached", "gone\\x.lnk", "bob", False, 53),
    ]
    texts = {1326: "The server refused the user name or password.",
             53: "The server cannot be reached on the network."}
    cache = net.ticket("ann", "ann.cc")
    for what, path, creds, ticket, expected in rows:
        code, out, err = net.tool([f"/F:\\\\dc.zelvo.test\\dfs\\{path}", "/A:C", "/T:C:\\x.exe"],
                                  cache=cache if ticket else "MEMORY:none", creds=creds)
        assert code == expected & 0xFF and out == (
            f"\nSystem error {expected} has occurred.\n\n{texts[expected]}\n" if expected
            else "\nThe command completed successfully.\n"), (what, code, out, err)
        assert expected == 0 or "dfs referral" in err, (what, err)
    assert os.path.exists(os.path.join(net.top, "files", "share", "bob.lnk")), "not on the target"
    return f"{len(rows)} rows"


def smb1_only(net):
    """A server that speaks SMB1 alone: 384, as Windows 10 says it."""
    code, out, _ = net.tool(["/F:\\\\old.zelvo.test\\share\\x.lnk", "/A:Q"], creds="bob")
    assert code == 384 & 0xFF and "System error 384 has" in out, (code, out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    samba_test.EXE = os.path.abspath(ap.parse_args().exe)
    if os.environ.get(INSIDE) != "1":
        if skip := samba_test.skipped("the domain test", (
                "samba", "samba-tool", "smbd", "winbindd", "smbcacls", "smbpasswd", "kinit",
                "unshare", "ip")):
            return skip
        sys.stdout.flush()
        return subprocess.run(["unshare", "--net", "--mount", "--propagation", "private",
                               sys.executable, os.path.abspath(__file__), *sys.argv[1:]],
                              env=dict(os.environ, **{INSIDE: "1"})).returncode
    with tempfile.TemporaryDirectory(prefix="samba-domain-") as top:
        os.chmod(top, 0o755)
        net = Network(top)
        try:
            seconds = net.provision()
            print(f"samba {run('samba', '--version').stdout.split()[-1]}: the domain "
                  f"controller provisioned in {seconds:.1f} s")
            net.standalone("files")
            net.standalone("old", "server min protocol = NT1\nserver max protocol = NT1")
            return samba_test.run_each([kerberos_first, falls_through, dfs_referrals, smb1_only],
                                       net)
        finally:
            samba_test.stop_all()


if __name__ == "__main__":
    sys.exit(main())
