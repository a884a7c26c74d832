#!/usr/bin/env bash
# Under wine: writes a chain of N integrators with gorvic.exe, then the same number of
# bytes with binary_writer.exe (the platform's own binary writes in blocks of the same
# size), and prints both times and their ratio; also the peak resident size of the
# gorvic.exe process for a tiny and for this N. Each writer runs three times (RUNS) and its
# best run counts. One wine server serves all runs, so that none of them pays for starting
# it.
#
#   cmake --workflow --preset windows-bench
#   bench/compare-windows.sh [N] [directory]     (defaults: 20000000, the current directory)
set -euo pipefail

n=${1:-20000000}
dir=$(cd "${2:-.}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/windows-bench}
gorvic=$build/gorvic.exe
writer=$build/bench/binary_writer.exe
for exe in "$gorvic" "$writer"; do
  [ -f "$exe" ] || { echo "no $exe: run 'cmake --workflow --preset windows-bench' first" >&2; exit 1; }
done
# shellcheck source=bench/timing.sh
. "$here/bench/timing.sh"

export WINEDEBUG=-all
wine cmd /c exit 0 >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true
cd "$dir"  # wine maps the current directory, so a relative name works on both sides
out=compare-windows.$$.net
trap 'rm -f "$out"; wineserver -k 2>/dev/null || true' EXIT

wine "$gorvic" "$out" "$n" in
bytes=$(stat -c %s "$out")
fresh() { rm -f "$out"; }
first() { wine "$gorvic" "$out" "$n" in; }
second() { wine "$writer" "$out" "$bytes"; }
time_both
[ "$(stat -c %s "$out")" = "$bytes" ] || { echo "the writers' sizes differ" >&2; exit 1; }
rss() { /usr/bin/time -f %M wine "$gorvic" "$out" "$1" in 2>&1 >/dev/null | tail -n 1; }
printf 'N = %s, %s bytes to %s, under wine\n' "$n" "$bytes" "$dir"
report gorvic.exe binary_writer.exe
