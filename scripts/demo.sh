#!/usr/bin/env bash
# The main job: builds shortcut for Linux, then creates a link the way the
# connection kit does, edits it, and prints its query report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target shortcut >/dev/null
shortcut=$root/build/linux/shortcut/shortcut

work=$(mktemp -d /tmp/shortcut-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
export ZELVO_DIR='C:\Program Files\Zelvo'

step() { echo; printf "$ shortcut"; printf " %q" "$@"; echo; "$shortcut" "$@"; }

step "/F:Zelvo ADSL.lnk" /A:C /T:rasphone.exe \
     "/P:-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo" \
     "/I:c:\\windows\\system32\\zelvo.ico"
step "/F:Zelvo ADSL.lnk" /A:E "/D:Dial the Zelvo ADSL connection" /H:1626 \
     "/W:%ZELVO_DIR%"
step "/F:Zelvo ADSL.lnk" /A:Q
