"""Hostile inputs through the native command: each has a defined outcome,
and none may crash, hang or print raw control bytes into the excerpts."""

import os
import shutil
import subprocess
import sys
import tempfile

import pytest

from conftest import (MODULE_DIR, LAUNCHER, NATIVE, clean_env, interruptible, run_exact, run_module,
                      run_native)

DEPTH = 100_000


def outcome(result):
    return result.returncode, result.stdout, result.stderr


def no_issues(path):
    return 0, f"No issues found in '{path}'\n".encode(), b""


def unreadable(path, message):
    return 2, b"", f"Error reading file '{path}': {message}\n".encode()


@pytest.mark.parametrize("name, content", [
    ("empty.py", b""),
    ("bom.py", b"\xef\xbb\xbf"),
    ("comments.py", b"# one\n# two\n"),
    ("parens.py", b"x = " + b"(" * DEPTH + b")" * DEPTH + b"\n"),
    ("squares.py", b"x = " + b"[" * DEPTH + b"]" * DEPTH + b"\n"),
    ("braces.py", b"x = " + b"{" * DEPTH + b"}" * DEPTH + b"\n"),
    ("long_string.py", b"x = '" + b"a" * 1_000_000 + b"'\n"),
], ids=lambda value: value if isinstance(value, str) else "")
def test_clean_files(write, name, content):
    path = write(name, content)
    assert outcome(run_exact([path])) == no_issues(path)


@pytest.mark.parametrize("name, content", [
    ("invalid_start.py", b"\xff\xfex = 1\n"),
    ("invalid_middle.py", b"x = 1\ny = '\xc3('\nz = 2\n"),
    ("invalid_end.py", b"x = 1\n#\xe2\x82"),
    ("surrogate.py", b"x = '\xed\xa0\x80'\n"),
    ("overlong.py", b"x = '\xc0\xaf'\n"),
], ids=lambda value: value if isinstance(value, str) else "")
def test_invalid_utf8(write, name, content):
    path = write(name, content)
    assert outcome(run_exact([path])) == unreadable(path, "stream did not contain valid UTF-8")


def test_nul_bytes_are_analysed_and_shown_as_pictures(write):
    # The grammar's lexer takes a NUL for the end of the input wherever a
    # token could end, so place it after the subscript.
    path = write("nul.py", b"def f(d):\n    return d['k'] \x00\n")
    code, out, err = outcome(run_exact([path]))
    assert code == 1
    assert b"\x00" not in out
    assert "d['k'] \u2400\n".encode() in out


def test_lone_cr_never_reaches_the_terminal(write):
    path = write("cr.py", b"def f(d):\n    x = 1\r    return d['k']\n")
    code, out, err = outcome(run_exact([path]))
    assert code == 1
    assert b"\r" not in out
    assert "\u240d".encode() in out


def test_mixed_line_ends(write):
    path = write("mixed.py", b"def f(d):\r\n    a = 1\n    return d['k']\r\n")
    code, out, err = outcome(run_exact([path]))
    assert code == 1
    assert b"\r" not in out
    assert out.startswith(f"{path}:3:12: Warning: Possible KeyError in function 'f'\n"
                          f"3|\n |     return d['k']\n |            ^^^^^^\n".encode())


def test_deeply_nested_subscripts(write):
    # One `a[` a line, so that each finding's excerpt stays short.
    path = write("subscripts.py", b"def f(a):\n    return (\n" + b"a[\n" * DEPTH + b"0" + b"]" * DEPTH + b")\n")
    result = run_exact([path], stdout=subprocess.DEVNULL)
    assert result.returncode == 1
    assert result.stderr.endswith(f"Potential issue(s) found in '{path}'\n".encode())
    # Each lookup's carets stay on the row shown: the report grows with the
    # file, not with its square.
    shown = run_native(["--no-cache", path])
    carets = [line.lstrip() for line in shown.stdout.split(b"\n")
              if line.lstrip().startswith(b"| ^")]
    assert len(carets) > DEPTH // 2
    assert max(len(line) for line in carets) <= len(b"| ^^")


def test_million_character_line(write):
    prefix = b"1 + " * 250_000
    path = write("long_line.py", b"def f(d):\n    return " + prefix + b"d[k]\n")
    code, out, err = outcome(run_exact([path]))
    assert code == 1
    column = 12 + len(prefix)
    lines = out.split(b"\n")
    assert lines[0] == f"{path}:2:{column}: Warning: Possible KeyError in function 'f'".encode()
    assert lines[3] == b" | " + b" " * (column - 1) + b"^^^^"


@pytest.mark.parametrize("content", [
    b"x = 'unterminated\ndef f(d):\n    return d[k\n",
    b'def f(d):\n    s = """never closed\n    return d[k]\n',
    b"def f(d:\n    return (d[k]\n",
    b"".join(b")]} def %d( :: d[[ ]\n" % i for i in range(2000)),
    bytes(range(1, 128)) * 50,
], ids=["string", "docstring", "brackets", "every_line", "control_bytes"])
def test_broken_source_is_analysed_like_any_other(write, content):
    path = write("broken.py", content)
    result = run_exact([path], stdout=subprocess.DEVNULL)
    assert result.returncode in (0, 1)
    last = result.stderr.splitlines()[-1:] or [b""]
    assert (last[0] == f"Analyzing file '{path}': Potential issue(s) found in '{path}'".encode()
            or result.returncode == 0)


