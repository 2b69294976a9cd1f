#!/usr/bin/env bash
# Builds everything and runs every test:
#   - the Linux build with g++ and with clang++, warnings as errors;
#   - the Linux build under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - each fuzz target of tests/fuzz for 30 s (scripts/fuzz.sh);
#   - the Linux build for arm64 and for s390x (big-endian), cross-compiled
#     and run under qemu-user, and the program alone for armhf: their
#     command-line cases and packages, and on arm64 and s390x the unit
#     tests; skipped, in one line that says why, where the cross tools are
#     missing and cannot be installed;
#   - scripts/install-deps.sh against a package source that fails to
#     update, with wine32:i386 pinned away (tests/deps, as root);
#   - the Windows builds: the 32-bit programs that ship, checked as files
#     (resources, imports, what Windows XP needs, no debug sections), and
#     the same sources built for 64-bit Windows, run under Wine (wine64) in
#     throwaway prefixes.  The shipped 32-bit build runs every Wine test
#     too, in the way this machine gives (scripts/i386-status.sh): with
#     32-bit Wine, its kit on a 32-bit and on a 64-bit system, and then in
#     Wine's WoW64 mode as well, a few command-line groups and the kit's
#     scenarios that show what only WoW64 shows; without it, in WoW64 mode
#     (scripts/wine-wow64.sh).  Where neither runs, it is checked as files
#     only, with one line that says why.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh --windows

run() { echo; echo "== $*"; "$@"; }

# The set-up script on a bad day: a package source that fails to update.
run tests/deps/install_deps_test.sh

for preset in linux linux-clang linux-sanitize; do
  run cmake --preset "$preset" >/dev/null
  run cmake --build --preset "$preset"
  run ctest --preset "$preset"
done
run scripts/fuzz.sh 30

# Linux on other processors, with the targets' own C library from
# multiarch.  armhf builds only the program: its command-line cases, links
# read back by lnkinfo and its package (CPack then builds nothing more).
# They compile the presets' code without its debug information, which here
# would only cost time (the package strips it anyway).
no_debug_info=-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
cross_start=$SECONDS
if cross_log=$(scripts/install-deps.sh --cross 2>&1); then
  [ -z "$cross_log" ] || echo "$cross_log"
  for arch in arm64 s390x; do
    run cmake --preset "linux-$arch" "$no_debug_info" >/dev/null
    run cmake --build --preset "linux-$arch"
    run ctest --preset "linux-$arch" -j2
  done
  run cmake --preset linux-armhf "$no_debug_info" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
  run cmake --build --preset linux-armhf --target shortcut
  run ctest --preset linux-armhf -j2 -R '^(cli_|interop_|package_)'
  echo
  echo "The Linux builds for arm64, s390x and armhf took $((SECONDS - cross_start)) s."
else
  echo
  if [ "$(id -u)" != 0 ]; then
    why="the cross tools are missing and only root can install them (scripts/install-deps.sh --cross)"
  else
    why="$(echo "$cross_log" | tail -n 1)"
  fi
  echo "skipped: the Linux builds for arm64, armhf and s390x under qemu-user: $why"
fi

# The Wine tests make their own throwaway prefixes (a CTest fixture for the
# shared one, and one for each system the kit's end-to-end test tries), so
# ctest runs them alone as well; nothing here is shared between the builds.
export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
linux_shortcut=$root/build/linux/shortcut/shortcut
run cmake --preset windows-x64 -DKIT_LINUX_SHORTCUT="$linux_shortcut" >/dev/null
run cmake --build --preset windows-x64
run ctest --test-dir build/windows-x64 --output-on-failure -j2

# The shipped 32-bit programs under Wine, in the way this machine runs
# them; where that is 32-bit Wine, in WoW64 mode too.
if i386=$(scripts/i386-status.sh); then
  wow64=""
  if [ "${i386%%:*}" = wine32 ] && ! wow64=$(scripts/wine-wow64.sh); then
    echo
    echo "skipped: the 32-bit build in Wine's WoW64 mode: $wow64"
    wow64=""
  fi
  echo
  echo "The 32-bit build runs under Wine here: $i386${wow64:+; and in WoW64 mode too ($wow64)}"
  run cmake --preset windows -DKIT_RUN_WINE_TESTS=ON -DKIT_WINE="$(scripts/i386-status.sh --wine)" \
    -DKIT_WINE_WOW64="$wow64" -DKIT_LINUX_SHORTCUT="$linux_shortcut" >/dev/null
else
  run cmake --preset windows -DKIT_RUN_WINE_TESTS=OFF >/dev/null
  echo
  echo "skipped: the 32-bit build under Wine (checked as files only; the Wine tests ran on the 64-bit build): ${i386#none: }"
fi
run cmake --build --preset windows
run ctest --test-dir build/windows --output-on-failure -j2
