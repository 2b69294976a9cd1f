#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, where they
# are missing.  As root it installs them; otherwise it prints the command.
#
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh --windows  also the Windows cross build and Wine,
#                                      and where 32-bit Wine does not run,
#                                      Wine's WoW64 mode for the 32-bit
#                                      build (scripts/wine-wow64.sh)
#   scripts/install-deps.sh --cross    also the Linux cross builds for arm64,
#                                      armhf and s390x and qemu-user to run
#                                      them (the options may be combined)
#
# It gets everything that can be had.  A package index that fails to update
# (a mirror in the middle of a sync) is a warning: apt goes on with the
# lists it has.  It exits 1 only where a package the build needs cannot be
# installed; an optional one (32-bit Wine) that cannot is named in a
# warning.  The 32-bit build then runs in Wine's WoW64 mode, with the
# 32-bit DLLs of the libwine:i386 release that matches wine64, in a tree of
# the project's own (build/wine-wow64: nothing is written into the system's
# folders); scripts/i386-status.sh says which way it runs, or why in none.
set -euo pipefail

# libclang-rt-14-dev: libFuzzer; dpkg-dev and file: CPack's Debian package
# (dpkg-shlibdeps); groff-base: the manual page check; lintian: the package
# check; ntfs-3g: the fault test's file system without exchanges; samba,
# smbclient and samba-testsuite (smbtorture): the Samba share test's server
# and clients; libsmbclient-dev: the share path's client library and its
# header; krb5-user (kinit), samba-ad-provision, samba-dsdb-modules and
# winbind: the domain controller test's DC and its tickets.
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev python3 liblnk-utils
          dpkg-dev file groff-base lintian ntfs-3g samba smbclient samba-testsuite
          libsmbclient-dev python3-samba krb5-user
          samba-ad-provision samba-dsdb-modules winbind)
optional=()
windows=0 cross=0
for option in "$@"; do
  case "$option" in
    --windows) windows=1 ;;
    --cross) cross=1 ;;
    *) echo "usage: $0 [--windows] [--cross]" >&2; exit 2 ;;
  esac
done
if [ "$windows" = 1 ]; then
  # strace: the kit's test follows which files dialprep names.
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 icoutils xvfb xauth locales
             strace)
  # 32-bit Wine runs the shipped 32-bit build; where it cannot be had,
  # Wine's WoW64 mode does (scripts/wine-wow64.sh, below).
  optional+=(wine32:i386)
fi
# The cross builds use Debian's cross compilers and the target's own C
# library and GoogleTest from multiarch (libc6:ARCH puts the target's
# dynamic loader where the program names it, so qemu-user runs a program
# without a library prefix, and dpkg-shlibdeps reads that library's symbol
# versions).
cross_archs=(arm64 armhf s390x)
if [ "$cross" = 1 ]; then
  packages+=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu
             qemu-user libc6:arm64 libc6:armhf libc6:s390x
             libgtest-dev:arm64 libgtest-dev:armhf libgtest-dev:s390x)
fi
# Wine takes the user's locale from LANG, for which the C library must have
# the locale: the kit's tests run in the first three, the code page tests
# in the others (932 and 936).
locales=(fr_FR.UTF-8 de_DE.UTF-8 en_US.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8)

