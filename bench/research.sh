#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times the research options on a 4096 x 4096 photograph (P5 in, P2 out), each beside the plain
# run it is held to, in the same rounds, and prints medians and ratios:
#   --exact at 10 % against a plain run at 10 %        (goal: at most 1.2x)
#   --exact at 100 % against a plain run at 100 %      (goal: at most 5x; about N ln N draws)
#   --mask at 10 % against a plain run at 10 %, beside the time cp takes to write the output once
#                                                      (goal: the difference at most one file's write)
#   -1e30 100 against 30 100: a black pass that must reach every pixel (goal: at most 10x)
# Builds Release into build-bench/ (or $BUILD_DIR); RUNS sets the rounds (at least 5), SIZE the
# image's side.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}
size=${SIZE:-4096}
[ "$runs" -ge 5 ] || { echo "RUNS must be at least 5" >&2; exit 2; }

echo "== building Release in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j --target funcao_exe make_bench_input >/dev/null
exe=$build/funcao_exe
data=$build/bench-data
mkdir -p "$data"
input=$data/in_${size}.p5.pgm
if [ ! -s "$input" ] || [ ! -s "$data/in_${size}.p2.pgm" ]; then
  echo "== making ${size}x${size} inputs in $data"
  "$build/bench/make_bench_input" "$root/examples/coins.pgm" "$size" \
    "$input" "$data/in_${size}.p2.pgm" 2>/dev/null
fi

# shellcheck source=bench/timing.sh
. "$root/bench/timing.sh"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2fx\n", a / b }'; }

# A run writes new files: replacing old ones would time the file system's truncation.
noise() { rm -f "$data/r_out.pgm" "$data/r_mask.pgm"; "$exe" "$@"; }
copy_output() { rm -f "$data/r_cp.pgm"; cp "$data/r_plain.pgm" "$data/r_cp.pgm"; }

"$exe" "$input" "$data/r_plain.pgm" 30 10 >/dev/null 2>&1  # warms the caches; cp's source

# name | plain run's arguments | the run held to it
workloads=(
  "--exact, 10 %|$input $data/r_out.pgm 30 10|--exact $input $data/r_out.pgm 30 10"
  "--exact, 100 %|$input $data/r_out.pgm 30 100|--exact $input $data/r_out.pgm 30 100"
  "--mask, 10 %|$input $data/r_out.pgm 30 10|--mask $data/r_mask.pgm $input $data/r_out.pgm 30 10"
  "-1e30 100 against 30 100|$input $data/r_out.pgm 30 100|$input $data/r_out.pgm -1e30 100"
)
rows=()
for workload in "${workloads[@]}"; do
  IFS='|' read -r name plain_args held_args <<<"$workload"
  echo "== $name: $runs rounds"
  t_plain=() t_held=() t_cp=()
  for ((i = 0; i < runs; i++)); do
    # shellcheck disable=SC2086  # the arguments are words
    t_plain+=("$(timed noise $plain_args)")
    # shellcheck disable=SC2086
    t_held+=("$(timed noise $held_args)")
    t_cp+=("$(timed copy_output)")
  done
  m_plain=$(printf '%s\n' "${t_plain[@]}" | median)
  m_held=$(printf '%s\n' "${t_held[@]}" | median)
  m_cp=$(printf '%s\n' "${t_cp[@]}" | median)
  extra=$(awk -v a="$m_held" -v b="$m_plain" 'BEGIN { printf "%.4f\n", a - b }')
  rows+=("| $name | $m_plain | $m_held | $(ratio "$m_held" "$m_plain") | $extra | $m_cp |")
done
rm -f "$data/r_out.pgm" "$data/r_mask.pgm" "$data/r_cp.pgm" "$data/r_plain.pgm"

echo
echo "${size} x ${size}, P5 in, medians of $runs rounds in seconds:"
echo
echo "| workload | plain run | held run | ratio | difference | cp of one output |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
