#!/usr/bin/python3
"""Counts passed and failed tests in JUnit-style XML reports and prints

    tests: N passed, M failed

as the last line. Reads GoogleTest's --gtest_output=xml reports, CTest's
--output-junit reports and the step reports ./test writes for its non-GoogleTest
checks: every <testcase> is one test; it failed when it has a <failure> or
<error> child (or CTest marked it status="fail"), it did not count when it was
skipped or disabled. A report that is missing or unreadable counts as one failed
test, so that a crashed test program can never look green.

    scripts/summarize-tests.py REPORT.xml...
"""
import sys
import xml.etree.ElementTree as ET


def count(path, failed_names):
    """Returns (passed, failed, skipped) for one report; appends the names of the
    failed tests to `failed_names`."""
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        failed_names.append(f'{path}: unreadable report ({e})')
        return 0, 1, 0
    passed = failed = skipped = 0
    for case in root.iter('testcase'):
        status = case.get('status', 'run')
        result = case.get('result', '')
        if case.find('failure') is not None or case.find('error') is not None or status == 'fail':
            failed += 1
            suite = case.get('classname', '')
            failed_names.append(f"{suite}.{case.get('name')}" if suite else case.get('name'))
        elif (case.find('skipped') is not None or status in ('notrun', 'disabled')
              or result in ('skipped', 'suppressed')):
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main(paths):
    total_passed = total_failed = 0
    failed_names = []
    for path in paths:
        passed, failed, skipped = count(path, failed_names)
        extra = f', {skipped} skipped' if skipped else ''
        print(f'  {path}: {passed} passed, {failed} failed{extra}', file=sys.stderr)
        total_passed += passed
        total_failed += failed
    if failed_names:
        print('failed:', file=sys.stderr)
        for name in failed_names:
            print(f'  {name}', file=sys.stderr)
    sys.stdout.flush()
    sys.stderr.flush()
    print(f'tests: {total_passed} passed, {total_failed} failed')
    return 0 if total_failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
