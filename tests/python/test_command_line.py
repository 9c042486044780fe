"""The Python module's command line, byte for byte: it keeps the command
line it always had, whatever options the native command grows. The module
reads the process's own command line, so each case runs the launcher script
in a child interpreter: the interpreter is element 0 (the usage name) and the
launcher the first file."""

import pytest

import os
import sys

from conftest import clean_env, run_module, run_native

NAME = os.path.basename(sys.executable).encode()

HELP = (b"Keyhound is a Python code linter written in C++\n"
        b"\n"
        b"Usage: " + NAME + b" <files>...\n"
        b"\n"
        b"Arguments:\n"
        b"  <files>...  Python files to analyze\n"
        b"\n"
        b"Options:\n"
        b"  -h, --help     Print help\n"
        b"  -V, --version  Print version\n")

CLOSING = b"\nFor more information, try '--help'.\n"


def error_report(message, tip=None, usage=b"Usage: " + NAME + b" <files>...\n"):
    report = b"error: " + message + b"\n"
    if tip:
        report += b"\n  tip: " + tip + b"\n"
    return report + b"\n" + usage + CLOSING


@pytest.mark.parametrize("args, status, out, err", [
    (["a.py", "--help"], 0, HELP, b""),
    (["-hV"], 0, HELP, b""),
    (["-Vh"], 0, b"keyhound 0.1.3\n", b""),
    (["--version", "a.py"], 0, b"keyhound 0.1.3\n", b""),
    (["--foo", "--help"], 2, b"", error_report(
        b"unexpected argument '--foo' found", b"to pass '--foo' as a value, use '-- --foo'")),
    (["--hel"], 2, b"", error_report(b"unexpected argument '--hel' found",
                                     b"a similar argument exists: '--help'",
                                     b"Usage: " + NAME + b" --help <files>...\n")),
    (["--vers"], 2, b"", error_report(b"unexpected argument '--vers' found",
                                      b"a similar argument exists: '--version'",
                                      b"Usage: " + NAME + b" --version <files>...\n")),
    (["--help=x"], 2, b"", error_report(
        b"unexpected value 'x' for '--help' found; no more were expected",
        usage=b"Usage: " + NAME + b" --help <files>...\n")),
    (["--foo=bar"], 2, b"", error_report(
        b"unexpected argument '--foo' found", b"to pass '--foo' as a value, use '-- --foo'")),
    (["-xh"], 2, b"", error_report(
        b"unexpected argument '-x' found", b"to pass '-x' as a value, use '-- -x'")),
    (["-5"], 2, b"", error_report(
        b"unexpected argument '-5' found", b"to pass '-5' as a value, use '-- -5'")),
    ([b"\xff.py"], 2, b"", error_report(
        b"invalid UTF-8 was detected in one or more arguments")),
])
def test_outcomes_that_end_the_process(args, status, out, err):
    result = run_module(args)
    assert (result.returncode, result.stdout, result.stderr) == (status, out, err)


def test_double_dash_makes_the_rest_files(write):
    path = write("-x.py", "x = 1\n")
    result = run_module(["--", "-x.py"], cwd=path.parent)
    assert result.stdout.endswith(b"No issues found in '-x.py'\n")
    assert result.stderr == b"launcher: None\n"


def test_lone_dash_is_a_file_name():
    result = run_module(["-"])
    assert result.stderr == (b"Error reading file '-': No such file or directory (os error 2)\n"
                             b"launcher: None\n")


def test_a_directory_is_a_read_error(tmp_path):
    result = run_module([str(tmp_path)])
    assert result.stderr == (b"Error reading file '" + bytes(tmp_path) +
                             b"': Is a directory (os error 21)\nlauncher: None\n")


def test_native_options_are_unknown_to_the_module():
    result = run_module(["--jobs", "2"])
    assert result.returncode == 2
    assert result.stderr.startswith(b"error: unexpected argument '--jobs' found\n")


STYLED_HELP = (b"Keyhound is a Python code linter written in C++\n"
               b"\n"
               b"\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkeyhound\x1b[0m <files>...\n"
               b"\n"
               b"\x1b[1m\x1b[4mArguments:\x1b[0m\n"
               b"  <files>...  Python files to analyze\n"
               b"\n"
               b"\x1b[1m\x1b[4mOptions:\x1b[0m\n"
               b"  \x1b[1m-h\x1b[0m, \x1b[1m--help\x1b[0m     Print help\n"
               b"  \x1b[1m-V\x1b[0m, \x1b[1m--version\x1b[0m  Print version\n")


def test_styled_help_when_forced():
    result = run_module(["--help"], env=clean_env(CLICOLOR_FORCE="1"))
    assert result.stdout == STYLED_HELP.replace(b"keyhound", NAME)


def test_styled_error_when_forced():
    result = run_module(["--hel"], env=clean_env(CLICOLOR_FORCE="1"))
    assert result.stderr.replace(NAME, b"keyhound") == (
        b"\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--hel\x1b[0m' found\n"
        b"\n"
        b"  \x1b[32mtip:\x1b[0m a similar argument exists: '\x1b[32m--help\x1b[0m'\n"
        b"\n"
        b"\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkeyhound\x1b[0m --help <files>...\n"
        b"\n"
        b"For more information, try '\x1b[1m--help\x1b[0m'.\n")


@pytest.mark.parametrize("env", [{}, {"TERM": "xterm"}, {"CI": "true"}, {"CLICOLOR": "1"},
                                 {"CLICOLOR_FORCE": "1", "NO_COLOR": "1"}])
def test_plain_when_piped(env):
    result = run_module(["--help"], env=clean_env(**env))
    assert result.stdout == HELP
