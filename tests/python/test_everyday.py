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
        "b.py:2:12: KH001 Possible KeyError: d['k'] in function 'f'",
        "pkg/a.py:2:12: KH001 Possible KeyError: d['k'] in function 'f'"]


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


def test_a_file_named_check_is_checked_as_dot_slash_check(tree):
    (tree / "check").write_text(LOOKUP)
    result = run_native(["--no-cache", "--output-format", "concise", "./check"], cwd=tree)
    assert result.stdout.decode().startswith("./check:2:12: KH001")
