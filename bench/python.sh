#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Release with the Python module into build-bench/ (or $BUILD_DIR), makes the inputs of
# bench/run.sh there (a 4096 x 4096 photograph-like P5 file, 200 tiles of 512 x 512), and runs
# bench/python_bench.py on them: imagenoise against scikit-image and numpy masks, and
# examples/dask_noise.py against xargs -P 2 running funcao_exe. RUNS sets the rounds (at least
# 5); PYTHON the interpreter, which needs numpy and dask (Debian: /usr/bin/python3).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}
python=${PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=python3
[ "$runs" -ge 5 ] || { echo "RUNS must be at least 5" >&2; exit 2; }

echo "== building Release with the Python module in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DIMAGENOISE_PYTHON=ON \
  -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build "$build" -j --target funcao_exe make_bench_input imagenoise_python >/dev/null

data=$build/bench-data
mkdir -p "$data"
if [ ! -s "$data/in_4096.p5.pgm" ] || [ ! -s "$data/in_4096.p2.pgm" ]; then
  "$build/bench/make_bench_input" "$root/examples/coins.pgm" 4096 \
    "$data/in_4096.p5.pgm" "$data/in_4096.p2.pgm" 2>/dev/null
fi
tiles=$data/tiles_512
if [ ! -s "$tiles/tile_199.pgm" ]; then
  mkdir -p "$tiles"
  "$build/bench/make_bench_input" --tiles "$root/examples/coins.pgm" 4096 512 200 "$tiles" \
    2>/dev/null
fi

echo "== $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}" "$python" "$root/bench/python_bench.py" \
  "$data/in_4096.p5.pgm" "$tiles" "$build/funcao_exe" "$runs"
