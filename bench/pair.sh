#!/usr/bin/env bash
# Two builds of the Linux shortcut side by side, in one run: Query, Create
# and Edit of the kit's link (Edit both ways a save goes) by each, in
# rounds, each round all commands of both builds one after another, so
# that the machine's drifting load falls on both alike.  Prints each
# command's median wall time and mean processor time, and the second
# build's over the first's.
#   bench/pair.sh FIRST SECOND     (BENCH_RUNS=N runs of each command, 1000)
# Needs hyperfine (bench/run.sh installs it).  Not a test: figures only.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 FIRST SECOND" >&2; exit 2; }
builds=("$(realpath "$1")" "$(realpath "$2")")
runs=${BENCH_RUNS:-1000}
rounds=5
work=$(mktemp -d /tmp/shortcut-pair-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

kit=(/A:C /T:rasphone.exe '/P:-f c:\windows\system32\ras\rasphone.pbk -d Zelvo'
     '/I:c:\windows\system32\zelvo.ico')
commands=()
for i in 0 1; do
  exe=${builds[$i]}
  "$exe" "/F:kit$i.lnk" "${kit[@]}" >/dev/null
  cp "kit$i.lnk" "edit$i.lnk"
  cp "kit$i.lnk" "in-place$i.lnk"
  ln "in-place$i.lnk" "in-place$i-2nd.lnk"
  create="$exe /F:create$i.lnk"
  for a in "${kit[@]}"; do create+=" '$a'"; done
  commands+=(-n "query $i" "$exe /F:kit$i.lnk /A:Q" -n "create $i" "$create"
             -n "edit $i" "$exe /F:edit$i.lnk /A:E /D:Dial"
             -n "edit_in_place $i" "$exe /F:in-place$i.lnk /A:E /D:Dial")
done
for round in $(seq $rounds); do
  hyperfine -N --style none --warmup 20 --runs $((runs / rounds)) \
    --export-json "pair.$round.json" "${commands[@]}" >/dev/null 2>hyperfine.log ||
    { cat hyperfine.log >&2; exit 1; }
done

python3 - <<'EOF'
import glob, json, statistics
times, cpu = {}, {}
for path in glob.glob("pair.*.json"):
    with open(path) as f:
        for r in json.load(f)["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
            cpu.setdefault(r["command"], []).append(r["user"] + r["system"])
print(f"{'':16}{'first':>10}{'second':>10}{'ratio':>8}{'cpu first':>12}{'second':>9}{'ratio':>8}")
for name in ("query", "create", "edit", "edit_in_place"):
    a, b = (statistics.median(times[f"{name} {i}"]) * 1000 for i in (0, 1))
    ca, cb = (statistics.mean(cpu[f"{name} {i}"]) * 1000 for i in (0, 1))
    print(f"{name:16}{a:>7.3f} ms{b:>7.3f} ms{b / a:>8.2f}{ca:>9.3f} ms{cb:>6.3f} ms{cb / ca:>8.2f}")
EOF
