#!/usr/bin/env bash
# Start-up, as flows that run the generator thousands of times for small chains see it:
# runs `gorvic x.net N in` COUNT times in a shell loop, then plain_writer (a static C
# program that writes the same lines with stdio) as often, and prints both times and their
# ratio. Each loop runs three times (RUNS) in the order A B B A A B; the best counts.
#
#   cmake --workflow --preset bench
#   bench/compare-startup.sh [N] [directory]     (defaults: 8, the current directory)
set -euo pipefail

n=${1:-8}
dir=${2:-.}
count=${COUNT:-300}
here=$(cd "$(dirname "$0")/.." && pwd)
gorvic=${GORVIC:-$here/build/bench/gorvic}
plain=$here/build/bench/bench/plain_writer
for program in "$gorvic" "$plain"; do
  [ -x "$program" ] || { echo "no $program: run 'cmake --workflow --preset bench' first" >&2; exit 1; }
done
out=$dir/compare-startup.$$.net
trap 'rm -f "$out"' EXIT

# shellcheck source=bench/timing.sh
. "$here/bench/timing.sh"

fresh() { rm -f "$out"; }
first() { for ((i = 0; i < count; ++i)); do "$gorvic" "$out" "$n" in; done; }
second() { for ((i = 0; i < count; ++i)); do "$plain" "$out" "$n"; done; }
time_both
rss() { /usr/bin/time -f %M "$gorvic" /dev/null "$1" in 2>&1 >/dev/null | tail -n 1; }
printf '%s runs each of N = %s to %s (%s)\n' "$count" "$n" "$dir" "$(file -b "$gorvic" | cut -d, -f1-5)"
report gorvic plain_writer
