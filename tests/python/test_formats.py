"""The machine-readable formats of the native command: exact output on a
small project, SARIF valid against the official schema, JSON positions that
point at the right source text, and the same bytes whatever --jobs."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import PARALLEL_JOBS, ROOT, run_native

sys.path.insert(0, str(ROOT / "tests" / "formats"))
import project  # noqa: E402

EXPECTED = ROOT / "tests" / "formats" / "expected"
FORMATS = ["full", "concise", "json", "json-lines", "github", "sarif"]
SCHEMA = ROOT.parent / "shared" / "formats" / "sarif-schema-2.1.0.json"


def run_on_project(tmp_path, output_format, *extra):
    arguments = project.write_project(tmp_path)
    return run_native(["--exact", "--no-respect-gitignore", "--output-format", output_format, *extra,
                       *arguments], cwd=tmp_path)


@pytest.mark.parametrize("output_format", FORMATS)
def test_exact_output_on_the_project(tmp_path, output_format):
    result = run_on_project(tmp_path, output_format)
    expected_out = EXPECTED / f"{output_format}.out"
    expected_err = EXPECTED / f"{output_format}.err"
    if os.environ.get("KEYHOUND_REGENERATE"):
        expected_out.write_bytes(result.stdout)
        expected_err.write_bytes(result.stderr)
    assert result.stdout == expected_out.read_bytes()
    assert result.stderr == expected_err.read_bytes()
    assert result.returncode == 2  # the missing file


@pytest.mark.parametrize("output_format", FORMATS)
def test_output_file_holds_the_report_and_stderr_the_rest(tmp_path, output_format):
    target = tmp_path / "report.txt"
    target.write_text("old report\n")
    result = run_on_project(tmp_path, output_format, "-o", str(target))
    assert result.stdout == b""
    assert target.read_bytes() == (EXPECTED / f"{output_format}.out").read_bytes().replace(
        b"Found 5 findings in 3 files; 1 file could not be read: 'app/missing.py'.\n", b"")
    if output_format == "concise":
        assert result.stderr.endswith(
            b"Found 5 findings in 3 files; 1 file could not be read: 'app/missing.py'.\n")
    assert not [p for p in tmp_path.iterdir() if "keyhound-" in p.name]


def test_unwritable_output_file_is_an_error_and_writes_nothing(tmp_path):
    result = run_on_project(tmp_path, "json", "-o", str(tmp_path / "no" / "such" / "dir.json"))
    assert result.returncode == 2
    assert result.stderr.startswith(b"error: cannot write output file '")
    assert result.stdout == b""


@pytest.mark.parametrize("output_format", FORMATS)
def test_jobs_do_not_change_any_format(tmp_path, output_format):
    outputs = set()
    for jobs in ("1", PARALLEL_JOBS):
        result = run_on_project(tmp_path, output_format, "-j", jobs)
        outputs.add((result.returncode, result.stdout, result.stderr))
    assert len(outputs) == 1


def stdlib_files():
    import sysconfig
    stdlib = Path(sysconfig.get_paths()["stdlib"])
    return sorted(str(p) for p in stdlib.rglob("*.py") if "site-packages" not in p.parts)


@pytest.fixture(scope="module")
def stdlib_reports(tmp_path_factory):
    """The standard library once in JSON and once in SARIF."""
    files = stdlib_files()
    directory = tmp_path_factory.mktemp("stdlib")
    reports = {}
    for output_format in ("json", "sarif"):
        target = directory / f"report.{output_format}"
        result = run_native(["--output-format", output_format, "-o", str(target), *files],
                            timeout=600)
        assert result.returncode in (1, 2), result.stderr[-500:]
        reports[output_format] = json.loads(target.read_text(encoding="utf-8"))
    return reports


def test_sarif_of_the_standard_library_is_valid(stdlib_reports):
    jsonschema = pytest.importorskip("jsonschema")
    if not SCHEMA.exists():
        pytest.skip(f"no SARIF schema at {SCHEMA}")
    schema = json.loads(SCHEMA.read_text(encoding="utf-8"))
    log = stdlib_reports["sarif"]
    jsonschema.Draft4Validator(schema).validate(log)
    results = log["runs"][0]["results"]
    assert len(results) > 1000
    assert {r["ruleId"] for r in results} == {"KH001", "KH002"}
    assert log["runs"][0]["columnKind"] == "unicodeCodePoints"


def test_json_positions_slice_out_the_node(stdlib_reports):
    """Cut each file at the reported code-point columns: a lookup's text is a
    subscript ending in ], a call's starts with its callee."""
    lines_of = {}
    checked = 0
    for record in stdlib_reports["json"]:
        if record["code"] is None:
            continue
        name = record["filename"]
        if name not in lines_of:
            # Rows end at "\n" only: a form feed starts no row.
            text = Path(name).read_text(encoding="utf-8")
            lines_of[name] = [row + "\n" for row in text.split("\n")]
        lines = lines_of[name]
        start, end = record["location"], record["end_location"]
        if start["row"] == end["row"]:
            text = lines[start["row"] - 1][start["column"] - 1:end["column"] - 1]
        else:
            text = (lines[start["row"] - 1][start["column"] - 1:]
                    + "".join(lines[start["row"]:end["row"] - 1])
                    + lines[end["row"] - 1][:end["column"] - 1])
        # The default reports quote the node: for a plain one-row node of
        # fewer than 60 characters, exactly its text.
        plain = not any(part in text for part in ("  ", "\t", "#", "\\", "( ", "[ ", "{ ",
                                                   " )", " ]", " }", " ,"))
        if start["row"] == end["row"] and len(text) < 60 and plain:
            assert record["source"] == text, (record, text)
        if record["code"] == "KH001":
            assert text.endswith("]") and "[" in text, (record, text)
        else:
            assert text.startswith(record["callee"]) and text.endswith(")"), (record, text)
        checked += 1
    assert checked > 1000


