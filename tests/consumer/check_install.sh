#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, then builds and runs the consumer program against
# it twice: through find_package(imagelib) and through pkg-config.
# Usage: check_install.sh <build dir> <c++ compiler> <library dir, relative to the prefix> <image>
set -euo pipefail
build=$1 cxx=$2 libdir=$3 image=$4
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/imagelib-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/funcao_exe bin/pnm_compare include/imagelib/lib.h share/man/man1/funcao_exe.1 \
  share/man/man1/pnm_compare.1 \
  "$libdir/libimagelib.a" "$libdir/pkgconfig/imagelib.pc" \
  "$libdir/cmake/imagelib/imagelibConfig.cmake" \
  "$libdir/cmake/imagelib/imagelibConfigVersion.cmake"; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
for command in funcao_exe pnm_compare; do
  status=0
  "$prefix/bin/$command" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 1 ] || { echo "installed $command without arguments: status $status"; exit 1; }
done

first=
check() {
  local how=$1 program=$2 out
  out=$("$program" "$image" 2>/dev/null)
  echo "$how: $out"
  [[ $out == "ok "* ]] || { echo "$how: the consumer failed"; exit 1; }
  [ -z "$first" ] || [ "$out" = "$first" ] || { echo "$how: differs from find_package"; exit 1; }
  first=$out
}

echo "== find_package"
cmake -S "$here" -B "$scratch/cmake" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
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
"$cxx" -std=c++17 -o "$scratch/pc_consumer" "$here/main.cpp" $(pkg-config --cflags --libs imagelib)
check pkg-config "$scratch/pc_consumer"
