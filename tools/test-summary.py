#!/usr/bin/env python3
"""Counts one build's test results from the JUnit file ctest wrote.

    test-summary.py NAME JUNIT.xml [--no-skips]

Prints "NAME: N passed, N failed, N skipped" and, for every skipped test,
its name and the reason the test gave. With --no-skips a skip counts as a
failure (exit 1) unless EMAIL_TESTS_ALLOW_MISSING=1: on the builds where
everything a test needs is on this machine, a skip hides a missing part.

    test-summary.py --total FILE...

Adds up the "NAME: ..." lines kept in FILEs into one "total: ..." line.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

LINE = re.compile(r"^(\S+): (\d+) passed, (\d+) failed, (\d+) skipped$")


def skip_reason(output):
    # GoogleTest prints "file:line: Skipped", the message, then "[  SKIPPED ]".
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.endswith(": Skipped"):
            reason = []
            for text in lines[i + 1:]:
                if text.startswith("[  SKIPPED ]"):
                    break
                reason.append(text.strip())
            return " ".join(r for r in reason if r) or "(no reason given)"
    return "(no reason given)"


def summarise(name, junit, no_skips):
    if not os.path.exists(junit):
        print(f"{name}: no results, {junit} is missing")
        return 1
    cases = ET.parse(junit).getroot().iter("testcase")
    passed = failed = 0
    skipped = []
    for case in cases:
        if case.find("skipped") is not None:
            out = case.find("system-out")
            text = out.text if out is not None and out.text else ""
            skipped.append((case.get("name"), skip_reason(text)))
        elif case.get("status") == "run" and case.find("failure") is None:
            passed += 1
        else:
            failed += 1
    print(f"{name}: {passed} passed, {failed} failed, {len(skipped)} skipped")
    for test, reason in skipped:
        print(f"  skipped {test}: {reason}")
    allowed = os.environ.get("EMAIL_TESTS_ALLOW_MISSING") == "1"
    if skipped and no_skips and not allowed:
        print(f"{name}: every test must run on this build; set EMAIL_TESTS_ALLOW_MISSING=1 to allow skips")
        return 1
    return 1 if failed or passed == 0 else 0


def total(files):
    sums = [0, 0, 0]
    for path in files:
        with open(path) as f:
            for line in f:
                m = LINE.match(line.strip())
                if m:
                    sums = [a + int(b) for a, b in zip(sums, m.groups()[1:])]
    print(f"total: {sums[0]} passed, {sums[1]} failed, {sums[2]} skipped")


def main(argv):
    if argv[:1] == ["--total"]:
        total(argv[1:])
        return 0
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != "--no-skips"):
        print(__doc__, file=sys.stderr)
        return 2
    return summarise(argv[0], argv[1], len(argv) == 3)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
