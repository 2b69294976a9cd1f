#!/usr/bin/env bash
# Makes build/wine-wow64, a Wine tree of the project's own that runs the
# 32-bit Windows build in Wine's WoW64 mode: a 64-bit Wine process runs the
# 32-bit program, as 64-bit Windows does, so no 32-bit Linux program runs
# and the kernel need not allow them.  Nothing is written outside the tree.
#
#   scripts/wine-wow64.sh                 make it (or keep it, where it is
#                                         up to date); prints the command
#                                         that runs a program there
#   scripts/wine-wow64.sh --from-package  take the 32-bit DLLs from the
#                                         package file even where
#                                         libwine:i386 is installed
#
# Exits 1 with one line that says why where it cannot be made.
#
# Wine 8.0's 64-bit loader runs a 32-bit program in WoW64 mode where it
# finds no 32-bit loader named "wine" in its own folder to hand it to
# (dlls/ntdll/unix/loader.c: loader_exec), and it takes its own folder
# from /proc/self/exe, symbolic links resolved.  So the tree holds a copy
# of Debian's /usr/lib/wine/wine64 and nothing else that runs; beside it
# links to the system's Wine (its 64-bit Unix and PE libraries, and the
# data files at the place the loader reckons from its own), and the 32-bit
# PE DLLs, which it finds through WINEDLLPATH (in DIR/i386-windows):
#   lib/wine/wine64                  the copy of the 64-bit loader
#   lib/wine/wineserver              -> /usr/lib/wine/wineserver
#   lib/x86_64-linux-gnu/wine        -> /usr/lib/x86_64-linux-gnu/wine
#   share/wine                       -> /usr/share/wine
#   i386                             -> /usr/lib/i386-linux-gnu/wine, where
#                                       libwine:i386 of wine64's release is
#                                       installed; else the 32-bit PE DLLs
#                                       of that release's package file
#                                       (apt-get download, dpkg-deb)
#   wine                             the command: WINEDLLPATH and the copy
#   release                          the Wine release it was made for
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$PWD/build/wine-wow64
from_package=0
case "${1:-}" in
  "") ;;
  --from-package) from_package=1 ;;
  *) echo "usage: $0 [--from-package]" >&2; exit 2 ;;
esac

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true; }
no() { echo "$*"; exit 1; }

release=$(version wine64)
[ -n "$release" ] && [ -x /usr/lib/wine/wine64 ] ||
  no "64-bit Wine (the package wine64) is not installed"
[ -f /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/wow64.dll ] ||
  no "wine64 $release has no WoW64 mode (no wow64.dll)"
wanted="$release $([ $from_package = 1 ] && echo package || echo any)"
if [ -x "$tree/wine" ] && [ "$(cat "$tree/release" 2>/dev/null)" = "$wanted" ] &&
   [ -f "$tree/i386/i386-windows/kernel32.dll" ]; then
  echo "$tree/wine"
  exit 0
fi

rm -rf "$tree"
mkdir -p "$tree/lib/wine" "$tree/lib/x86_64-linux-gnu" "$tree/share"
cp /usr/lib/wine/wine64 "$tree/lib/wine/wine64"
ln -s /usr/lib/wine/wineserver "$tree/lib/wine/wineserver"
ln -s /usr/lib/x86_64-linux-gnu/wine "$tree/lib/x86_64-linux-gnu/wine"
ln -s /usr/share/wine "$tree/share/wine"

if [ $from_package = 0 ] && [ "$(version libwine:i386)" = "$release" ] &&
   [ -f /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll ]; then
  ln -s /usr/lib/i386-linux-gnu/wine "$tree/i386"
else
  # The package file of the very release of wine64: its PE DLLs are the
  # other half of the same build.  apt-get needs the i386 lists for it
  # (scripts/install-deps.sh --windows adds the architecture).
  download=$tree/download
  mkdir -p "$download"
  if ! log=$(cd "$download" && apt-get download -q "libwine:i386=$release" 2>&1); then
    rm -rf "$tree"
    no "the package file of libwine:i386 $release cannot be had: $(tail -n 1 <<<"$log")"
  fi
  mkdir -p "$tree/package"
  dpkg-deb --fsys-tarfile "$download"/libwine_*_i386.deb |
    tar -x -C "$tree/package" ./usr/lib/i386-linux-gnu/wine/i386-windows
  rm -rf "$download"
  ln -s package/usr/lib/i386-linux-gnu/wine "$tree/i386"
  [ -f "$tree/i386/i386-windows/kernel32.dll" ] || {
    rm -rf "$tree"
    no "the package file of libwine:i386 $release holds no 32-bit kernel32.dll"
  }
fi

cat >"$tree/wine" <<'EOF'
#!/bin/sh
# Runs a Windows program with Wine in WoW64 mode (made by scripts/wine-wow64.sh).
here=$(dirname "$(readlink -f "$0")")
WINEDLLPATH=$here/i386${WINEDLLPATH:+:$WINEDLLPATH} exec "$here/lib/wine/wine64" "$@"
EOF
chmod +x "$tree/wine"
echo "$wanted" >"$tree/release"
echo "$tree/wine"
