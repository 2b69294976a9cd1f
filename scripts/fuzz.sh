#!/usr/bin/env bash
# Fuzzes the project: builds the linux-fuzz preset (clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each target of
# tests/fuzz for SECONDS (30 unless given), one after another.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: reader round_trip driver expand
#
# Each target keeps its corpus in build/linux-fuzz/fuzz/TARGET/corpus, so
# that runs build on each other; it starts from tests/fuzz/seeds/TARGET,
# tests/fuzz/regressions/TARGET and, for the targets that read links,
# tests/corpus and links made by the tool.  An input that breaks a
# target is copied to tests/fuzz/regressions/TARGET/, which the unit tests
# read, and the script fails.  KIT_FUZZ_FLAGS adds libFuzzer flags.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader round_trip driver expand)

cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz
build=$root/build/linux-fuzz
work=$build/fuzz

# Links the tool makes, as seeds of the targets that read links.
made=$work/made-links
if [ ! -d "$made" ]; then
  mkdir -p "$made.new"
  tool=$build/shortcut/shortcut
  ( cd "$made.new"
    make_link() { "$tool" "$@" >/dev/null; }
    make_link "/F:kit.lnk" /A:C /T:rasphone.exe "/P:-f c:\windows\system32\ras\rasphone.pbk -d Zelvo" \
         /I:c:\\windows\\system32\\zelvo.ico "/D:Dial the Zelvo ADSL connection" /H:1626
    make_link /F:env.lnk /A:C '/T:%WINDIR%\Notepad.exe' '/W:%ZELVO_DIR%' '/I:%SystemRoot%\a.ico,-3' /R:7
    make_link /F:local.lnk /A:C '/T:C:\Programme\Zelvo\wählen.exe' '/D:Verbindung 😀' /R:3 /H:846
    make_link /F:unc.lnk /A:C '/T:\\server\share\folder\app.exe' /W:\\\\server\\share
    make_link /F:long.lnk /A:C "/T:C:\\$(printf 'd%.0s' {1..250})" "/P:$(printf 'p%.0s' {1..250})"
    make_link /F:empty.lnk /A:C
  )
  mv "$made.new" "$made"
fi

failed=()
summary=()
for target in "${targets[@]}"; do
  program=$build/tests/fuzz/fuzz_$target
  [ -x "$program" ] || { echo "no fuzz target '$target'" >&2; exit 2; }
  corpus=$work/$target/corpus
  crashes=$work/$target/crashes
  mkdir -p "$corpus" "$crashes"
  seeds=()
  for dir in "$root/tests/fuzz/seeds/$target" "$root/tests/fuzz/regressions/$target"; do
    [ -n "$(ls -A "$dir" 2>/dev/null)" ] && seeds+=("$dir")
  done
  if [ "$target" = reader ] || [ "$target" = round_trip ]; then
    seeds+=("$made" "$root/tests/corpus")
  fi
  flags=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
         -artifact_prefix="$crashes/")
  [ "$target" = driver ] && flags+=(-dict="$root/tests/fuzz/driver.dict")
  echo
  echo "== fuzz_$target for $seconds s"
  log=$work/$target/last-run.log
  status=0
  # shellcheck disable=SC2086
  "$program" "${flags[@]}" ${KIT_FUZZ_FLAGS:-} "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+.*(INITED|DONE|pulse|NEW)' "$log" | tail -n 1 || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  line=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  cov=$(echo "$line" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$line" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  summary+=("$(printf '%-11s %12s runs  cov %5s  ft %6s  corpus %6s files' "$target" \
              "${runs:-?}" "${cov:-?}" "${ft:-?}" "$(ls "$corpus" | wc -l)")")
  found=$(ls "$crashes")
  if [ "$status" != 0 ] || [ -n "$found" ]; then
    failed+=("$target")
    tail -n 40 "$log"
    mkdir -p "$root/tests/fuzz/regressions/$target"
    for f in $found; do
      cp "$crashes/$f" "$root/tests/fuzz/regressions/$target/$f"
      rm "$crashes/$f"
      echo "kept: tests/fuzz/regressions/$target/$f"
    done
  fi
done

echo
echo "== fuzzing, $seconds s per target (log: build/linux-fuzz/fuzz/TARGET/last-run.log)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "broken: ${failed[*]}; the inputs are kept in tests/fuzz/regressions/" >&2
  exit 1
fi
