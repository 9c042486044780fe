"""No input a user cannot control ends the whole run: memory stays bounded
per finding and per parse, and what is not a regular file is not read
without end."""

import os
import resource
import threading

import pytest

from conftest import clean_env, run_exact

ONE_GB = 1 << 30


def limited(megabytes):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return apply


def run_limited(args, cwd, megabytes, timeout=120):
    import subprocess
    from conftest import NATIVE
    return subprocess.run([str(NATIVE), "--no-cache", *args], cwd=cwd, env=clean_env(),
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout,
                          preexec_fn=limited(megabytes))


def lookups_on_one_line(count, padding=0):
    keys = ", ".join(f"d['k{i}']" for i in range(count))
    return f"def f(d):\n    return [{keys}]{' ' * padding}\n"


@pytest.mark.parametrize("output_format", ["concise", "json", "sarif"])
def test_forty_thousand_findings_on_one_line_fit_in_a_gigabyte(tmp_path, output_format):
    (tmp_path / "wide.py").write_text(lookups_on_one_line(40000))
    result = run_limited(["--output-format", output_format, "wide.py"], tmp_path, 1024)
    assert result.returncode == 1, result.stderr[-500:]


def test_the_full_format_streams_long_excerpts(tmp_path):
    # 2,000 excerpts of a 270 KB line: over half a gigabyte of output.
    (tmp_path / "wide.py").write_text(lookups_on_one_line(2000, padding=250000))
    result = run_limited(["wide.py"], tmp_path, 512)
    assert result.returncode == 1, result.stderr[-500:]


def test_a_parse_over_its_share_refuses_that_file_and_the_run_goes_on(tmp_path):
    depth = 150000
    (tmp_path / "nested.py").write_text("x = " + "[" * depth + "]" * depth + "\n")
    (tmp_path / "plain.py").write_text("def f(d):\n    return d['k']\n")
    result = run_limited(["--exact", "--jobs", "1", "nested.py", "plain.py"], tmp_path, 200)
    assert result.returncode == 2
    assert result.stderr.startswith(
        b"Error reading file 'nested.py': file too large to analyse in the available memory "
        b"(its parse needed more than ")
    assert b"Potential issue(s) found in 'plain.py'" in result.stderr


def test_dev_zero_named_is_refused_and_linked_is_skipped(tmp_path):
    named = run_exact(["--no-cache", "/dev/zero"], cwd=tmp_path, timeout=60)
    assert named.returncode == 2
    assert named.stderr.startswith(b"Error reading file '/dev/zero': file too large")
    (tmp_path / "src").mkdir()
    (tmp_path / "src" / "zero.py").symlink_to("/dev/zero")
    (tmp_path / "src" / "ok.py").write_text("x = 1\n")
    os.mkfifo(tmp_path / "src" / "pipe.py")
    walked = run_exact(["--no-cache", "src"], cwd=tmp_path, timeout=60)
    assert walked.returncode == 0
    assert walked.stderr == (b"warning: skipping 'src/pipe.py': not a regular file\n"
                             b"warning: skipping 'src/zero.py': not a regular file\n")
    assert walked.stdout == b"No issues found in 'src/ok.py'\n"


def test_a_fifo_pyproject_in_a_parent_directory_does_not_hold_the_run(tmp_path):
    os.mkfifo(tmp_path / "pyproject.toml")
    (tmp_path / "project").mkdir()
    (tmp_path / "project" / "a.py").write_text("x = 1\n")
    result = run_exact(["--no-cache", "a.py"], cwd=tmp_path / "project", timeout=20)
    assert result.returncode == 0
    named = run_exact(["--no-cache", "--config", str(tmp_path / "pyproject.toml"), "a.py"],
                       cwd=tmp_path / "project", timeout=20)
    assert named.returncode == 2
    assert b"not a regular file" in named.stderr


@pytest.mark.parametrize("encoding", ["crlf", "bom"])
def test_a_baseline_saved_by_another_editor_still_matches(tmp_path, encoding):
    (tmp_path / "a.py").write_text("def f(d):\n    return d['k']\n")
    assert run_exact(["--no-cache", "--write-baseline", "base.txt", "a.py"],
                      cwd=tmp_path).returncode == 0
    text = (tmp_path / "base.txt").read_bytes()
    text = text.replace(b"\n", b"\r\n") if encoding == "crlf" else b"\xef\xbb\xbf" + text
    (tmp_path / "base.txt").write_bytes(text)
    result = run_exact(["--no-cache", "--baseline", "base.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert b"The baseline hid 1 finding; 0 entries of it no longer match." in result.stderr
