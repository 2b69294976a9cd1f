#!/usr/bin/env python3
r"""Runs the examples of the README and of the manual page, as typed.

The examples are read from the documents themselves, never copied here:

- README.md, section "## Using shortcut": every fenced block marked `sh` is
  a script, each command of it run in turn; every block marked `console`
  is a transcript, whose "$ " lines are commands and whose other lines are
  the exact standard output of the command above them.
- each page of docs/: every fenced block marked `sh` or `console` that
  runs shortcut, in any section (a block without a call of shortcut is a
  recipe for building or testing, which scripts/test.sh itself follows).
- the manual page, rendered by groff as a terminal shows it: every "$ "
  line of its EXAMPLES section is a command.

A command ends at a line that does not end in a backslash.  The commands
of one document run with bash, one block after another in one fresh
folder, with the built shortcut first on PATH.  Each must exit with 0, and
every argument that bash hands to shortcut must be exactly the text written
in the example (backslashes included): a value with a backslash that the
shell would eat fails here instead of storing something else.
Prints 'N passed, N failed'.
"""

import argparse
import difflib
import os
import re
import shlex
import subprocess
import sys
import tempfile

SECTION = "## Using shortcut"
ASSIGNMENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*=")

# Records the arguments of every call of shortcut, then runs it.
PREAMBLE = r"""
shortcut() {
  printf '%s\0' "$@" >> "$ARGV_DIR/$COMMAND_NO"
  printf '\1' >> "$ARGV_DIR/$COMMAND_NO"
  command shortcut "$@"
}
"""


class Command:
    def __init__(self, where, text):
        self.where = where      # "README.md:123"
        self.text = text        # as written, continuation lines included
        self.expected = None    # lines of a transcript's output, or None


def commands_of(lines, where, transcript):
    """Splits the lines of one block into commands."""
    commands = []
    current = None      # a command still open after a trailing backslash
    for no, line in lines:
        if current is not None:
            current.text += "\n" + line
            if not line.endswith("\\"):
                current = None
            continue
        if transcript and not line.startswith("$ "):
            if not commands:
                raise SystemExit(f"{where}:{no}: output before the first command")
            commands[-1].expected.append(line)
            continue
        text = line[2:] if line.startswith("$ ") else line
        if not text.strip() or text.lstrip().startswith("#"):
            continue
        command = Command(f"{where}:{no}", text)
        if transcript:
            command.expected = []
        commands.append(command)
        if text.endswith("\\"):
            current = command
    return commands


