"""Each file under tests/cases/ is a small real Python file with the exact
output expected beside it: standard output in NAME.out, standard error in
NAME.err. The command runs in that directory, so paths read as NAME.py."""

import pytest

from conftest import CASES, run_native

CASE_FILES = sorted(CASES.glob("*.py"))


@pytest.mark.parametrize("case", CASE_FILES, ids=[case.stem for case in CASE_FILES])
def test_case_output_is_exact(case):
    result = run_native([case.name], cwd=CASES)
    assert result.stdout == case.with_suffix(".out").read_bytes()
    assert result.stderr == case.with_suffix(".err").read_bytes()
    assert result.returncode == (1 if result.stderr else 0)
