#!/usr/bin/env python3
"""Reads a built Windows program's resources back and checks them.

The version resource (its fixed file and product version, its strings,
US English with the Unicode code page) is read with a small parser of
VS_VERSIONINFO; the icon group is taken apart with wrestool and icotool
(Debian package icoutils).  The application manifest (RT_MANIFEST, id 1)
is parsed as XML: its execution level, and the Windows versions it names
as supported.  With --objdump the PE headers are checked too:
machine, subsystem, imports (KnownDLLs only), that no debug section came
back, and that the load configuration asks for the system folder for the
imports' own DLLs (DependentLoadFlags).  With --xp (the 32-bit programs
that ship) the image must still load on Windows XP SP3: every import on
XP_SP3 below, subsystem and OS version 5.01 at most, and a load
configuration directory of 64 bytes in the data directory.  Prints
'N passed, N failed'.
"""

import argparse
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import pe_load_config  # noqa: E402

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
# The namespace of trustInfo that Windows XP SP2 and SP3 accept as well.
ASM_V2 = "{urn:schemas-microsoft-com:asm.v2}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
# What a program of the kit may import: the DLLs Windows maps from the system
# folder alone (the KnownDLLs key, and msvcrt.dll they import on XP); any other
# is looked for beside the program, before the dependent load flags apply.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll",
              "shell32.dll", "msvcrt.dll"}
SYSTEM32 = 0x800  # LOAD_LIBRARY_SEARCH_SYSTEM32
# The offset of DependentLoadFlags in IMAGE_LOAD_CONFIG_DIRECTORY32 and 64.
DEPENDENT_LOAD_FLAGS = {0x10B: 0x36, 0x20B: 0x4E}

# What Windows XP SP3 has that the 32-bit programs may import: by DLL, the
# functions of each oldest Windows that Microsoft's documentation names for
# them ("2000": Windows 2000 Professional).  A DLL missing here is none of the
# system's own (a C++ runtime DLL of MinGW's, for one).  What came with
# Vista or later is looked up at run time, never imported:
# SetDefaultDllDirectories, Wow64DisableWow64FsRedirection,
# Wow64RevertWow64FsRedirection, GetFinalPathNameByHandleW.
XP_SP3 = [
    ("kernel32.dll", "2000", """CloseHandle ExpandEnvironmentStringsW GetACP GetCommandLineA
        GetCommandLineW GetLocaleInfoA GetSystemDirectoryW GetUserDefaultLCID IsDBCSLeadByteEx
        MultiByteToWideChar WideCharToMultiByte lstrcmpiW"""),
    ("kernel32.dll", "XP", """CreateFileW CreateProcessW DeleteCriticalSection
        EnterCriticalSection ExitProcess FormatMessageA FreeLibrary GetCurrentDirectoryW
        GetFileAttributesW GetFileInformationByHandle GetFullPathNameW GetLastError
        GetLongPathNameW GetModuleHandleA GetModuleHandleW GetProcAddress GetStartupInfoA
        InitializeCriticalSection LeaveCriticalSection LoadLibraryA LoadLibraryExW LocalFree
        ReadFile SetLastError SetUnhandledExceptionFilter Sleep TlsGetValue VirtualProtect
        VirtualQuery WriteFile"""),
    ("user32.dll", "2000", """AdjustWindowRect CharNextA CreateWindowExA DefWindowProcA
        DispatchMessageA GetKeyNameTextA GetMessageA KillTimer LoadCursorA LoadIconA
        MapVirtualKeyA RegisterClassA SetTimer ShowWindow TranslateMessage"""),
    ("ole32.dll", "2000", "CoCreateInstance CoInitialize CoUninitialize"),
    ("shell32.dll", "2000", "SHGetFolderPathW"),
    # The C runtime of the system, for which Microsoft names no Windows
    # version: what XP SP3's msvcrt.dll exports.
    ("msvcrt.dll", "XP", """__doserrno __getmainargs __initenv __mb_cur_max __p__acmdln
        __p__commode __p__fmode __set_app_type __setusermatherr _amsg_exit _cexit _errno
        _initterm _iob _lock _onexit _unlock abort atoi calloc exit ferror fflush fprintf fputc
        free fwrite localeconv malloc memcpy memset setlocale signal strchr strcmp strcpy
        strerror strlen strncmp vfprintf wcslen wcsncmp"""),
]
XP_SP3_IMPORTS = {(dll, name) for dll, _, names in XP_SP3 for name in names.split()}
# The highest subsystem and OS version XP takes (5.1), and the size of the
# load configuration that XP's x86 loader checks in the data directory.
XP_VERSION = (5, 1)
XP_LOAD_CONFIG_SIZE = 64

