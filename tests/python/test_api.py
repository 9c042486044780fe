"""The Python API, in-process: keyhound_api.check_paths and check_source
return the findings as immutable objects, write nothing to the process's
streams, and raise ValueError for a bad option."""

import sys
import threading

import pytest

from conftest import MODULE_DIR, run_native

sys.path.insert(0, str(MODULE_DIR))
import keyhound_api  # noqa: E402

SOURCE = ("def load(cfg):\n    return cfg['port']\n\n\n"
          "def port(cfg):\n    return load(cfg)\n\n\n"
          "def main(cfg):\n    return port(cfg)\n")


def test_check_source_gives_the_findings_as_objects(capfd):
    report = keyhound_api.check_source(SOURCE, "app.py", min_confidence="low")
    assert [(f.code, f.row, f.column, f.function) for f in report.findings] == [
        ("KH001", 2, 12, "load"), ("KH002", 10, 12, "main")]
    lookup, call = report.findings
    assert (lookup.confidence, lookup.reason) == ("medium", "a mapping from a parameter")
    assert call.callee == "port"
    assert call.origin == ("app.py", 2, 12)
    assert call.source_text == "port(cfg)"
    assert call.confidence == "low"
    assert call.message == ("Possible KeyError: port(cfg) in function 'main' can raise it "
                            "(from cfg['port'] at app.py:2:12)")
    assert (call.end_row, call.end_column) == (10, 21)
    assert report.unreadable == ()
    with pytest.raises(AttributeError):
        call.code = "KH001"
    assert capfd.readouterr() == ("", "")


def test_check_paths_reads_files_and_names_those_it_cannot(tmp_path, monkeypatch, capfd):
    (tmp_path / "app.py").write_text(SOURCE)
    (tmp_path / "tests").mkdir()
    (tmp_path / "tests" / "test_app.py").write_text(SOURCE)
    monkeypatch.chdir(tmp_path)
    report = keyhound_api.check_paths([".", "missing.py"])
    assert {f.filename for f in report.findings} == {"app.py"}
    assert report.unreadable == (("missing.py", "No such file or directory (os error 2)"),)
    with_tests = keyhound_api.check_paths(["."], include_tests=True)
    assert {f.filename for f in with_tests.findings} == {"app.py", "tests/test_app.py"}
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("options, codes", [
    ({}, ["KH001"]),
    ({"min_confidence": "low"}, ["KH001", "KH002"]),
    ({"min_confidence": "high"}, []),
    ({"select": ["KH002"], "min_confidence": "low"}, ["KH002"]),
    ({"ignore": ["KH"]}, []),
    ({"select": ["ALL"], "per_file_ignores": {"app.py": ["KH001"]}, "min_confidence": "low"},
     ["KH002"]),
    ({"exact": True}, ["KH001", "KH002"]),
    ({"exact": True, "min_confidence": "high"}, ["KH001", "KH002"]),
])
def test_options_are_named_like_the_configuration_keys(options, codes):
    report = keyhound_api.check_source(SOURCE, filename="app.py", **options)
    assert [f.code for f in report.findings] == codes


def test_exact_gives_the_module_messages():
    report = keyhound_api.check_source(SOURCE, "app.py", exact=True)
    assert report.findings[0].message == "Possible KeyError in function 'load'"


@pytest.mark.parametrize("options, message", [
    ({"select": ["KH9"]}, "select holds 'KH9', but no rule code starts with it"),
    ({"ignore": ["kh001"]}, "did you mean 'KH001'?"),
    ({"per_file_ignores": {"t/*": ["KH9"]}}, "per_file_ignores holds 'KH9'"),
    ({"min_confidence": "sure"}, "min_confidence must be one of 'high', 'medium', 'low'"),
    ({"exact": True, "precise": True}, "'exact' and 'precise' cannot both be true"),
])
def test_a_bad_option_is_a_value_error(options, message):
    with pytest.raises(ValueError, match=message.replace("?", r"\?")):
        keyhound_api.check_source(SOURCE, **options)


