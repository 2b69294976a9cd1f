#!/usr/bin/env python3
"""The whole kit under Wine: dialprep run in the kit folder, as a user would.

One table of scenarios, run on each system of ROWS that the given build
belongs to, each system a throwaway Wine prefix of its own.  A scenario
starts dialprep.exe (under Xvfb, unless it says otherwise) with a kit
folder as its current directory and checks its exit code, what it
installed, where the link went, whether the tool copy is gone, that no
program or DLL someone else planted ran, that it never wrote through
another name of a file, and how long it ran.  The link is read back with
the Windows build of shortcut and, when given, the Linux one.  A 32-bit row
that the Wine here cannot run (no 32-bit programs, or in WoW64 mode no
32-bit system) is skipped with a message.  For a 32-bit program on a 64-bit
system (WoW64) the scenarios marked so also show what dialprep started, and
which files it named while the redirection of system32 was off (strace).
Prints 'N passed, N failed'; exits 77 when every row was skipped.
"""

import argparse
import filecmp
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wine_prefix  # noqa: E402
from query_report import read_report  # noqa: E402

# The systems the kit is tried on: (bits of the build, Wine prefix, name).
ROWS = [
    (32, "win32", "32-bit build on a 32-bit system"),
    # System32 is redirected to SysWOW64 for a 32-bit program there.
    (32, "win64", "32-bit build on a 64-bit system"),
    (64, "win64", "64-bit build on a 64-bit system"),
]

ALL_USERS = "C:\\Documents and Settings\\All Users"  # where XP keeps the all users' desktop
SHELL = "the shell's desktop"  # the all users' desktop folder the shell reports
FOLDERS = ("Bureau", "Desktop", SHELL)
KIT_FILES = ("dialprep.exe", "shortcut.exe", "rasphone.pbk", "zelvo.ico")
ANY = "not checked"
LINK_ARGS = "-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo"
ICON = "c:\\windows\\system32\\zelvo.ico"
# A 32-bit program on a 64-bit system reads the registry's 32-bit view of
# HKLM\Software, a 64-bit one the 64-bit view: both are written.
VIEWS = ("/reg:32", "/reg:64")
EXPLORER = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
SHELL_FOLDERS, USER_SHELL_FOLDERS = EXPLORER + "Shell Folders", EXPLORER + "User Shell Folders"
TOOL_COPY = "windows/temp/shortcut.exe"
PHONEBOOK = "windows/system32/ras/rasphone.pbk"
ICON_COPY = "windows/system32/zelvo.ico"
PLANTED_LOG = "planted.txt"  # a line for each start of the planted program or DLL
VICTIM = "windows/system32/victim.dat"  # a system file a user links to
# A DLL both programs load at run time under Wine.  (Not version.dll: Wine's
# user32 imports it, before the program's first instruction; see docs/tests.md.)
PLANTED_DLL = "uxtheme"
# The command dialprep starts on an English XP-like system, on every system.
DESKTOP_COMMAND = ("c:\\windows\\temp\\shortcut.exe /F:\"c:\\Documents and Settings\\All Users\\"
                   "Desktop\\Zelvo ADSL.lnk\" /A:C /T:rasphone.exe /P:\"" + LINK_ARGS + "\" /I:" + ICON)
# Wine 8.0 loads no display driver into a 32-bit program in its experimental
# WoW64 mode ("Application tried to create a window, but no driver could be
# loaded"), as it says on its error channel: dialprep runs and ends as
# without a display, and there is no window to close.
NO_WINDOW = "Wine's experimental WoW64 mode makes no window for a 32-bit program"
SYSTEM32_DESKTOP = "C:\\windows\\system32\\Zelvo desktop"