# A name without an architecture is the machine's own (or one for all
# architectures): with libgtest-dev:arm64 beside it, libgtest-dev alone
# still means the amd64 one.
native=$(dpkg --print-architecture)
installed() {
  local name=${1%%:*} arch=${1#*:}
  [ "$arch" = "$1" ] && arch=$native
  dpkg-query -W -f='${binary:Package} ${Status}\n' "$1" 2>/dev/null |
    grep -qFx -e "$name install ok installed" -e "$name:$arch install ok installed"
}
missing=() missing_optional=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${optional[@]}"; do installed "$p" || missing_optional+=("$p"); done
# wine32 comes from the i386 architecture, the cross builds' libraries
# from theirs.
wanted_archs=()
[ "$windows" = 1 ] && wanted_archs+=(i386)
[ "$cross" = 1 ] && wanted_archs+=("${cross_archs[@]}")
new_archs=()
for a in "${wanted_archs[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$a" || new_archs+=("$a")
done

missing_locales=()
if [ "$windows" = 1 ]; then
  available=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  for l in "${locales[@]}"; do
    want=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
    echo "$available" | grep -qx "$want" || missing_locales+=("$l")
  done
fi

# Where 32-bit Wine does not run (a kernel that refuses 32-bit programs,
# or no wine32:i386), the 32-bit build runs in Wine's WoW64 mode; a tree
# that cannot be made is a warning, as the optional package is.
wow64() {
  [ "$windows" = 1 ] || return 0
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  local why
  why=$("$(dirname "$0")/wine-wow64.sh") ||
    echo "warning: Wine's WoW64 mode for the 32-bit build cannot be set up: $why" >&2
}

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] &&
   [ ${#new_archs[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  wow64
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  if [ ${#missing[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
    echo "warning: optional packages missing (only root can install them): ${missing_optional[*]}" >&2
    wow64
    exit 0
  fi
  echo "Missing packages. Install them with:" >&2
  for a in "${new_archs[@]}"; do echo "  sudo dpkg --add-architecture $a" >&2; done
  wanted=("${missing[@]}" "${missing_optional[@]}")
  [ ${#wanted[@]} -gt 0 ] && echo "  sudo apt-get update && sudo apt-get install -y ${wanted[*]}" >&2
  for l in "${missing_locales[@]}"; do
    echo "  sudo sed -i 's/^# *$l UTF-8/$l UTF-8/' /etc/locale.gen" >&2
  done
  [ ${#missing_locales[@]} -gt 0 ] && echo "  sudo locale-gen" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# apt-get update, where an index that fails (a mirror in mid-sync, a source
# that is down) is a warning: apt keeps the lists it had and the rest it
# got.  Tried once more before it is given up on.
update() {
  local log
  for try in 1 2; do
    if log=$(apt-get update -qq 2>&1) && ! grep -q '^E:' <<<"$log"; then return 0; fi
    [ "$try" = 1 ] && sleep 2
  done
  echo "warning: apt-get update failed for some package lists; going on with those it has:" >&2
  grep -E '^(E|W):' <<<"$log" | head -n 5 | sed 's/^/  /' >&2
}
# apt-get install of the packages given, all at once; where that fails (one
# of them cannot be had), each on its own, so that one missing package
# costs no other.  Prints the names that are not installed after it, by
# dpkg's word: where a name's own architecture cannot be had (pinned away,
# say), apt may end with 0 having installed another's.
install() {
  [ $# -gt 0 ] || return 0
  local p
  if ! apt-get install -y -qq "$@" >/dev/null 2>&1 && [ $# -gt 1 ]; then
    for p in "$@"; do apt-get install -y -qq "$p" >/dev/null 2>&1; done
  fi
  for p in "$@"; do installed "$p" || echo "$p"; done
}

if [ ${#missing[@]} -gt 0 ] || [ ${#missing_optional[@]} -gt 0 ] || [ ${#new_archs[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]} ${missing_optional[*]}"
  for a in "${new_archs[@]}"; do dpkg --add-architecture "$a"; done
  update
  failed=$(install "${missing[@]}")
  failed_optional=$(install "${missing_optional[@]}")
  # An architecture added here of which nothing could be installed is
  # taken away again, so that its lists do not burden every later update.
  for a in "${new_archs[@]}"; do
    if ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx "$a"; then
      dpkg --remove-architecture "$a" 2>/dev/null || true
    fi
  done
  if [ -n "$failed_optional" ]; then
    echo "warning: optional packages could not be installed: $(echo $failed_optional)" >&2
  fi
  if [ -n "$failed" ]; then
    echo "Could not install: $(echo $failed)" >&2
    exit 1
  fi
fi
if [ ${#missing_locales[@]} -gt 0 ]; then
  echo "Generating locales: ${missing_locales[*]}"
  for l in "${missing_locales[@]}"; do
    if grep -q "^# *$l UTF-8" /etc/locale.gen; then
      sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
    elif ! grep -q "^$l UTF-8" /etc/locale.gen; then
      echo "$l UTF-8" >> /etc/locale.gen
    fi
  done
  locale-gen >/dev/null
fi
wow64
