"""The file loop of the native command: outcome lines, order, statuses."""

import os

import pytest

from conftest import run_exact

CLEAN = "def f(d):\n    return d.get('k')\n"
RAISING = "def f(d):\n    return d['k']\n"


def test_same_path_twice_is_analysed_twice(write):
    path = write("a.py", CLEAN)
    result = run_exact([path, path])
    assert result.stdout == f"No issues found in '{path}'\n".encode() * 2
    assert result.returncode == 0


def test_all_files_unreadable(tmp_path):
    missing = [str(tmp_path / "one.py"), str(tmp_path / "two.py")]
    result = run_exact(missing)
    assert result.stderr == b"".join(
        f"Error reading file '{p}': No such file or directory (os error 2)\n".encode()
        for p in missing)
    assert result.stdout == b""
    assert result.returncode == 2


def test_one_file_with_issues_among_several(write):
    first = write("first.py", CLEAN)
    bad = write("bad.py", RAISING)
    last = write("last.py", CLEAN)
    result = run_exact([first, bad, last])
    assert result.stdout.startswith(f"No issues found in '{first}'\n".encode())
    assert result.stdout.endswith(f"No issues found in '{last}'\n".encode())
    assert f"{bad}:2:12: Warning: Possible KeyError in function 'f'\n".encode() in result.stdout
    assert result.stderr.endswith(
        f"Analyzing file '{bad}': Potential issue(s) found in '{bad}'\n".encode())
    assert result.returncode == 1


def test_non_utf8_file(write, tmp_path):
    latin1 = write("latin1.py", b"name = '\xe9'\n")
    after = write("after.py", CLEAN)
    result = run_exact([latin1, after])
    assert result.stderr == (
        f"Error reading file '{latin1}': stream did not contain valid UTF-8\n").encode()
    assert result.stdout == f"No issues found in '{after}'\n".encode()
    assert result.returncode == 2


def test_relative_path_is_shown_as_given(write):
    path = write("pkg/mod.py", RAISING)
    result = run_exact(["./pkg/mod.py"], cwd=path.parent.parent)
    assert result.stdout.startswith(b"./pkg/mod.py:2:12: Warning:")


@pytest.mark.parametrize("source, warned, summaries", [
    ("def outer(d):\n"
     "    def inner(d):\n"
     "        return d['i']\n"
     "    return d['o']\n"
     "def later(d):\n"
     "    return d['l']\n",
     ["inner", "outer", "outer", "later"], ["inner", "outer", "later", "<module>"]),
    # Two definitions that end together: the inner one first.
    ("def outer(d):\n"
     "    x = d['o']\n"
     "    def inner(e):\n"
     "        return e['i']\n",
     ["inner", "outer", "outer"], ["inner", "outer", "<module>"]),
])
def test_report_order_follows_the_end_of_each_definition(write, source, warned, summaries):
    path = write("order.py", source)
    result = run_exact(["--exact", path])
    headers = [line for line in result.stdout.decode().splitlines() if "Warning:" in line]
    assert [h.split("function ")[1] for h in headers] == [f"'{name}'" for name in warned]
    assert result.stderr.decode().splitlines()[:len(summaries)] == [
        f"Potential issue(s) in function '{name}': Warnings found in '{name}'"
        for name in summaries]


def test_internal_fault_exits_70(write):
    path = write("bad.py", RAISING)
    with open(os.devnull if not os.path.exists("/dev/full") else "/dev/full", "wb") as full:
        result = run_exact([path], stdout=full)
    assert result.returncode == 70
    assert b"failed printing to stdout: No space left on device (os error 28)" in result.stderr


def test_closed_stdout_is_not_an_error(write):
    import subprocess
    from conftest import NATIVE, clean_env
    path = write("bad.py", RAISING)
    result = subprocess.run(["sh", "-c", '"$0" "$1" >&-', str(NATIVE), str(path)],
                            stderr=subprocess.PIPE, env=clean_env())
    assert result.returncode == 1
    # The default report has nothing for standard error, and a closed
    # standard output adds nothing to it.
    assert result.stderr == b""
