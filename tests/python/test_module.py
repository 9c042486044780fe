"""The Python module's interface, each check in a fresh interpreter."""

import subprocess
import sys
import textwrap

import pytest

from conftest import MODULE_DIR, clean_env, run_module


def write_script(path, body):
    """Writes a script that imports the built module, then runs `body`."""
    path.write_text(f"import sys\nsys.path.insert(0, {str(MODULE_DIR)!r})\nimport keyhound\n"
                    + textwrap.dedent(body))
    return path


def python(code, *args, **kwargs):
    """Runs `code` in a child interpreter that can import the built module."""
    script = f"import sys; sys.path.insert(0, {str(MODULE_DIR)!r})\n" + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", script, *args], capture_output=True,
                          env=kwargs.get("env", clean_env()), timeout=60)


def test_module_attributes_and_signatures():
    result = python("""
        import inspect, keyhound
        print(keyhound.__all__)
        print(repr(keyhound.__doc__))
        print(inspect.signature(keyhound.version_py), inspect.signature(keyhound.run_command))
        print(repr(keyhound.version_py.__doc__))
        print(repr(keyhound.run_command.__doc__))
        print(keyhound.run_command.__module__, keyhound.run_command.__self__ is keyhound)
        print(keyhound.version_py())
    """)
    assert result.stdout.decode().splitlines() == [
        "['version_py', 'run_command']",
        "''",
        "() (_arg)",
        repr("Example of a Python-callable function named `version_py`.\n"
             "In Python, you'll call it as `keyhound.version_py()`."),
        repr("A simple function exposed to Python under the name `main`."),
        "keyhound True",
        "0.1.3",
    ]


@pytest.mark.parametrize("call, error", [
    ("run_command()", "TypeError: run_command() missing 1 required positional argument: '_arg'"),
    ("run_command('a', 'b')", "TypeError: run_command() takes 1 positional arguments but 2 were given"),
    ("run_command('a', _arg='b')", "TypeError: run_command() got multiple values for argument '_arg'"),
    ("run_command(arg='x')", "TypeError: run_command() got an unexpected keyword argument 'arg'"),
    ("run_command(5)", "TypeError: argument '_arg': 'int' object cannot be converted to 'PyString'"),
    ("run_command('\\ud800')", "UnicodeEncodeError: 'utf-8' codec can't encode character "
                               "'\\ud800' in position 0: surrogates not allowed"),
    ("version_py(1)", "TypeError: keyhound.version_py() takes no arguments (1 given)"),
])
def test_argument_errors(call, error):
    result = python(f"""
        import keyhound
        try:
            keyhound.{call}
        except BaseException as e:
            print(type(e).__name__ + ": " + str(e))
    """)
    out = result.stdout.decode().strip()
    # Before 3.10 the interpreter leaves the module out of this message.
    assert out == error or out == error.replace("keyhound.version_py", "version_py")


