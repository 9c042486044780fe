"""Adopting keyhound on an existing codebase, through the native command:
suppression comments, --add-noqa, the baseline and rule selection."""

import os
import shutil
import stat
import subprocess

import pytest

from conftest import PARALLEL_JOBS, CASES, ROOT, run_native

LOOKUP_IN_H = "def h(d):\n    return d['k']{comment}\n\n\ndef g(d):\n    return h(d)\n"


def concise(args, cwd, mode="--exact"):
    """The findings a run reports, as `line:column code` strings."""
    result = run_native([mode, "--output-format", "concise", *args], cwd=cwd)
    found = []
    for line in result.stdout.decode().splitlines():
        if ": KH" in line:
            location, rest = line.split(": ", 1)
            found.append(location.split(":", 1)[1] + " " + rest.split()[0])
    return found, result


@pytest.mark.parametrize("comment, suppressed", [
    ("  # noqa", True),
    ("  # noqa: KH001", True),
    ("  # NOQA:KH001,KH002", True),
    ("  # noqa : KH001", True),
    ("  # noqa: E501, KH001", True),
    ("  # type: ignore  # noqa: KH001", True),
    ("  # keyhound: ignore", True),
    ("  # keyhound: ignore[KH001]", True),
    ("  # noqa: E501", False),
    ("  # noqa: KH002", False),
    ("  # keyhound: ignore[KH002]", False),
    ("  # type: ignore", False),
    ("  # no qa", False),
])
def test_suppression_comment_forms(tmp_path, comment, suppressed):
    (tmp_path / "m.py").write_text(LOOKUP_IN_H.format(comment=comment))
    found, _ = concise(["m.py"], tmp_path)
    if suppressed:
        # The lookup is guarded now: h no longer raises, so neither does g.
        assert found == []
    else:
        assert found == ["2:12 KH001"]


def test_suppressed_lookup_no_longer_makes_callers_raise(tmp_path):
    source = ("def h(d):\n    return d['k']{}\n\n\ndef g(d):\n    return 1\n\n\n"
              "def f(d):\n    return h(d)\n\n\nf({{}})\n")
    (tmp_path / "m.py").write_text(source.format(""))
    with_lookup, _ = concise(["--ignore-noqa", "m.py"], tmp_path)
    assert "13:1 KH002" in with_lookup
    (tmp_path / "m.py").write_text(source.format("  # noqa: KH001"))
    assert concise(["m.py"], tmp_path)[0] == []
    assert concise(["--ignore-noqa", "m.py"], tmp_path)[0] == with_lookup


@pytest.mark.parametrize("source, found", [
    # A noqa inside a string is no comment.
    ("def f(d):\n    s = '# noqa'; return d[1]\n", ["2:26 KH001"]),
    # A call over three lines takes the comment on its first or last line,
    # not on a middle one.
    ("def h(d):\n    return d[0]  # noqa\n\n\ndef f(d):\n    return g(\n        d,  # noqa\n    )\n\n\n"
     "def g(d):\n    return k()\n\n\ndef k():\n    return {}[1]\n", ["6:12 KH002", "12:12 KH002", "16:12 KH001"]),
    ("def f(d):\n    return g(\n        d,\n    )  # noqa: KH002\n\n\ndef g(d):\n    return k()\n\n\n"
     "def k():\n    return {}[1]\n", ["8:12 KH002", "12:12 KH001"]),
    # A backslash continuation joins its lines: the comment on the last one
    # covers a lookup on the first.
    ("def f(d):\n    return d['a'] + \\\n        1  # noqa: KH001\n", []),
    # So does a string over several lines.
    ("def f(d):\n    return d[\"\"\"a\nb\"\"\"]  # noqa\n", []),
])
def test_where_a_comment_applies(tmp_path, source, found):
    (tmp_path / "m.py").write_text(source)
    assert sorted(concise(["m.py"], tmp_path)[0]) == sorted(found)


def test_file_level_comment(tmp_path):
    body = "def f(d):\n    return d[1] + g()\n\n\ndef g():\n    return 0\n"
    (tmp_path / "all.py").write_text("# keyhound: noqa\n" + body)
    (tmp_path / "one.py").write_text("x = 1\n    # keyhound: noqa: KH002\n" + body)
    (tmp_path / "code.py").write_text("x = 1  # keyhound: noqa\n" + body)
    assert concise(["all.py"], tmp_path)[0] == []
    assert concise(["one.py"], tmp_path)[0] == ["4:12 KH001"]
    # Only a comment line of its own counts for the whole file.
    assert concise(["code.py"], tmp_path)[0] == ["3:12 KH001"]


def test_the_module_honours_no_comment(tmp_path):
    from conftest import run_module
    path = tmp_path / "m.py"
    path.write_text(LOOKUP_IN_H.format(comment="  # noqa"))
    result = run_module([str(path)])
    assert b"Possible KeyError in function 'h'" in result.stdout


# --add-noqa