def readme_blocks(path, section=SECTION):
    """The blocks of section, or of the whole page where section is None
    (there only those that run shortcut)."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks = []
    in_section = section is None
    fence = None
    for no, line in enumerate(lines, 1):
        if fence is not None:
            if line.startswith("```"):
                if fence[0] in ("sh", "console"):
                    blocks.append(commands_of(fence[1], os.path.basename(path),
                                              fence[0] == "console"))
                fence = None
            else:
                fence[1].append((no, line))
            continue
        if line.startswith("## ") and section is not None:
            in_section = line.strip() == section
        elif in_section and line.startswith("```"):
            fence = (line[3:].strip(), [])
    if section is None:
        blocks = [b for b in blocks if any(literal_arguments(c.text) is not None for c in b)]
    return [b for b in blocks if b]


def manpage_blocks(path):
    rendered = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou", path],
                              stdout=subprocess.PIPE, check=True,
                              env=dict(os.environ, LC_ALL="C.UTF-8")).stdout
    lines = rendered.decode("utf-8").split("\n")
    picked = []
    in_examples = False
    for no, line in enumerate(lines, 1):
        if line and not line[0].isspace():
            in_examples = line.strip() == "EXAMPLES"
            continue
        if in_examples:
            text = line.strip()
            if text.startswith("$ ") or (picked and picked[-1][1].endswith("\\")):
                picked.append((no, text))
    where = os.path.basename(path) + " (rendered, line)"
    return [commands_of(picked, where, False)]


def literal_arguments(text):
    """The words of a command as written: quotes removed, backslashes kept."""
    lexer = shlex.shlex(text.replace("\\\n", " "), posix=True)
    lexer.whitespace_split = True
    lexer.escape = ""
    lexer.commenters = ""
    words = list(lexer)
    while words and ASSIGNMENT.match(words[0]):
        words.pop(0)
    if not words or words[0] != "shortcut":
        return None
    return words[1:]


def run_document(blocks, exe_dir):
    results = []
    with tempfile.TemporaryDirectory(prefix="readme-examples-") as work:
        folder = os.path.join(work, "folder")
        argv_dir = os.path.join(work, "argv")
        out_dir = os.path.join(work, "out")
        for d in (folder, argv_dir, out_dir):
            os.mkdir(d)
        env = {"PATH": exe_dir + os.pathsep + "/usr/bin:/bin", "HOME": work,
               "LANG": "C.UTF-8", "ARGV_DIR": argv_dir}
        number = 0
        for block in blocks:
            script = [PREAMBLE]
            first = number
            for command in block:
                number += 1
                script.append(f"COMMAND_NO={number}\n{{\n{command.text}\n}}"
                              f" > \"{out_dir}/{number}\"\necho $? > \"{out_dir}/{number}.rc\"\n")
            subprocess.run(["bash", "-c", "".join(script)], cwd=folder, env=env,
                           stdin=subprocess.DEVNULL, check=False)
            for n, command in enumerate(block, first + 1):
                results.append(check(command, n, out_dir, argv_dir))
    return results


def check(command, n, out_dir, argv_dir):
    problems = []
    try:
        with open(os.path.join(out_dir, f"{n}.rc")) as f:
            code = int(f.read())
        with open(os.path.join(out_dir, str(n)), "rb") as f:
            output = f.read().decode("utf-8", "replace")
    except OSError:
        code, output = None, ""
        problems.append("the command did not run to its end")
    if code not in (None, 0):
        problems.append(f"exit status {code}")
    if command.expected is not None:
        actual = output.split("\n")
        if actual and actual[-1] == "":
            actual.pop()
        if actual != command.expected:
            problems.append("the output differs from the document's:\n" + "\n".join(
                difflib.unified_diff(command.expected, actual, "document", "output",
                                     lineterm="")))
    written = literal_arguments(command.text)
    calls = []
    try:
        with open(os.path.join(argv_dir, str(n)), "rb") as f:
            calls = [c.split(b"\0")[:-1] for c in f.read().split(b"\1")[:-1]]
    except FileNotFoundError:
        pass
    passed = [[w.decode("utf-8", "replace") for w in call] for call in calls]
    if written is not None:
        if len(passed) != 1:
            problems.append(f"shortcut ran {len(passed)} times, not once")
        else:
            for w, p in zip(written, passed[0]):
                if w != p:
                    problems.append(f"the shell turns {w!r} into {p!r}: quote it")
            if len(written) != len(passed[0]):
                problems.append(f"written as {written}, passed as {passed[0]}")
    return command, problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--readme", required=True)
    ap.add_argument("--manpage", required=True)
    ap.add_argument("--docs", help="the folder of the pages that go beyond the README")
    opts = ap.parse_args()
    exe_dir = os.path.dirname(os.path.abspath(opts.exe))

    documents = [("README", readme_blocks(opts.readme))]
    if opts.docs:
        for page in sorted(os.listdir(opts.docs)):
            if page.endswith(".md"):
                blocks = readme_blocks(os.path.join(opts.docs, page), None)
                if blocks:
                    documents.append((page, blocks))
    documents.append(("manual page", manpage_blocks(opts.manpage)))
    passed = failed = 0
    for name, blocks in documents:
        count = sum(len(b) for b in blocks)
        if count == 0:
            print(f"FAIL {name}: no examples found")
            failed += 1
            continue
        for command, problems in run_document(blocks, exe_dir):
            first_line = command.text.split("\n")[0]
            if problems:
                failed += 1
                print(f"FAIL {command.where}: {first_line}")
                for p in problems:
                    print("  " + p)
            else:
                passed += 1
                print(f"ok   {command.where}: {first_line}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
