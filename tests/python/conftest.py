"""Shared helpers: every test runs keyhound in a child process, since the
module reads the command line of the process it is loaded into."""

import os
import signal
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("KEYHOUND_BUILD_DIR", ROOT / "build" / "tests")).resolve()
# KEYHOUND_FROM_ENVIRONMENT=1 tests what is installed in the environment of
# the interpreter running pytest (a wheel installed into a clean virtual
# environment) rather than the build tree.
FROM_ENVIRONMENT = os.environ.get("KEYHOUND_FROM_ENVIRONMENT") == "1"
if FROM_ENVIRONMENT:
    NATIVE = Path(sys.executable).parent / "keyhound"
    # Where the modules were installed; putting it first on sys.path changes
    # nothing but keeps one way of importing them.
    MODULE_DIR = Path(sysconfig.get_paths()["platlib"])
else:
    NATIVE = BUILD_DIR / "keyhound"
    MODULE_DIR = BUILD_DIR
LAUNCHER = Path(__file__).resolve().parent / "launcher.py"
CASES = ROOT / "tests" / "cases"

# The most jobs a run takes here without being capped (with a warning).
PARALLEL_JOBS = str(len(os.sched_getaffinity(0)))

COLOUR_VARIABLES = ("NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE", "TERM", "CI")

# The native command's result cache goes here rather than beside the files
# the tests lint (some of which are in the source tree).
CACHE_DIR = tempfile.mkdtemp(prefix="keyhound-test-cache-")
# And the secret that authenticates its entries, not in the user's home.
CACHE_HOME = tempfile.mkdtemp(prefix="keyhound-test-cache-home-")


def interruptible():
    """For a child that must stop on SIGINT as one started from a terminal
    does: a test run started in the background (as CI may start it)
    ignores SIGINT, every child inherits that, and Python then installs no
    KeyboardInterrupt handler at all."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def clean_env(**extra):
    """The environment without any colour variable, plus `extra`."""
    env = {k: v for k, v in os.environ.items() if k not in COLOUR_VARIABLES}
    env["KEYHOUND_CACHE_DIR"] = CACHE_DIR
    env["XDG_CACHE_HOME"] = CACHE_HOME
    env.update(extra)
    return env


def run_native(args, env=None, cwd=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
               timeout=120, stdin=None, input=None):
    return subprocess.run(
        [os.fsencode(NATIVE)] + [os.fsencode(a) if isinstance(a, str) else a for a in args],
        stdout=stdout, stderr=stderr, env=env or clean_env(), cwd=cwd, timeout=timeout,
        stdin=stdin, input=input)


def run_exact(args, **kwargs):
    """The native command with the module's rule and texts (--exact): the
    tests of inputs, walks and outcomes read its line for every file."""
    return run_native(["--exact", *args], **kwargs)


def run_module(args, env=None, cwd=None, stdout=subprocess.PIPE, timeout=120):
    """Runs the launcher script, which imports keyhound and calls
    run_command; the launcher itself is the first file on the command line."""
    environment = env or clean_env()
    environment["KEYHOUND_MODULE_DIR"] = str(MODULE_DIR)
    return subprocess.run(
        [sys.executable, str(LAUNCHER)] + [os.fsencode(a) if isinstance(a, str) else a
                                           for a in args],
        stdout=stdout, stderr=subprocess.PIPE, env=environment, cwd=cwd, timeout=timeout)


@pytest.fixture(scope="session", autouse=True)
def built_binaries():
    if not NATIVE.exists():
        pytest.exit(f"build keyhound first: {NATIVE} is missing", returncode=2)


@pytest.fixture
def write(tmp_path):
    """Writes a file under the test's own directory and returns its path."""

    def write_file(name, content):
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return path

    return write_file
