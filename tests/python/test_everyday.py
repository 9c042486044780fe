"""The commands a ruff user types: `keyhound check`, no path meaning ".",
--stdin-filename alone, --show-files, and a help that lists it all."""

import subprocess

import pytest

from conftest import NATIVE, clean_env, run_native

LOOKUP = "def f(d):\n    return d['k']\n"


@pytest.fixture
def tree(tmp_path):
    (tmp_path / "pkg").mkdir()
    (tmp_path / "pkg" / "a.py").write_text(LOOKUP)
    (tmp_path / "b.py").write_text(LOOKUP)
    (tmp_path / "build").mkdir()
    (tmp_path / "build" / "gen.py").write_text(LOOKUP)
    return tmp_path


@pytest.mark.parametrize("command, paths", [([], ["."]), (["check"], ["."]), (["check"], []),
                                           ([], [])])
def test_check_and_no_path_mean_the_working_directory(tree, command, paths):
    # A command comes first, as in ruff; after an option it is a path.
    result = run_native([*command, "--no-cache", "--output-format", "concise", *paths], cwd=tree)
    assert result.returncode == 1, result.stderr
    assert result.stdout.decode().splitlines()[:2] == [
        "b.py:2:12: KH001 [medium] Possible KeyError: d['k'] (a mapping from a parameter) in "
        "function 'f'",
        "pkg/a.py:2:12: KH001 [medium] Possible KeyError: d['k'] (a mapping from a parameter) in "
        "function 'f'"]


def test_no_path_takes_the_working_directorys_configuration(tree):
    (tree / "pyproject.toml").write_text('[tool.keyhound]\nextend-exclude = ["pkg"]\n')
    result = run_native(["--no-cache", "--show-files"], cwd=tree)
    assert result.stdout == b"b.py\n"


def test_show_files_lists_what_a_run_would_check_in_its_order(tree):
    result = run_native(["--show-files", "b.py", "."], cwd=tree)
    assert result.returncode == 0
    assert result.stdout == b"b.py\nb.py\npkg/a.py\n"
    missing = run_native(["--show-files", "nowhere"], cwd=tree)
    assert missing.stdout == b"nowhere\n"  # named files are read, not looked for


def test_show_settings_says_where_each_setting_came_from(tree, monkeypatch):
    (tree / "pyproject.toml").write_text(
        '[tool.keyhound]\nselect = ["KH001"]\nextend-exclude = ["gen"]\nexact = true\n')
    env = clean_env(KEYHOUND_CACHE_DIR=str(tree / "cache"))
    result = run_native(["--show-settings", "--select", "KH002", "--extend-exclude", "x\x1b",
                         "--precise", "b.py"], cwd=tree, env=env)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode().splitlines()
    assert lines[0] == f"Settings for 'b.py' (configuration: {tree / 'pyproject.toml'}):"
    settings = {line.split(" = ")[0].strip(): line.split(" = ", 1)[1] for line in lines[1:]
                if " = " in line}
    assert settings["select"] == '["KH002"]  # command line: --select'
    assert settings["exact"] == f"true  # {tree / 'pyproject.toml'}"
    assert settings["precise"] == "true  # command line: --precise"
    assert settings["cache-dir"] == f'"{tree / "cache"}"  # environment: KEYHOUND_CACHE_DIR'
    assert settings["jobs"].endswith("# default")
    # Values added to each other are listed one a line, with their origins;
    # a control character is escaped.
    assert f'extend-exclude    = ["gen"]  # {tree / "pyproject.toml"}' in lines
    assert '                  + ["x\\u001b"]  # command line: --extend-exclude' in lines
    # It checks nothing, and says nothing else.
    assert result.stderr == b""


def test_stdin_filename_alone_reads_standard_input(tree):
    result = subprocess.run([str(NATIVE), "--no-cache", "--output-format", "concise",
                             "--stdin-filename", "pkg/typed.py"], cwd=tree, env=clean_env(),
                            input=LOOKUP.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=60)
    assert result.returncode == 1, result.stderr
    assert result.stdout.decode().splitlines()[0].startswith("pkg/typed.py:2:12: KH001")


