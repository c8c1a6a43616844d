"""Runs the end-to-end tests that belong to one kind of session, inside that session.

    runner.py --session normal|without-polkit --results FILE [NAME_PATTERN]

A test class says which session it needs with its `session` attribute ("normal" when it
says nothing); harness.sh builds each kind once and this runner takes the classes for it
from every test_*.py beside it. FILE receives one line "PASSED FAILED".
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def matching(suite, session, pattern):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from matching(test, session, pattern)
        elif getattr(type(test), "session", "normal") == session and pattern in test.id():
            yield test


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--session", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("pattern", nargs="?", default="")
    args = parser.parse_args()

    loaded = unittest.defaultTestLoader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    suite = unittest.TestSuite(matching(loaded, args.session, args.pattern))
    runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=CountingResult)
    result = runner.run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    with open(args.results, "w") as f:
        f.write(f"{result.passed} {failed}\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
