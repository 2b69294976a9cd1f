#!/usr/bin/env python3
r"""Runs command-line cases kept as data against a built shortcut program.

A case file holds one group of cases.  Its lines:

    # comment                      ignored
    @env NAME=value                environment of every command in the file
    @wine-codepage CODEC LANG [OEM]
                                   under Wine, run in the locale LANG, whose
                                   ANSI code page is CODEC (a Python codec):
                                   command lines and expected output are in
                                   that code page (the batch file that holds
                                   the command line in the OEM code page, as
                                   cmd reads it, when that differs);
                                   natively they are UTF-8
    @file NAME CONTENT             writes a file into the folder before the
                                   commands run; \xHH in CONTENT is a byte
    @fifo NAME                     makes a named pipe there (natively only)
    @size NAME BYTES               makes the file NAME that long (sparse, its
                                   content followed by zeros; natively only)
    @mtime NAME SECONDS            sets its modification time, in seconds
                                   since 1970 (natively only)
    @link NAME FIELD=VALUE ...     writes a link file there whose texts are
                                   the given ones, stored as UTF-16: FIELD
                                   is Description, RelativePath, WorkingDir,
                                   Arguments or IconLocation; a VALUE with
                                   blanks goes in double quotes; \xHH and
                                   \uXXXX stand for their characters (a
                                   lone surrogate included), any other
                                   backslash for itself, and C{N} for the
                                   character C N times
    === title                      starts a case
    $ shortcut ARG ...             a command; quoting as in a POSIX shell,
                                   but a backslash is an ordinary character
    $$ LINE                        a raw Windows command line, run by cmd as
                                   it stands ({cwd} is the folder), so that
                                   Windows splits it; Wine only
    ? CODE                         the exit code the command must end with
    |text                          one line of the exact standard output;
                                   the output is these lines joined by line
                                   feeds, so "|" alone is an empty line
    @wine-stdout REASON            the lines that follow replace the
                                   expected output under Wine; REASON says
                                   why Wine's answer differs
    @wine-code CODE REASON         another exit code under Wine, and why
    @wine-skip REASON              not run under Wine, and why
    @unchanged NAME                the command above leaves the file NAME
                                   in the folder byte for byte as it was
    @wine-replace OLD => NEW -- REASON
                                   under Wine, expect NEW where the output
                                   has OLD (<CR> and <TAB> stand for those
                                   characters); for the
                                   whole file when it stands before the first
                                   case, else for the command above it.
                                   "re:OLD" is a regular expression.  In NEW,
                                   {cwd} is the folder as Windows names it.

A case may hold several commands, each with its own "?" and "|" lines.  The
commands of one file run one after another in one fresh folder, which is
their current directory, so that a later case can read a link an earlier
one wrote.

With --qemu (a qemu-user command, such as "qemu-aarch64 -L /") a program
built for another processor runs natively through it, with argument 0
still "shortcut".

With --wine the program runs through the emulator given by --prefix; line
feeds in the expected output become CR LF, as the Windows stream writes
them, and the exit code is read in full through cmd's ERRORLEVEL.
"""

import argparse
import difflib
import struct
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile


class Step:
    def __init__(self, line_no, command):
        self.line_no = line_no
        self.command = command
        self.raw = False
        self.code = None
        self.stdout = []
        self.wine_stdout = None
        self.wine_code = None
        self.wine_reasons = []
        self.code_line = None
        self.wine_replacements = []
        self.actual = None
        self.unchanged = []


class Case:
    def __init__(self, title):
        self.title = title
        self.steps = []
        self.wine_skip = None


def split_command(text):
    lexer = shlex.shlex(text, posix=True)
    lexer.whitespace_split = True
    lexer.escape = ""
    lexer.commenters = ""
    return list(lexer)


def unescape(text):
    return text.replace("<CR>", "\r").replace("<TAB>", "\t")


# The StringData fields of a link, in the order the file holds them, with
# the LinkFlags bit that says each is there.
LINK_STRINGS = (("Description", 0x04), ("RelativePath", 0x08), ("WorkingDir", 0x10),
                ("Arguments", 0x20), ("IconLocation", 0x40))
IS_UNICODE = 0x80