@pytest.mark.parametrize("call, message", [
    (lambda: keyhound_api.check_source(b"x = 1\n"), "text must be a str"),
    (lambda: keyhound_api.check_paths("app.py"), "paths must be a list"),
    (lambda: keyhound_api.check_paths([b"app.py"]), "paths must be a str or an os.PathLike of str"),
    (lambda: keyhound_api.check_paths([3]), "paths must be a str or os.PathLike"),
    (lambda: keyhound_api.check_source("x", exact="yes"), "exact must be True or False"),
    (lambda: keyhound_api.check_source("x", colour=True),
     "got an unexpected keyword argument 'colour'"),
])
def test_a_wrong_type_or_an_unknown_keyword_is_a_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()


# What each kind of setting expects, in Python's words and in the
# configuration's: one table gives both.
EXPECTED = {
    "True or False": ("true or false", True),
    "a list of str": ("an array of strings", ["KH001"]),
    "a dict of glob to codes": ("a table of glob to codes", {}),
    "one of 'high', 'medium', 'low'": ('one of "high", "medium", "low"', "low"),
}


@pytest.mark.parametrize("keyword", keyhound_api.SETTINGS)
def test_every_setting_is_a_keyword_named_like_its_configuration_key(
        keyword, tmp_path):
    # A value of the wrong type: a TypeError that says what is expected.
    with pytest.raises((TypeError, ValueError)) as raised:
        keyhound_api.check_source("x = 1\n", **{keyword: 3.5})
    prefix = keyword + " must be "
    message = str(raised.value)
    assert message.startswith(prefix), message
    python_words = message[len(prefix):]
    toml_words, good = EXPECTED[python_words]
    # A value of the right type is taken.
    keyhound_api.check_source("x = 1\n", **{keyword: good})
    # The configuration has the same setting under the same name, and says
    # the same of a float.
    key = keyword.replace("_", "-")
    (tmp_path / "pyproject.toml").write_text(f"[tool.keyhound]\n{key} = 3.5\n")
    (tmp_path / "a.py").write_text("x = 1\n")
    result = run_native(["a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert f"'{key}' must be {toml_words}, not a float".encode() in result.stderr, result.stderr


def test_paths_may_be_path_objects(tmp_path):
    import pathlib
    (tmp_path / "app.py").write_text(SOURCE)
    by_text = keyhound_api.check_paths([str(tmp_path)])
    by_path = keyhound_api.check_paths([tmp_path])
    assert by_path.findings == by_text.findings and len(by_text.findings) > 0
    named = keyhound_api.check_source(SOURCE, filename=pathlib.PurePosixPath("pkg/app.py"))
    assert named.findings[0].filename == "pkg/app.py"


def test_two_threads_at_once_get_the_same_findings():
    big = SOURCE * 200
    expected = keyhound_api.check_source(big, "big.py")
    results = [None] * 4
    errors = []

    def work(slot):
        try:
            for _ in range(5):
                results[slot] = keyhound_api.check_source(big, "big.py")
        except Exception as error:  # pragma: no cover - reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert all(result == expected for result in results)
    assert len(expected.findings) > 100


def test_unused_suppressions_when_asked_for_by_name():
    source = "def f(d):\n    return d.get('k')  # noqa: KH001\n"
    assert keyhound_api.check_source(source, "a.py").findings == ()
    report = keyhound_api.check_source(source, "a.py", select=["KH001", "KH100"])
    assert [(f.code, f.row) for f in report.findings] == [("KH100", 2)]


def test_check_paths_reads_notebooks_and_names_the_cell(tmp_path):
    import json
    cells = [{"cell_type": "markdown", "metadata": {}, "source": "# notes"},
             {"cell_type": "code", "metadata": {}, "outputs": [], "execution_count": None,
              "source": "import json\ncfg = json.loads('{}')\n%time x = 1\ncfg['k']\n"}]
    (tmp_path / "nb.ipynb").write_text(json.dumps({"cells": cells, "metadata": {},
                                                   "nbformat": 4, "nbformat_minor": 5}))
    (finding,) = keyhound_api.check_paths([tmp_path]).findings
    assert (finding.cell, finding.row, finding.column) == (2, 4, 1)
    assert keyhound_api.check_paths([tmp_path], exact=True).findings == ()
