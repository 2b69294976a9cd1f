#!/usr/bin/env bash
# The main job: builds shortcut for Linux, creates a link the way the
# connection kit does, edits it and prints its query report; then builds
# the Windows kit and, with Wine, runs its setup in a throwaway prefix and
# shows the report of the shortcut the setup made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh --windows
echo "Building shortcut for Linux (build/linux; a minute or so the first time) ..."
cmake --preset linux >/dev/null
cmake --build --preset linux --target shortcut >/dev/null
shortcut=$root/build/linux/shortcut/shortcut

work=$(mktemp -d /tmp/shortcut-demo-XXXXXX)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"
export ZELVO_DIR='C:\Program Files\Zelvo'

step() { echo; printf "$ shortcut"; printf " %q" "$@"; echo; "$shortcut" "$@"; }

echo "== shortcut on Linux"
step "/F:Zelvo ADSL.lnk" /A:C /T:rasphone.exe \
     "/P:-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo" \
     "/I:c:\\windows\\system32\\zelvo.ico"
step "/F:Zelvo ADSL.lnk" /A:E "/D:Dial the Zelvo ADSL connection" /H:1626 \
     "/W:%ZELVO_DIR%"
step "/F:Zelvo ADSL.lnk" /A:Q

echo
echo "== the kit"
cd "$root"
echo "Building the 32-bit kit that ships (build/windows; a minute or so the first time) ..."
cmake --preset windows >/dev/null
cmake --build --preset windows --target kit >/dev/null
echo "Building the same kit for 64-bit Windows, which wine64 runs (build/windows-x64) ..."
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target kit >/dev/null
echo "32-bit kit: build/windows/zelvo-kit/ and build/windows/zelvo-kit.zip"
ls -l build/windows/zelvo-kit

wine64=/usr/lib/wine/wine64
if [ ! -x "$wine64" ] || ! command -v xvfb-run >/dev/null; then
  echo "(Wine or Xvfb is missing: the kit's setup is not run)"
  exit 0
fi
# The kit that ships, in the way this machine runs 32-bit programs under
# Wine (32-bit Wine, or its WoW64 mode), else the 64-bit build of it, and
# one line that says why.
kit=build/windows/zelvo-kit bits=32
i386=$(scripts/i386-status.sh) || true
echo
if loader=$(scripts/i386-status.sh --wine); then
  echo "(The 32-bit kit runs here: ${i386#*: }.)"
else
  kit=build/windows-x64/zelvo-kit bits=64 loader=$wine64
  echo "(The 32-bit kit is not run here: ${i386#none: }.)"
fi
echo
echo "== the kit's setup under Wine (the $bits-bit build of the kit), in a throwaway prefix"
echo "Making the Wine prefix (a new Windows system in $WINEPREFIX; 20 s or so) ..."
"$wine64" wineboot -i >/dev/null 2>&1
# The all users' desktop that Wine's shell names, where the link goes, and
# the phonebook's folder, which a new Wine prefix lacks.
desktop="$WINEPREFIX/drive_c/users/Public/Desktop"
mkdir -p "$desktop" "$WINEPREFIX/drive_c/windows/system32/ras"
echo "Running dialprep.exe in the kit folder, in English, under Xvfb (it ends 2 s after it starts) ..."
code=0
(cd "$kit" && LANG=en_US.UTF-8 xvfb-run -a "$loader" dialprep.exe >/dev/null 2>&1) || code=$?
echo "dialprep's exit code: $code (0: the files are installed and the tool was started; docs/kit.md lists the others)"
echo "installed:"
ls -l "$WINEPREFIX/drive_c/windows/system32/ras/rasphone.pbk" \
      "$WINEPREFIX/drive_c/windows/system32/zelvo.ico"
step "/F:$desktop/Zelvo ADSL.lnk" /A:Q
echo
echo "(The target shows as a full Z:\\...\\rasphone.exe: Wine's shell link object makes the bare name a path in the current folder, here the kit's; Windows looks rasphone.exe up on the search path.)"
