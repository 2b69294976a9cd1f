#!/usr/bin/env python3
"""Throwaway Wine prefixes for the tests of a Windows build.

    wine_prefix.py setup PREFIX --wine COMMAND [--arch win32|win64]
    wine_prefix.py cleanup PREFIX
    wine_prefix.py as-user PREFIX --wine COMMAND -- PROGRAM [ARG ...]

setup makes a new prefix at PREFIX (whatever was there goes first) and
leaves its Wine server running, so that the many short runs of the tests do
not each start one; cleanup ends that server and removes the prefix.  CTest
runs the two as the setup and the cleanup of a fixture, and the end-to-end
test of the kit makes its own prefixes with the same procedures.

as-user runs a Windows program as an ordinary Unix user, in a 64-bit prefix
of that user's own made at PREFIX and removed after it, and exits with the
program's exit code.  Run by root, it runs it as nobody: Wine run by root
may write any file whatever its mode, and hides what a user meets.
"""

import argparse
import os
import pwd
import shlex
import shutil
import subprocess
import sys

# Quiet, and no menu entries or file associations on the host.
QUIET = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "winemenubuilder.exe=d"}
# How long the server outlives its last program: long enough to bridge two
# tests, short enough that an interrupted run leaves nothing for long.
SERVER_LINGER = 60
SILENT = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def environment(prefix, **extra):
    env = dict(os.environ, WINEPREFIX=prefix, **QUIET)
    env.update(extra)
    return env


def ordinary_user():
    """The command that runs a program as an ordinary user: for root, as
    nobody; for anyone else, as himself (an empty command)."""
    if os.geteuid():
        return []
    uid, gid = pwd.getpwnam("nobody")[2:4]
    return ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups"]


def make(prefix, wine, arch="win64", user=()):
    """Makes the prefix, as the user of the command user when one is given;
    returns '' or what went wrong."""
    remove(prefix, user)
    env = environment(prefix, WINEARCH=arch)
    wine = list(user) + wine
    if user:  # Wine wants the prefix its user's own, and a home there
        os.makedirs(prefix)
        os.chown(prefix, *pwd.getpwnam("nobody")[2:4])
        env["HOME"] = prefix
    try:
        boot = subprocess.run(wine + ["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=600)
    except (OSError, subprocess.TimeoutExpired) as error:
        return str(error)
    if boot.returncode != 0 or not os.path.isdir(os.path.join(prefix, "drive_c", "windows")):
        return (f"wineboot ended with {boot.returncode}: "
                + boot.stderr.decode("utf-8", "replace").strip()[-300:])
    # Wait for the server wineboot started to end, then start one that stays,
    # and one program in it, alone, before the tests start theirs side by
    # side: the first start in a new prefix still sets things up.
    server = list(user) + ["wineserver"]
    subprocess.run(server + ["-w"], env=env)
    subprocess.run(server + [f"-p{SERVER_LINGER}"], env=env, **SILENT)
    subprocess.run(wine + ["cmd", "/c", "exit"], env=env, timeout=120, **SILENT)
    return ""


def remove(prefix, user=()):
    if os.path.isdir(prefix):
        subprocess.run(list(user) + ["wineserver", "-k"], env=environment(prefix), **SILENT)
        shutil.rmtree(prefix, ignore_errors=True)


def run_as_user(prefix, wine, program):
    """Runs program in a prefix of an ordinary user's own; returns its exit
    code, or 1 when the prefix cannot be made."""
    user = ordinary_user()
    try:
        problem = make(prefix, wine, "win64", user)
        if problem:
            print(f"cannot make a Wine prefix for an ordinary user: {problem}")
            return 1
        return subprocess.run(user + wine + program, env=environment(prefix, HOME=prefix),
                              timeout=600).returncode
    finally:
        remove(prefix, user)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=("setup", "cleanup", "as-user"))
    ap.add_argument("prefix")
    ap.add_argument("--wine", default="wine", help="the command that runs a Windows program")
    ap.add_argument("--arch", default="win64", choices=("win32", "win64"))
    ap.add_argument("program", nargs="*", help="as-user: the program and its arguments, after --")
    opts = ap.parse_intermixed_args()
    prefix = os.path.abspath(opts.prefix)
    if opts.action == "cleanup":
        remove(prefix)
        return 0
    if opts.action == "as-user":
        return run_as_user(prefix, shlex.split(opts.wine), opts.program)
    problem = make(prefix, shlex.split(opts.wine), opts.arch)
    if problem:
        print(f"cannot make a {opts.arch} Wine prefix with {opts.wine!r}: {problem}")
        return 1
    print(f"a {opts.arch} Wine prefix in {prefix}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
