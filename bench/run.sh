#!/usr/bin/env bash
# The start-up and memory cost of the Linux shortcut, measured against two
# C floor programs linked as it is (with the shared C library) and lnkinfo,
# in one run on this machine:
#   - hyperfine: Query, Create and Edit of the kit's link (Edit both ways a
#     save goes: a new file put in the old one's place, and the link
#     rewritten in place, as for a link with a second name), the floors,
#     lnkinfo on the same link; each median and the ratios;
#   - /usr/bin/time -v: the peak memory of one Query;
#   - Query of links of growing size, up to the 1 MiB limit;
#   - the last windows of a local save: how long before it puts the link in
#     place it last looked at the link's bytes, rights and lease
#     (bench/window.py, BENCH_WINDOW_RUNS saves each way);
#   - Query and Edit of a link on a share through SMB, against the Samba
#     test's private smbd, beside smbclient's get and put around a local
#     Query or Edit and beside a C floor that only connects and opens the
#     link with Samba's library (bench/smb.py; as root, with smbd and
#     libsmbclient-dev).
# Not a test: it prints figures and fails only when something cannot run.
#
# The machine's load drifts, and an fsync's cost with it, so each set of
# commands runs in several rounds, one after another in each round, and
# each median is over the runs of all rounds.
#
#   bench/run.sh            (BENCH_RUNS=N for another number of runs;
#                            BENCH_SHORTCUT=PATH to measure another build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${BENCH_RUNS:-1000}

scripts/install-deps.sh
# What the benchmark alone needs.
missing=()
for p in hyperfine liblnk-utils time; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" = "install ok installed" ] ||
    missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ -n "${BENCH_SHORTCUT:-}" ]; then
  shortcut=$(realpath "$BENCH_SHORTCUT")
else
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target shortcut >/dev/null
  shortcut=$root/build/linux/shortcut/shortcut
fi
bin=$root/build/bench
mkdir -p "$bin"
# The floors link the C library as shortcut does: shared.
for floor in floor_print floor_write; do
  cc -O2 -o "$bin/$floor" "bench/$floor.c"
done

