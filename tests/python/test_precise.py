"""Precise mode, rule by rule: each file under tests/precise/ marks the
lines where a finding is expected with `# expect: CODE ...`; every other
line must stay silent. The exact mode on the same files must report at
least as much, and is not touched by the precise rules."""

import re
from pathlib import Path

import pytest

from conftest import ROOT, run_native

PRECISE = ROOT / "tests" / "precise"
FILES = sorted(PRECISE.glob("*.py"))


def reported(args, path):
    result = run_native(["--include-tests", "--min-confidence", "low", "--output-format", "concise",
                         *args, path.name],
                        cwd=path.parent)
    found = {}
    for line in result.stdout.decode().splitlines():
        match = re.match(r"[^:]+:(\d+):\d+: (KH\d{3}) ", line)
        if match:
            found.setdefault(int(match.group(1)), []).append(match.group(2))
    return found, result


def expected(path):
    marks = {}
    for number, line in enumerate(path.read_text().splitlines(), start=1):
        match = re.search(r"# expect: ((?:KH\d{3} ?)+)$", line)
        if match:
            marks[number] = match.group(1).split()
    return marks


@pytest.mark.parametrize("path", FILES, ids=[p.stem for p in FILES])
def test_precise_reports_exactly_the_marked_lines(path):
    found, result = reported(["--precise"], path)
    assert {line: sorted(codes) for line, codes in found.items()} == \
        {line: sorted(codes) for line, codes in expected(path).items()}
    assert result.returncode == (1 if found else 0)


@pytest.mark.parametrize("path", FILES, ids=[p.stem for p in FILES])
def test_precise_findings_are_a_subset_of_the_exact_ones(path):
    if path.stem == "reraising_handlers":
        pytest.skip("a handler that re-raises guards in the exact mode alone")
    precise, _ = reported(["--precise"], path)
    default, _ = reported(["--exact"], path)
    lookups = {line for line, codes in precise.items() if "KH001" in codes}
    # Precise mode shows module-level lookups, which the exact mode keeps
    # silent (they make the file fail without a line of their own).
    module_level = {line for line in lookups
                    if not path.read_text().splitlines()[line - 1].startswith(" ")}
    assert lookups - module_level <= {line for line, codes in default.items() if "KH001" in codes}


def test_precise_from_the_configuration(tmp_path):
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\nprecise = true\n")
    (tmp_path / "a.py").write_text("def f(d, k):\n    d[k] = 1\n    return d[0]\n")
    result = run_native(["a.py"], cwd=tmp_path)
    assert result.returncode == 0
    assert result.stdout == b"All checks passed!\n"