@dataclass
class Scenario:
    name: str
    lang: str = "en_US.UTF-8"
    kit: tuple = KIT_FILES          # what the kit folder holds
    kit_folder: str = ""            # its name, when not made of the scenario's
    tool: str = "shortcut"          # its shortcut.exe: "shortcut", "sleeper" (runs
                                    # 10 s) or "planted"
    folders: tuple = FOLDERS        # the desktop folders the system has
    system: str = "xp"              # the desktop the shell names: "xp", All Users'
                                    # of the language's name; "vista", Public's
    shell_desktop: str = ""         # another all users' desktop for the shell
    attacker: tuple = ()            # a user's own (name, "folder" or "link": to
                                    # system32) under All Users
    linked: tuple = ()              # (a destination, "hard", "read-only hard" or
                                    # "symbolic"): a link to VICTIM there
    planted_dll: bool = False       # PLANTED_DLL beside the tool copy and the kit
    old_files: str = ""             # the destinations hold files already:
                                    # "old", or "read-only" ones
    in_temp: str = ""               # the planted program at the tool copy's path:
                                    # "left" there, "read-only", or "running"
    start: str = "display"          # "display", "no display", or "closed" by the closer
    traced: bool = False            # under WoW64, what dialprep names is followed
    wow64: bool = False             # shows what only WoW64 shows (--wow64-scenarios)
    # What must follow:
    code: object = 0                # dialprep's exit code
    started: str = ""               # the one command the kit's tool was started with,
                                    # from c:\windows\temp, with the build's bits
    installed: object = True        # phonebook and icon installed (False: neither)
    link: object = "Desktop"        # the one folder with the link (None: none)
    tool_copy_stays: object = False
    seconds: object = (2.0, 15.0)   # how long dialprep ran
    settle: float = 0               # seconds to wait afterwards


SCENARIOS = [
    Scenario("French", lang="fr_FR.UTF-8", link="Bureau"),
    Scenario("English", wow64=True),
    Scenario("German", lang="de_DE.UTF-8"),
    Scenario("French since Vista", lang="fr_FR.UTF-8", system="vista",
             folders=("Desktop", SHELL), link=SHELL),
    # All Users is ProgramData since Vista, where any user may make folders:
    # his Bureau or Desktop, or one that is a link to system32, is never
    # written into.
    *(Scenario(f"{language} since Vista, a user's {name}" + " linked to system32" * (kind == "link"),
               lang=lang, system="vista", folders=(SHELL,), attacker=(name, kind), link=SHELL)
      for language, lang, name in (("French", "fr_FR.UTF-8", "Bureau"),
                                   ("English", "en_US.UTF-8", "Desktop"))
      for kind in ("folder", "link")),
    # A system file linked at a destination keeps its bytes and attribute: a
    # hard link is replaced by a new file, a symbolic link refused (code 2).
    Scenario("a hard link at the tool copy's path", linked=(TOOL_COPY, "hard")),
    *(Scenario(f"a read-only hard link at the {what}", linked=(path, "read-only hard"))
      for what, path in (("tool copy's path", TOOL_COPY), ("phonebook's", PHONEBOOK),
                         ("icon's", ICON_COPY))),
    Scenario("a symbolic link at the tool copy's path", linked=(TOOL_COPY, "symbolic"),
             link=None, tool_copy_stays=True, code=2),
    Scenario("a DLL planted beside the tool copy and the kit", planted_dll=True),
    Scenario("empty kit", kit=("dialprep.exe",), installed=False, link=None, code=1),
    Scenario("files already present", old_files="old"),
    # As a kit run from a read-only medium leaves them: replaced all the same.
    Scenario("read-only files already present", old_files="read-only"),
    # Had dialprep waited for the tool, it would have run 10 s or more.
    Scenario("tool still running at the tick", tool="sleeper", link=None, tool_copy_stays=True,
             seconds=(2.0, 8.0), settle=9),
    # Nothing is started, and no link is made.
    Scenario("no desktop folder", folders=(), link=None, code=4),
    # The window is there only after the setup run: it has been done.  The
    # tool may still be at work when the program has ended.
    Scenario("window closed before the tick", start="closed", link=ANY, tool_copy_stays=ANY,
             seconds=ANY, settle=3, code=ANY),
    Scenario("no display", start="no display"),
    # Someone else's program at the tool copy's path, where anyone may make
    # files: never started.  Running, it cannot be replaced: nothing is started.
    Scenario("a planted program running at the tool copy's path", in_temp="running", link=None,
             tool_copy_stays=True, code=2),
    Scenario("a planted read-only program at the tool copy's path", in_temp="read-only"),
    Scenario("a planted program and an empty kit", kit=("dialprep.exe",), in_temp="left",
             installed=False, link=None, code=1),
    # The program started is the kit's own tool copy in c:\windows\temp, and
    # its command names c:\windows\system32 exactly as on a 32-bit system.
    Scenario("the tool started is the kit's copy, with the 32-bit system's command",
             tool="planted", link=None, started=DESKTOP_COMMAND, wow64=True),
    # A desktop folder in system32 exists only as the build sees it (under
    # WoW64 in SysWOW64): the link lands there only if the redirection was
    # back on when the folder was looked for, and the copies were all that
    # dialprep named while it was off.  strace follows the tool too, which
    # may then still run at the tick.
    Scenario("the shell's desktop in system32, as the build sees it", folders=(),
             shell_desktop=SYSTEM32_DESKTOP, link=SYSTEM32_DESKTOP, traced=True,
             tool_copy_stays=ANY, seconds=(2.0, 60.0), settle=3, wow64=True),
    Scenario("a kit folder outside the ANSI code page", kit_folder="Łódź kit"),
    # A link path the tool's ANSI command line cannot carry: no link, and the
    # kit's tool (here the planted program) is not started.
    Scenario("the shell's desktop outside the ANSI code page", tool="planted", folders=(),
             shell_desktop="C:\\users\\Public\\Łódź", link=None, code=5),
]


