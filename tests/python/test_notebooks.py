"""Notebooks: the code cells of a .ipynb checked as one module in order, with
IPython's syntax blanked, findings named by their cell, and the module's
rule (--exact) left reading every named file as Python."""

import json

import pytest

from conftest import clean_env, run_exact, run_module, run_native


def notebook(*cells, language="python"):
    """A notebook of ("code" | "markdown", source) cells; a source given as
    a list is stored as lines, as Jupyter writes it."""
    return json.dumps({
        "cells": [{"cell_type": kind, "metadata": {}, "source": source,
                   **({"outputs": [], "execution_count": None} if kind == "code" else {})}
                  for kind, source in cells],
        "metadata": {"language_info": {"name": language}},
        "nbformat": 4, "nbformat_minor": 5})


LOADS = "import json\ncfg = json.loads(open('c.json').read())\n"

# Each case: the cells, then the findings as "cell:row:column code".
CASES = [
    ("a lookup in the second cell",
     [("markdown", "# Setup\nd['not code']\n"), ("code", LOADS), ("code", "port = cfg['port']\n")],
     ["3:1:8 KH001"]),
    ("line magics, shell escapes and help are blanked, not parsed",
     [("code", ["%matplotlib inline\n", LOADS, "files = !ls\n", "cfg?\n",
                "for f in files:\n", "    %time print(f)\n", "x = cfg['x']\n"])],
     ["1:8:5 KH001"]),
    ("a cell magic makes its whole cell something else",
     [("code", LOADS), ("code", "%%bash\necho $cfg['y']\n"), ("code", "z = cfg['z']\n")],
     ["3:1:5 KH001"]),
    ("noqa works per line in a cell",
     [("code", LOADS), ("code", "a = cfg['a']  # noqa: KH001\nb = cfg['b']\n")],
     ["2:2:5 KH001"]),
    ("a cell without a final line feed ends before the next",
     [("code", LOADS.rstrip("\n")), ("code", "c = cfg['c']")],
     ["2:1:5 KH001"]),
    ("a notebook of another language has no Python to check",
     [("code", "x <- list()\nx[['k']]\n")], []),
]


@pytest.mark.parametrize("name, cells, expected", CASES, ids=[c[0] for c in CASES])
def test_code_cells_are_checked_as_one_module(tmp_path, name, cells, expected):
    language = "R" if "another language" in name else "python"
    (tmp_path / "nb.ipynb").write_text(notebook(*cells, language=language))
    result = run_native(["--no-cache", "--output-format", "json", "nb.ipynb"], cwd=tmp_path)
    assert result.returncode == (1 if expected else 0), result.stderr
    found = [f"{f['cell']}:{f['location']['row']}:{f['location']['column']} {f['code']}"
             for f in json.loads(result.stdout)]
    assert found == expected


def test_the_readable_report_names_the_cell_and_numbers_its_rows(tmp_path):
    (tmp_path / "nb.ipynb").write_text(notebook(
        ("code", LOADS + "def get(k):\n    return cfg[k]\n"),
        ("code", "def load(c):\n    return c['port']\n"),
        ("code", "def port(c):\n    return load(c)\n\n\ndef main(c):\n    return port(c)\n")))
    result = run_native(["--no-cache", "--min-confidence", "low", "nb.ipynb"], cwd=tmp_path)
    out = result.stdout.decode()
    assert "nb.ipynb:cell 1:4:12: KH001 [high] Possible KeyError: cfg[k]" in out
    assert "4|\n |     return cfg[k]\n" in out
    # A call in one cell of a lookup in another names the lookup's cell.
    assert "nb.ipynb:cell 3:6:12: KH002" in out
    assert "(from c['port'] at nb.ipynb:cell 2:2:12)" in out
    concise = run_native(["--no-cache", "--output-format", "concise", "nb.ipynb"], cwd=tmp_path)
    assert concise.stdout.decode().startswith("nb.ipynb:cell 1:4:12: KH001 [high]")


