"""The wheel's command is built with link-time (and, for releases,
profile-guided) optimisation; the build tree's is plain. Both must print
the same bytes for the same input, in every format and both modes.
KEYHOUND_PLAIN_COMMAND names the plain command (the CI sets it)."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent.parent
PLAIN = os.environ.get("KEYHOUND_PLAIN_COMMAND")
INSTALLED = Path(sys.executable).parent / "keyhound"
FORMATS = ["full", "concise", "json", "json-lines", "sarif", "github"]

pytestmark = pytest.mark.skipif(not PLAIN, reason="KEYHOUND_PLAIN_COMMAND is not set")


@pytest.mark.parametrize("mode", [[], ["--exact"], ["--min-confidence", "low", "--statistics"]])
@pytest.mark.parametrize("output_format", FORMATS)
def test_the_optimised_command_prints_what_the_plain_one_does(mode, output_format):
    cases = sorted(str(p) for p in (ROOT / "tests/cases").glob("*.py"))
    precise = sorted(str(p) for p in (ROOT / "tests/precise").glob("*.py"))
    # The cases live under tests/: they are test code, reported on request.
    args = ["--no-cache", "--isolated", "--include-tests", *mode, "--output-format",
            output_format, *cases, *precise]
    plain = subprocess.run([PLAIN, *args], cwd=ROOT, capture_output=True, timeout=120)
    optimised = subprocess.run([str(INSTALLED), *args], cwd=ROOT, capture_output=True,
                               timeout=120)
    assert plain.stdout  # the cases have findings: an empty run proves nothing
    assert (optimised.returncode, optimised.stdout, optimised.stderr) == (
        plain.returncode, plain.stdout, plain.stderr)
