"""The native command's default: precise mode, test code not reported, and a
run that fails exactly when it shows a finding. `--exact` is the module's
rule, test code included."""

import json

import pytest

from conftest import run_module, run_native

# A lookup in a function, one at module level, and one in an earlier
# function of a name defined twice: the module's rule shows only the first.
SOURCE = ("def f(d):\n    return d['k']\n\n"
          "x = {}['m']\n\n"
          "def g(d):\n    return d['early']\n\n"
          "def g(d):\n    return 1\n")


def lines_of(result):
    return [line for line in result.stdout.decode().splitlines() if ": KH" in line]


@pytest.mark.parametrize("args, shown", [
    # By line in the default mode, by function in the module's order.
    ([], ["a.py:2:12: KH001", "a.py:4:5: KH001", "a.py:7:12: KH001"]),
    (["--precise"], ["a.py:2:12: KH001", "a.py:4:5: KH001", "a.py:7:12: KH001"]),
    (["--exact"], ["a.py:2:12: KH001"]),
])
def test_modes_show_their_findings(tmp_path, args, shown):
    (tmp_path / "a.py").write_text(SOURCE)
    result = run_native(["--no-cache", "--output-format", "concise", *args, "a.py"], cwd=tmp_path)
    assert [line.split(" Possible")[0].split(" [")[0] for line in lines_of(result)] == shown
    assert result.returncode == 1


def test_exact_prints_what_the_module_prints(tmp_path):
    (tmp_path / "a.py").write_text(SOURCE)
    native = run_native(["--no-cache", "--exact", "a.py"], cwd=tmp_path)
    module = run_module(["a.py"], cwd=tmp_path)
    # The module's first file is the launcher, which is clean.
    assert module.stdout.split(b"\n", 1)[0].startswith(b"No issues found in ")
    assert native.stdout == module.stdout.split(b"\n", 1)[1]
    assert native.stdout != run_native(["--no-cache", "a.py"], cwd=tmp_path).stdout


@pytest.mark.parametrize("configuration, precise", [
    ("", True),
    ("exact = true\n", False),
    ("exact = false\n", True),
    ("precise = true\n", True),
    ("precise = false\n", False),
])
def test_the_mode_from_the_configuration(tmp_path, configuration, precise):
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\n" + configuration)
    (tmp_path / "a.py").write_text(SOURCE)
    result = run_native(["--no-cache", "--output-format", "concise", "a.py"], cwd=tmp_path)
    assert len(lines_of(result)) == (3 if precise else 1)
    # The command line wins over the configuration.
    flipped = run_native(["--no-cache", "--output-format", "concise",
                          "--exact" if precise else "--precise", "a.py"], cwd=tmp_path)
    assert len(lines_of(flipped)) == (1 if precise else 3)


@pytest.mark.parametrize("args, configuration, message", [
    (["--exact", "--precise"], "", b"error: the argument '--exact' cannot be used with '--precise'"),
    ([], "exact = true\nprecise = true\n", b"'exact' and 'precise' cannot both be true"),
    ([], "exact = 1\n", b"exact"),
])
def test_contradictory_modes_are_refused(tmp_path, args, configuration, message):
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\n" + configuration)
    (tmp_path / "a.py").write_text(SOURCE)
    result = run_native(["--no-cache", *args, "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert message in result.stderr


LOOKUP = "def f(d):\n    return d['k']\n"


@pytest.mark.parametrize("path, is_test", [
    ("tests/helpers.py", True),
    ("test/a.py", True),
    ("pkg/testing/fixtures.py", True),
    ("pkg/test_config.py", True),
    ("config_test.py", True),
    ("conftest.py", True),
    ("pkg/config.py", False),
    ("contest.py", False),
    ("attest.py", False),
    ("latest/a.py", False),
    ("pkg/tests.py", False),
    ("pkg/testutils/a.py", False),
])
def test_test_code_reports_nothing(tmp_path, path, is_test):
    (tmp_path / path).parent.mkdir(parents=True, exist_ok=True)
    (tmp_path / path).write_text(LOOKUP)
    for named in [".", path]:
        result = run_native(["--no-cache", "--output-format", "concise", named], cwd=tmp_path)
        assert (lines_of(result) == []) == is_test, named
        assert result.returncode == (0 if is_test else 1)
    for args in (["--include-tests"], ["--exact"]):
        result = run_native(["--no-cache", "--output-format", "concise", *args, path], cwd=tmp_path)
        assert len(lines_of(result)) == 1
        assert result.returncode == 1


def test_test_code_is_named_from_the_project_root(tmp_path):
    # The project itself lies in a directory called tests: its files are
    # not test code for that.
    project = tmp_path / "tests" / "project"
    (project / "pkg").mkdir(parents=True)
    (project / "pyproject.toml").write_text("[tool.keyhound]\n")
    (project / "pkg" / "a.py").write_text(LOOKUP)
    result = run_native(["--no-cache", "--output-format", "concise", "."], cwd=project)
    assert len(lines_of(result)) == 1
    # Run from inside a test directory of the project, the root still decides.
    (project / "tests").mkdir()
    (project / "tests" / "b.py").write_text(LOOKUP)
    result = run_native(["--no-cache", "--output-format", "concise", "b.py"],
                        cwd=project / "tests")
    assert lines_of(result) == []


ALL = ["checks/c.py", "pkg/a.py", "pkg/a_spec.py", "test_b.py", "tests/t.py"]


@pytest.mark.parametrize("configuration, reported", [
    ("", ["checks/c.py", "pkg/a.py", "pkg/a_spec.py"]),
    ("include-tests = true\n", ALL),
    ("test-paths = ['checks/']\n", ["pkg/a.py", "pkg/a_spec.py", "test_b.py", "tests/t.py"]),
    ("test-paths = ['*_spec.py', 'tests']\n", ["checks/c.py", "pkg/a.py", "test_b.py"]),
    ("test-paths = []\n", ALL),
])
def test_test_paths_from_the_configuration(tmp_path, configuration, reported):
    for name in ALL:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(LOOKUP)
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\n" + configuration)
    result = run_native(["--no-cache", "--output-format", "concise", "."], cwd=tmp_path)
    assert sorted(line.split(":")[0] for line in lines_of(result)) == reported


def test_test_code_counts_in_no_total(tmp_path):
    (tmp_path / "tests").mkdir()
    (tmp_path / "tests" / "t.py").write_text(LOOKUP)
    (tmp_path / "a.py").write_text(LOOKUP)
    result = run_native(["--no-cache", "--output-format", "json", "."], cwd=tmp_path)
    assert [finding["filename"].rsplit("/", 1)[-1] for finding in json.loads(result.stdout)] == \
        ["a.py"]
    concise = run_native(["--no-cache", "--output-format", "concise", "."], cwd=tmp_path)
    assert concise.stdout.decode().splitlines()[-1] == "Found 1 finding in 1 file."
