"""What a new user meets first in the native command's default mode: a
report in file order that names each lookup, carets under the characters
they mark, one total; strict selectors; --explain and --statistics."""

import json

import pytest

from conftest import run_native

# Wide characters and a tab on one line, a call whose KeyError comes from
# another function, a node that spans rows, a text longer than 60.
APP = ('def load(cfg):\n'
       '\treturn cfg["p\u00f6rt"] + cfg["\u65e5\u672c"]\n'
       '\n\n'
       'def port(cfg):\n'
       '    return load(cfg)\n'
       '\n\n'
       'def main(cfg):\n'
       '    return port(\n'
       '        cfg)\n'
       '\n\n'
       'def nested(rows):\n'
       '    return rows[\n'
       '        "a very long key that goes on and on and on past sixty characters"]\n')

# The default shows what is worth reading: the call of `port`, whose
# KeyError comes from a lookup of medium confidence, is of low confidence.
FULL = ('app.py:2:9: KH001 [medium] Possible KeyError: cfg["p\u00f6rt"] (a mapping from a '
        'parameter) in function \'load\'\n'
        '2|\n'
        ' |         return cfg["p\u00f6rt"] + cfg["\u65e5\u672c"]\n'
        ' |                ^^^^^^^^^^^\n'
        '\n'
        'app.py:2:23: KH001 [medium] Possible KeyError: cfg["\u65e5\u672c"] (a mapping from a '
        'parameter) in function \'load\'\n'
        '2|\n'
        ' |         return cfg["p\u00f6rt"] + cfg["\u65e5\u672c"]\n'
        ' |                              ^^^^^^^^^^^\n'
        '\n'
        'app.py:15:12: KH001 [medium] Possible KeyError: rows["a very long key that goes on and on '
        'and on past sixty\u2026 (a mapping from a parameter) in function \'nested\'\n'
        '15|\n'
        '  |     return rows[\n'
        '  |            ^^^^^\n'
        '\n'
        'Found 3 findings in 1 file.\n')


@pytest.fixture
def app(tmp_path):
    (tmp_path / "app.py").write_text(APP, encoding="utf-8")
    (tmp_path / "clean.py").write_text("x = 1\n")
    return tmp_path


def test_the_full_report_names_each_lookup_and_ends_with_the_total(app):
    result = run_native(["--no-cache", "app.py", "clean.py"], cwd=app)
    assert result.returncode == 1
    assert result.stdout.decode() == FULL
    assert result.stderr == b""


def test_exact_keeps_the_module_texts(app):
    result = run_native(["--no-cache", "--exact", "app.py", "clean.py"], cwd=app)
    out = result.stdout.decode()
    assert "app.py:2:9: Warning: Possible KeyError in function 'load'\n" in out
    assert "No issues found in 'clean.py'\n" in out
    assert "Found" not in out
    assert b"Potential issue(s) in function 'load'" in result.stderr


@pytest.mark.parametrize("output_format, last", [
    ("concise", "Found 4 findings in 1 file.\n"),
    ("github", "Found 4 findings in 1 file.\n"),
])
def test_line_formats_give_the_readable_message_and_the_total(app, output_format, last):
    result = run_native(["--no-cache", "--min-confidence", "low", "--output-format", output_format,
                         "app.py"], cwd=app)
    lines = result.stdout.decode().splitlines(keepends=True)
    assert lines[-1] == last
    assert any("Possible KeyError: port(cfg) in function 'main' can raise it" in line
               for line in lines)


def test_the_total_goes_to_standard_error_when_the_report_goes_to_a_file(app):
    result = run_native(["--no-cache", "-o", "report.txt", "app.py"], cwd=app)
    assert result.stdout == b""
    assert result.stderr == b"Found 3 findings in 1 file.\n"
    assert (app / "report.txt").read_text(encoding="utf-8") == FULL.replace(
        "Found 3 findings in 1 file.\n", "")


def test_structured_formats_carry_the_source_text(app):
    result = run_native(["--no-cache", "--min-confidence", "low", "--output-format", "json",
                         "app.py"], cwd=app)
    records = json.loads(result.stdout)
    assert [r["source"] for r in records] == [
        'cfg["p\u00f6rt"]', 'cfg["\u65e5\u672c"]', "port(cfg)",
        'rows["a very long key that goes on and on and on past sixty\u2026']
    assert records[2]["origin"] == {"filename": "app.py", "row": 2, "column": 9,
                                    "source": 'cfg["p\u00f6rt"]'}
    sarif = json.loads(run_native(["--no-cache", "--min-confidence", "low", "--output-format",
                                   "sarif", "app.py"], cwd=app).stdout)
    regions = [r["locations"][0]["physicalLocation"]["region"] for r in sarif["runs"][0]["results"]]
    assert regions[2]["snippet"] == {"text": "port(cfg)"}
    rules = sarif["runs"][0]["tool"]["driver"]["rules"]
    assert "only where the callee's own lookups are not" in rules[1]["fullDescription"]["text"]


