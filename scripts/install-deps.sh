#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, where they
# are missing.  As root it installs them; otherwise it prints the command.
#
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh --windows  also the Windows cross build and Wine
#   scripts/install-deps.sh --cross    also the Linux cross builds for arm64,
#                                      armhf and s390x and qemu-user to run
#                                      them (the options may be combined)
set -euo pipefail

# libclang-rt-14-dev: libFuzzer; dpkg-dev and file: CPack's Debian package
# (dpkg-shlibdeps); groff-base: the manual page check; lintian: the package
# check; ntfs-3g: the fault test's file system without exchanges; samba,
# smbclient and samba-testsuite (smbtorture): the Samba share test's server
# and clients.
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev python3 liblnk-utils
          dpkg-dev file groff-base lintian ntfs-3g samba smbclient samba-testsuite)
windows=0 cross=0
for option in "$@"; do
  case "$option" in
    --windows) windows=1 ;;
    --cross) cross=1 ;;
    *) echo "usage: $0 [--windows] [--cross]" >&2; exit 2 ;;
  esac
done
if [ "$windows" = 1 ]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
             icoutils xvfb xauth locales)
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
missing=()
for p in "${packages[@]}"; do
  name=${p%%:*} arch=${p#*:}
  [ "$arch" = "$p" ] && arch=$native
  dpkg-query -W -f='${binary:Package} ${Status}\n' "$p" 2>/dev/null |
    grep -qFx -e "$name install ok installed" -e "$name:$arch install ok installed" ||
    missing+=("$p")
done
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

if [ ${#missing[@]} -eq 0 ] && [ ${#new_archs[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "Missing packages. Install them with:" >&2
  for a in "${new_archs[@]}"; do echo "  sudo dpkg --add-architecture $a" >&2; done
  [ ${#missing[@]} -gt 0 ] && echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  for l in "${missing_locales[@]}"; do
    echo "  sudo sed -i 's/^# *$l UTF-8/$l UTF-8/' /etc/locale.gen" >&2
  done
  [ ${#missing_locales[@]} -gt 0 ] && echo "  sudo locale-gen" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ] || [ ${#new_archs[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  for a in "${new_archs[@]}"; do dpkg --add-architecture "$a"; done
  export DEBIAN_FRONTEND=noninteractive
  # An architecture the package sources do not carry would break every
  # later apt-get update: where the install fails, the architectures added
  # here are taken away again.
  if ! { apt-get update -qq &&
         { [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}" >/dev/null; }; }; then
    for a in "${new_archs[@]}"; do dpkg --remove-architecture "$a" 2>/dev/null || true; done
    [ ${#new_archs[@]} -gt 0 ] && apt-get update -qq || true
    echo "Could not install: ${missing[*]}" >&2
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
