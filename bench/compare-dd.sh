#!/usr/bin/env bash
# Writes a chain of N integrators with gorvic to a file, then the same number of bytes
# with dd, and prints both times and their ratio; also the peak resident size of gorvic
# for a tiny and for this N. Each runs three times (RUNS) and its best run counts, so that
# page-cache write-back left over from one run weighs less on the next.
#
#   bench/compare-dd.sh [N] [directory]      (defaults: 100000000, the current directory)
#   SYNC=1 bench/compare-dd.sh ...           each time until the file is on the disk
set -euo pipefail

n=${1:-100000000}
dir=${2:-.}
here=$(cd "$(dirname "$0")/.." && pwd)
gorvic=${GORVIC:-$here/build/bench/gorvic}
[ -x "$gorvic" ] || { echo "no $gorvic: run 'cmake --workflow --preset bench' first" >&2; exit 1; }

out=$dir/compare-dd.$$.net
trap 'rm -f "$out"' EXIT

# shellcheck source=bench/timing.sh
. "$here/bench/timing.sh"

"$gorvic" "$out" "$n" in
bytes=$(stat -c %s "$out")
fresh() { rm -f "$out"; }
first() { "$gorvic" "$out" "$n" in; }
second() { dd if=/dev/zero of="$out" bs=1M count="$bytes" iflag=count_bytes status=none; }
time_both
rss() { /usr/bin/time -f %M "$gorvic" /dev/null "$1" in 2>&1 >/dev/null | tail -n 1; }
printf 'N = %s, %s bytes to %s\n' "$n" "$bytes" "$dir"
report gorvic dd