def test_keyword_and_str_subclass_run_the_command(tmp_path):
    clean = tmp_path / "clean.py"
    clean.write_text("x = 1\n")
    script = write_script(tmp_path / "script.py", """
        class Text(str):
            pass
        sys.stderr.write("result: %r\\n" % (keyhound.run_command(_arg=Text("x")),))
    """)
    result = subprocess.run([sys.executable, str(script), str(clean)], capture_output=True,
                            env=clean_env(), timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout == (f"No issues found in '{script}'\n"
                             f"No issues found in '{clean}'\n").encode()
    assert result.stderr == b"result: None\n"


def test_second_initialisation_fails():
    result = python("""
        import sys, keyhound
        del sys.modules["keyhound"]
        try:
            import keyhound
        except ImportError as e:
            print(e)
    """)
    assert result.stdout == b"PyO3 modules may only be initialized once per interpreter process\n"


def test_run_command_returns_none_or_raises_runtime_error(write):
    clean = write("clean.py", "x = 1\n")
    raising = write("raising.py", "def f(d):\n    return d['k']\n")
    ok = run_module([clean])
    assert ok.returncode == 0, ok.stderr
    assert ok.stderr.endswith(b"launcher: None\n")
    assert ok.stdout.endswith(f"No issues found in '{clean}'\n".encode())
    failed = run_module([clean, raising])
    assert failed.returncode == 1
    assert failed.stderr.endswith(
        f"Analyzing file '{raising}': Potential issue(s) found in '{raising}'\n"
        f"launcher: RuntimeError('')\n".encode())


def test_unreadable_files_do_not_fail_run_command(tmp_path):
    result = run_module([tmp_path / "missing.py"])
    assert result.returncode == 0
    assert b"No such file or directory (os error 2)\n" in result.stderr


def test_panic_from_a_failed_write(tmp_path):
    raising = tmp_path / "raising.py"
    raising.write_text("def f(d):\n    return d['k']\n")
    script = write_script(tmp_path / "script.py", """
        try:
            try:
                keyhound.run_command("x")
            except Exception:
                sys.stderr.write("caught as Exception\\n")
        except BaseException as e:
            t = type(e)
            sys.stderr.write("%s.%s %s\\n" % (t.__module__, t.__name__, t.__bases__))
            sys.stderr.write("message: %s\\n" % (e,))
            sys.stderr.write("doc: %r\\n" % (t.__doc__,))
    """)
    with open("/dev/full", "wb") as full:
        result = subprocess.run([sys.executable, str(script), str(raising)], stdout=full,
                                stderr=subprocess.PIPE, env=clean_env(), timeout=60)
    err = result.stderr.decode()
    assert "caught as Exception" not in err
    assert "pyo3_runtime.PanicException (<class 'BaseException'>,)" in err
    assert "message: failed printing to stdout: No space left on device (os error 28)" in err
    assert ("doc: '\\nThe exception raised when C++ code called from Python panics.\\n\\n"
            "Like SystemExit, this exception is derived from BaseException so that\\n"
            "it will typically propagate all the way through the stack and cause the\\n"
            "Python interpreter to exit.\\n'") in err
    assert "internal fault in thread 'main'" in err


@pytest.mark.parametrize("args, status, stream", [
    (["--help"], 0, "stdout"),
    (["--version"], 0, "stdout"),
    (["--bogus"], 2, "stderr"),
])
def test_help_version_and_errors_end_the_process(args, status, stream):
    result = run_module(args)
    assert result.returncode == status
    text = getattr(result, stream)
    assert b"launcher:" not in result.stderr
    if args == ["--version"]:
        assert text == b"keyhound 0.1.3\n"
    elif args == ["--help"]:
        assert b"Usage: python" in text
    else:
        assert text.startswith(b"error: unexpected argument '--bogus' found\n")


@pytest.mark.parametrize("args, stream, line", [
    (["--version"], "stdout", b"keyhound 0.1.3\n"),
    (["--help"], "stdout", b"Keyhound is a Python code linter written in C++\n"),
    (["--bogus"], "stderr", b"error: unexpected argument '--bogus' found\n"),
])
def test_python_buffers_are_flushed_before_the_process_ends(tmp_path, args, stream, line):
    """With PYTHONUNBUFFERED unset and output to pipes, print() keeps its text
    in Python's buffers; ending the process must not lose it, and it comes
    before keyhound's own text."""
    script = write_script(tmp_path / "flush.py", """
        print("before on stdout")
        print("before on stderr", file=sys.stderr)
        keyhound.run_command("")
        """)
    env = clean_env()
    env.pop("PYTHONUNBUFFERED", None)
    result = subprocess.run([sys.executable, str(script), *args], capture_output=True,
                            env=env, timeout=60)
    assert result.stdout.startswith(b"before on stdout\n")
    assert result.stderr.startswith(b"before on stderr\n")
    text = getattr(result, stream)
    assert line in text
    assert text.index(line) > 0


def test_broken_pipe_is_reported_without_a_backtrace_hint(tmp_path):
    """Python ignores SIGPIPE, so a reader that went away shows as EPIPE: the
    call ends with the panic exception, and the diagnostic names the source
    file as the project does, without suggesting a debugger."""
    script = write_script(tmp_path / "pipe.py", """
        import os
        read_end, write_end = os.pipe()
        os.close(read_end)
        os.dup2(write_end, 1)
        try:
            keyhound.run_command("")
        except BaseException as error:
            sys.stderr.write("raised: %s.%s\\n" % (type(error).__module__, type(error).__name__))
        """)
    target = tmp_path / "t.py"
    target.write_text("def f(d):\n    return d['k']\n")
    result = subprocess.run([sys.executable, str(script), str(target)], capture_output=True,
                            env=clean_env(), timeout=60)
    err = result.stderr.decode()
    assert "failed printing to stdout: Broken pipe (os error 32)" in err
    assert " at src/output/line_writer.cpp:" in err
    assert "note:" not in err
    assert "raised: pyo3_runtime.PanicException" in err
