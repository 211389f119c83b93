#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Lists the tests a CTest JUnit report marks as not run, each with the reason it gave."""
import re
import sys
import xml.etree.ElementTree as ET

for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.find("skipped") is None:
        continue
    out = case.findtext("system-out") or ""
    # GoogleTest prints the reason on the lines after "<file>:<line>: Skipped".
    found = re.search(r": Skipped\n(.*?)\n\[  SKIPPED \]", out, re.S)
    lines = [line for line in out.splitlines() if line.strip()]
    reason = found.group(1).strip() if found else (lines[-1] if lines else "no reason given")
    print(f"  skipped: {case.get('name')}: {' '.join(reason.split())}")
