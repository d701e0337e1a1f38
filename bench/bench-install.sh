#!/usr/bin/env bash
# Measures the skin installer against NSIS and a plain copy under Wine, and
# prints markdown tables: executable size and overhead, install time, and the
# installer process's peak memory, for a 1 MiB and a 64 MiB skin.
#   bench/bench-install.sh [ROUNDS]   (make bench-install [RUNS=n]; default 9
#                                      timed rounds after one warm-up round)
# Needs the win32 and native builds (make native) and makensis. Everything it
# makes stays in build/bench-install and build/win32/bench-prefix.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-9}
build=$root/build/win32
work=$root/build/bench-install
skinpack=$root/build/native/skinpack/skinpack
stub="$build/stub/setup [Stub].exe"
driver=$build/bench/bench_install.exe
do_nothing=$build/bench/do_nothing.exe
prefix=$build/bench-prefix

for needed in "$skinpack" "$stub" "$driver" "$do_nothing" "$build/harness/installer_e2e.exe"; do
  [ -f "$needed" ] || { echo "bench-install: $needed is missing: run make native first" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "bench-install: makensis is missing: run scripts/setup.sh bench" >&2; exit 1; }

mkdir -p "$work/do-nothing"
rm -f "$work"/*.exe "$work"/do-nothing/*.exe "$work/runs.txt"
echo "== skins, installers (in $work)" >&2
sizes=(1 64)
for mebibytes in "${sizes[@]}"; do
  skin=$work/Bench-${mebibytes}MiB.ovs
  python3 "$root/bench/make_skin.py" "$skin" "$mebibytes"
  "$skinpack" -o "$work" "$skin" >/dev/null
  # The do-nothing program carrying the skin the same way: what loading an
  # image of that size costs.
  "$skinpack" --stub "$do_nothing" -o "$work/do-nothing" "$skin" >/dev/null
  makensis -V1 -DSTORE "-DSKIN_FILE=$skin" "-DSKIN_NAME=$(basename "$skin")" \
    "-DOUT_FILE=$work/nsis-store-${mebibytes}MiB.exe" "$root/bench/nsis/skin-installer.nsi"
  makensis -V1 "-DSKIN_FILE=$skin" "-DSKIN_NAME=$(basename "$skin")" \
    "-DOUT_FILE=$work/nsis-zlib-${mebibytes}MiB.exe" "$root/bench/nsis/skin-installer.nsi"
done

. "$root/scripts/wine-env.sh"
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
trap 'bash "$root/tests/wine/wine_prefix.sh" stop "$prefix"' EXIT
echo "== a fresh 32-bit Wine prefix in $prefix, one wineserver for every run" >&2
bash "$root/tests/wine/wine_prefix.sh" start "$prefix" "$build/harness" >/dev/null

windows() { winepath -w "$1" 2>/dev/null; }
cases=()
for mebibytes in "${sizes[@]}"; do
  size=${mebibytes}MiB
  skin=$(windows "$work/Bench-$size.ovs")
  cases+=("ours@$size" box "$(windows "$work/setup [Bench-$size.ovs].exe")" "$skin")
  cases+=("nsis-store@$size" box "$(windows "$work/nsis-store-$size.exe")" "$skin")
  cases+=("nsis-zlib@$size" box "$(windows "$work/nsis-zlib-$size.exe")" "$skin")
  cases+=("copy@$size" copy - "$skin")
  if [ "$mebibytes" = 1 ]; then
    cases+=(noop plain "$(windows "$do_nothing")" -)
  fi
  cases+=("noop-skin@$size" plain "$(windows "$work/do-nothing/setup [Bench-$size.ovs].exe")" -)
  cases+=("write@$size" write - "$skin")
  cases+=("flush@$size" flush - "$skin")
done

echo "== $rounds timed rounds after a warm-up, each case once per round" >&2
cut -d' ' -f1-3 /proc/loadavg >"$work/loadavg-before.txt"
# qemu reports signals of Wine's own start-up on stderr; they are harmless.
if ! wine "$driver" "$rounds" 'C:\Program Files\Orvanta' "${cases[@]}" >"$work/runs.txt" 2>"$work/wine.log"; then
  grep -v '^run ' "$work/runs.txt" >&2 || true
  echo "bench-install: a run failed (all runs: $work/runs.txt)" >&2
  exit 1
fi

command="make bench-install"
[ "$rounds" = 9 ] || command="make bench-install RUNS=$rounds"
python3 "$root/bench/report.py" "$work" "$stub" "$command" | tee "$work/report.md"
