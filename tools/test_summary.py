#!/usr/bin/env python3
"""Says what the test command ran where: for each ctest run (the JUnit files
tools/test-all.sh writes, with a line saying what the run was), which tests
passed, failed, were skipped inside or not run, and which tests of the
project ran on no build at all.

  test_summary.py --route TEXT RESULTS_DIR BUILD_DIR...

Exit 1 when a test failed or did not run, or when a test ran nowhere.
"""

import argparse
import glob
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SKIPPED = re.compile(r"\.\.\. skipped '(.*)'")


def runs(folder):
    for path in sorted(glob.glob(os.path.join(folder, "*.xml")), key=lambda p: int(os.path.basename(p).split("-")[0])):
        name = os.path.basename(path)[:-4]
        with open(os.path.join(folder, name + ".what")) as f:
            what = f.read().strip()
        try:
            cases = ElementTree.parse(path).getroot().findall("testcase")
        except (ElementTree.ParseError, OSError):
            cases = None
        yield name.split("-", 1)[1], what, cases


def defined_tests(build):
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=True)
    return {test["name"] for test in json.loads(listing.stdout)["tests"]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--route", required=True)
    parser.add_argument("results")
    parser.add_argument("builds", nargs="+")
    args = parser.parse_args()

    print("=== what ran where (route: %s) ===" % args.route)
    bad = False
    ran = set()
    every = set().union(*(defined_tests(build) for build in args.builds))
    for build, what, cases in runs(args.results):
        if cases is None:
            print("%s, %s: no results (ctest did not finish)" % (build, what))
            bad = True
            continue
        by_status = {}
        for case in cases:
            name = case.get("name")
            status = case.get("status")
            by_status.setdefault(status, []).append(name)
            if status == "run":
                ran.add(name)
            out = case.findtext("system-out") or ""
            for reason in sorted(set(SKIPPED.findall(out))):
                print("%s: %s skipped a case: %s" % (build, name, reason))
            for line in out.splitlines():
                if line.startswith("harness: cannot start"):
                    print("%s: %s" % (build, line))
        passed = by_status.pop("run", [])
        print("%s, %s: %d passed: %s" % (build, what, len(passed), " ".join(sorted(passed)) or "-"))
        for status, names in sorted(by_status.items()):
            label = {"fail": "FAILED", "notrun": "NOT RUN", "disabled": "disabled"}.get(status, status)
            print("%s: %s %d: %s" % (build, label, len(names), " ".join(sorted(names))))
            bad = True
    nowhere = sorted(every - ran)
    if nowhere:
        print("passed on no build: %s" % " ".join(nowhere))
        bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
