# Shared by the comparison scripts: wall times of two writers, and the best of them.

seconds() {  # the wall time of a command, in seconds
  local start end
  sync
  start=$(date +%s.%N)
  "$@"
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
