#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes docs/coins_before_after.png, the README's picture: the sample photograph and the copy
# funcao_exe makes of it with 10 % noise, 30 % of it white, side by side. Needs a built
# funcao_exe and netpbm.
# Usage: docs/make_figure.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build}/funcao_exe
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$exe" examples/coins.pgm "$scratch/noisy.pgm" 30 10 >/dev/null 2>&1
read -r _ rows < <(pamfile -size examples/coins.pgm | awk '{print $1, $2}')
pgmmake 1 12 "$rows" >"$scratch/gap.pgm"
if command -v pamcat >/dev/null; then
  join=(pamcat -leftright)
else
  join=(pnmcat -lr)
fi
"${join[@]}" examples/coins.pgm "$scratch/gap.pgm" "$scratch/noisy.pgm" |
  pnmtopng -compression 9 >docs/coins_before_after.png
echo "wrote docs/coins_before_after.png"
