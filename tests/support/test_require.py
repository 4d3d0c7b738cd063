"""require.py says what require.hpp says and finds what is installed."""
import os
import re
import unittest
from unittest import mock

import require


class RequireProgram(unittest.TestCase):
    def test_finds_installed_and_system_directory_programs(self):
        for path in ("/usr/bin:/bin", "/nonexistent", ""):
            with self.subTest(path=path), mock.patch.dict(os.environ, {"PATH": path}):
                self.assertTrue(require.require_program("sh", "dash"))

    def test_absent_program_skips_naming_the_package(self):
        with self.assertRaises(unittest.SkipTest) as caught:
            require.require_program("uhf-no-such-program", "uhf-none")
        message = str(caught.exception)
        self.assertEqual(message, "needs uhf-no-such-program, which is not installed (Debian package uhf-none)")
        self.assertRegex(message, re.compile(os.environ.get("UHF_SKIP_PATTERN", r"\(Debian package [^)]+\)")))


if __name__ == "__main__":
    unittest.main()