def test_a_clean_run_says_so_once(app):
    result = run_native(["--no-cache", "clean.py", "clean.py"], cwd=app)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"All checks passed!\n", b"")


@pytest.mark.parametrize("option, value, hint", [
    ("--select", "KH9", "(the codes are KH001, KH002, KH003 and KH100, or ALL for every one)"),
    ("--select", "kh001", "did you mean 'KH001'?"),
    ("--select", "E501", "(the codes are KH001, KH002, KH003 and KH100, or ALL for every one)"),
    ("--ignore", "KH01", "did you mean 'KH001'?"),
    ("--select", "KH001,all", "did you mean 'ALL'?"),
    ("--per-file-ignores", "app.py:KH4", "(the codes are KH001"),
])
def test_a_selector_that_matches_no_rule_is_an_error(app, option, value, hint):
    result = run_native(["--no-cache", option, value, "app.py"], cwd=app)
    assert result.returncode == 2
    assert result.stdout == b""
    first = result.stderr.decode().splitlines()[0]
    assert first.startswith("error: invalid value '"), first
    assert "no rule code starts with it" in first and hint in first, first


@pytest.mark.parametrize("table, hint", [
    ('select = ["KH9"]', "'select' holds 'KH9'"),
    ('ignore = ["kh002"]', "'ignore' holds 'kh002', but no rule code starts with it; "
                           "did you mean 'KH002'?"),
    ('per-file-ignores = {"app.py" = ["E501"]}', "'per-file-ignores' holds 'E501'"),
])
def test_a_configured_selector_that_matches_no_rule_is_an_error(app, table, hint):
    (app / "pyproject.toml").write_text(f"[tool.keyhound]\n{table}\n")
    result = run_native(["--no-cache", "app.py"], cwd=app)
    assert result.returncode == 2
    assert result.stderr.decode() == f"error: {app / 'pyproject.toml'}: {hint}" + (
        "" if "did you mean" in hint else
        ", but no rule code starts with it (the codes are KH001, KH002, KH003 and KH100, or ALL for "
        "every one)") + "\n"


@pytest.mark.parametrize("selector, codes", [
    ("ALL", ["KH001", "KH001", "KH002", "KH001"]),
    ("KH002", ["KH002"]),
    ("KH", ["KH001", "KH001", "KH002", "KH001"]),
])
def test_good_selectors_select(app, selector, codes):
    result = run_native(["--no-cache", "--min-confidence", "low", "--output-format", "json",
                         "--select", selector, "app.py"], cwd=app)
    assert [r["code"] for r in json.loads(result.stdout)] == codes


@pytest.mark.parametrize("code", ["KH001", "KH002", "KH003", "kh002"])
def test_explain_needs_no_paths(code):
    result = run_native(["--explain", code])
    assert result.returncode == 0
    text = result.stdout.decode()
    assert text.startswith(code.upper() + " (")
    for section in ("Example:", "Fixed:", "How to fix it:", "Precise mode"):
        assert section in text


def test_explain_of_an_unknown_code_is_a_usage_error():
    result = run_native(["--explain", "KH9"])
    assert result.returncode == 2
    assert result.stderr.startswith(
        b"error: invalid value 'KH9' for '--explain <CODE>': expected one of: KH001, KH002, KH003")


def test_the_kh002_example_of_explain_is_reported(tmp_path):
    text = run_native(["--explain", "KH002"]).stdout.decode()
    example = text.split("Example:\n\n")[1].split("\nFixed:")[0]
    source = "\n".join(line[4:] for line in example.splitlines())
    (tmp_path / "example.py").write_text(source + "\n")
    result = run_native(["--no-cache", "--min-confidence", "low", "--output-format", "concise",
                         "example.py"], cwd=tmp_path)
    codes = [line.split(" ")[1] for line in result.stdout.decode().splitlines() if ": KH" in line]
    assert codes == ["KH001", "KH002"]


def test_statistics_count_each_code_most_frequent_first(app):
    (app / "more.py").write_text("def f(d):\n    return d['a']\n")
    result = run_native(["--no-cache", "--min-confidence", "low", "--statistics", "app.py",
                         "more.py"], cwd=app)
    assert result.returncode == 1
    assert result.stdout.decode() == (
        "4  KH001  A subscript that may raise KeyError\n"
        "1  KH002  A call of a function that may let a KeyError escape\n"
        "by confidence: 0 high, 4 medium, 1 low\n"
        "Found 5 findings in 2 files.\n")


def test_the_readme_rule_table_says_what_explain_says():
    from conftest import ROOT
    rows = [line.split(" | ") for line in (ROOT / "README.md").read_text().splitlines()
            if line.startswith("| `KH00")]
    assert [row[0].strip("| `") for row in rows] == ["KH001", "KH002", "KH003"]
    for row in rows:
        code = row[0].strip("| `")
        title = run_native(["--explain", code]).stdout.decode().split("\n\n")[0]
        assert title.replace("\n", " ").endswith("): " + row[1]), (code, title)
