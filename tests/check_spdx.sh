#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source, build and script file of the project names its licence in an SPDX line. Images,
# test data, fuzz seeds, documents and files of other origin (with notes of their own) are left
# out. Files are those git knows of, and new ones it does not ignore.
# Usage: check_spdx.sh <source dir>
set -euo pipefail
cd "$1"
if ! files=$(git ls-files --cached --others --exclude-standard 2>/dev/null); then
  echo "not a git checkout: skipped"
  exit 77
fi
missing=0
while IFS= read -r file; do
  case "$file" in
    tests/data/* | fuzz/corpus/* | cmake/debian/* | LICENSE | *.md | *.png | *.pgm | *.pbm | *.ppm) continue ;;
  esac
  [ -f "$file" ] || continue
  if ! head -n 3 "$file" | grep -q 'SPDX-License-Identifier: MIT'; then
    echo "no SPDX line in its first three lines: $file"
    missing=1
  fi
done <<<"$files"
[ "$missing" -eq 0 ] && echo "every source file names its licence"
exit "$missing"
