#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build tree into a scratch prefix, then builds the README's library example against
# it twice, through find_package(imagelib) and through pkg-config, and runs it.
# Usage: check_install.sh <build dir> <c++ compiler> <library dir, relative to the prefix> <image>
#        <example source>
set -euo pipefail
build=$1 cxx=$2 libdir=$3 image=$4 example=$5
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/imagelib-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/funcao_exe bin/pnm_compare include/imagelib/lib.h include/noise/metrics.h include/noise/impulse.h \
  share/man/man1/funcao_exe.1.gz share/man/man1/pnm_compare.1.gz share/doc/imagenoise/copyright \
  share/doc/imagenoise/changelog.gz \
  "$libdir/libimagelib.a" "$libdir/libimagelib_metrics.a" "$libdir/libimagelib_noise.a" "$libdir/pkgconfig/imagelib.pc" \
  "$libdir/cmake/imagelib/imagelibConfig.cmake" \
  "$libdir/cmake/imagelib/imagelibConfigVersion.cmake"; do
  # Documentation is compressed where gzip is found.
  [ -e "$prefix/$file" ] || [ -e "$prefix/${file%.gz}" ] || { echo "not installed: $file"; exit 1; }
done
# The Debian changelog belongs to the package alone.
[ ! -e "$prefix/share/doc/imagenoise/changelog.Debian.gz" ] ||
  { echo "a plain install holds the Debian changelog"; exit 1; }
for command in funcao_exe pnm_compare; do
  status=0
  "$prefix/bin/$command" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 1 ] || { echo "installed $command without arguments: status $status"; exit 1; }
done

# What the example prints for the sample photograph, as built inside the project.
expected="RMS error 31.487, signal/noise 12.28"
check() {
  local how=$1 program=$2 out
  out=$(cd "$scratch" && "$program" "$image" 2>/dev/null)
  echo "$how: $out"
  [ "$out" = "$expected" ] || { echo "$how: expected '$expected'"; exit 1; }
  [ -s "$scratch/noisy.pgm" ] || { echo "$how: no noisy.pgm written"; exit 1; }
  rm "$scratch/noisy.pgm"
}

echo "== find_package"
cmake -S "$here" -B "$scratch/cmake" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DEXAMPLE_SOURCE="$example" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
check find_package "$scratch/cmake/consumer"

echo "== pkg-config"
if ! command -v pkg-config >/dev/null; then
  echo "pkg-config is not installed: skipped"
  exit 77
fi
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# Word splitting of the flags is intended.
# shellcheck disable=SC2046
"$cxx" -std=c++17 -o "$scratch/pc_consumer" "$example" $(pkg-config --cflags --libs imagelib)
check pkg-config "$scratch/pc_consumer"
