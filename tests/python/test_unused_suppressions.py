"""KH100: suppression comments that suppress nothing, reported only when
asked for by name, for the codes the run checks."""

import json

import pytest

from conftest import run_native

SOURCE = '''\
def fixed(d):
    return d.get("k")  # noqa: KH001


def still(d):
    return d["k"]  # noqa: KH001


def bare(d):
    x = 1  # noqa
    y = 2  # keyhound: ignore
    z = 3  # noqa: E501, KH001, KH002
    return x + y + z


def spread(d):
    return d[
        "k"
    ]  # noqa: KH001
'''


def unused(tmp_path, *args, source=SOURCE):
    (tmp_path / "a.py").write_text(source)
    result = run_native(["--no-cache", "--output-format", "json-lines", *args, "a.py"],
                        cwd=tmp_path)
    records = [json.loads(line) for line in result.stdout.decode().splitlines()]
    return sorted((r["location"]["row"], r["message"]) for r in records if r["code"] == "KH100")


@pytest.mark.parametrize("args, expected", [
    # Not asked for: nothing.
    ([], []),
    (["--select", "KH"], []),
    # KH100 alone checks no other code: only the bare keyhound comment,
    # which names them all, can be unused.
    (["--select", "KH100"], [(11, "Unused suppression: nothing on this line is reported")]),
    # With KH001 checked too: the comments naming KH001 where no KH001 is.
    (["--select", "KH001,KH100"], [
        (2, "Unused suppression: nothing on this line is reported as KH001"),
        (11, "Unused suppression: nothing on this line is reported"),
        (12, "Unused suppression: nothing on this line is reported as KH001")]),
    (["--select", "ALL"], [
        (2, "Unused suppression: nothing on this line is reported as KH001"),
        (11, "Unused suppression: nothing on this line is reported"),
        (12, "Unused suppression: nothing on this line is reported as KH001, KH002")]),
    (["--select", "KH1", "--select", "KH00"], [
        (2, "Unused suppression: nothing on this line is reported as KH001"),
        (11, "Unused suppression: nothing on this line is reported"),
        (12, "Unused suppression: nothing on this line is reported as KH001, KH002")]),
    # Nothing is suppressed when comments are ignored, and --exact is the
    # module's rule.
    (["--select", "ALL", "--ignore-noqa"], []),
    (["--select", "ALL", "--exact"], []),
])
def test_which_comments_are_unused(tmp_path, args, expected):
    assert unused(tmp_path, *args) == expected


def test_a_file_directive_that_suppresses_nothing(tmp_path):
    source = "# keyhound: noqa: KH002\n\ndef f(d):\n    return d['k']  # noqa: KH001\n"
    assert unused(tmp_path, "--select", "ALL", source=source) == [
        (1, "Unused suppression: nothing on this line is reported as KH002")]


def test_a_used_comment_is_never_reported_and_the_run_fails_only_for_unused_ones(tmp_path):
    source = "def f(d):\n    return d['k']  # noqa: KH001\n"
    (tmp_path / "a.py").write_text(source)
    clean = run_native(["--no-cache", "--select", "ALL", "a.py"], cwd=tmp_path)
    assert clean.returncode == 0 and clean.stdout == b"All checks passed!\n"
    (tmp_path / "a.py").write_text("def f(d):\n    return d.get('k')  # noqa: KH001\n")
    stale = run_native(["--no-cache", "--select", "ALL", "a.py"], cwd=tmp_path)
    assert stale.returncode == 1
    assert stale.stdout.startswith(b"a.py:2:24: KH100 Unused suppression")


def test_add_noqa_never_adds_a_comment_for_an_unused_one(tmp_path):
    (tmp_path / "a.py").write_text(SOURCE)
    (tmp_path / "pyproject.toml").write_text('[tool.keyhound]\nselect = ["ALL"]\n')
    result = run_native(["--no-cache", "--add-noqa", "a.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "KH100" not in (tmp_path / "a.py").read_text()


def test_explain_kh100(tmp_path):
    result = run_native(["--explain", "KH100"], cwd=tmp_path)
    assert result.returncode == 0
    assert result.stdout.startswith(b"KH100 (unused-suppression): ")