def copy_cases(tmp_path):
    for case in CASES.glob("*.py"):
        shutil.copy(case, tmp_path / case.name)
    shutil.copy(ROOT / "examples" / "inventory.py", tmp_path / "inventory.py")
    (tmp_path / "special.py").write_text(
        "def f(d):\n"
        "    x = d['a'] + \\\n"
        "        d['b']\n"
        "    y = f\"{d['c']}\"  # explained below\n"
        "    z = d[\"\"\"long\n"
        "key\"\"\"]\n"
        "    w = d['e']  # noqa: E501\n"
        "    return x, y, z, w\n")
    os.chmod(tmp_path / "special.py", 0o640)
    return sorted(p.name for p in tmp_path.glob("*.py"))


@pytest.mark.parametrize("mode", ["--precise", "--exact"])
def test_add_noqa_then_nothing_is_reported_and_a_second_run_changes_nothing(tmp_path, mode):
    names = copy_cases(tmp_path)
    before = concise(names, tmp_path, mode)[0]
    assert before
    first = run_native([mode, "--add-noqa", *names], cwd=tmp_path)
    assert first.returncode == 0
    assert first.stderr.startswith(b"Added ")
    after_first = {name: (tmp_path / name).read_bytes() for name in names}
    found, after = concise(names, tmp_path, mode)
    assert found == []
    assert after.returncode == 0
    second = run_native([mode, "--add-noqa", *names], cwd=tmp_path)
    assert second.stderr == b"Added 0 noqa comments to 0 files.\n"
    assert {name: (tmp_path / name).read_bytes() for name in names} == after_first
    special = (tmp_path / "special.py").read_text()
    # Never after a backslash or inside a string; merged into an existing list.
    assert "    x = d['a'] + \\\n        d['b']  # noqa: KH001\n" in special
    assert "    y = f\"{d['c']}\"  # explained below  # noqa: KH001\n" in special
    assert "key\"\"\"]  # noqa: KH001\n" in special
    assert "    w = d['e']  # noqa: E501, KH001\n" in special
    assert stat.S_IMODE(os.stat(tmp_path / "special.py").st_mode) == 0o640
    assert not [p for p in tmp_path.iterdir() if "keyhound-" in p.name]