work=$(mktemp -d /tmp/shortcut-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The kit's link, as dialprep makes it.
kit=(/A:C /T:rasphone.exe '/P:-f c:\windows\system32\ras\rasphone.pbk -d Zelvo'
     '/I:c:\windows\system32\zelvo.ico')
"$shortcut" "/F:kit.lnk" "${kit[@]}" >/dev/null
size=$(stat -c %s kit.lnk)
# For hyperfine, which splits each command as a shell would.
create="$shortcut /F:create.lnk"
for a in "${kit[@]}"; do create+=" '$a'"; done
# Edits: of a link with one name, and of one with two, which is rewritten.
cp kit.lnk edit.lnk
cp kit.lnk in-place.lnk
ln in-place.lnk in-place-2nd.lnk
edits=(-n edit "$shortcut /F:edit.lnk /A:E /D:Dial")
if "$shortcut" /F:in-place.lnk /A:E /D:Dial >/dev/null; then
  edits+=(-n edit_in_place "$shortcut /F:in-place.lnk /A:E /D:Dial")
fi

rounds=5
# measure NAME RUNS ARGS...: hyperfine ARGS in rounds, into NAME.*.json.
measure() {
  local name=$1 n=$(( $2 / rounds > 10 ? $2 / rounds : 10 )) round
  shift 2
  for round in $(seq $rounds); do
    hyperfine -N --style none --warmup 20 --runs "$n" --export-json "$name.$round.json" \
      "$@" >/dev/null 2>hyperfine.log || { cat hyperfine.log >&2; exit 1; }
  done
}

echo "== start-up: $runs runs each in $rounds rounds, the kit's link ($size bytes)"
measure times "$runs" \
  -n floor_print "$bin/floor_print" \
  -n query "$shortcut /F:kit.lnk /A:Q" \
  -n lnkinfo "lnkinfo kit.lnk" \
  -n floor_write "$bin/floor_write floor.bin $size" \
  -n create "$create" \
  "${edits[@]}"

peak() {  # the maximum resident set size of one run, in KiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}
peak_query=$(peak "$shortcut" /F:kit.lnk /A:Q)
peak_lnkinfo=$(peak lnkinfo kit.lnk)
peak_floor=$(peak "$bin/floor_print")

# Links of growing size, made of many ExtraData blocks.
sizes=(262144 524288 1048576)
scaling=(-n "1 KiB" "$shortcut /F:kit.lnk /A:Q")
for s in "${sizes[@]}"; do
  python3 "$root/bench/make_big_link.py" kit.lnk "$s" "big-$s.lnk" >"big-$s.blocks"
  scaling+=(-n "$((s / 1024)) KiB" "$shortcut /F:big-$s.lnk /A:Q")
done
"$shortcut" "/F:big-1048576.lnk" /A:Q >/dev/null
peak_big=$(peak "$shortcut" /F:big-1048576.lnk /A:Q)
measure scaling "$((runs / 2))" "${scaling[@]}"

python3 - "$size" "$peak_query" "$peak_lnkinfo" "$peak_floor" "$peak_big" "${sizes[@]}" <<'EOF'
import glob
import json
import os
import statistics
import sys

size, peak_query, peak_lnkinfo, peak_floor, peak_big = sys.argv[1:6]
sizes = [int(s) for s in sys.argv[6:]]


def medians(name):
    """Of each command over the runs of every round: the median wall time
    and the mean processor time (user and system), in ms."""
    times, cpu = {}, {}
    for path in glob.glob(f"{name}.*.json"):
        with open(path) as f:
            for r in json.load(f)["results"]:
                times.setdefault(r["command"], []).extend(r["times"])
                cpu.setdefault(r["command"], []).append(r["user"] + r["system"])
    return ({c: statistics.median(t) * 1000 for c, t in times.items()},
            {c: statistics.mean(t) * 1000 for c, t in cpu.items()})


m, cpu = medians("times")
def ratio(a, b):
    return f"{m[a] / m[b]:.2f}x {b} (cpu {cpu[a] / cpu[b]:.2f}x)"


rows = [
    ("floor: print a line", "floor_print", ""),
    ("shortcut Query", "query", ratio("query", "floor_print") + ", " + ratio("query", "lnkinfo")),
    ("lnkinfo", "lnkinfo", ratio("lnkinfo", "floor_print")),
    ("floor: write, rename, 2 fsyncs", "floor_write", ""),
    ("shortcut Create", "create", ratio("create", "floor_write")),
    ("shortcut Edit", "edit", ratio("edit", "floor_write")),
]
if "edit_in_place" in m:
    rows.append(("shortcut Edit, in place", "edit_in_place", ratio("edit_in_place", "edit")))
print(f"{'':30}{'median':>10}{'cpu':>10}   ratio")
for label, key, ratio in rows:
    print(f"{label:30}{m[key]:>7.3f} ms{cpu[key]:>7.3f} ms   {ratio}".rstrip())
print("(cpu: the mean user and system time, which the machine's other work "
      "disturbs less than the wall time)")
print()
print(f"peak memory of one Query: {peak_query} KiB (of the 1 MiB link: {peak_big} KiB); "
      f"lnkinfo {peak_lnkinfo} KiB, floor_print {peak_floor} KiB")

s, scpu = medians("scaling")
base = scpu["1 KiB"]
print()
print("scaling: Query of links made of many 12-byte ExtraData blocks")
print(f"{'size':>10}{'blocks':>9}{'median':>12}{'cpu':>10}{'cpu per KiB over 1 KiB':>26}")
print(f"{int(size):>8} B{0:>9}{s['1 KiB']:>9.3f} ms{base:>7.3f} ms")
for n in sizes:
    with open(f"big-{n}.blocks") as f:
        blocks = int(f.read())
    actual = os.path.getsize(f"big-{n}.lnk")
    key = f"{n // 1024} KiB"
    per_kib = (scpu[key] - base) * 1000 / ((actual - int(size)) / 1024)
    print(f"{actual:>8} B{blocks:>9}{s[key]:>9.3f} ms{scpu[key]:>7.3f} ms{per_kib:>20.2f} µs")
EOF

# The last windows of a local save (bench/window.py), timed from the calls
# themselves through a preload library.
cc -O2 -shared -fPIC -o "$bin/window_shim.so" "$root/bench/window_shim.c" -ldl
echo
echo "last windows of a save: from its last looks at the link to the exchange or the write"
python3 "$root/bench/window.py" --exe "$shortcut" --shim "$bin/window_shim.so" \
  --runs "${BENCH_WINDOW_RUNS:-300}"

# Links on a share, through SMB.
if [ "$(id -u)" = 0 ] && command -v smbd >/dev/null && [ -e /usr/include/samba-4.0/libsmbclient.h ]; then
  cc -O2 -I/usr/include/samba-4.0 -o "$bin/floor_smb" "$root/bench/floor_smb.c" -lsmbclient
  echo
  python3 "$root/bench/smb.py" --exe "$shortcut" --floor "$bin/floor_smb"
else
  echo
  echo "links on a share: skipped (needs root, smbd and libsmbclient-dev)"
fi
