# Shared by the comparison scripts: wall times of two writers, and the best of them.

# The wall time of a command, in seconds; with SYNC=1, until what it wrote is on the disk
# (a sync inside the time), which the page cache otherwise hides.
seconds() {
  local start end
  sync
  start=$(date +%s.%N)
  "$@"
  [ "${SYNC:-0}" = 0 ] || sync
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# Times the shell functions `first` and `second` RUNS times each (3 unless set), calling
# `fresh` untimed before every run, into the arrays first_times and second_times. The
# order is first, second, second, first, first, ...: on the machines measured here, a run
# right after another run's large file was removed was slow every other time, so a plain
# alternation gave one writer every slow turn (2 s against 0.6 s on tmpfs).
time_both() {
  first_times=() second_times=()
  local i
  for i in $(seq "${RUNS:-3}"); do
    if ((i % 2)); then
      fresh; first_times+=("$(seconds first)")
      fresh; second_times+=("$(seconds second)")
    else
      fresh; second_times+=("$(seconds second)")
      fresh; first_times+=("$(seconds first)")
    fi
  done
}

# Prints each writer's best time, their ratio and, where GNU time is there, the peak
# resident size that the caller's `rss N` measures for N = 10 and for N = $n.
report() {  # report FIRST_NAME SECOND_NAME
  local t1 t2
  t1=$(best "${first_times[@]}")
  t2=$(best "${second_times[@]}")
  printf '%-18s %8.3f s   (runs: %s)\n' "$1" "$t1" "${first_times[*]}"
  printf '%-18s %8.3f s   (runs: %s)\n' "$2" "$t2" "${second_times[*]}"
  printf '%-18s %8.3f\n' ratio "$(echo "$t1 / $t2" | bc -l)"
  if [ -x /usr/bin/time ]; then
    printf 'peak resident size: %s KiB for N = 10, %s KiB for N = %s\n' "$(rss 10)" "$(rss "$n")" "$n"
  fi
}
