#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian package of a built tree in a scratch directory and checks its control fields
# and that it holds the commands, the library with its CMake and pkg-config files, and the
# manual pages.
# Usage: check_package.sh <build dir> <library dir, relative to the prefix>
set -euo pipefail
build=$1 libdir=$2
if ! command -v dpkg-deb >/dev/null; then
  echo "dpkg-deb is not installed: skipped"
  exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/imagenoise-deb-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" ||
  { cat "$scratch/cpack.log"; exit 1; }
debs=("$scratch"/*.deb)
[ -f "${debs[0]}" ] || { echo "no package made"; cat "$scratch/cpack.log"; exit 1; }
deb=${debs[0]}
echo "${deb##*/}"
dpkg-deb --field "$deb" Package Version Architecture Maintainer Section Depends
for field in Package Version Maintainer Description; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || { echo "no $field"; exit 1; }
done
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for file in usr/bin/funcao_exe usr/bin/pnm_compare "usr/$libdir/libimagelib.a" \
  "usr/$libdir/libimagelib_metrics.a" usr/include/imagelib/lib.h usr/include/noise/metrics.h "usr/$libdir/pkgconfig/imagelib.pc" \
  "usr/$libdir/cmake/imagelib/imagelibConfig.cmake" usr/share/man/man1/funcao_exe.1 \
  usr/share/man/man1/pnm_compare.1; do
  grep -qx "\./$file" <<<"$contents" || { echo "not in the package: $file"; exit 1; }
done