# The supportedOS ids of every Windows since Vista.
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def version_blocks(data, offset=0, end=None):
    """Yields (key, value bytes, children) of a VS_VERSIONINFO tree."""
    end = len(data) if end is None else end
    while offset + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        yield key, value, list(version_blocks(data, children_at, offset + length))
        offset = (offset + length + 3) & ~3


def load_config(image):
    """The DependentLoadFlags of a PE image's load configuration (None when
    it has none, or one too short to hold them), and the configuration's
    size in the data directory."""
    magic, _, directories, sections = pe_load_config.headers(image)
    rva, size = struct.unpack_from("<II", image, directories + 8 * pe_load_config.LOAD_CONFIG)
    field = DEPENDENT_LOAD_FLAGS[magic]
    at = pe_load_config.file_offset(sections, rva, field + 2) if rva else None
    if at is None or min(size, struct.unpack_from("<I", image, at)[0]) < field + 2:
        return None, size
    return struct.unpack_from("<H", image, at + field)[0], size


def imports(objdump_headers):
    """(DLL in lower case, function) of each import objdump -p lists."""
    found, dll = [], None
    for line in objdump_headers.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
        elif dll and not line.strip():
            dll = None
        elif dll:
            m = re.match(r"\s*[0-9a-fA-F]+\s+\d+\s+(\S+)$", line)
            if m:
                found.append((dll, m.group(1)))
    return found


def xp_checks(objdump_headers, config_size):
    """(ok, what) of each thing Windows XP SP3's loader needs of the image."""
    missing = sorted(f"{dll}!{name}" for dll, name in imports(objdump_headers)
                     if (dll, name) not in XP_SP3_IMPORTS)
    yield not missing, f"imports only what Windows XP SP3 has (not: {missing})"
    for what, field in (("OS", "OSystem"), ("subsystem", "Subsystem")):
        m = re.search(rf"Major{field}Version\s+(\d+)\s+Minor{field}Version\s+(\d+)",
                      objdump_headers)
        version = (int(m.group(1)), int(m.group(2))) if m else None
        yield (version is not None and version <= XP_VERSION,
               f"{what} version 5.01 at most (found {version})")
    yield (config_size == XP_LOAD_CONFIG_SIZE,
           f"load configuration of {XP_LOAD_CONFIG_SIZE} bytes in the data directory "
           f"(found {config_size})")