def test_add_noqa_leaves_a_read_only_file_intact(tmp_path):
    path = tmp_path / "ro.py"
    path.write_text(LOOKUP_IN_H.format(comment=""))
    os.chmod(path, 0o444)
    result = run_native(["--add-noqa", "ro.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert b"Error writing file 'ro.py': Permission denied (os error 13)" in result.stderr
    assert path.read_text() == LOOKUP_IN_H.format(comment="")


# The baseline

ORIGINAL = ("def load(cfg):\n    return cfg['port']\n\n\n"
            "def relay(cfg):\n    return cfg['host'] if cfg else cfg['host']\n\n\n"
            "def main(cfg):\n    return other(cfg)\n\n\n"
            "def other(cfg):\n    return load(cfg)\n")

# The same findings, reformatted, moved and with code added elsewhere. (A
# caller and its callee keep their order: which of them shows a call
# finding depends on it, see "The order of the output" in the README.)
MOVED = ("import os\n\n\n"
         "def load(cfg):\n    # the port\n    return cfg[\n        'port'\n    ]\n\n\n"
         "def main(cfg):\n    return other(\n        cfg)\n\n\n"
         "def other(cfg):\n    return load(cfg)\n\n\n"
         "def relay(cfg):\n    return cfg[ 'host' ]if cfg else cfg['host']\n")


def test_baseline_survives_edits_and_reports_only_new_findings(tmp_path):
    project = tmp_path / "src"
    project.mkdir()
    (project / "app.py").write_text(ORIGINAL)
    written = run_native(["--write-baseline", "keyhound-baseline.txt", "src"], cwd=tmp_path)
    assert written.returncode == 0
    baseline = (tmp_path / "keyhound-baseline.txt").read_text()
    assert "\tsrc/app.py\tKH001\trelay\tcfg['host']\n" in baseline
    assert "2\tsrc/app.py\tKH001\trelay\tcfg['host']\n" in baseline

    (project / "app.py").write_text(MOVED)
    quiet = run_native(["--baseline", "keyhound-baseline.txt", "src"], cwd=tmp_path)
    assert quiet.returncode == 0, quiet.stdout
    assert b"Warning" not in quiet.stdout
    # The call of `other` (a low-confidence KH002) is not reported by default.
    assert quiet.stderr.endswith(b"The baseline hid 3 findings; 0 entries of it no longer match.\n")

    (project / "app.py").write_text(MOVED + "\n\ndef fresh(cfg):\n    return cfg['new']\n")
    found, one_new = concise(["--baseline", "keyhound-baseline.txt", "src"], tmp_path,
                             mode="--precise")
    assert found == ["25:12 KH001"]
    assert one_new.returncode == 1

    (project / "app.py").write_text(MOVED.replace("cfg[ 'host' ]if cfg else cfg['host']", "cfg['host']"))
    stale = run_native(["--baseline", "keyhound-baseline.txt", "src"], cwd=tmp_path)
    assert stale.returncode == 0
    assert stale.stderr.endswith(b"The baseline hid 2 findings; 1 entry of it no longer matches.\n")


def test_baseline_file_is_sorted_and_stable(tmp_path):
    (tmp_path / "b.py").write_text(ORIGINAL)
    (tmp_path / "a.py").write_text(ORIGINAL)
    run_native(["-j", "1", "--write-baseline", "one.txt", "b.py", "a.py"], cwd=tmp_path)
    run_native(["-j", PARALLEL_JOBS, "--write-baseline", "two.txt", "a.py", "b.py"], cwd=tmp_path)
    one = (tmp_path / "one.txt").read_text()
    assert one == (tmp_path / "two.txt").read_text()
    entries = one.splitlines()[1:]
    assert entries == sorted(entries, key=lambda line: line.split("\t", 1)[1])


@pytest.mark.parametrize("content", ["garbage\n", "x\tsrc/a.py\tKH001\tf\td[1]\n",
                                     "1\tonly\ttwo\n"])
def test_a_corrupt_baseline_is_an_error(tmp_path, content):
    (tmp_path / "a.py").write_text(ORIGINAL)
    (tmp_path / "bad.txt").write_text(content)
    result = run_native(["--baseline", "bad.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.startswith(b"error: cannot read baseline 'bad.txt': line 1 is not")
    assert result.stdout == b""


def test_a_missing_baseline_is_an_error(tmp_path):
    (tmp_path / "a.py").write_text(ORIGINAL)
    result = run_native(["--baseline", "none.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr == (b"error: cannot read baseline 'none.txt': "
                             b"No such file or directory (os error 2)\n")


# Rule selection

@pytest.mark.parametrize("args, found", [
    ([], ["10:12 KH002", "2:12 KH001", "6:12 KH001", "6:36 KH001"]),
    (["--select", "KH"], ["10:12 KH002", "2:12 KH001", "6:12 KH001", "6:36 KH001"]),
    (["--select", "KH002"], ["10:12 KH002"]),
    (["--ignore", "KH001"], ["10:12 KH002"]),
    (["--select", "KH001", "--ignore", "KH001"], []),
    (["--per-file-ignores", "a.py:KH001"], ["10:12 KH002"]),
    (["--per-file-ignores", "other.py:KH001"],
     ["10:12 KH002", "2:12 KH001", "6:12 KH001", "6:36 KH001"]),
])
def test_selection_drops_findings_after_the_propagation(tmp_path, args, found):
    (tmp_path / "a.py").write_text(ORIGINAL)
    result = concise(args + ["a.py"], tmp_path)
    assert sorted(result[0]) == sorted(found)


def test_selection_from_the_configuration(tmp_path):
    (tmp_path / "pyproject.toml").write_text(
        '[tool.keyhound]\nignore = ["KH002"]\n[tool.keyhound.per-file-ignores]\n"legacy/*" = ["KH"]\n')
    (tmp_path / "legacy").mkdir()
    (tmp_path / "legacy" / "old.py").write_text(ORIGINAL)
    (tmp_path / "new.py").write_text(ORIGINAL)
    found, _ = concise(["legacy", "new.py"], tmp_path)
    assert sorted(found) == ["2:12 KH001", "6:12 KH001", "6:36 KH001"]


def test_a_run_on_some_files_judges_and_keeps_the_baseline_of_the_others(tmp_path):
    """pre-commit names the staged files only: the other files' entries are
    neither stale nor dropped from a baseline written by such a run."""
    for name in ("a.py", "b.py", "c.py"):
        (tmp_path / name).write_text(LOOKUP_IN_H.format(comment=""))
    written = run_native(["--write-baseline", "base.txt", "."], cwd=tmp_path)
    assert written.returncode == 0, written.stderr
    full = (tmp_path / "base.txt").read_text()
    assert all(f"\t{name}\t" in full for name in ("a.py", "b.py", "c.py"))

    staged = run_native(["--baseline", "base.txt", "a.py"], cwd=tmp_path)
    assert staged.returncode == 0
    assert staged.stderr.endswith(b"The baseline hid 1 finding; 0 entries of it no longer match.\n")

    # a.py fixed: its entries, and only its, no longer match.
    (tmp_path / "a.py").write_text("x = 1\n")
    fixed = run_native(["--baseline", "base.txt", "a.py"], cwd=tmp_path)
    assert fixed.stderr.endswith(b"The baseline hid 0 findings; 1 entry of it no longer matches.\n")

    # Rewritten from a.py alone: b.py and c.py keep their entries; a deleted
    # file takes its own with it.
    (tmp_path / "c.py").unlink()
    rewritten = run_native(["--write-baseline", "base.txt", "a.py"], cwd=tmp_path)
    assert rewritten.returncode == 0
    assert rewritten.stderr == (b"Wrote 1 finding to the baseline (1 entry of files this run "
                                b"did not check kept as they were).\n")
    text = (tmp_path / "base.txt").read_text()
    assert "\tb.py\t" in text and "\ta.py\t" not in text and "\tc.py\t" not in text
