"""Installs the package as a user does: `pip install ./python` into a fresh virtual environment.

    install_venv.py SOURCE VENV PYTHON...

No package index is reachable from the test machines, so pip builds over the build backend of
the base interpreter (Debian's python3-setuptools and python3-wheel, seen through
--system-site-packages) with --no-build-isolation --no-index; the first PYTHON that has it is the
base. The build runs on a scratch copy of SOURCE, so it leaves nothing in the source tree.
Afterwards the environment must import the installed copy, with its py.typed and the version
its metadata gives.
"""

import os
import shutil
import subprocess
import sys
import tempfile

CAPABLE = ("import setuptools, wheel, pip, venv; "
           "assert int(setuptools.__version__.split('.')[0]) >= 61")

CHECK = """
import importlib.metadata, os, sys, uhfreader
here = os.path.dirname(uhfreader.__file__)
assert here.startswith(sys.prefix + os.sep), f"imported {here}, not the copy in {sys.prefix}"
assert os.path.isfile(os.path.join(here, "py.typed")), "py.typed was not installed"
meta = importlib.metadata.version("uhfreader")
assert meta == uhfreader.__version__, f"metadata says {meta}, the package {uhfreader.__version__}"
print("installed", uhfreader.__version__, "in", here)
"""


def run(*cmd: str) -> None:
    print("+", " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True)


def main() -> int:
    source, venv, *pythons = sys.argv[1:]
    base = next((p for p in pythons if shutil.which(p) and
                 subprocess.run([p, "-c", CAPABLE], capture_output=True).returncode == 0), None)
    if base is None:
        print("no interpreter among", pythons, "can build the package offline: install python3-venv, "
              "python3-pip, python3-setuptools and python3-wheel (scripts/deps)", file=sys.stderr)
        return 1
    shutil.rmtree(venv, ignore_errors=True)
    run(base, "-m", "venv", "--without-pip", "--system-site-packages", venv)
    python = os.path.join(venv, "bin", "python")
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "python")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
        run(python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-deps",
            "--disable-pip-version-check", "--quiet", copy)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    subprocess.run([python, "-c", CHECK], check=True, env=env, cwd=venv)
    return 0


if __name__ == "__main__":
    sys.exit(main())
