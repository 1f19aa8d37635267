"""Runs the browser UI's tests against a zvhost program.

  run.py --zvhost PATH --artifacts DIR MODULE[.Class[.test]] ...

Exit status 0 when they pass, 77 when every test was skipped (CTest shows
it as skipped), 1 otherwise."""

import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zvhost", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("tests", nargs="+")
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)

    import api_test
    import browser_test
    for case in (api_test.ApiTest, browser_test.Operator):
        case.zvhost = os.path.abspath(args.zvhost)
        case.artifacts = os.path.abspath(args.artifacts)

    suite = unittest.defaultTestLoader.loadTestsFromNames(args.tests)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.testsRun > 0 and len(result.skipped) == result.testsRun:
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())
