#!/usr/bin/env bash
# Says in one line why this machine cannot run the shipped 32-bit build
# under Wine, and exits 1; exits 0, silent, where it can.  Both reasons may
# hold at once, and each is told only where it is true:
#   - the kernel refuses 32-bit programs: a 32-bit x86 program of 93 bytes
#     made here (it only exits) gives "Exec format error";
#   - 32-bit Wine (the package wine32:i386) is not installed.
set -u
if /usr/lib/wine/wine --version >/dev/null 2>&1; then exit 0; fi

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
  reasons+=("the package wine32:i386 is not installed (scripts/install-deps.sh --windows could not install it)")
fi
[ ${#reasons[@]} -gt 0 ] || reasons+=("Wine's 32-bit loader (/usr/lib/wine/wine) does not start")
line=${reasons[0]}
for r in "${reasons[@]:1}"; do line="$line, and $r"; done
echo "$line"
exit 1
