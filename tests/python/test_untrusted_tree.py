"""A tree being checked is the attacker's: what it holds must not make
keyhound edit outside it, lose a byte of a file, print without bound, run out
of memory, hang, or hide a control character in a report. One test a cause,
with the limits (memory, file size) set by the test."""

import json
import os
import resource
import signal
import stat
import subprocess
import sys
import threading

import pytest

from conftest import MODULE_DIR, NATIVE, clean_env, run_native

LOOKUP = "def f(d):\n    return d['k']\n"


def native(args, cwd, preexec_fn=None, timeout=120):
    return subprocess.run([str(NATIVE), "--no-cache", *args], cwd=cwd, env=clean_env(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          preexec_fn=preexec_fn)


def limits(address_space_mb=None, file_size=None):
    def apply():
        if address_space_mb is not None:
            size = address_space_mb << 20
            resource.setrlimit(resource.RLIMIT_AS, (size, size))
        if file_size is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return apply


# --add-noqa


@pytest.mark.parametrize("named", [".", "evil.py"])
def test_add_noqa_never_edits_through_a_link_that_leads_outside(tmp_path, named):
    outside = tmp_path / "outside"
    repo = tmp_path / "repo"
    outside.mkdir()
    repo.mkdir()
    target = outside / "settings.py"
    target.write_text(LOOKUP)
    (repo / "evil.py").symlink_to("../outside/settings.py")
    (repo / "ok.py").write_text(LOOKUP)
    result = native(["--add-noqa", named, "ok.py"], cwd=repo)
    assert target.read_text() == LOOKUP
    assert result.returncode == 2
    assert (b"Error writing file 'evil.py': a symbolic link leads it outside" in result.stderr)
    assert "# noqa: KH001" in (repo / "ok.py").read_text()


def test_add_noqa_follows_a_link_inside_the_project_root(tmp_path):
    """pre-commit names each staged file: a link from src/ to lib/ of the
    same project is followed when the project has a configuration."""
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\n")
    (tmp_path / "src").mkdir()
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "real.py").write_text(LOOKUP)
    (tmp_path / "src" / "alias.py").symlink_to("../lib/real.py")
    result = native(["--add-noqa", "src/alias.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "# noqa: KH001" in (tmp_path / "lib" / "real.py").read_text()
    # Without the configuration, src/ is all that was named.
    (tmp_path / "pyproject.toml").unlink()
    (tmp_path / "lib" / "real.py").write_text(LOOKUP)
    refused = native(["--add-noqa", "src/alias.py"], cwd=tmp_path)
    assert refused.returncode == 2
    assert (tmp_path / "lib" / "real.py").read_text() == LOOKUP


def test_add_noqa_follows_a_link_that_stays_inside(tmp_path):
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "real.py").write_text(LOOKUP)
    (tmp_path / "alias.py").symlink_to("lib/real.py")
    result = native(["--add-noqa", "alias.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "alias.py").is_symlink()
    assert "# noqa: KH001" in (tmp_path / "lib" / "real.py").read_text()


def test_add_noqa_on_a_hard_linked_file_edits_every_name(tmp_path):
    (tmp_path / "a.py").write_text(LOOKUP)
    os.link(tmp_path / "a.py", tmp_path / "b.txt")
    result = native(["--add-noqa", "a.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "# noqa: KH001" in (tmp_path / "b.txt").read_text()
    assert os.stat(tmp_path / "a.py").st_ino == os.stat(tmp_path / "b.txt").st_ino


def test_add_noqa_on_a_hard_linked_file_loses_nothing_when_the_write_fails(tmp_path):
    body = "".join(f"def f{i}(d):\n    return d['k{i}']\n" for i in range(800))
    path = tmp_path / "big.py"
    path.write_text(body)
    os.link(path, tmp_path / "other_name.py")
    # Room for the file as it is, not for the comments.
    result = native(["--add-noqa", "big.py"], cwd=tmp_path,
                    preexec_fn=limits(file_size=len(body.encode()) + 10))
    assert path.read_text() == body
    assert result.returncode == 2
    assert b"Error writing file 'big.py'" in result.stderr
    assert b"left as it was" in result.stderr
    assert b"Added 0 noqa comments to 0 files." in result.stderr


def test_add_noqa_keeps_lone_carriage_returns_and_a_byte_order_mark(tmp_path):
    (tmp_path / "cr.py").write_bytes(b"def f(d):\r    return d['k']\rdef g(d):\r    return d['j']\r")
    (tmp_path / "bom.py").write_bytes(b"\xef\xbb\xbfx = {}['a']\n")
    result = native(["--add-noqa", "cr.py", "bom.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "cr.py").read_bytes() == (
        b"def f(d):\r    return d['k']  # noqa: KH001\rdef g(d):\r    return d['j']  # noqa: KH001\r")
    assert (tmp_path / "bom.py").read_bytes() == b"\xef\xbb\xbfx = {}['a']  # noqa: KH001\n"


# Rows and columns as CPython gives them


@pytest.mark.parametrize("source", [
    b"def f(d):\r    return d['k']\rdef g(d):\r    return d['j']\r",
    b"def f(d):\r\n    return d['k']\r\n\r\ndef g(d):\r    return d['j']\n",
    b"\xef\xbb\xbfx = {}['a']\ny = {}['b']\n",
    b"\xef\xbb\xbfd = {}\r\xc3\xa9 = d['\xc3\xa9']\r",
])
def test_rows_and_columns_are_cpythons(tmp_path, source):
    import ast
    (tmp_path / "a.py").write_bytes(source)
    lines = source.decode("utf-8-sig").replace("\r\n", "\n").replace("\r", "\n").split("\n")
    # CPython's column is in bytes; keyhound's default one in characters.
    expected = sorted(
        (node.lineno, len(lines[node.lineno - 1].encode()[:node.col_offset].decode()) + 1)
        for node in ast.walk(ast.parse(source)) if isinstance(node, ast.Subscript))
    result = native(["--output-format", "json-lines", "a.py"], cwd=tmp_path)
    found = sorted((r["location"]["row"], r["location"]["column"])
                   for r in map(json.loads, result.stdout.decode().splitlines()))
    assert found == expected
    # And no syntax error where CPython sees none.
    assert b"KH003" not in result.stdout


# Output linear in the input


def test_forty_thousand_findings_on_one_line_print_in_bounded_space(tmp_path):
    keys = " + ".join(f"d['k{i}']" for i in range(40000))
    (tmp_path / "wide.py").write_text(f"def f(d):\n    return {keys}\n")
    result = subprocess.run([str(NATIVE), "--no-cache", "wide.py"], cwd=tmp_path,
                            env=clean_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=120)
    assert result.returncode == 1
    assert len(result.stdout) < 50_000_000
    excerpts = result.stdout.decode().splitlines()[2::5]
    assert len(excerpts) == 40000
    # Each excerpt is a window of the line, cut where it was cut, with the
    # carets under the lookup it names.
    assert all(len(line) <= 130 for line in excerpts)
    middle = result.stdout.decode().splitlines()[5 * 20000:5 * 20000 + 4]
    assert middle[2].startswith(" | \u2026") and middle[2].endswith("\u2026")
    carets = middle[3].index("^")
    assert middle[2][carets:carets + len("d['k20000']")] == "d['k20000']"


def test_the_module_and_exact_keep_the_whole_line(tmp_path):
    keys = " + ".join(f"d['k{i}']" for i in range(60))
    (tmp_path / "wide.py").write_text(f"def f(d):\n    return {keys}\n")
    result = native(["--exact", "wide.py"], cwd=tmp_path)
    assert result.stdout.decode().splitlines()[2] == f" |     return {keys}"


# Memory


def test_an_analysis_over_its_share_refuses_that_file_and_the_others_are_checked(tmp_path):
    depth = 1_000_000
    (tmp_path / "nested.py").write_text(
        "def f(a):\n    return " + "a[" * depth + "0" + "]" * depth + "\n")
    for i in range(4):
        (tmp_path / f"plain{i}.py").write_text(LOOKUP)
    result = native(["-j", "2", "nested.py", "plain0.py", "plain1.py", "plain2.py", "plain3.py"],
                    cwd=tmp_path, preexec_fn=limits(address_space_mb=2048), timeout=300)
    assert result.returncode == 2, result.stderr[-2000:]
    assert result.stderr.startswith(
        b"Error reading file 'nested.py': file too large to analyse in the available memory")
    for i in range(4):
        assert f"plain{i}.py:2:12: KH001".encode() in result.stdout
    assert b"internal fault" not in result.stderr


def test_a_baseline_too_large_for_the_memory_is_refused_with_a_message(tmp_path):
    (tmp_path / "a.py").write_text(LOOKUP)
    line = b"1\ta.py\tKH001\tf\td['k']\n"
    with open(tmp_path / "baseline.txt", "wb") as out:
        out.write(line * (150_000_000 // len(line)))
    result = native(["--baseline", "baseline.txt", "a.py"], cwd=tmp_path,
                    preexec_fn=limits(address_space_mb=1024))
    assert result.returncode == 2
    assert b"cannot read baseline 'baseline.txt': file too large to analyse" in result.stderr \
        or b"cannot read baseline 'baseline.txt': too large" in result.stderr
    assert b"internal fault" not in result.stderr


def test_baseline_counts_that_sum_past_the_largest_still_hide(tmp_path):
    (tmp_path / "a.py").write_text(LOOKUP)
    huge = str(2**64 - 1)
    (tmp_path / "baseline.txt").write_text(
        f"{huge}\ta.py\tKH001\tf\td['k']\n{huge}\ta.py\tKH001\tf\td['k']\n"
        f"99999999999999999999999\ta.py\tKH001\tf\td['k']\n")
    result = native(["--baseline", "baseline.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert b"The baseline hid 1 finding" in result.stderr


# Small causes


def test_output_to_a_fifo_nobody_reads_fails_at_once(tmp_path):
    (tmp_path / "a.py").write_text(LOOKUP)
    os.mkfifo(tmp_path / "pipe")
    result = native(["-o", "pipe", "a.py"], cwd=tmp_path, timeout=30)
    assert result.returncode == 2
    assert result.stderr.startswith(
        b"error: cannot write output file 'pipe': it is a FIFO that no process reads")


def test_output_to_a_fifo_with_a_reader_is_written(tmp_path):
    (tmp_path / "a.py").write_text(LOOKUP)
    os.mkfifo(tmp_path / "pipe")
    got = []
    reader = threading.Thread(target=lambda: got.append(open(tmp_path / "pipe", "rb").read()))
    reader.start()
    # The reader opens first: a writer that comes before it would fail.
    import time
    time.sleep(0.3)
    result = native(["-o", "pipe", "--output-format", "concise", "a.py"], cwd=tmp_path, timeout=30)
    reader.join(timeout=30)
    assert result.returncode == 1
    assert got and got[0].startswith(b"a.py:2:12: KH001")


@pytest.mark.parametrize("fmt", ["json", "json-lines", "sarif"])
def test_json_formats_escape_what_a_terminal_acts_on(tmp_path, fmt):
    name = "a\u202eyp.\u2066\u0085\x7f.py"
    (tmp_path / name).write_text("def f(d):\n    return d['\u202e\u2069']\n")
    result = native(["--output-format", fmt, name], cwd=tmp_path)
    assert result.returncode == 1
    text = result.stdout.decode()
    for raw in ("\u202e", "\u2066", "\u2069", "\u0085", "\x7f"):
        assert raw not in text
    assert "\\u202e" in text and "\\u2069" in text
    # The same text once read: the escapes are JSON's own.
    read = json.loads(text.splitlines()[0]) if fmt == "json-lines" else json.loads(text)
    assert "\u202e\u2069" in json.dumps(read, ensure_ascii=False)


@pytest.mark.parametrize("where", ["command", "configuration"])
def test_more_jobs_than_processors_are_capped_alike(tmp_path, where):
    (tmp_path / "a.py").write_text(LOOKUP)
    args = ["a.py"]
    if where == "command":
        args = ["-j", "100000", "a.py"]
    else:
        (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\njobs = 100000\n")
    result = native(args, cwd=tmp_path)
    assert result.returncode == 1, result.stderr
    assert result.stderr.startswith(b"warning: 100000 jobs asked for, but only ")


def test_the_api_refuses_a_path_with_a_nul_byte(tmp_path):
    script = (
        "import sys; sys.path.insert(0, sys.argv[1]); import keyhound_api\n"
        "for call in (lambda: keyhound_api.check_paths(['src\\0x']),\n"
        "             lambda: keyhound_api.check_source('x = 1', filename='a\\0.py'),\n"
        "             lambda: keyhound_api.check_paths(['.'], exclude=['a\\0b'])):\n"
        "    try:\n"
        "        call()\n"
        "    except ValueError as error:\n"
        "        print('ValueError:', error)\n")
    (tmp_path / "src" / "sub").mkdir(parents=True)
    result = subprocess.run([sys.executable, "-c", script, str(MODULE_DIR)], cwd=tmp_path,
                            env=clean_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=60, preexec_fn=limits(address_space_mb=2048))
    assert result.stdout.decode().splitlines() == [
        "ValueError: paths must not hold a NUL byte",
        "ValueError: filename must not hold a NUL byte",
        "ValueError: exclude must not hold a NUL byte",
    ], result.stderr