class Row:
    """One system: a Wine prefix and the checks made in it."""

    def __init__(self, opts, prefix, arch, name, experimental):
        self.opts = opts
        self.name = name
        self.label = ""  # the scenario's name, in each check while it runs
        self.wow64 = opts.bits == 32 and arch == "win64"
        self.windowless = self.wow64 and experimental
        self.wine = shlex.split(opts.wine)
        self.prefix = prefix
        self.drive = os.path.join(prefix, "drive_c")
        self.env = wine_prefix.environment(prefix)
        self.passed = self.failed = 0
        self.shell_desktop = self.ask_shell_desktop()
        self.shell_set = None  # what set_shell_desktop last wrote

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + f"{self.name}: {self.label}{what}")
        self.passed += bool(ok)
        self.failed += not ok

    def c(self, *parts):
        return os.path.join(self.drive, *parts)

    def seen(self, windows):
        """The host path of a path on drive C: as the build sees it."""
        parts = windows[3:].split("\\")
        if self.wow64 and [p.lower() for p in parts[:2]] == ["windows", "system32"]:
            parts[1] = "syswow64"
        return self.c(*parts)

    def ask_shell_desktop(self):
        """The all users' desktop folder as the shell records it, in the view
        of the build's bits."""
        out = subprocess.run(self.wine + ["reg", "query", SHELL_FOLDERS, "/v", "Common Desktop",
                                          f"/reg:{self.opts.bits}"],
                             env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=120).stdout.decode("utf-8", "replace")
        m = re.search(r"Common Desktop\s+REG_\w+\s+([A-Za-z]:\\.*?)\s*$", out, re.M)
        return m.group(1) if m else None

    def folder(self, name):
        """(host path, Windows path) of a desktop folder."""
        if name == SHELL:
            name = self.shell_desktop or "C:\\shell reports none"
        elif name[1:3] != ":\\":
            name = ALL_USERS + "\\" + name
        return self.seen(name), name

    def reset(self, scenario):
        """The system as the scenario wants it: no kit files, the named
        desktop folders present and empty, the others missing."""
        for path in (PHONEBOOK, ICON_COPY, TOOL_COPY, *map(wow64_path, (PHONEBOOK, ICON_COPY)),
                     PLANTED_LOG, VICTIM,
                     f"windows/temp/{PLANTED_DLL}.dll", "windows/system32/Zelvo ADSL.lnk"):
            if os.path.lexists(self.c(path)):
                os.unlink(self.c(path))
        os.makedirs(self.c("windows/system32/ras"), exist_ok=True)
        os.makedirs(self.c("windows/temp"), exist_ok=True)
        for name in FOLDERS:
            path = self.folder(name)[0]
            if os.path.islink(path):
                os.unlink(path)
            shutil.rmtree(path, ignore_errors=True)
            if name in scenario.folders:
                os.makedirs(path, exist_ok=True)
        if scenario.attacker:
            name, kind = scenario.attacker
            path = self.folder(name)[0]
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if kind == "folder":
                os.makedirs(path)
            else:  # Wine shows a link to a folder as a reparse point
                os.symlink(self.c("windows", "system32"), path)
        if scenario.linked:
            path, kind = scenario.linked
            pathlib.Path(self.c(VICTIM)).write_text("victim")
            (os.symlink if kind == "symbolic" else os.link)(self.c(VICTIM), self.c(path))
            if kind == "read-only hard":
                os.chmod(self.c(VICTIM), 0o444)  # the DOS read-only attribute
        if scenario.old_files:
            for path in (PHONEBOOK, ICON_COPY, TOOL_COPY):
                pathlib.Path(self.c(path)).write_text("old")
                if scenario.old_files == "read-only":
                    os.chmod(self.c(path), 0o444)  # the DOS read-only attribute
        if scenario.in_temp:
            shutil.copy(self.opts.planted, self.c(TOOL_COPY))
            if scenario.in_temp == "read-only":
                os.chmod(self.c(TOOL_COPY), 0o555)
        if scenario.shell_desktop:
            self.set_shell_desktop(scenario.shell_desktop, scenario.shell_desktop)
            os.makedirs(self.seen(scenario.shell_desktop), exist_ok=True)
        elif scenario.system == "xp":
            # As XP's registry names it: the All Users folder of the
            # language's name.
            folder = ALL_USERS + ("\\Bureau" if scenario.lang.startswith("fr") else "\\Desktop")
            self.set_shell_desktop(folder, folder)
        else:
            self.set_shell_desktop("%PUBLIC%\\Desktop", self.shell_desktop)

    def set_shell_desktop(self, user_folder, folder):
        """Names the all users' desktop in the registry's shell folders:
        user_folder (REG_EXPAND_SZ) in User Shell Folders, which the shell
        reads first, and folder in Shell Folders, in both views."""
        if self.shell_set == (user_folder, folder):
            return
        for key, kind, value in ((USER_SHELL_FOLDERS, "REG_EXPAND_SZ", user_folder),
                                 (SHELL_FOLDERS, "REG_SZ", folder)):
            for view in VIEWS:
                subprocess.run(self.wine + ["reg", "add", key, "/v", "Common Desktop", "/t", kind,
                                            "/d", value, "/f", view],
                               env=self.env, timeout=120, **wine_prefix.SILENT)
        self.shell_set = (user_folder, folder)

    def start_planted(self):
        """Starts the planted program at the tool copy's path, to run 30 s;
        returns it once it runs."""
        planted = subprocess.Popen(self.wine + ["c:\\windows\\temp\\shortcut.exe", "30"],
                                   env=self.env, **wine_prefix.SILENT)
        for _ in range(600):
            if os.path.exists(self.c(PLANTED_LOG)):
                break
            time.sleep(0.1)
        return planted

    def planted_starts(self):
        """The command lines the planted program was started with."""
        try:
            with open(self.c(PLANTED_LOG), "rb") as f:
                return f.read().decode("utf-16-le").splitlines()
        except FileNotFoundError:
            return []

    def dialprep(self, kit, scenario, trace):
        """Runs dialprep.exe in the kit folder (under strace into the file
        trace, when given); returns (seconds, its exit code or the
        closer's)."""
        env = dict(self.env, LANG=scenario.lang, LC_ALL="")
        if scenario.planted_dll:  # Wine's own is taken only where no other is found
            env["WINEDLLOVERRIDES"] += f";{PLANTED_DLL}=n,b"
        program = self.wine + [os.path.join(kit, "dialprep.exe")]
        if trace:
            program = ["strace", "-f", "-qq", "-e", "trace=%file", "-o", trace] + program
        if scenario.start == "closed":
            script = (f"{shlex.join(program)} & {shlex.join(self.wine + [self.opts.closer])}; "
                      "code=$?; wait; exit $code")
            command = ["xvfb-run", "-a", "sh", "-c", script]
        elif scenario.start == "no display":
            command = program
            env.pop("DISPLAY", None)
        else:
            command = ["xvfb-run", "-a"] + program
        start = time.monotonic()
        done = subprocess.run(command, cwd=kit, env=env, timeout=120, **wine_prefix.SILENT)
        seconds = time.monotonic() - start
        return seconds, done.returncode

    def read_link(self, host, windows):
        readers = [("Windows build", self.wine + [self.opts.windows_shortcut,
                                                  "/F:" + windows + "\\Zelvo ADSL.lnk", "/A:Q"])]
        if self.opts.linux_shortcut:
            readers.append(("Linux build", [self.opts.linux_shortcut,
                                            "/F:" + os.path.join(host, "Zelvo ADSL.lnk"), "/A:Q"]))
        for reader, command in readers:
            out = subprocess.run(command, env=self.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=120).stdout
            fields = read_report(out.decode("utf-8", "replace"))
            for key, want, what in (("Arguments", LINK_ARGS, "the arguments"),
                                    ("IconLocation", ICON + ",0", "the icon and index 0"),
                                    ("RunStyle", "1", "run style 1")):
                self.check(fields.get(key) == want, f"{reader} reads {what}")
            # Wine's SetPath keeps no bare name: it stores rasphone.exe as a
            # full path, wherever it found (or supposed) it.
            target = fields.get("TargetPath", "")
            self.check(target.lower().endswith("rasphone.exe"), f"{reader} reads a target ending "
                       f"in rasphone.exe ({target!r}; Wine keeps no bare name)")

    def run(self, scenario, work):
        if scenario.start == "closed" and self.windowless:
            print(f"SKIP {self.name}: {scenario.name} ({NO_WINDOW})")
            return
        self.label = scenario.name + ": "
        kit = os.path.join(work, scenario.kit_folder or re.sub(r"\W+", "-", scenario.name))
        os.makedirs(kit)
        for f in scenario.kit:
            shutil.copy(os.path.join(self.opts.kit, f), kit)
        if scenario.tool != "shortcut" and "shortcut.exe" in scenario.kit:
            shutil.copy(getattr(self.opts, scenario.tool), os.path.join(kit, "shortcut.exe"))
        self.reset(scenario)
        for folder in (kit, self.c("windows/temp")) if scenario.planted_dll else ():
            shutil.copy(self.opts.planted_dll, os.path.join(folder, PLANTED_DLL + ".dll"))
        planted = self.start_planted() if scenario.in_temp == "running" else None
        starts_before = len(self.planted_starts())
        trace = os.path.join(work, "trace.txt") if scenario.traced and self.wow64 else ""
        try:
            seconds, code = self.dialprep(kit, scenario, trace)
        finally:
            if planted is not None:
                planted.kill()
                planted.wait()

        if scenario.start == "closed":
            self.check(code == 0, f"the program ended at once (closer said {code})")
        elif scenario.code != ANY:
            self.check(code == scenario.code, f"exit code {code}, expected {scenario.code}")
        starts = self.planted_starts()[starts_before:]
        if scenario.started:
            # The command exactly; the file as Wine spells it.
            want = [(scenario.started, "c:\\windows\\temp\\shortcut.exe\t" +
                     ("wow64" if self.wow64 else "native"))]
            found = [(command, rest.lower()) for command, _, rest in
                     (line.partition("\t") for line in starts)]
            self.check(found == want, f"started once: {want} (found {starts})")
        elif scenario.in_temp or scenario.tool == "planted" or scenario.planted_dll:
            self.check(not starts, f"no planted program or DLL ran ({starts})")
        if trace:
            self.check_trace(trace, kit)
        if scenario.linked:
            kept = open(self.c(VICTIM), "rb").read()
            self.check(kept == b"victim", f"the system file keeps its bytes ({kept[:8]!r})")
            read_only = os.stat(self.c(VICTIM)).st_mode & 0o222 == 0
            self.check(read_only == (scenario.linked[1] == "read-only hard"),
                       f"and its read-only attribute ({read_only})")
        for what, host in [("the system folder", self.c("windows/system32")),
                           *(("a user's folder", self.folder(n)[0]) for n in scenario.attacker[:1])]:
            self.check(not os.path.exists(os.path.join(host, "Zelvo ADSL.lnk")),
                       f"no link in {what}")
        for what, path in (("phonebook", PHONEBOOK), ("icon", ICON_COPY)):
            installed = os.path.exists(self.c(path)) and filecmp.cmp(
                self.c(path), os.path.join(self.opts.kit, os.path.basename(path)), False)
            if scenario.installed:
                self.check(installed, f"the {what} is installed in the real system32")
            else:
                self.check(not os.path.exists(self.c(path)), f"no {what}")
            if os.path.isdir(self.c("windows/syswow64")):
                self.check(not os.path.exists(self.c(wow64_path(path))), f"no {what} in SysWOW64")
        if scenario.link != ANY:
            for name in FOLDERS + ((scenario.shell_desktop,) if scenario.shell_desktop else ()):
                host, windows = self.folder(name)
                there = os.path.exists(os.path.join(host, "Zelvo ADSL.lnk"))
                if name == scenario.link:
                    self.check(there, f"the link is in {name} ({windows})")
                    if there:
                        self.read_link(host, windows)
                else:
                    self.check(not there, f"no link in {name}")
        if scenario.tool_copy_stays != ANY:
            stays = os.path.exists(self.c(TOOL_COPY))
            self.check(stays == scenario.tool_copy_stays,
                       f"the tool copy {'stays' if scenario.tool_copy_stays else 'is gone'}")
        if scenario.seconds != ANY:
            low, high = scenario.seconds
            self.check(low <= seconds < high, f"ended about 2 s after it started ({seconds:.1f} s)")
        time.sleep(scenario.settle)

    def check_trace(self, trace, kit):
        """From strace's log: while the redirection was off, from dialprep's
        first look at a copy's destination in the real system32 to its last,
        it named only the kit's copies; after them, nothing in the real
        system32."""
        call = re.compile(r'(\d+) +\w+\((?:\w+, )?"([^"]*)"')
        with open(trace, errors="replace") as f:
            calls = [m.groups() for m in map(call.match, f) if m]
        # Its process: the one that reads the kit's phonebook.
        source = os.path.join(kit, "rasphone.pbk")
        pid = next((p for p, path in calls if path.endswith(source)), None)
        names = [self.name_of(path, kit) for p, path in calls if p == pid]
        copies = {"c:/" + p for p in (PHONEBOOK, ICON_COPY)}
        at = [i for i, n in enumerate(names) if n in copies] or [len(names)]
        self.check(at[0] < len(names), "dialprep looked at its copies in system32")
        allowed = copies | {"", "kit"} | {"kit/" + f for f in KIT_FILES} | {"c:/" + p for p in (
            TOOL_COPY, "windows", "windows/system32", "windows/system32/ras", "windows/temp")}
        others = sorted({n for n in names[at[0]:at[-1] + 1] if n not in allowed})
        self.check(not others, f"while the redirection was off it named only the kit's copies "
                               f"(others: {others})")
        later = sorted({n for n in names[at[-1] + 1:] if n.startswith("c:/windows/system32/")})
        self.check(not later, f"after the copies, nothing in the real system32 ({later})")

    def name_of(self, path, kit):
        """A path from the trace: "kit/..." in the kit folder, "c:/..." on
        drive C:, in lower case; any other as it is."""
        for top, name in ((self.prefix + "/dosdevices/z:" + kit, "kit"), (kit, "kit"),
                          (self.prefix + "/dosdevices/c:", "c:"), (self.drive, "c:")):
            if path == top or path.startswith(top + "/"):
                return (name + path[len(top):]).lower()
        return path


