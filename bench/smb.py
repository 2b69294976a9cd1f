#!/usr/bin/env python3
"""Query and Edit of a link on a share through SMB, against the project's
private smbd (the Samba test's), beside two figures:

  - what a user does without the share path: smbclient -c 'get', the local
    Query or Edit, and for an Edit smbclient -c 'put';
  - floor_smb: Samba's library connecting and opening the link, nothing else.

Each command runs RUNS times, the commands taking turns; printed are each
one's median wall time and mean processor time (user and system, itself
and its children) and the ratios.  Not a test: it prints figures.

    bench/smb.py --exe build/linux/shortcut/shortcut --floor build/bench/floor_smb
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "samba"))
import samba_test  # noqa: E402


def run_once(command, env):
    start = time.monotonic()
    p = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise SystemExit(f"failed ({p.returncode}): {command}")
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_SMB_RUNS", "60")))
    args = ap.parse_args()
    exe = os.path.abspath(args.exe)
    with tempfile.TemporaryDirectory(prefix="smb-bench-") as top:
        os.chmod(top, 0o755)
        with samba_test.Server(top) as server:
            creds = os.path.join(top, "credentials")
            with open(creds, "w") as f:
                f.write(f"username=root\npassword={samba_test.PASSWORD}\n")
            os.chmod(creds, 0o600)
            env = dict(os.environ, SHORTCUT_SMB_CREDENTIALS=creds, FLOOR_SMB_USER="root",
                       FLOOR_SMB_PASSWORD=samba_test.PASSWORD)
            local = os.path.join(top, "kit.lnk")
            subprocess.run([exe, f"/F:{local}", "/A:C", "/T:rasphone.exe",
                            "/P:-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo",
                            "/I:c:\\windows\\system32\\zelvo.ico"], check=True,
                           stdout=subprocess.DEVNULL)
            server.client("acl", f"put {local} kit.lnk")
            url = f"{server.url}/acl/kit.lnk"
            smbclient = f"smbclient -s {server.client_conf} -p {server.port} -A {creds} //127.0.0.1/acl"
            commands = {
                "floor_smb": [os.path.abspath(args.floor), url],
                "query": [exe, f"/F:{url}", "/A:Q"],
                "get+query": ["sh", "-c", f"{smbclient} -c 'get kit.lnk {top}/got.lnk' && "
                              f"{exe} /F:{top}/got.lnk /A:Q"],
                "edit": [exe, f"/F:{url}", "/A:E", "/D:Dial"],
                "get+edit+put": ["sh", "-c", f"{smbclient} -c 'get kit.lnk {top}/got.lnk' && "
                                 f"{exe} /F:{top}/got.lnk /A:E /D:Dial && "
                                 f"{smbclient} -c 'put {top}/got.lnk kit.lnk'"],
            }
            wall = {name: [] for name in commands}
            cpu = {name: [] for name in commands}
            for name, command in commands.items():  # warm-up
                run_once(command, env)
            for _ in range(args.runs):
                for name, command in commands.items():
                    w, c = run_once(command, env)
                    wall[name].append(w)
                    cpu[name].append(c)
    m = {n: statistics.median(v) for n, v in wall.items()}
    c = {n: statistics.mean(v) for n, v in cpu.items()}

    def ratio(a, b):
        return f"{m[a] / m[b]:.2f}x {b} (cpu {c[a] / c[b]:.2f}x)"

    version = subprocess.run(["smbd", "--version"], capture_output=True, text=True).stdout.split()[-1]
    print(f"== links on a share through SMB: {args.runs} runs each, the test's private "
          f"smbd {version} on loopback")
    print(f"{'':30}{'median':>11}{'cpu':>11}   ratio")
    rows = [
        ("floor: connect and open", "floor_smb", ""),
        ("shortcut Query", "query", ratio("query", "floor_smb") + ", " + ratio("query", "get+query")),
        ("get, local Query", "get+query", ratio("get+query", "floor_smb")),
        ("shortcut Edit", "edit", ratio("edit", "floor_smb") + ", " + ratio("edit", "get+edit+put")),
        ("get, local Edit, put", "get+edit+put", ratio("get+edit+put", "floor_smb")),
    ]
    for label, key, r in rows:
        print(f"{label:30}{m[key]:>8.1f} ms{c[key]:>8.1f} ms   {r}".rstrip())
    print("(cpu: the mean user and system time of the command and its children)")


if __name__ == "__main__":
    main()
