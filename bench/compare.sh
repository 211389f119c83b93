#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times pnm_compare on a 4096 x 4096 pair of P5 files (the photograph-like input of run.sh and a
# copy with 10 % noise) against scikit-image's structural_similarity call alone on the same pair,
# already in memory, and prints medians, their ratio and pnm_compare's peak memory. Builds
# Release into build-bench/ (or $BUILD_DIR) and makes its inputs there; installs nothing. RUNS
# sets pnm_compare's runs (at least 5), SKIMAGE_RUNS scikit-image's (default 3), SIZE the side.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}
skimage_runs=${SKIMAGE_RUNS:-3}
size=${SIZE:-4096}
[ "$runs" -ge 5 ] || { echo "RUNS must be at least 5" >&2; exit 2; }

echo "== building Release in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target pnm_compare make_bench_input make_noisy >/dev/null

data=$build/bench-data
mkdir -p "$data"
clean=$data/in_${size}.p5.pgm
noisy=$data/noisy_${size}.p5.pgm
if [ ! -s "$clean" ] || [ ! -s "$data/in_${size}.p2.pgm" ]; then
  echo "== making ${size}x${size} inputs in $data"
  "$build/bench/make_bench_input" "$root/examples/coins.pgm" "$size" "$clean" \
    "$data/in_${size}.p2.pgm" 2>/dev/null
fi
[ -s "$noisy" ] || "$build/bench/make_noisy" "$clean" "$noisy" 30 10 1 2>/dev/null

# shellcheck source=bench/timing.sh
. "$root/bench/timing.sh"

echo "== pnm_compare, $runs runs"
"$build/pnm_compare" "$noisy" "$clean" 2>/dev/null
ours=()
for ((i = 0; i < runs; i++)); do
  ours+=("$(timed "$build/pnm_compare" "$noisy" "$clean")")
done
m_ours=$(printf '%s\n' "${ours[@]}" | median)

rss="-"
status=0
limit_kib=$(((2 * size * size + 16 * 1024 * 1024) / 1024))
if [ -x /usr/bin/time ]; then
  rss=$(/usr/bin/time -f %M "$build/pnm_compare" "$noisy" "$clean" 2>&1 >/dev/null | tail -1)
  [ "$rss" -le "$limit_kib" ] || status=1
  rss=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
fi

m_theirs=""
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import skimage.metrics' 2>/dev/null; then
    python=$candidate
    break
  fi
done
if [ -n "$python" ]; then
  echo "== scikit-image structural_similarity, $skimage_runs runs"
  # The files are read before the clock starts: only the call is timed.
  m_theirs=$("$python" - "$noisy" "$clean" "$size" "$skimage_runs" <<'PY'
import sys, time
import numpy as np
from skimage.metrics import structural_similarity
noisy, clean, size, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
a, b = (np.fromfile(p, dtype=np.uint8)[-size * size:].reshape(size, size) for p in (noisy, clean))
times = []
for _ in range(runs):
    start = time.perf_counter()
    value = structural_similarity(a, b, gaussian_weights=True, sigma=1.5,
                                  use_sample_covariance=False, data_range=255)
    times.append(time.perf_counter() - start)
print("SSIM", repr(value), file=sys.stderr)
print("%.4f" % sorted(times)[len(times) // 2])
PY
)
else
  echo "== scikit-image is not installed (Debian package python3-skimage): its column stays empty"
fi

ratio=$(awk -v a="$m_theirs" -v b="$m_ours" 'BEGIN { if (a == "" || b == 0) print "-"; else printf "%.1fx\n", a / b }')
echo
echo "${size}x${size} P5 pair, medians in seconds; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo
echo "| pnm_compare, whole run | scikit-image structural_similarity call | ratio | pnm_compare peak RSS MiB |"
echo "|---|---|---|---|"
echo "| $m_ours | ${m_theirs:--} | $ratio | $rss |"
echo
echo "memory limit 2 x pixels + 16 MiB = $(awk -v k=$limit_kib 'BEGIN { printf "%.1f", k / 1024 }') MiB: $([ $status = 0 ] && echo held || echo EXCEEDED)"
exit $status
