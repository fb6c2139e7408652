#!/usr/bin/env python3
"""Lists what a test run skipped, with the reasons.

  test_summary.py RESULTS RUN...

RESULTS/RUN holds one run's reports: ctest.xml (CTest's JUnit report: whole
test entries that were skipped or not run, with the reason an entry printed
on a line starting "SKIPPED:") and one GoogleTest XML report per test
program (the cases that called GTEST_SKIP, with their messages).
Prints one line per skipped entry or case; exit status 0.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def reason_of(element):
    skipped = element.find("skipped")
    text = ""
    if skipped is not None:
        text = skipped.get("message") or (skipped.text or "")
    lines = [line.strip() for line in text.replace("\r", "").split("\n") if line.strip()]
    # GoogleTest puts "file:line" first and the reason after it.
    if len(lines) > 1 and ":" in lines[0] and lines[0].rsplit(":", 1)[-1].isdigit():
        lines = lines[1:]
    return " ".join(lines) or "(no reason given)"


def skipped_entries(path):
    try:
        root = ET.parse(path).getroot()
    except (ET.ParseError, OSError) as error:
        return [("(unreadable report %s)" % os.path.basename(path), str(error))]
    found = []
    for case in root.iter("testcase"):
        name = case.get("name", "?")
        classname = case.get("classname", "")
        status = case.get("status", "")
        is_gtest = case.get("result") is not None
        if is_gtest:
            if case.get("result") == "skipped" or case.find("skipped") is not None:
                found.append(("%s.%s" % (classname, name), reason_of(case)))
        elif case.find("skipped") is not None or status in ("notrun", "disabled"):
            output = case.findtext("system-out") or ""
            said = [l.split(":", 1)[1].strip() for l in output.splitlines() if l.startswith("SKIPPED:")]
            found.append((name, said[-1] if said else reason_of(case) if case.find("skipped") is not None else status))
    return found


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 0
    results = sys.argv[1]
    for run in sys.argv[2:]:
        folder = os.path.join(results, run)
        lines = []
        ctest = os.path.join(folder, "ctest.xml")
        if os.path.exists(ctest):
            lines += [("test entry " + n, r) for n, r in skipped_entries(ctest)]
        for report in sorted(glob.glob(os.path.join(folder, "*.xml"))):
            if os.path.basename(report) == "ctest.xml":
                continue
            program = os.path.splitext(os.path.basename(report))[0]
            lines += [("%s: %s" % (program, n), r) for n, r in skipped_entries(report)]
        print("== skipped in the '%s' run: %d" % (run, len(lines)))
        for name, reason in lines:
            print("  SKIPPED %s -- %s" % (name, reason))
    return 0


if __name__ == "__main__":
    sys.exit(main())