def test_empty_directory_is_a_warning(tmp_path):
    assert outcome(run_exact([tmp_path])) == (
        0, b"", b"warning: No Python files found under the given path(s)\n")


def test_dangling_symlink(tmp_path):
    link = tmp_path / "dangling.py"
    link.symlink_to(tmp_path / "nowhere.py")
    assert outcome(run_exact([link])) == unreadable(
        link, "No such file or directory (os error 2)")


def test_pipe_named_by_path():
    # As a shell's process substitution hands it over: /dev/fd/N.
    source = b"".join(b"def f%d(d):\n    return d['k']\n" % i for i in range(5000))
    read_end, write_end = os.pipe()
    path = f"/dev/fd/{read_end}"
    child = subprocess.Popen([str(NATIVE), "--exact", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             pass_fds=(read_end,), env=clean_env())
    os.close(read_end)
    with os.fdopen(write_end, "wb") as pipe:
        pipe.write(source)
    out, err = child.communicate(timeout=60)
    assert child.returncode == 1
    assert out.count(b"Possible KeyError in function 'f") == 5000
    assert err.endswith(f"Analyzing file '{path}': Potential issue(s) found in '{path}'\n".encode())


def test_file_without_read_permission():
    directory = tempfile.mkdtemp(prefix="keyhound-perm-")
    try:
        os.chmod(directory, 0o755)
        path = os.path.join(directory, "secret.py")
        with open(path, "w") as file:
            file.write("x = 1\n")
        os.chmod(path, 0o000)
        command = [str(NATIVE), "--exact", "--no-cache", path]
        if os.geteuid() == 0:
            # Root reads any file: drop to an unprivileged user for this case.
            if shutil.which("setpriv") is None:
                pytest.skip("running as root without setpriv to drop privileges")
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        result = subprocess.run(command, capture_output=True, env=clean_env(), timeout=60)
        if not result.stderr.startswith(b"Error reading file"):
            pytest.skip("the unprivileged user cannot run the built binary here: "
                        + result.stderr.decode(errors="replace"))
        assert outcome(result) == unreadable(path, "Permission denied (os error 13)")
    finally:
        shutil.rmtree(directory, ignore_errors=True)


NEWLINE_PICTURE = "\u240a".encode()
ESCAPE_PICTURE = "\u241b".encode()


@pytest.mark.parametrize("front_end", ["native", "module"])
def test_control_characters_in_names_never_reach_the_terminal(tmp_path, front_end):
    """A file name holding a newline would forge diagnostic lines, one holding
    an escape sequence would act on the terminal: every message shows them
    as control pictures."""
    forged = "n\nfake.py:1:1: Warning: Possible KeyError in function x\n\x1b[2J.py"
    raising = tmp_path / forged
    raising.write_text("def f(d):\n    return d['k']\n")
    clean = tmp_path / "ok\x1b]0;title\x07.py"
    clean.write_text("x = 1\n")
    missing = tmp_path / "gone\n.py"
    run = run_native if front_end == "native" else run_module
    result = run([raising.name, clean.name, missing.name], cwd=tmp_path)
    shown = forged.encode().replace(b"\n", NEWLINE_PICTURE).replace(b"\x1b", ESCAPE_PICTURE)
    everything = result.stdout + result.stderr
    assert b"\x1b" not in everything
    assert b"\x07" not in everything
    assert not any(line.startswith(b"fake.py") for line in everything.splitlines())
    if front_end == "module":
        assert (b"\n" + shown + b":2:12: Warning: Possible KeyError in function 'f'\n"
                in b"\n" + result.stdout)
        assert (b"Analyzing file '" + shown + b"': Potential issue(s) found in '" + shown
                + b"'\n" in result.stderr)
        assert (b"No issues found in 'ok" + ESCAPE_PICTURE + b"]0;title\xe2\x90\x87.py'\n"
                in result.stdout)
    else:
        assert (b"\n" + shown + b":2:12: KH001 [medium] Possible KeyError: d['k'] (a mapping from a parameter) in function 'f'\n"
                in b"\n" + result.stdout)
        assert result.stdout.endswith(b"Found 1 finding in 1 file; 1 file could not be read: "
                                      b"'gone" + NEWLINE_PICTURE + b".py'.\n")
    assert (b"Error reading file 'gone" + NEWLINE_PICTURE
            + b".py': No such file or directory (os error 2)\n" in result.stderr)


@pytest.mark.parametrize("front_end", ["native", "module"])
def test_control_characters_in_a_bad_argument(front_end):
    run = run_native if front_end == "native" else run_module
    result = run(["--x\x1b[31m\nfake"])
    assert result.returncode == 2
    assert b"\x1b" not in result.stderr
    assert result.stderr.startswith(b"error: unexpected argument '--x" + ESCAPE_PICTURE
                                    + b"[31m" + NEWLINE_PICTURE + b"fake' found\n")


def test_bidirectional_overrides_in_excerpts_are_escaped(write):
    path = write("trojan.py", "def f(d):\n    return d['\u202eadmin\u2066']  # \u0085\n")
    result = run_exact([path])
    assert b" |     return d['<U+202E>admin<U+2066>']  # <U+0085>\n" in result.stdout


def limited_address_space(megabytes):
    import resource

    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return apply


def test_file_refused_for_memory_then_the_next_is_analysed(tmp_path):
    dense = tmp_path / "dense.py"
    dense.write_text("a\n" * 500_000)  # 1 MB of the densest text: about 450 MB to parse
    small = tmp_path / "small.py"
    small.write_text("x = 1\n")
    result = subprocess.run([str(NATIVE), "--exact", dense, small], capture_output=True, env=clean_env(),
                            preexec_fn=limited_address_space(300), timeout=60)
    assert result.stderr == (f"Error reading file '{dense}': file too large to analyse in the "
                             f"available memory (needs about 450 MB)\n").encode()
    assert result.stdout == f"No issues found in '{small}'\n".encode()
    assert result.returncode == 2


def test_a_parse_under_a_tight_limit_refuses_the_file_not_the_run(tmp_path):
    """Below the size where the other limits are consulted, the address-space
    limit still bounds the parse: the file is refused, the process goes on."""
    dense = tmp_path / "dense.py"
    dense.write_text("a\n" * 60_000)
    result = subprocess.run([str(NATIVE), dense], capture_output=True, env=clean_env(),
                            preexec_fn=limited_address_space(40), timeout=60)
    assert result.returncode == 2
    assert result.stderr.startswith(
        f"Error reading file '{dense}': file too large to analyse in the available memory "
        "(its parse needed more than ".encode())
    assert result.stderr.count(b"\n") == 1


def test_sparse_file_beyond_four_gibibytes_is_refused_unread(tmp_path):
    sparse = tmp_path / "huge.py"
    with open(sparse, "wb") as file:
        file.truncate(5 << 30)
    result = run_exact([sparse], timeout=20)
    assert result.stderr == f"Error reading file '{sparse}': File too large (os error 27)\n".encode()
    assert result.returncode == 2


@pytest.mark.parametrize("writer", [True, False], ids=["blocked_in_read", "blocked_in_open"])
def test_module_blocked_on_a_fifo_ends_with_keyboard_interrupt(tmp_path, writer):
    import signal
    import time
    fifo = tmp_path / "pipe.py"
    os.mkfifo(fifo)
    first = tmp_path / "first.py"
    first.write_text("x = 1\n")
    env = clean_env(KEYHOUND_MODULE_DIR=str(MODULE_DIR))
    child = subprocess.Popen([sys.executable, str(LAUNCHER), str(first), str(fifo)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                             preexec_fn=interruptible)
    holder = None
    try:
        if writer:
            holder = os.open(fifo, os.O_RDWR)  # a writer that never writes
        time.sleep(1.0)
        assert child.poll() is None
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=20)
    finally:
        if holder is not None:
            os.close(holder)
        if child.poll() is None:
            child.kill()
    assert out.endswith(f"No issues found in '{first}'\n".encode())
    assert err.endswith(b"launcher: builtins.KeyboardInterrupt('')\n")
    assert child.returncode == 3


THREADED_LAUNCHER = '''
import os
import sys
import threading
import time

sys.path.insert(0, os.environ.get("KEYHOUND_MODULE_DIR", ""))
import keyhound  # noqa: E402


def call():
    try:
        keyhound.run_command("ignored")
    except BaseException:
        pass


threading.Thread(target=call, daemon=True).start()
try:
    time.sleep(0.5)
    started = time.time()
    ticks = 0
    while time.time() - started < 0.3:
        ticks += 1
    print("ticks", ticks, flush=True)
    time.sleep(60)
except KeyboardInterrupt:
    print("interrupted", flush=True)
'''


def test_module_call_blocked_in_a_thread_holds_neither_the_interpreter_nor_sigint(tmp_path):
    """The module reads without the GIL: while its call waits on a FIFO in
    one thread, the main thread runs, and SIGINT reaches it at once."""
    import signal
    import time
    launcher = tmp_path / "launch.py"
    launcher.write_text(THREADED_LAUNCHER)
    fifo = tmp_path / "pipe.py"
    os.mkfifo(fifo)
    env = clean_env(KEYHOUND_MODULE_DIR=str(MODULE_DIR))
    child = subprocess.Popen([sys.executable, str(launcher), str(fifo)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env, preexec_fn=interruptible)
    try:
        linted = child.stdout.readline()
        assert linted == b"No issues found in '%s'\n" % str(launcher).encode()
        ticks = child.stdout.readline()
        assert ticks.startswith(b"ticks "), ticks + child.stderr.read()
        assert int(ticks.split()[1]) > 1000
        child.send_signal(signal.SIGINT)
        started = time.time()
        out, err = child.communicate(timeout=20)
        assert time.time() - started < 5
    finally:
        if child.poll() is None:
            child.kill()
    assert out == b"interrupted\n", (child.returncode, err)
