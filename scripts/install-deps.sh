#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, where they
# are missing.  As root it installs them; otherwise it prints the command.
#
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh --windows  also the Windows cross build and Wine
set -euo pipefail

packages=(cmake make g++ clang libgtest-dev python3 liblnk-utils)
windows=0
[ "${1:-}" = "--windows" ] && windows=1
if [ "$windows" = 1 ]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32 wine64
             icoutils xvfb xauth zip)
fi

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

if [ ${#missing[@]} -eq 0 ] && [ "$need_i386" = 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "Missing packages. Install them with:" >&2
  [ "$need_i386" = 1 ] && echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
[ "$need_i386" = 1 ] && dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
