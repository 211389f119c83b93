#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian package of a built tree in a scratch directory and checks its control fields,
# that it holds the commands, the library with its CMake and pkg-config files, the compressed
# manual pages, the copyright file and both changelogs, and that lintian finds neither an error
# nor a warning in it.
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
fields=(Package Version Maintainer Description)
# cpack fills Depends in with dpkg-shlibdeps.
if command -v dpkg-shlibdeps >/dev/null; then
  fields+=(Depends)
fi
for field in "${fields[@]}"; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || { echo "no $field"; exit 1; }
done
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for file in usr/bin/funcao_exe usr/bin/pnm_compare "usr/$libdir/libimagelib.a" \
  "usr/$libdir/libimagelib_metrics.a" usr/include/imagelib/lib.h usr/include/noise/metrics.h "usr/$libdir/pkgconfig/imagelib.pc" \
  "usr/$libdir/cmake/imagelib/imagelibConfig.cmake" usr/share/man/man1/funcao_exe.1.gz \
  usr/share/man/man1/pnm_compare.1.gz usr/share/doc/imagenoise/copyright \
  usr/share/doc/imagenoise/changelog.gz usr/share/doc/imagenoise/changelog.Debian.gz; do
  grep -qx "\./$file" <<<"$contents" || { echo "not in the package: $file"; exit 1; }
done
# The copyright file is in Debian's machine-readable form.
# Read whole first: grep -q stops at its match, which would end the pipe's writers by SIGPIPE.
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/imagenoise/copyright)
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' <<<"$copyright" ||
  { echo "copyright: not in the machine-readable form"; exit 1; }

if ! command -v lintian >/dev/null; then
  echo "lintian is not installed: skipped"
  exit 77
fi
# Information notes are shown too; only errors and warnings fail.
status=0
report=$(lintian --pedantic --info --fail-on error,warning "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian --pedantic: errors or warnings (status $status)"; exit 1; }
echo "lintian --pedantic: no error, no warning"