def test_github_escapes_a_hostile_file_name(tmp_path):
    name = "e\x1b[2J\x1b]0;title\x07,x:y%.py"
    (tmp_path / name).write_text("def f(d):\n    return d['k']\n")
    result = run_native(["--no-cache", "--output-format", "github", name], cwd=tmp_path)
    assert result.returncode == 1
    assert result.stdout == (
        "::warning title=keyhound (KH001),file=e\u241b[2J\u241b]0;title\u2407%2Cx%3Ay%25.py,"
        "line=2,col=12,endLine=2,endColumn=18::Possible KeyError: d['k'] (a mapping from a "
        "parameter) in function 'f'\n"
        "Found 1 finding in 1 file.\n").encode()
    assert b"\x1b" not in result.stdout and b"\x07" not in result.stdout


@pytest.mark.parametrize("names,last_line", [
    (["missing.py"], b"No findings; 1 file could not be read: 'missing.py'.\n"),
    (["a.py", "gone.py", "missing.py"],
     b"Found 1 finding in 1 file; 2 files could not be read: 'gone.py', 'missing.py'.\n"),
])
def test_concise_names_the_files_it_could_not_read(tmp_path, names, last_line):
    (tmp_path / "a.py").write_text("def f(d):\n    return d['k']\n")
    result = run_native(["--no-cache", "--output-format", "concise", *names], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout.endswith(last_line)
    assert b"All checks passed" not in result.stdout


def test_jobs_beyond_the_processors_are_capped_with_a_warning(tmp_path):
    (tmp_path / "a.py").write_text("x = 1\n")
    result = run_native(["--no-cache", "-j", "4096", "a.py"], cwd=tmp_path)
    assert result.returncode == 0
    processors = int(PARALLEL_JOBS)
    noun = "processor is" if processors == 1 else "processors are"
    assert result.stderr == (f"warning: 4096 jobs asked for, but only {processors} {noun} "
                             f"available; using {processors}\n").encode()
