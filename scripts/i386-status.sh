#!/usr/bin/env bash
# Says in one line which way this machine runs the shipped 32-bit build
# under Wine, and exits 0; or why it runs it in no way, and exits 1.
#
#   scripts/i386-status.sh          the line: "wine32: ...", "wow64: ..." or
#                                   "none: ..."
#   scripts/i386-status.sh --wine   the command that runs it that way
#                                   (exits 1, silent, where there is none)
#
# The ways, the first that holds:
#   - wine32: Wine's 32-bit loader (/usr/lib/wine/wine, the package
#     wine32:i386) runs, which needs a kernel that runs 32-bit programs;
#   - wow64: Wine's WoW64 mode, the 64-bit loader with the 32-bit PE DLLs
#     of the same release, in the project's tree build/wine-wow64 that
#     scripts/wine-wow64.sh makes (scripts/install-deps.sh --windows makes
#     it where wine32 does not run).
# Why wine32 does not run is told as it is, each reason only where it is
# true: the kernel refuses 32-bit programs (a 32-bit x86 program of 93
# bytes made here, which only exits, gives "Exec format error"), and the
# package wine32:i386 is not installed; and why WoW64 mode does not: the
# kernel runs no 32-bit code even in a 64-bit process, or there is no tree.
set -u
cd "$(dirname "$0")/.."
command=0
case "${1:-}" in
  "") ;;
  --wine) command=1 ;;
  *) echo "usage: $0 [--wine]" >&2; exit 2 ;;
esac
release=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if [ $command = 1 ]; then echo /usr/lib/wine/wine; else
    echo "wine32: Wine's 32-bit loader runs it (wine32:i386 $(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null))"
  fi
  exit 0
fi

probe=$(mktemp /tmp/i386-probe-XXXXXX)
trap 'rm -f "$probe"' EXIT
# ELF header, one program header loading the file at 0x08048000, and
# mov eax,1; xor ebx,ebx; int 0x80 (exit 0).
python3 - "$probe" <<'PY'
import struct, sys
entry = 0x08048000 + 52 + 32
header = (b"\x7fELF\x01\x01\x01" + bytes(9) +
          struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1, 0, 0, 0))
code = b"\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80"
size = 52 + 32 + len(code)
program = struct.pack("<IIIIIIII", 1, 0, 0x08048000, 0x08048000, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
chmod +x "$probe"
reasons=()
if ! out=$("$probe" 2>&1); then
  case "$out" in
    *"format error"*) reasons+=("the kernel refuses 32-bit programs (a 32-bit x86 program gives \"Exec format error\")") ;;
    *) reasons+=("a 32-bit x86 program does not run here: ${out:-exit $?}") ;;
  esac
fi
if ! dpkg-query -W -f='${Status}\n' wine32:i386 2>/dev/null | grep -qx 'install ok installed'; then
  reasons+=("the package wine32:i386 is not installed")
fi
[ ${#reasons[@]} -gt 0 ] || reasons+=("Wine's 32-bit loader (/usr/lib/wine/wine) does not start")
why=${reasons[0]}
for r in "${reasons[@]:1}"; do why="$why, and $r"; done

# WoW64 mode runs the 32-bit code in the kernel's 32-bit code segment
# (selector 0x23) of a 64-bit process.  Some kernels refuse 32-bit programs
# but allow that; some (some virtual machines' guests) allow neither.  The
# probe far-calls, on a stack below 4 GiB, into "mov eax, 42; retf" there.
ia32_code() {
  [ "$(uname -m)" = x86_64 ] || return 1
  [ "$(python3 - 2>/dev/null <<'PY'
import ctypes, mmap, struct
libc = ctypes.CDLL(None)
libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int,
                      ctypes.c_int, ctypes.c_long]
page = libc.mmap(None, 4096, 7, mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | 0x40, -1, 0)  # MAP_32BIT
assert page and page < 2**32
code, far, saved, stack = page + 0x100, page + 0x200, page + 0x400, page + 0x800
at = lambda where, data: ctypes.memmove(where, data, len(data))
at(page, b"\x48\x89\x24\x25" + struct.pack("<I", saved) +  # mov [saved], rsp
   b"\xbc" + struct.pack("<I", stack) +  # mov esp, stack
   b"\xff\x1c\x25" + struct.pack("<I", far) +  # call far [far]
   b"\x48\x8b\x24\x25" + struct.pack("<I", saved) + b"\xc3")  # mov rsp, [saved]; ret
at(code, b"\xb8\x2a\x00\x00\x00\xcb")
at(far, struct.pack("<IH", code, 0x23))
print(ctypes.CFUNCTYPE(ctypes.c_uint)(page)())
PY
)" = 42 ]
}

tree=build/wine-wow64
if ! ia32_code; then
  [ $command = 1 ] && exit 1
  echo "none: $why, and the kernel runs no 32-bit code in a 64-bit process either (a call into its 32-bit code segment faults), which Wine's WoW64 mode needs"
  exit 1
fi
if [ -x "$tree/wine" ] && [ "$(cut -d' ' -f1 "$tree/release" 2>/dev/null)" = "$release" ] &&
   [ -f "$tree/i386/i386-windows/kernel32.dll" ] && "$tree/wine" --version >/dev/null 2>&1; then
  if [ $command = 1 ]; then echo "$PWD/$tree/wine"; else
    echo "wow64: $why; Wine's WoW64 mode runs it (wine64 $release with the 32-bit DLLs of libwine:i386 $release, $tree)"
  fi
  exit 0
fi
[ $command = 1 ] && exit 1
if [ -z "$release" ]; then
  echo "none: $why, and 64-bit Wine (wine64) is not installed for its WoW64 mode"
else
  echo "none: $why, and there is no WoW64 tree for wine64 $release in $tree (scripts/wine-wow64.sh makes it)"
fi
exit 1
