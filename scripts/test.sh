#!/usr/bin/env bash
# Builds everything and runs every test:
#   - the Linux build with g++ and with clang++, warnings as errors;
#   - the Linux build under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - each fuzz target of tests/fuzz for 30 s (scripts/fuzz.sh);
#   - the Windows builds: the 32-bit programs that ship, checked as files
#     (resources, imports), and the same sources built for 64-bit Windows,
#     run under Wine (wine64) in a throwaway prefix.  Where this machine can
#     run 32-bit programs, the shipped 32-bit build runs under Wine too.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh --windows

run() { echo; echo "== $*"; "$@"; }

for preset in linux linux-clang linux-sanitize; do
  run cmake --preset "$preset" >/dev/null
  run cmake --build --preset "$preset"
  run ctest --preset "$preset"
done
run scripts/fuzz.sh 30

# One Wine prefix for the whole run.
export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
WINEPREFIX=$(mktemp -d /tmp/kit-wineprefix-XXXXXX)
export WINEPREFIX
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
wine64=/usr/lib/wine/wine64
run "$wine64" wineboot -i >/dev/null 2>&1
# Keep the server up between the many short runs of the tests: wait for
# the one wineboot started to end, then start one that stays.
wineserver -w || true
wineserver -p || true
"$wine64" cmd /c exit >/dev/null 2>&1 || true

linux_shortcut=$root/build/linux/shortcut/shortcut
run cmake --preset windows-x64 -DKIT_WINE="$wine64" -DKIT_LINUX_SHORTCUT="$linux_shortcut" >/dev/null
run cmake --build --preset windows-x64
run ctest --test-dir build/windows-x64 --output-on-failure -j2

# The shipped 32-bit programs: run them under Wine where this machine can.
run cmake --preset windows -DKIT_RUN_WINE_TESTS=OFF >/dev/null
run cmake --build --preset windows
if wine build/windows/shortcut/shortcut.exe /? >/dev/null 2>&1; [ $? -eq 1 ]; then
  run cmake --preset windows -DKIT_RUN_WINE_TESTS=ON -DKIT_WINE=wine \
      -DKIT_LINUX_SHORTCUT="$linux_shortcut" >/dev/null
else
  echo
  echo "note: this machine cannot run 32-bit programs (its kernel refuses 32-bit"
  echo "      executables, Wine's 32-bit loader among them); the 32-bit build is"
  echo "      checked as files only, and the Wine tests ran on the 64-bit build."
fi
run ctest --test-dir build/windows --output-on-failure