def test_sarif_and_github_carry_the_cell(tmp_path):
    (tmp_path / "nb.ipynb").write_text(notebook(("code", "x = 1\n"), ("code", LOADS + "cfg['k']\n")))
    sarif = json.loads(run_native(["--no-cache", "--output-format", "sarif", "nb.ipynb"],
                                  cwd=tmp_path).stdout)
    (result,) = sarif["runs"][0]["results"]
    assert result["properties"]["cell"] == 2
    assert result["locations"][0]["physicalLocation"]["region"]["startLine"] == 3
    github = run_native(["--no-cache", "--output-format", "github", "nb.ipynb"], cwd=tmp_path)
    assert github.stdout.decode().startswith(
        "::error title=keyhound (KH001%2C cell 2),file=nb.ipynb,line=3,col=1,")


@pytest.mark.parametrize("text, reason", [
    ('{"cells": [', "invalid JSON"),
    ('{"cells": 3}', "no list of cells"),
    ("[" * 100000, "its JSON nests deeper than 256 levels"),
    ('{"cells": [{"cell_type": "code", "source": 5}]}', "a cell's source is neither text"),
])
def test_a_broken_notebook_is_one_error_line_and_status_2(tmp_path, text, reason):
    (tmp_path / "bad.ipynb").write_text(text)
    result = run_native(["--no-cache", "bad.ipynb"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.decode().count("bad.ipynb") >= 1
    assert f"Error reading file 'bad.ipynb': not a notebook: {reason}" in (
        result.stdout + result.stderr).decode()


def test_directories_give_notebooks_in_the_default_mode_only(tmp_path):
    body = notebook(("code", LOADS + "cfg['k']\n"))
    for path in ["a.ipynb", "gen/b.ipynb", "tests/c.ipynb", "d.py"]:
        (tmp_path / path).parent.mkdir(exist_ok=True)
        (tmp_path / path).write_text(body if path.endswith("ipynb") else "x = 1\n")
    (tmp_path / "pyproject.toml").write_text('[tool.keyhound]\nextend-exclude = ["gen"]\n')
    shown = run_native(["--show-files", "."], cwd=tmp_path)
    assert shown.stdout.decode().splitlines() == ["a.ipynb", "d.py", "tests/c.ipynb"]
    # Test code is not reported, a notebook there neither.
    result = run_native(["--no-cache", "--output-format", "concise", "."], cwd=tmp_path)
    assert [line.split(":")[0] for line in result.stdout.decode().splitlines()[:-1]] == ["a.ipynb"]
    assert run_exact(["--show-files", "."], cwd=tmp_path).stdout == b"d.py\n"


def test_exact_reads_a_named_notebook_as_the_module_does(tmp_path):
    (tmp_path / "nb.ipynb").write_text(notebook(("code", LOADS + "cfg['k']\n")))
    exact = run_exact(["--ignore-noqa", "--no-cache", "nb.ipynb"], cwd=tmp_path)
    module = run_module(["nb.ipynb"], cwd=tmp_path)
    # The module's first file is its launcher.
    assert exact.stdout == module.stdout.split(b"\n", 1)[1]


def test_the_cache_answers_an_unchanged_notebook(tmp_path):
    (tmp_path / "nb.ipynb").write_text(notebook(("code", LOADS), ("code", "cfg['k']\n")))
    env = clean_env(KEYHOUND_CACHE_DIR=str(tmp_path / "cache"), KEYHOUND_CACHE_STATS="1")
    first = run_native(["nb.ipynb"], cwd=tmp_path, env=env)
    second = run_native(["nb.ipynb"], cwd=tmp_path, env=env)
    assert b"cache: 0 hits, 1 misses" in first.stderr
    assert b"cache: 1 hits, 0 misses" in second.stderr
    assert second.stdout == first.stdout and b"cell 2:1:1" in second.stdout


def test_add_noqa_leaves_a_notebook_as_it_was(tmp_path):
    body = notebook(("code", LOADS + "cfg['k']\n"))
    (tmp_path / "nb.ipynb").write_text(body)
    result = run_native(["--no-cache", "--add-noqa", "nb.ipynb"], cwd=tmp_path)
    assert result.returncode == 0
    assert b"'nb.ipynb' left as it was: --add-noqa edits Python files only" in result.stderr
    assert (tmp_path / "nb.ipynb").read_text() == body
