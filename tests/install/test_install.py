"""The package as a user gets it: the wheel installed into a clean virtual
environment puts the module and the `keyhound` command in place."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
if os.environ.get("KEYHOUND_FROM_ENVIRONMENT") == "1":
    VENV = Path(sys.prefix)
else:
    VENV = Path(os.environ.get("KEYHOUND_INSTALLED_VENV", ROOT / "build" / "install-venv"))
EXAMPLE = ROOT / "examples" / "inventory.py"


@pytest.fixture(scope="module", autouse=True)
def installed():
    if not (VENV / "bin" / "keyhound").exists():
        pytest.fail(f"no installed keyhound in {VENV}: run `pip install .` into it first")


def env():
    return {k: v for k, v in os.environ.items()
            if k not in ("NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE", "TERM", "CI")}


def test_command_on_the_shipped_example():
    result = subprocess.run([str(VENV / "bin" / "keyhound"), "--no-cache", "examples/inventory.py"],
                            cwd=ROOT, capture_output=True, env=env(), timeout=60)
    assert result.returncode == 1
    out = result.stdout.decode()
    assert ("examples/inventory.py:8:12: KH001 [high] Possible KeyError: PRICES[item] (key 'item' "
            "from a parameter) in function 'price_of'") in out
    assert "in function 'describe'" in out
    assert "in function 'safe_total'" not in out
    assert out.endswith("Found 4 findings in 1 file.\n")
    assert result.stderr == b""


def test_the_python_api_imports_from_the_environment():
    result = subprocess.run(
        [str(VENV / "bin" / "python"), "-c",
         "import keyhound_api; print(keyhound_api.check_source('d[k]\\n')"
         ".findings[0].source_text)"],
        capture_output=True, env=env(), cwd="/", timeout=60)
    assert result.stdout == b"d[k]\n", result.stderr


def test_module_imports_from_the_environment():
    result = subprocess.run(
        [str(VENV / "bin" / "python"), "-c", "import keyhound; print(keyhound.version_py())"],
        capture_output=True, env=env(), cwd="/", timeout=60)
    assert result.stdout == b"0.1.3\n", result.stderr
