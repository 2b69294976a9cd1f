#!/usr/bin/env python3
"""Throwaway Wine prefixes for the tests of a Windows build.

    wine_prefix.py setup PREFIX --wine COMMAND [--arch win32|win64]
    wine_prefix.py cleanup PREFIX

setup makes a new prefix at PREFIX (whatever was there goes first) and
leaves its Wine server running, so that the many short runs of the tests do
not each start one; cleanup ends that server and removes the prefix.  CTest
runs the two as the setup and the cleanup of a fixture, and the end-to-end
test of the kit makes its own prefixes with the same procedures.
"""

import argparse
import os
import shlex
import shutil
import subprocess
import sys

# Quiet, and no menu entries or file associations on the host.
QUIET = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "winemenubuilder.exe=d"}
# How long the server outlives its last program: long enough to bridge two
# tests, short enough that an interrupted run leaves nothing for long.
SERVER_LINGER = 60


def environment(prefix, **extra):
    env = dict(os.environ, WINEPREFIX=prefix, **QUIET)
    env.update(extra)
    return env


def make(prefix, wine, arch="win64"):
    """Makes the prefix; returns '' or what went wrong."""
    remove(prefix)
    env = environment(prefix, WINEARCH=arch)
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
    subprocess.run(["wineserver", "-w"], env=env)
    subprocess.run(["wineserver", f"-p{SERVER_LINGER}"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(wine + ["cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    return ""


def remove(prefix):
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=environment(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=("setup", "cleanup"))
    ap.add_argument("prefix")
    ap.add_argument("--wine", default="wine", help="the command that runs a Windows program")
    ap.add_argument("--arch", default="win64", choices=("win32", "win64"))
    opts = ap.parse_args()
    prefix = os.path.abspath(opts.prefix)
    if opts.action == "cleanup":
        remove(prefix)
        return 0
    problem = make(prefix, shlex.split(opts.wine), opts.arch)
    if problem:
        print(f"cannot make a {opts.arch} Wine prefix with {opts.wine!r}: {problem}")
        return 1
    print(f"a {opts.arch} Wine prefix in {prefix}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
