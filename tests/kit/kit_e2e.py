#!/usr/bin/env python3
"""The whole kit under Wine: dialprep run in the kit folder, as a user would.

Each scenario starts dialprep.exe (under Xvfb, unless it says otherwise)
with a kit folder as its current directory, in the Wine prefix given by
WINEPREFIX, and checks what it installed, the link it had made and how long
it ran.  The link is read back with both builds of shortcut.  Prints
'N passed, N failed'.
"""

import argparse
import filecmp
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

PROFILE = "Documents and Settings/All Users"
LINK_ARGS = "-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo"
ICON = "c:\\windows\\system32\\zelvo.ico"


class Kit:
    def __init__(self, opts):
        self.opts = opts
        self.wine = shlex.split(opts.wine)
        self.drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.passed = self.failed = 0

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if ok:
            self.passed += 1
        else:
            self.failed += 1

    def c(self, *parts):
        return os.path.join(self.drive, *parts)

    def reset(self, folders=("Desktop", "Bureau")):
        """Leaves the prefix as a fresh system would be: no kit files, the
        named All Users folders present and empty."""
        for path in (self.c("windows/system32/ras/rasphone.pbk"), self.c("windows/system32/zelvo.ico"),
                     self.c("windows/temp/shortcut.exe")):
            if os.path.exists(path):
                os.unlink(path)
        os.makedirs(self.c("windows/system32/ras"), exist_ok=True)
        os.makedirs(self.c("windows/temp"), exist_ok=True)
        for name in ("Desktop", "Bureau"):
            folder = self.c(PROFILE, name)
            shutil.rmtree(folder, ignore_errors=True)
            if name in folders:
                os.makedirs(folder)

    def dialprep(self, kit_dir, lang="en_US.UTF-8", display=True):
        """Runs dialprep.exe in kit_dir; returns the seconds it ran."""
        env = dict(os.environ, LANG=lang, LC_ALL="")
        command = self.wine + [os.path.join(kit_dir, "dialprep.exe")]
        if display:
            command = ["xvfb-run", "-a"] + command
        else:
            env.pop("DISPLAY", None)
        start = time.monotonic()
        subprocess.run(command, cwd=kit_dir, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        return time.monotonic() - start

    def query_windows(self, link):
        out = subprocess.run(self.wine + [self.opts.windows_shortcut, "/F:" + link, "/A:Q"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        return report(out.decode("utf-8", "replace"))

    def query_linux(self, path):
        out = subprocess.run([self.opts.linux_shortcut, "/F:" + path, "/A:Q"],
                             stdout=subprocess.PIPE).stdout
        return report(out.decode("utf-8", "replace"))

    def check_link(self, folder, label):
        path = self.c(PROFILE, folder, "Zelvo ADSL.lnk")
        self.check(os.path.exists(path), f"{label}: the link is in {folder}")
        if not os.path.exists(path):
            return
        windows = self.query_windows(f"c:\\Documents and Settings\\All Users\\{folder}\\Zelvo ADSL.lnk")
        linux = self.query_linux(path)
        for name, fields in (("Windows build", windows), ("Linux build", linux)):
            self.check(fields.get("Arguments") == LINK_ARGS, f"{label}: {name} reads the arguments")
            self.check(fields.get("IconLocation") == ICON + ",0", f"{label}: {name} reads the icon and index 0")
            self.check(fields.get("RunStyle") == "1", f"{label}: {name} reads run style 1")
            # Wine's SetPath keeps no bare name: it stores rasphone.exe as a
            # full path, wherever it found (or supposed) it.
            target = fields.get("TargetPath", "")
            self.check(target.lower().endswith("rasphone.exe"),
                       f"{label}: {name} reads a target ending in rasphone.exe ({target!r}; Wine keeps no bare name)")


def report(text):
    fields = {}
    for line in text.replace("\r\n", "\n").split("\n"):
        key, sep, value = line.partition("=")
        if sep:
            fields[key] = value
    return fields


def make_kit(source, work, name, files=("dialprep.exe", "shortcut.exe", "rasphone.pbk", "zelvo.ico")):
    kit = os.path.join(work, name)
    os.makedirs(kit)
    for f in files:
        shutil.copy(os.path.join(source, f), kit)
    return kit


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kit", required=True, help="the assembled kit folder")
    ap.add_argument("--wine", default="wine")
    ap.add_argument("--linux-shortcut", required=True)
    ap.add_argument("--windows-shortcut", required=True)
    ap.add_argument("--sleeper", required=True, help="a program that runs for 10 s")
    ap.add_argument("--closer", required=True, help="a program that closes dialprep's window")
    opts = ap.parse_args()
    k = Kit(opts)

    with tempfile.TemporaryDirectory(prefix="kit-e2e-") as work:
        kit = make_kit(opts.kit, work, "kit")

        for lang, folder, other in (("fr_FR.UTF-8", "Bureau", "Desktop"),
                                    ("en_US.UTF-8", "Desktop", "Bureau"),
                                    ("de_DE.UTF-8", "Desktop", "Bureau")):
            label = lang
            k.reset()
            seconds = k.dialprep(kit, lang)
            k.check(filecmp.cmp(k.c("windows/system32/ras/rasphone.pbk"), os.path.join(kit, "rasphone.pbk"), False),
                    f"{label}: the phonebook is installed")
            k.check(filecmp.cmp(k.c("windows/system32/zelvo.ico"), os.path.join(kit, "zelvo.ico"), False),
                    f"{label}: the icon is installed")
            k.check_link(folder, label)
            k.check(not os.path.exists(k.c(PROFILE, other, "Zelvo ADSL.lnk")), f"{label}: no link in {other}")
            k.check(not os.path.exists(k.c("windows/temp/shortcut.exe")), f"{label}: the tool copy is gone")
            k.check(2.0 <= seconds < 15.0, f"{label}: ended about 2 s after it started ({seconds:.1f} s)")

        # A kit folder with none of the three files.
        empty = make_kit(opts.kit, work, "empty", files=("dialprep.exe",))
        k.reset()
        seconds = k.dialprep(empty)
        k.check(not os.path.exists(k.c("windows/system32/ras/rasphone.pbk")), "empty kit: no phonebook")
        k.check(not os.path.exists(k.c("windows/system32/zelvo.ico")), "empty kit: no icon")
        k.check(not os.path.exists(k.c(PROFILE, "Desktop", "Zelvo ADSL.lnk")), "empty kit: no link")
        k.check(2.0 <= seconds < 15.0, f"empty kit: still ends ({seconds:.1f} s)")

        # Files already at the destinations are replaced.
        k.reset()
        for path in ("windows/system32/ras/rasphone.pbk", "windows/system32/zelvo.ico",
                     "windows/temp/shortcut.exe"):
            with open(k.c(path), "w") as f:
                f.write("old")
        k.dialprep(kit)
        k.check(filecmp.cmp(k.c("windows/system32/ras/rasphone.pbk"), os.path.join(kit, "rasphone.pbk"), False),
                "present files: the phonebook is replaced")
        k.check(filecmp.cmp(k.c("windows/system32/zelvo.ico"), os.path.join(kit, "zelvo.ico"), False),
                "present files: the icon is replaced")
        k.check(os.path.exists(k.c(PROFILE, "Desktop", "Zelvo ADSL.lnk")), "present files: the link is made")

        # A tool that still runs at the tick: its copy stays.
        slow = make_kit(opts.kit, work, "slow", files=("dialprep.exe", "rasphone.pbk", "zelvo.ico"))
        shutil.copy(opts.sleeper, os.path.join(slow, "shortcut.exe"))
        k.reset()
        env = dict(os.environ, LANG="en_US.UTF-8", LC_ALL="")
        start = time.monotonic()
        subprocess.run(["xvfb-run", "-a"] + k.wine + [os.path.join(slow, "dialprep.exe")], cwd=slow,
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        seconds = time.monotonic() - start
        k.check(os.path.exists(k.c("windows/temp/shortcut.exe")), "running tool: the copy stays")
        # Had dialprep waited for the tool, it would have run 10 s or more.
        k.check(2.0 <= seconds < 8.0, f"running tool: dialprep still ends at the tick ({seconds:.1f} s)")
        time.sleep(9)  # let the stand-in finish

        # No desktop folder: no link, and it ends as usual.
        k.reset(folders=())
        seconds = k.dialprep(kit)
        k.check(not os.path.exists(k.c(PROFILE, "Desktop", "Zelvo ADSL.lnk")), "no desktop folder: no link")
        k.check(not os.path.exists(k.c("windows/temp/shortcut.exe")), "no desktop folder: the tool copy is gone")
        k.check(2.0 <= seconds < 15.0, f"no desktop folder: ends as usual ({seconds:.1f} s)")

        # Closing the window before the tick ends the program at once.
        k.reset()
        env = dict(os.environ, LANG="en_US.UTF-8", LC_ALL="")
        script = (f"{shlex.join(k.wine + [os.path.join(kit, 'dialprep.exe')])} & "
                  f"{shlex.join(k.wine + [opts.closer])}; code=$?; wait; exit $code")
        closed = subprocess.run(["xvfb-run", "-a", "sh", "-c", script], cwd=kit, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        k.check(closed.returncode == 0,
                f"closed window: the program ended at once (closer said {closed.returncode})")
        k.check(os.path.exists(k.c("windows/system32/zelvo.ico")),
                "closed window: the setup run had been done")

        # No display: no window can be made, and the run is the same.
        k.reset()
        seconds = k.dialprep(kit, display=False)
        k.check(os.path.exists(k.c(PROFILE, "Desktop", "Zelvo ADSL.lnk")), "no display: the link is made")
        k.check(2.0 <= seconds < 15.0, f"no display: ends about 2 s later ({seconds:.1f} s)")

    print(f"{k.passed} passed, {k.failed} failed")
    return 1 if k.failed else 0


if __name__ == "__main__":
    sys.exit(main())
