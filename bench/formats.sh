#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# shellcheck disable=SC2317  # the tools' functions are called through timed
# Times funcao_exe's raw outputs, P5 and PNG, on a 4096 x 4096 photograph at 10 % against the
# pipelines that give the same kind of file without them: netpbm's pamaddnoise (raw out) and
# pamaddnoise | pnmtopng, and funcao_exe's own plain P2 piped to pnmtopng. Prints medians and
# ratios; the target is PNG out at least 5x faster than P2 out piped to pnmtopng. Builds Release
# into build-bench/ (or $BUILD_DIR); RUNS sets the runs per tool (at least 5), SIZE the side.
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
exe=${FUNCAO_EXE:-$build/funcao_exe}

data=$build/bench-data
mkdir -p "$data"
if ! "$exe" --quiet --format png "$root/examples/coins.pgm" "$data/check.png" 30 0 2>/dev/null; then
  echo "this build of funcao_exe has no PNG (libspng-dev is missing)" >&2
  exit 2
fi
rm -f "$data/check.png"
input=$data/in_${size}.p5.pgm
if [ ! -s "$input" ] || [ ! -s "$data/in_${size}.p2.pgm" ]; then
  echo "== making ${size}x${size} inputs in $data"
  "$build/bench/make_bench_input" "$root/examples/coins.pgm" "$size" \
    "$input" "$data/in_${size}.p2.pgm" 2>/dev/null
fi

have_netpbm=1
for tool in pamaddnoise pnmtopng; do
  [ -x "/usr/bin/$tool" ] || have_netpbm=0
done
[ $have_netpbm = 1 ] || echo "== netpbm (pamaddnoise, pnmtopng) is missing: its columns stay empty"

# shellcheck source=bench/timing.sh
. "$root/bench/timing.sh"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.1fx\n", a / b }'; }

ours_p2() { "$exe" "$input" "$data/out.pgm" 30 10; }
ours_p5() { "$exe" --format p5 "$input" "$data/out.pgm" 30 10; }
ours_png() { "$exe" "$input" "$data/out.png" 30 10; }
ours_p2_pnmtopng() { "$exe" "$input" - 30 10 2>/dev/null | /usr/bin/pnmtopng >"$data/out.png"; }
netpbm_p5() { /usr/bin/pamaddnoise -type impulse -tolerance 0.10 "$input" >"$data/out.pgm"; }
netpbm_png() { /usr/bin/pamaddnoise -type impulse -tolerance 0.10 "$input" | /usr/bin/pnmtopng >"$data/out.png"; }

tools=(ours_p2 ours_p5 ours_png)
[ $have_netpbm = 1 ] && tools+=(ours_p2_pnmtopng netpbm_p5 netpbm_png)
echo "== ${size}x${size}, P5 in, 10 %: $runs rounds of ${tools[*]}"
declare -A times
for ((i = 0; i < runs; i++)); do
  for tool in "${tools[@]}"; do
    # A new file each time: replacing an old one would time the file system's truncation.
    rm -f "$data/out.pgm" "$data/out.png"
    times[$tool]+="$(timed "$tool") "
  done
done
rm -f "$data/out.pgm" "$data/out.png"
declare -A m
for tool in "${tools[@]}"; do
  # shellcheck disable=SC2086  # one time a word
  m[$tool]=$(printf '%s\n' ${times[$tool]} | median)
done

echo
echo "${size}x${size}, white 30 %, density 10 %, medians of $runs runs in seconds; $(nproc) cores"
echo
echo "| output | funcao_exe | P2 out piped to pnmtopng | netpbm | pipe/ours | netpbm/ours |"
echo "|---|---|---|---|---|---|"
echo "| P2 (plain) | ${m[ours_p2]} | - | - | - | - |"
echo "| P5 (raw) | ${m[ours_p5]} | - | ${m[netpbm_p5]:--} | - | $(ratio "${m[netpbm_p5]:-}" "${m[ours_p5]}") |"
echo "| PNG | ${m[ours_png]} | ${m[ours_p2_pnmtopng]:--} | ${m[netpbm_png]:--} | $(ratio "${m[ours_p2_pnmtopng]:-}" "${m[ours_png]}") | $(ratio "${m[netpbm_png]:-}" "${m[ours_png]}") |"
echo
if [ -n "${m[ours_p2_pnmtopng]:-}" ]; then
  verdict=$(awk -v a="${m[ours_p2_pnmtopng]}" -v b="${m[ours_png]}" 'BEGIN { print (a >= 5 * b) ? "held" : "MISSED" }')
  echo "target, PNG out at least 5x faster than P2 out | pnmtopng: $verdict"
  [ "$verdict" = held ]
fi
