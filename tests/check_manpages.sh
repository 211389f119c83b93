#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders each manual page given as man(1) would and fails on any formatter warning.
set -euo pipefail
if ! command -v man >/dev/null; then
  echo "man is not installed: skipped"
  exit 77
fi
for page in "$@"; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page:"
    echo "$warnings"
    exit 1
  fi
  MANWIDTH=80 man -l "$page" | grep -q '^EXIT STATUS' || { echo "$page: no EXIT STATUS"; exit 1; }
done
echo "rendered without warnings: $*"
