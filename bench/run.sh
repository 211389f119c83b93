#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# shellcheck disable=SC2317  # the tools' functions are called through timed
# Times funcao_exe against netpbm and ImageMagick on a 4096 x 4096 photograph, P5 and P2 in,
# plain P2 out, and prints a table of medians and ratios. The floor is what any program that holds
# two images and writes this text must spend: cp of funcao_exe's own output into a fresh file,
# plus touching two images' worth of fresh memory (touch_memory.c). Then a dataset: 200 different
# 512 x 512 P5 images through xargs -P 2, one process per image, for funcao_exe and netpbm, in
# images per second. Builds Release into build-bench/ (or $BUILD_DIR) and makes its inputs there;
# installs nothing. RUNS sets the runs per tool (at least 5), SIZE the image's side, FUNCAO_EXE
# another build of the command to time, BASELINE a second one timed beside it in the same rounds
# (an older build, say), whose times and ratio get columns of their own.
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
# FUNCAO_EXE times another build of the command (an older one, say) against the same inputs.
exe=${FUNCAO_EXE:-$build/funcao_exe}
baseline=${BASELINE:-}
touch_memory=$build/touch_memory
"${CC:-cc}" -O2 -o "$touch_memory" "$root/bench/touch_memory.c"

data=$build/bench-data
mkdir -p "$data"
if [ ! -s "$data/in_${size}.p5.pgm" ] || [ ! -s "$data/in_${size}.p2.pgm" ]; then
  echo "== making ${size}x${size} inputs in $data"
  "$build/bench/make_bench_input" "$root/examples/coins.pgm" "$size" \
    "$data/in_${size}.p5.pgm" "$data/in_${size}.p2.pgm" 2>/dev/null
fi

# The real tools only: /usr/local/bin may hold stand-ins that share their names.
missing=()
have_netpbm=1
for tool in pamaddnoise pnmtoplainpnm; do
  [ -x "/usr/bin/$tool" ] || have_netpbm=0
done
[ $have_netpbm = 1 ] || missing+=("netpbm (pamaddnoise, pnmtoplainpnm)")
im=""
for candidate in /usr/bin/convert-im6.q16 /usr/bin/convert; do
  if [ -x "$candidate" ] && "$candidate" -version 2>/dev/null | grep -q ImageMagick; then
    im=$candidate
    break
  fi