def test_help_lists_the_commands_and_says_what_keyhound_finds(tree):
    result = run_native(["--help"], cwd=tree)
    lines = result.stdout.decode().splitlines()
    assert "KeyError" in lines[0]
    assert "       keyhound check [OPTIONS] [PATHS]..." in lines
    assert "       keyhound server" in lines
    assert any(line.startswith("  server  ") for line in lines)
    assert any(line.startswith("      --show-files") for line in lines)
    assert any(line.startswith("      --show-settings") for line in lines)


def test_a_file_named_check_is_checked_as_dot_slash_check(tree):
    (tree / "check").write_text(LOOKUP)
    result = run_native(["--no-cache", "--output-format", "concise", "./check"], cwd=tree)
    assert result.stdout.decode().startswith("./check:2:12: KH001")


@pytest.mark.parametrize("selector, suggestion", [
    ("KH0002", "KH002"), ("KH01", "KH001"), ("kh003", "KH003"), ("KH0001", "KH001"),
    ("XYZ123", None),
])
def test_a_mistyped_code_suggests_the_nearest_by_edits(tree, selector, suggestion):
    result = run_native(["--select", selector, "."], cwd=tree)
    assert result.returncode == 2
    first = result.stderr.decode().splitlines()[0]
    if suggestion:
        assert first.endswith(f"did you mean '{suggestion}'?")
    else:
        assert "did you mean" not in first


@pytest.mark.parametrize("fmt, expected", [
    ("json", '[\n  {"code": "KH001", "name": "unguarded-lookup", "summary": '
             '"A subscript that may raise KeyError", "count": 2, '
             '"confidence": {"high": 0, "medium": 2, "low": 0}}\n]\n'),
    ("json-lines", '{"code": "KH001", "name": "unguarded-lookup", "summary": '
                   '"A subscript that may raise KeyError", "count": 2, '
                   '"confidence": {"high": 0, "medium": 2, "low": 0}}\n'),
    ("concise", "2  KH001  A subscript that may raise KeyError\n"
                "by confidence: 0 high, 2 medium, 0 low\nFound 2 findings in 2 files.\n"),
])
def test_statistics_honour_the_output_format(tree, fmt, expected):
    result = run_native(["--no-cache", "--statistics", "--output-format", fmt], cwd=tree)
    assert result.stdout.decode() == expected
    if fmt.startswith("json"):
        assert result.stderr == b""


def test_the_concise_format_is_coloured_like_the_full_one(tree):
    env = clean_env(CLICOLOR_FORCE="1")
    forced = run_native(["--no-cache", "--output-format", "concise", "b.py"], cwd=tree, env=env)
    assert forced.stdout.startswith(b"b.py:2:12: \x1b[1;33mKH001\x1b[0m [medium] Possible KeyError")
    full = run_native(["--no-cache", "b.py"], cwd=tree, env=env)
    assert b"\x1b[1;33mKH001 [medium]\x1b[0m" in full.stdout
    plain = run_native(["--no-cache", "--output-format", "concise", "b.py"], cwd=tree)
    assert b"\x1b" not in plain.stdout


