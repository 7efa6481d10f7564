#!/usr/bin/env python3
"""Lists the skipped tests of CTest runs, one line each with the reason the test gave.

    scripts/lib/skipped.py RESULTS.xml...     (ctest --output-junit RESULTS.xml; a build folder's runs)

The reason is a GoogleTest skip's message (which names a missing server as its fixture noted it), else
the last "skipped: ..." line of the test's output (scripts/check-user-build says so), else CTest's own
note. Tests that did not run because a fixture failed are failures, reported by CTest, not listed here.
A test skipped in several builds for the same reason is one line naming the builds.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

WIDTH = 240


def reason(output, fallback):
    lines = output.splitlines()
    # GoogleTest: "<file>:<line>: Skipped", the message's lines, then "[  SKIPPED ] <test>".
    for i, line in enumerate(lines):
        if re.search(r":\d+: Skipped$", line):
            text = []
            for more in lines[i + 1:]:
                if more.startswith("[  SKIPPED ]"):
                    break
                if more.strip():
                    text.append(more.strip())
            if text:
                return " ".join(text)
    said = [m.group(1).strip() for m in (re.search(r"skipped: (.+)", line) for line in lines) if m]
    return said[-1] if said else fallback


def main(paths):
    skipped = {}  # (test, reason) -> builds
    counts = []
    for path in paths:
        if not os.path.exists(path):
            continue  # that run did not start
        build = os.path.relpath(os.path.dirname(os.path.dirname(path)))
        count = 0
        for case in ET.parse(path).getroot().iter("testcase"):
            skip = case.find("skipped")
            if case.get("status") != "notrun" or skip is None:
                continue
            note = skip.get("message", "")
            if not note.startswith("SKIP_"):  # SKIP_REGULAR_EXPRESSION_MATCHED, SKIP_RETURN_CODE=77
                continue
            count += 1
            why = reason(case.findtext("system-out") or "", note)
            skipped.setdefault((case.get("name"), why), []).append(os.path.basename(build))
        counts.append(f"{count} in {build}")
    if not counts:
        return
    print(f"== skipped tests: {', '.join(counts)}")
    for (name, why), builds in sorted(skipped.items()):
        line = f"  {name} ({', '.join(builds)}): {why}"
        print(line if len(line) <= WIDTH else line[: WIDTH - 1] + "…")


if __name__ == "__main__":
    main(sys.argv[1:])
