# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Timing helpers shared by the bench scripts; source it.

# Runs a command once; prints its wall time in seconds. Bash's own clock, so no process is started
# around the command.
timed() {
  local start end
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

# The median of the numbers on standard input, one a line; empty for none.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
