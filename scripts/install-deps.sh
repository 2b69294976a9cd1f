#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, where they
# are missing.  As root it installs them; otherwise it prints the command.
#
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh --windows  also the Windows cross build and Wine
set -euo pipefail

# libclang-rt-14-dev: libFuzzer; dpkg-dev and file: CPack's Debian package
# (dpkg-shlibdeps); groff-base: the manual page check; lintian: the package
# check; ntfs-3g: the fault test's file system without exchanges; samba,
# smbclient and samba-testsuite (smbtorture): the Samba share test's server
# and clients.
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev python3 liblnk-utils
          dpkg-dev file groff-base lintian ntfs-3g samba smbclient samba-testsuite)
windows=0
[ "${1:-}" = "--windows" ] && windows=1
if [ "$windows" = 1 ]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32 wine64
             icoutils xvfb xauth locales)
fi
# Wine takes the user's locale from LANG, for which the C library must have
# the locale: the kit's tests run in the first three, the code page tests
# in the others (932 and 936).
locales=(fr_FR.UTF-8 de_DE.UTF-8 en_US.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
# wine32 comes from the i386 architecture.
need_i386=0
if [ "$windows" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing_locales=()
if [ "$windows" = 1 ]; then
  available=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  for l in "${locales[@]}"; do
    want=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
    echo "$available" | grep -qx "$want" || missing_locales+=("$l")
  done
fi

if [ ${#missing[@]} -eq 0 ] && [ "$need_i386" = 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "Missing packages. Install them with:" >&2
  [ "$need_i386" = 1 ] && echo "  sudo dpkg --add-architecture i386" >&2
  [ ${#missing[@]} -gt 0 ] && echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  for l in "${missing_locales[@]}"; do
    echo "  sudo sed -i 's/^# *$l UTF-8/$l UTF-8/' /etc/locale.gen" >&2
  done
  [ ${#missing_locales[@]} -gt 0 ] && echo "  sudo locale-gen" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_i386" = 1 ]; then
  echo "Installing: ${missing[*]}"
  [ "$need_i386" = 1 ] && dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  [ ${#missing[@]} -gt 0 ] && apt-get install -y -qq "${missing[@]}" >/dev/null
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