def link_text(value):
    """A value of @link as the text it stands for."""
    text = re.sub(r"\\x([0-9A-Fa-f]{2})|\\u([0-9A-Fa-f]{4})",
                  lambda m: chr(int(m.group(1) or m.group(2), 16)), value)
    return re.sub(r"(.)\{(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text, flags=re.S)


def make_link(args):
    """The bytes of a link that holds only the given texts: a shell link
    header, its StringData in UTF-16 and the terminal block."""
    given = {}
    for arg in args:
        field, sep, value = arg.partition("=")
        if not sep or field not in dict(LINK_STRINGS):
            raise ValueError(arg)
        given[field] = link_text(value)
    flags = IS_UNICODE
    strings = b""
    for field, bit in LINK_STRINGS:
        if field in given:
            flags |= bit
            units = given[field].encode("utf-16-le", "surrogatepass")
            strings += struct.pack("<H", len(units) // 2) + units
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    header = struct.pack("<I16sII24sIiIH10s", 0x4C, clsid, flags, 0, b"", 0, 0, 1, 0, b"")
    return header + strings + b"\0\0\0\0"


def parse(path):
    env = {}
    files = {}
    stats = []  # (what, name, number): @size and @mtime
    codepage = ("utf-8", None, None)
    file_replacements = []
    cases = []
    case = None
    target = None  # the list the "|" lines go to
    with open(path, encoding="utf-8") as f:
        for no, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith("|"):
                if target is None:
                    raise SystemExit(f"{path}:{no}: output line outside a command")
                target.append(line[1:])
                continue
            target = None
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("@env "):
                name, _, value = line[5:].partition("=")
                env[name.strip()] = value
            elif line.startswith("@wine-codepage "):
                fields = line.split()[1:]
                codepage = (fields[0], fields[1], fields[2] if len(fields) > 2 else fields[0])
            elif line.startswith("@file "):
                name, _, content = line[6:].partition(" ")
                files[name] = content.encode("latin-1").decode("unicode_escape").encode("latin-1")
            elif line.startswith("@fifo "):
                files[line[6:].strip()] = None
            elif line.startswith(("@size ", "@mtime ")):
                what, name, number = line[1:].split()
                stats.append((what, name, int(number)))
            elif line.startswith("@link "):
                name, *fields = split_command(line[6:])
                try:
                    files[name] = make_link(fields)
                except ValueError as bad:
                    raise SystemExit(f"{path}:{no}: @link NAME FIELD=VALUE ...: {bad}")
            elif line.startswith("=== "):
                case = Case(line[4:].strip())
                cases.append(case)
            elif line.startswith("$$ "):
                if case is None:
                    raise SystemExit(f"{path}:{no}: command outside a case")
                step = Step(no, line[3:])
                step.raw = True
                case.steps.append(step)
                target = step.stdout
            elif line.startswith("$ "):
                if case is None:
                    raise SystemExit(f"{path}:{no}: command outside a case")
                step = Step(no, line[2:])
                case.steps.append(step)
                target = step.stdout
            elif line.startswith("? "):
                case.steps[-1].code = int(line[2:].split()[0], 0)
                case.steps[-1].code_line = no
                target = case.steps[-1].stdout
            elif line.startswith("@wine-stdout"):
                step = case.steps[-1]
                step.wine_stdout = []
                step.wine_reasons.append(line[len("@wine-stdout"):].strip())
                target = step.wine_stdout
            elif line.startswith("@wine-code "):
                parts = line.split(None, 2)
                step = case.steps[-1]
                step.wine_code = int(parts[1], 0)
                step.wine_reasons.append(parts[2] if len(parts) > 2 else "")
            elif line.startswith("@wine-replace "):
                body, _, reason = line[len("@wine-replace "):].partition(" -- ")
                old, sep, new = body.partition(" => ")
                if not sep or not reason.strip():
                    raise SystemExit(f"{path}:{no}: @wine-replace OLD => NEW -- REASON")
                pair = (unescape(old), unescape(new))
                if case is None:
                    file_replacements.append(pair)
                else:
                    case.steps[-1].wine_replacements.append(pair)
            elif line.startswith("@unchanged "):
                case.steps[-1].unchanged.append(line[len("@unchanged "):].strip())
            elif line.startswith("@wine-skip"):
                case.wine_skip = line[len("@wine-skip"):].strip() or "no reason"
            else:
                raise SystemExit(f"{path}:{no}: cannot read: {line}")
    for case in cases:
        for step in case.steps:
            if step.code is None:
                raise SystemExit(f"{path}:{step.line_no}: command without '? CODE'")
    for case in cases:
        for step in case.steps:
            step.wine_replacements = file_replacements + step.wine_replacements
    return env, files, stats, cases, codepage


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def run_native(exe, args, cwd, env, qemu=None):
    # Argument 0 is the bare name, as a user on the PATH would start it.
    if qemu:
        command, exe = qemu + ["-0", "shortcut", exe] + args, None
    else:
        command = ["shortcut"] + args
    proc = subprocess.run(command, executable=exe, cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=60)
    return proc.stdout, proc.returncode, proc.stderr


def windows_quote(arg):
    """Quotes one argument for a Windows command line."""
    if arg and not any(c in arg for c in ' \t"'):
        return arg
    out = '"'
    backslashes = 0
    for c in arg:
        if c == "\\":
            backslashes += 1
            continue
        if c == '"':
            out += "\\" * (2 * backslashes + 1) + '"'
        else:
            out += "\\" * backslashes + c
        backslashes = 0
    return out + "\\" * (2 * backslashes) + '"'


def run_wine(prefix, exe, args, cwd, env, raw_line=None, batch_codec="utf-8"):
    # The program is started by cmd from a batch file, as "shortcut" found
    # in the current folder: argument 0 is then "shortcut", as natively,
    # and cmd reports the full 32-bit exit code through ERRORLEVEL.  The
    # marker line is cut off the output before it is compared.
    shutil.copy(exe, os.path.join(cwd, "shortcut.exe"))
    # In a batch file "%%" is one percent sign; the program must see the
    # line exactly as the case wrote it.
    if raw_line is None:
        line = " ".join(["shortcut"] + [windows_quote(a) for a in args]).replace("%", "%%")
    else:
        line = raw_line.replace("{cwd}", "Z:" + cwd.replace("/", "\\"))
    script = os.path.join(cwd, "_run.cmd")
    with open(script, "wb") as f:
        f.write(b"@echo off\r\n" + line.encode(batch_codec) + b"\r\n"
                b"echo @@EXIT %ERRORLEVEL%\r\n")
    # Now and then Wine's cmd ends before it runs the script at all, with
    # nothing on standard output; that start alone is tried once more.  A
    # program that hangs or crashes still ends the script with its marker.
    for _ in range(2):
        proc = subprocess.run(prefix + ["cmd", "/c", "_run.cmd"], cwd=cwd, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=120)
        if proc.stdout:
            break
        print(f"  (Wine's cmd printed nothing, ended {proc.returncode}: started again)")
    os.unlink(script)
    os.unlink(os.path.join(cwd, "shortcut.exe"))
    out = proc.stdout
    marker = out.rfind(b"@@EXIT ")
    if marker < 0:
        return out, None, proc.stderr
    code = int(out[marker + 7:].split()[0])
    return out[:marker], code, proc.stderr


def rewrite(path, cases, wine, codec="utf-8"):
    """Puts each step's actual output and code into the file: natively the
    steps that run natively, under Wine the raw command lines."""
    by_line = {s.code_line: s for c in cases for s in c.steps if s.raw == wine}
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    in_native_output = False
    for no, line in enumerate(lines, 1):
        if line.startswith("|") and in_native_output:
            continue
        in_native_output = False
        step = by_line.get(no)
        if step is not None and step.actual is not None:
            stdout, code = step.actual
            if wine:
                stdout = stdout.replace(b"\r\n", b"\n")
                out.append(f"? {code}")
            else:
                native = (step.code & 0xFF) or (255 if step.code else 0)
                out.append(f"? {step.code if native == code else code}")
            out.extend("|" + l for l in stdout.decode(codec).split("\n"))
            in_native_output = True
            continue
        out.append(line)
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--prefix", default="wine")
    ap.add_argument("--qemu", default="",
                    help="run the program natively through this qemu-user command")
    ap.add_argument("--update", action="store_true",
                    help="rewrite the expected output and codes from this run")
    ap.add_argument("files", nargs="+")
    opts = ap.parse_args()
    opts.exe = os.path.abspath(opts.exe)
    prefix = shlex.split(opts.prefix)

    failed = passed = skipped = 0
    for path in opts.files:
        file_env, files, stats, cases, codepage = parse(path)
        env = dict(os.environ)
        env.update(file_env)
        codec = batch_codec = "utf-8"
        if opts.wine and codepage[1] is not None:
            codec, batch_codec = codepage[0], codepage[2]
            env["LANG"] = codepage[1]
            env.pop("LC_ALL", None)
        with tempfile.TemporaryDirectory(prefix="cli-") as work:
            for name, content in files.items():
                if content is None:
                    os.mkfifo(os.path.join(work, name))
                    continue
                with open(os.path.join(work, name), "wb") as f:
                    f.write(content)
            for what, name, number in stats:
                if what == "size":
                    os.truncate(os.path.join(work, name), number)
                else:
                    os.utime(os.path.join(work, name), (number, number))
            for case in cases:
                if not opts.wine and any(step.raw for step in case.steps):
                    print(f"SKIP {os.path.basename(path)}: {case.title} (a raw Windows command line)")
                    skipped += 1
                    continue
                if opts.wine and case.wine_skip:
                    print(f"SKIP {os.path.basename(path)}: {case.title} ({case.wine_skip})")
                    skipped += 1
                    continue
                problems = []
                for step in case.steps:
                    args = [] if step.raw else split_command(step.command)
                    if not step.raw and (not args or args[0] != "shortcut"):
                        raise SystemExit(f"{path}:{step.line_no}: a command starts with 'shortcut'")
                    expected_lines = step.stdout
                    expected_code = step.code
                    if opts.wine:
                        if step.wine_stdout is not None:
                            expected_lines = step.wine_stdout
                        if step.wine_code is not None:
                            expected_code = step.wine_code
                    expected = "\n".join(expected_lines)
                    before = {name: read_bytes(os.path.join(work, name))
                              for name in step.unchanged}
                    if opts.wine:
                        cwd = "Z:" + work.replace("/", "\\")
                        for old, new in step.wine_replacements:
                            new = new.replace("{cwd}", cwd)
                            if old.startswith("re:"):
                                expected = re.sub(old[3:], lambda m: new, expected)
                            else:
                                expected = expected.replace(old, new)
                        expected = expected.replace("\n", "\r\n")
                        out, code, err = run_wine(prefix, opts.exe, args[1:], work, env,
                                                  step.command if step.raw else None,
                                                  batch_codec)
                    else:
                        out, code, err = run_native(opts.exe, args[1:], work, env,
                                                   shlex.split(opts.qemu))
                        expected_code &= 0xFF
                        if step.code != 0 and expected_code == 0:
                            expected_code = 255
                    step.actual = (out, code)
                    expected_bytes = expected.encode(codec)
                    changed = [name for name in step.unchanged
                               if read_bytes(os.path.join(work, name)) != before[name]]
                    if out != expected_bytes or code != expected_code or changed:
                        problems.append((step, expected_bytes, out, expected_code, code,
                                         err, changed))
                name = f"{os.path.basename(path)}: {case.title}"
                if problems:
                    failed += 1
                    print(f"FAIL {name}")
                    for step, exp, out, ecode, code, err, changed in problems:
                        print(f"  line {step.line_no}: $ {step.command}")
                        for name in changed:
                            print(f"  {name} changed")
                        if code != ecode:
                            print(f"  exit code {code}, expected {ecode}")
                        if out != exp:
                            exp_lines = [repr(l) for l in exp.decode(codec, "replace").split("\n")]
                            out_lines = [repr(l) for l in out.decode(codec, "replace").split("\n")]
                            for d in difflib.unified_diff(exp_lines, out_lines, "expected",
                                                          "actual", n=1, lineterm=""):
                                print("  " + d)
                        if err:
                            print("  --- stderr: " + err.decode("utf-8", "replace")[:2000])
                else:
                    passed += 1
        if opts.update:
            rewrite(path, cases, opts.wine, codec)
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
