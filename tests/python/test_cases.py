"""Each file under tests/cases/ is a small real Python file with the exact
output expected beside it: standard output in NAME.out, standard error in
NAME.err. The command runs in that directory, so paths read as NAME.py."""

import os
import subprocess

import pytest

from conftest import CASES, NATIVE, clean_env, run_native

CASE_FILES = sorted(CASES.glob("*.py"))


@pytest.mark.parametrize("case", CASE_FILES, ids=[case.stem for case in CASE_FILES])
def test_case_output_is_exact(case):
    result = run_native(["--exact", case.name], cwd=CASES)
    assert result.stdout == case.with_suffix(".out").read_bytes()
    assert result.stderr == case.with_suffix(".err").read_bytes()
    assert result.returncode == (1 if result.stderr else 0)


@pytest.mark.parametrize("case", CASE_FILES, ids=[case.stem for case in CASE_FILES])
def test_streams_interleave_in_production_order(case, tmp_path):
    """Both streams into one file: each line is written as it is produced,
    so the summaries stand between the findings they close."""
    combined = tmp_path / "combined"
    with open(combined, "wb") as sink:
        result = run_native(["--exact", case.name], cwd=CASES, stdout=sink, stderr=subprocess.STDOUT)
    text = combined.read_bytes()
    expected_out = case.with_suffix(".out").read_bytes()
    expected_err = case.with_suffix(".err").read_bytes()
    assert sorted(text.splitlines()) == sorted((expected_out + expected_err).splitlines())
    # Each summary follows the last finding of its function and precedes the
    # next function's findings.
    for summary in expected_err.splitlines():
        if b"in function '" not in summary:
            continue
        function = summary.split(b"in function '")[1].split(b"'")[0]
        at = text.index(summary + b"\n")
        header = b"in function '" + function + b"'\n"
        assert text.rfind(header, at) == -1, (function, "finding after its summary")
    assert result.returncode == (1 if expected_err else 0)


@pytest.mark.parametrize("case", CASE_FILES, ids=[case.stem for case in CASE_FILES])
def test_closed_standard_output_keeps_standard_error(case):
    """Writes to a closed descriptor are dropped; the rest of the run is as usual."""
    result = subprocess.run([str(NATIVE), "--exact", case.name], cwd=CASES, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=clean_env(),
                            pass_fds=(), close_fds=True,
                            preexec_fn=lambda: os.close(1))
    assert result.stderr == case.with_suffix(".err").read_bytes()
    assert result.returncode == (1 if result.stderr else 0)


def test_full_standard_output_is_an_internal_fault():
    """A write that fails for any reason but a closed descriptor ends the run:
    no later line, the fault on standard error, status 70."""
    with open("/dev/full", "wb") as full:
        result = run_native(["calls.py", "guards.py"], cwd=CASES, stdout=full)
    assert result.returncode == 70
    err = result.stderr.decode()
    assert "failed printing to stdout: No space left on device (os error 28)" in err
    assert "guards.py" not in err
