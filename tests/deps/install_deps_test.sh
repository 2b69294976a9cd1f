#!/usr/bin/env bash
# scripts/install-deps.sh on a bad day: a package source that fails to
# update, a small package the build needs missing, and wine32:i386 pinned
# away so that it cannot be installed.  The script must still install the
# small package, warn of the rest, set up Wine's WoW64 mode for the 32-bit
# build where wine32 was not there before, and exit 0.
#
# It removes and installs packages, so it runs in a view of the system of
# its own that nothing outlives: a mount namespace where an overlay over /,
# its changes in memory, is the root.  The host's packages, lists and
# files stay as they are, whatever happens to the test (a failure, an
# outage of the package mirror, a kill).  Root only.
set -u
cd "$(dirname "$0")/../.."
if [ "$(id -u)" != 0 ]; then echo "skipped: install_deps_test needs root"; exit 0; fi
if [ -z "${INSTALL_DEPS_TEST_VIEW:-}" ]; then
  view=$(mktemp -d)
  trap 'rm -rf "$view"' EXIT
  unshare --mount --propagation private -- sh -c '
    mount -t tmpfs tmpfs "$1" && mkdir "$1/upper" "$1/work" "$1/root" &&
    mount -t overlay overlay -o "lowerdir=/,upperdir=$1/upper,workdir=$1/work" "$1/root" ||
      exit 99
    for d in dev proc sys; do mount --rbind "/$d" "$1/root/$d" || exit 99; done
    exec chroot "$1/root" env INSTALL_DEPS_TEST_VIEW=1 "$2"' view "$view" "$PWD/tests/deps/$(basename "$0")"
  code=$?
  if [ $code = 99 ]; then
    echo "skipped: install_deps_test needs an overlay over / in a mount namespace of its own"
    exit 0
  fi
  exit $code
fi
# In the view: the mirror must be there for the small package to come back.
if ! (cd "$(mktemp -d)" && apt-get download -qq icoutils >/dev/null 2>&1); then
  echo "skipped: install_deps_test cannot fetch a package (no network, or no mirror)"
  exit 0
fi
small=icoutils  # needed by --windows, needed by nothing else here
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/sources" "$tmp/preferences"
cp /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list "$tmp/sources/" 2>/dev/null
echo 'deb [trusted=yes] file:/nonexistent-package-source ./' > "$tmp/sources/failing.list"
printf 'Package: wine32:i386\nPin: release *\nPin-Priority: -1\n' > "$tmp/preferences/no-wine32"
printf 'Dir::Etc::SourceParts "%s/sources/";\nDir::Etc::PreferencesParts "%s/preferences/";\n' \
  "$tmp" "$tmp" > "$tmp/apt.conf"
export APT_CONFIG=$tmp/apt.conf DEBIAN_FRONTEND=noninteractive

apt-get remove -y -qq "$small" >/dev/null 2>&1
had_wine32=0
dpkg-query -W -f='${Status}\n' wine32:i386 2>/dev/null | grep -qx 'install ok installed' && had_wine32=1
scripts/install-deps.sh --windows >"$tmp/out" 2>&1
code=$?
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
check "exit code 0 (was $code)" '[ $code = 0 ]'
check "$small installed" 'dpkg-query -W -f="\${Status}\n" $small 2>/dev/null | grep -qx "install ok installed"'
check "the failed update is a warning" 'grep -q "^warning: apt-get update failed" "$tmp/out"'
if [ $had_wine32 = 0 ]; then
  check "wine32:i386 named as not installed" 'grep -q "^warning: optional packages could not be installed: wine32:i386" "$tmp/out"'
  check "Wine's WoW64 mode set up instead" '[ -f build/wine-wow64/i386/i386-windows/kernel32.dll ]'
  # ... where the kernel runs 32-bit code in a 64-bit process at all.
  check "the 32-bit build runs in it, or the line says why not" \
    'scripts/i386-status.sh | grep -q -E "^wow64: |its 32-bit code segment faults"'
fi
if [ $failures != 0 ]; then
  echo "--- install-deps.sh printed:"; cat "$tmp/out"
  exit 1
fi
