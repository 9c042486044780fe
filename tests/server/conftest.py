"""The language server's tests: through pytest-lsp's client, and through a
bare client for what no real client sends."""

import json
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from lsp_wire import NATIVE  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def built_binary():
    if not NATIVE.exists():
        pytest.exit(f"build keyhound first: {NATIVE} is missing", returncode=2)


def command_findings(directory, name):
    """What `keyhound --output-format json` reports for a saved file, run from
    the workspace's root as a user runs it, every tier shown as an editor
    shows them."""
    result = subprocess.run([str(NATIVE), "--no-cache", "--min-confidence", "low",
                             "--output-format", "json", name],
                            cwd=directory, capture_output=True, timeout=60)
    assert result.returncode in (0, 1), result.stderr
    return [record for record in json.loads(result.stdout) if record.get("code")]