done
[ -n "$im" ] || missing+=("imagemagick (convert)")
timer=/usr/bin/time
[ -x "$timer" ] || { missing+=("time (/usr/bin/time, for peak memory)"); timer=""; }
if [ ${#missing[@]} -gt 0 ]; then
  echo "== missing, those columns stay empty (Debian packages; install them to compare):"
  printf '   %s\n' "${missing[@]}"
fi

# shellcheck source=bench/timing.sh
. "$root/bench/timing.sh"
# a / b with one decimal, or with the number of decimals given third.
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.*fx\n", d, a / b }'; }

# The tools, called through timed.
ours() { "$exe" "$1" "$data/out.pgm" 30 "$2"; }
before() { "$baseline" "$1" "$data/out_before.pgm" 30 "$2"; }
netpbm() { /usr/bin/pamaddnoise -type impulse -tolerance "$3" "$1" | /usr/bin/pnmtoplainpnm >"$data/out_netpbm.pgm"; }
magick() { "$im" -attenuate "$4" "$1" +noise Impulse -compress none "$data/out_im.pgm"; }
copy_output() { cp "$data/out.pgm" "$data/out_cp.pgm"; }
touch_two_images() { "$touch_memory" "$pixels"; }

pixels=$((size * size))
limit_kib=$(((2 * pixels + 8 * 1024 * 1024) / 1024))
status=0
rows=()

# name, input, density %, netpbm tolerance, ImageMagick attenuate (its impulse rate is 10 % x it)
workloads=(
  "P5 in, 10 %|$data/in_${size}.p5.pgm|10|0.10|1"
  "P2 in, 10 %|$data/in_${size}.p2.pgm|10|0.10|1"
  "P5 in, 100 %|$data/in_${size}.p5.pgm|100|1.0|10"
)
for workload in "${workloads[@]}"; do
  IFS='|' read -r name input density tolerance attenuate <<<"$workload"
  echo "== $name: $runs rounds of funcao_exe, netpbm, ImageMagick, cp, memory touch"
  ours "$input" "$density" >/dev/null 2>&1  # warm the caches
  t_ours=() t_before=() t_netpbm=() t_im=() t_cp=() t_touch=()
  # Every tool writes a new file: replacing an old one would time the file system's truncation
  # (with online discard, a wait for the disk) instead of the tool.
  for ((i = 0; i < runs; i++)); do
    rm -f "$data/out.pgm"
    t_ours+=("$(timed ours "$input" "$density")")
    rm -f "$data/out_before.pgm"
    [ -n "$baseline" ] && t_before+=("$(timed before "$input" "$density")")
    rm -f "$data/out_netpbm.pgm"
    [ $have_netpbm = 1 ] && t_netpbm+=("$(timed netpbm "$input" "$density" "$tolerance")")
    rm -f "$data/out_im.pgm"
    [ -n "$im" ] && t_im+=("$(timed magick "$input" "$density" "$tolerance" "$attenuate")")
    rm -f "$data/out_cp.pgm"
    t_cp+=("$(timed copy_output)")
    t_touch+=("$(timed touch_two_images)")
  done
  m_ours=$(printf '%s\n' "${t_ours[@]}" | median)
  m_before=$(printf '%s\n' "${t_before[@]}" | grep . | median || true)
  m_netpbm=$(printf '%s\n' "${t_netpbm[@]}" | grep . | median || true)
  m_im=$(printf '%s\n' "${t_im[@]}" | grep . | median || true)
  m_cp=$(printf '%s\n' "${t_cp[@]}" | median)
  m_touch=$(printf '%s\n' "${t_touch[@]}" | median)
  floor=$(awk -v a="$m_cp" -v b="$m_touch" 'BEGIN { printf "%.4f\n", a + b }')
  rss="-"
  if [ -n "$timer" ]; then
    rss=$("$timer" -f %M "$exe" "$input" "$data/out.pgm" 30 "$density" 2>&1 >/dev/null | tail -1)
    [ "$rss" -le "$limit_kib" ] || status=1
    rss=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
  fi
  rows+=("$(printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |' \
    "$name" "$m_ours" "${m_before:--}" "${m_netpbm:--}" "${m_im:--}" "$m_cp" "$m_touch" "$floor" \
    "$(ratio "$m_ours" "$m_before" 2)" "$(ratio "$m_netpbm" "$m_ours")" "$(ratio "$m_im" "$m_ours")" \
    "$(ratio "$m_ours" "$floor" 2)" "$(ratio "$m_netpbm" "$floor")" "$rss")")
done
rm -f "$data/out_netpbm.pgm" "$data/out_im.pgm" "$data/out_cp.pgm" "$data/out_before.pgm"

# A dataset: one process per image, two at a time, as people who noise many images run the tool.
tiles=$data/tiles_512
batch_count=200
if [ ! -s "$tiles/tile_$(printf '%03d' $((batch_count - 1))).pgm" ]; then
  mkdir -p "$tiles"
  "$build/bench/make_bench_input" --tiles "$root/examples/coins.pgm" "$size" 512 "$batch_count" \
    "$tiles" 2>/dev/null
fi
batch_out=$data/batch_out
# One line of arguments per image: input, output, white %, density %.
batch_lines() { for tile in "$tiles"/tile_*.pgm; do echo "$tile $batch_out/${tile##*/} 30 10"; done; }
batch_ours() { batch_lines | xargs -P 2 -L 1 "$exe"; }
batch_before() { batch_lines | xargs -P 2 -L 1 "$baseline"; }
# shellcheck disable=SC2016  # expanded by the shell xargs starts
batch_netpbm() { batch_lines | xargs -P 2 -L 1 sh -c '/usr/bin/pamaddnoise -type impulse -tolerance 0.10 "$0" | /usr/bin/pnmtoplainpnm >"$1"'; }
echo "== dataset: $batch_count images of 512 x 512, P5 in, 10 %, xargs -P 2: $runs rounds"
b_ours=() b_before=() b_netpbm=()
for ((i = 0; i < runs; i++)); do
  for tool in ours before netpbm; do
    [ $tool = before ] && [ -z "$baseline" ] && continue
    [ $tool = netpbm ] && [ $have_netpbm = 0 ] && continue
    rm -rf "$batch_out"
    mkdir -p "$batch_out"
    seconds=$(timed "batch_$tool")
    eval "b_$tool+=(\"\$seconds\")"
  done
done
rm -rf "$batch_out"
# Images per second from the median time of a round.
per_second() { [ $# -gt 0 ] || return 0; printf '%s\n' "$@" | median | awk -v n=$batch_count '{ printf "%.0f\n", n / $1 }'; }
ips_ours=$(per_second "${b_ours[@]}")
ips_before=$(per_second "${b_before[@]}")
ips_netpbm=$(per_second "${b_netpbm[@]}")

echo
echo "${size}x${size}, white 30 %, medians of $runs runs in seconds; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "floor = cp of output + memory touch; the last ratios are each tool's time over the floor"
[ -n "$baseline" ] && echo "baseline: $baseline"
echo
echo "| workload | funcao_exe | baseline | netpbm | ImageMagick | cp of output | memory touch | floor | ours/baseline | netpbm/ours | ImageMagick/ours | ours/floor | netpbm/floor | peak RSS MiB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "| dataset, images per second | funcao_exe | baseline | netpbm | ours/netpbm |"
echo "|---|---|---|---|---|"
echo "| $batch_count x 512 x 512 P5, 10 %, xargs -P 2 | $ips_ours | ${ips_before:--} | ${ips_netpbm:--} | $(ratio "$ips_ours" "$ips_netpbm") |"
echo
verdict=$([ $status = 0 ] && echo held || echo EXCEEDED)
[ -n "$timer" ] || verdict="not measured"
echo "memory limit 2 x pixels + 8 MiB = $(awk -v k=$limit_kib 'BEGIN { printf "%.1f", k / 1024 }') MiB: $verdict"
exit $status