@pytest.mark.parametrize("source, expected", [
    # Declared on the first line, or the second after a comment line.
    (b'# -*- coding: latin-1 -*-\nd = {}\nx = d["caf\xe9"]\n',
     'a.py:3:5: KH001 [high] Possible KeyError: d["caf\u00e9"] (a key the literal does not hold) '
     'at module level'),
    (b'#!/usr/bin/env python\n# vim: set fileencoding=cp1252 :\nx = {}["\x80"] + {}["k"]\n',
     'a.py:3:5: KH001 [high] Possible KeyError: {}["\u20ac"] (a key the literal does not hold) '
     'at module level'),
    (b'# coding=iso-8859-15\nx = {}["\xa4"]\n',
     'a.py:2:5: KH001 [high] Possible KeyError: {}["\u20ac"] (a key the literal does not hold) '
     'at module level'),
    (b'\xef\xbb\xbf# coding: utf-8\nx = {}["\xc3\xa9"]\n',
     'a.py:2:5: KH001 [high] Possible KeyError: {}["\u00e9"] (a key the literal does not hold) '
     'at module level'),
    # Errors: one line each, status 2.
    (b"# coding: nope\nx = 1\n", "Error reading file 'a.py': unknown encoding 'nope' declared"),
    (b"\xef\xbb\xbf# coding: latin-1\nx = 1\n",
     "Error reading file 'a.py': encoding problem: a UTF-8 byte order mark with the "
     "declaration 'latin-1'"),
    (b"x = 1\n# coding: latin-1\n\xe9 = 2\n",
     "Error reading file 'a.py': stream did not contain valid UTF-8"),
    (b"# coding: ascii\nx = '\xe9'\n",
     "Error reading file 'a.py': cannot be decoded as 'ascii': invalid bytes at offset 21"),
])
def test_a_source_is_read_by_the_encoding_it_declares(tmp_path, source, expected):
    (tmp_path / "a.py").write_bytes(source)
    result = run_native(["--no-cache", "--output-format", "concise", "a.py"], cwd=tmp_path)
    if expected.startswith("Error"):
        assert result.returncode == 2
        assert result.stderr.decode().splitlines()[0] == expected
    else:
        assert result.returncode == 1, result.stderr
        assert result.stdout.decode().splitlines()[0] == expected


def test_exact_keeps_strict_utf8(tmp_path):
    (tmp_path / "a.py").write_bytes(b'# -*- coding: latin-1 -*-\nx = {}["caf\xe9"]\n')
    result = run_native(["--exact", "--no-cache", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr == b"Error reading file 'a.py': stream did not contain valid UTF-8\n"


@pytest.mark.parametrize("source, message", [
    ("def f(s):\n    return current_stacktrace(\n        s,\n        limit=3,\n    )['frames']\n",
     "current_stacktrace(\u2026)['frames']"),
    ("def f(d):\n    return {\n        'a': 1,\n    }['b']\n", "{\u2026}['b']"),
    ("def f(g):\n    return g(\n        1)(2, [\n        3])['k']\n", "g(\u2026)(\u2026)['k']"),
    # A key written over rows is only made one line.
    ("def f(d):\n    return d[\n        'k'\n    ]\n", "d['k']"),
    ("def f(d):\n    return d.get_all(1, 2)['k']\n", "d.get_all(1, 2)['k']"),
])
def test_a_lookup_over_several_rows_is_quoted_with_its_key(tmp_path, source, message):
    (tmp_path / "a.py").write_text(source)
    result = run_native(["--no-cache", "--output-format", "concise", "a.py"], cwd=tmp_path)
    assert f"Possible KeyError: {message} (" in result.stdout.decode()


def test_a_lookup_over_several_rows_shows_the_row_of_its_key(tmp_path):
    (tmp_path / "a.py").write_text(
        "def f(s):\n    return current_stacktrace(\n        s,\n    )['frames']\n")
    result = run_native(["--no-cache", "a.py"], cwd=tmp_path)
    assert result.stdout.decode().splitlines()[:4] == [
        "a.py:2:12: KH001 [medium] Possible KeyError: current_stacktrace(\u2026)['frames'] "
        "(a mapping returned by a call) in function 'f'",
        "4|",
        " |     )['frames']",
        " |      ^^^^^^^^^^",
    ]
    # The module's excerpt is its first row, as always.
    exact = run_native(["--no-cache", "--exact", "a.py"], cwd=tmp_path)
    assert exact.stdout.decode().splitlines()[2] == " |     return current_stacktrace("