def output(*command):
    return subprocess.run(command, stdout=subprocess.PIPE).stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--fixed-version", required=True)
    ap.add_argument("--string", action="append", default=[])
    ap.add_argument("--icons", required=True)
    ap.add_argument("--execution-level", required=True,
                    help="the manifest's requestedExecutionLevel, e.g. asInvoker")
    ap.add_argument("--objdump", help="objdump of the Windows toolchain")
    ap.add_argument("--machine", help="PE machine, e.g. i386")
    ap.add_argument("--subsystem", help="Windows CUI or Windows GUI")
    ap.add_argument("--xp", action="store_true",
                    help="the image must load on Windows XP SP3 (a 32-bit one)")
    opts = ap.parse_args()
    results = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        results.append(bool(ok))

    with tempfile.TemporaryDirectory() as work:
        raw = output("wrestool", "-x", "--raw", "-t", "16", opts.exe)
        check(len(raw) > 0, "a version resource")
        if raw:
            (key, value, children), = list(version_blocks(raw))[:1]
            check(key == "VS_VERSION_INFO", "VS_VERSION_INFO")
            ms_file, ls_file, ms_product, ls_product = struct.unpack_from("<IIII", value, 8)
            want = [int(p) for p in opts.fixed_version.split(".")]
            want_ms, want_ls = (want[0] << 16) | want[1], (want[2] << 16) | want[3]
            check((ms_file, ls_file) == (want_ms, want_ls), "file version " + opts.fixed_version)
            check((ms_product, ls_product) == (want_ms, want_ls),
                  "product version " + opts.fixed_version)
            string_tables = [t for k, _, kids in children if k == "StringFileInfo" for t in kids]
            tables = [table for table, _, _ in string_tables]
            strings = {name: text.decode("utf-16-le").rstrip("\0")
                       for _, _, entries in string_tables for name, text, _ in entries}
            translation = ([struct.unpack_from("<HH", v) for k, _, kids in children
                            if k == "VarFileInfo" for name, v, _ in kids if name == "Translation"]
                           or [None])[-1]
            check(tables == ["040904B0"] or tables == ["040904b0"],
                  "one string table, US English, Unicode (040904B0)")
            check(translation == (0x0409, 1200), "translation 0x0409, 1200")
            for pair in opts.string:
                name, _, text = pair.partition("=")
                check(strings.get(name) == text, f"{name} = {text!r} (found {strings.get(name)!r})")

        if opts.objdump:
            headers = output(opts.objdump, "-p", opts.exe).decode("latin-1")
            if opts.machine:
                check(f"file format pei-{opts.machine}" in headers, f"machine {opts.machine}")
            if opts.subsystem:
                m = re.search(r"Subsystem\s+\S+\s+\((.*)\)", headers)
                check(m is not None and m.group(1) == opts.subsystem,
                      f"subsystem {opts.subsystem} (found {m.group(1) if m else None})")
            dlls = sorted(set(d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)))
            check(dlls and set(dlls) <= KNOWN_DLLS,
                  f"imports only KnownDLLs (found {dlls}, others {sorted(set(dlls) - KNOWN_DLLS)})")
            flags, config_size = load_config(pathlib.Path(opts.exe).read_bytes())
            check(flags == SYSTEM32,
                  f"dependent load flags: the system folder only ({SYSTEM32:#x}; found {flags})")
            sections = output(opts.objdump, "-h", opts.exe).decode("latin-1")
            debug = sorted(set(re.findall(r"^\s*\d+\s+(\.debug\S*)", sections, re.M)))
            check(not debug, f"no debug sections (found {debug})")
            for ok, what in xp_checks(headers, config_size) if opts.xp else ():
                check(ok, what)

        listing = output("wrestool", "-l", "-t", "24", opts.exe).decode()
        check(re.findall(r"--name=(\S+)", listing) == ["1"], "one manifest, id 1")
        raw = output("wrestool", "-x", "--raw", "-t", "24", opts.exe)
        try:
            root = ET.fromstring(raw)
        except ET.ParseError as error:
            root = None
            check(False, f"manifest is well-formed XML ({error})")
        if root is not None:
            check(root.tag == ASM_V1 + "assembly", "manifest is an asm.v1 assembly")
            levels = root.findall(f"{ASM_V2}trustInfo/{ASM_V2}security/"
                                  f"{ASM_V2}requestedPrivileges/{ASM_V2}requestedExecutionLevel")
            found = [(e.get("level"), e.get("uiAccess")) for e in levels]
            check(found == [(opts.execution_level, "false")],
                  f"asm.v2 trustInfo: level {opts.execution_level}, uiAccess false (found {found})")
            ids = [e.get("Id") for e in root.iter(COMPATIBILITY + "supportedOS")]
            check(sorted(ids) == sorted(SUPPORTED_OS), f"supportedOS Vista to 11 (found {ids})")

        ico = os.path.join(work, "icon.ico")
        subprocess.run(["wrestool", "-x", "-t", "14", "-o", ico, opts.exe], check=False)
        listing = output("icotool", "-l", ico).decode() if os.path.exists(ico) else ""
        found = sorted((int(w), int(d)) for w, d in
                       re.findall(r"--width=(\d+) --height=\d+ --bit-depth=(\d+)", listing))
        want = sorted(tuple(int(x) for x in item.split("x")) for item in opts.icons.split(","))
        check(found == want, f"icon images {want} (found {found})")
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