def wow64_path(path):
    """A path of system32 as SysWOW64 holds it."""
    return path.replace("windows/system32/", "windows/syswow64/", 1)


def probe(opts, prefix):
    """Whether the build's programs run in the prefix (the usage screen ends
    with 1), and whether Wine says it runs them in its experimental WoW64
    mode."""
    try:
        p = subprocess.run(shlex.split(opts.wine) + [opts.windows_shortcut, "/?"],
                           env=dict(wine_prefix.environment(prefix), WINEDEBUG="err+environ"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return False, False
    return p.returncode == 1, b"experimental wow64 mode" in p.stderr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bits", type=int, required=True, choices=(32, 64),
                    help="the build's: the rows of ROWS that it runs")
    ap.add_argument("--wine", default="wine")
    # The programs run with a kit folder as their current directory: full paths.
    for name, required, what in (
            ("kit", True, "the assembled kit folder"),
            ("linux-shortcut", False, "the Linux build, to read the links with too"),
            ("windows-shortcut", True, None), ("sleeper", True, "a program that runs for 10 s"),
            ("closer", True, "a program that closes dialprep's window"),
            ("planted", True, "someone else's program, which notes each start in c:\\planted.txt"),
            ("planted-dll", True, "someone else's DLL, which notes each load in c:\\planted.txt")):
        ap.add_argument("--" + name, required=required, type=os.path.abspath, help=what)
    ap.add_argument("--arch", choices=("win32", "win64"),
                    help="only the rows of systems of this kind")
    ap.add_argument("--wow64-scenarios", action="store_true",
                    help="only the scenarios that show what only WoW64 shows")
    opts = ap.parse_args()
    scenarios = [s for s in SCENARIOS if s.wow64 or not opts.wow64_scenarios]

    passed = failed = ran = 0
    for bits, arch, name in ROWS:
        if bits != opts.bits or opts.arch not in (None, arch):
            continue
        with tempfile.TemporaryDirectory(prefix="kit-e2e-") as work:
            prefix = os.path.join(work, "prefix")
            try:
                problem = wine_prefix.make(prefix, shlex.split(opts.wine), arch)
                runs, experimental = (False, False) if problem else probe(opts, prefix)
                if problem or not runs:
                    problem = problem or "the build's shortcut.exe does not run there"
                    if bits == 32:
                        print(f"SKIP {name}: the Wine here cannot run it so ({problem})")
                    else:
                        print(f"FAIL {name}: {problem}")
                        failed += 1
                    continue
                ran += 1
                row = Row(opts, prefix, arch, name, experimental)
                row.check(row.shell_desktop is not None,
                          f"the shell reports an all users' desktop ({row.shell_desktop})")
                for scenario in scenarios:
                    row.run(scenario, work)
                passed += row.passed
                failed += row.failed
            finally:
                wine_prefix.remove(prefix)

    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0 if ran else 77


if __name__ == "__main__":
    sys.exit(main())
