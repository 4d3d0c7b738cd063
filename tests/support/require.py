"""Python tests that need a program the machine may lack skip, naming the Debian package.

    from require import require_program          # tests/support on sys.path
    MOSQUITTO = require_program("mosquitto", "mosquitto")   # in setUpClass or a test

The words match tests/support/require.hpp, so ctest's skip pattern "(Debian package NAME)" and
scripts/test's count of skips see them alike.
"""
import os
import shutil
import unittest

_SYSTEM_DIRS = ("/usr/sbin", "/sbin", "/usr/bin", "/bin")


def find_program(program):
    """The program's full path on PATH or in the system directories, or None."""
    path = os.environ.get("PATH", "") + os.pathsep + os.pathsep.join(_SYSTEM_DIRS)
    return shutil.which(program, path=path)


def missing_program_message(program, package):
    return f"needs {program}, which is not installed (Debian package {package})"


def require_program(program, package):
    """The program's path; skips the calling test (or class) when it is absent."""
    found = find_program(program)
    if not found:
        raise unittest.SkipTest(missing_program_message(program, package))
    return found
