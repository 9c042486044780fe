"""The native command on whole projects: directories, exclusions, .gitignore,
standard input, jobs and configuration, checked stream by stream."""

import os
import shutil
import subprocess
import tempfile

import pytest

from conftest import PARALLEL_JOBS, NATIVE, clean_env, run_exact, run_native

CLEAN = "def f(d):\n    return d.get('k')\n"
RAISING = "def f(d):\n    return d['k']\n"

needs_git = pytest.mark.skipif(shutil.which("git") is None, reason="git is not installed")


def clean_line(path):
    return f"No issues found in '{path}'\n".encode()


def merged(args, cwd=None, **kwargs):
    """Runs the command with both streams in one pipe, as a terminal sees them."""
    return run_exact(args, cwd=cwd, stderr=subprocess.STDOUT, **kwargs)


def analysed(result):
    """The paths whose outcome line a merged run printed, in order."""
    names = []
    for line in result.stdout.decode(errors="replace").splitlines():
        for prefix in ("No issues found in '", "Analyzing file '", "Error reading file '"):
            if line.startswith(prefix):
                names.append(line[len(prefix):].split("'")[0])
    return names


def make_tree(root, files):
    for name, content in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content)


@pytest.fixture
def repo(tmp_path):
    """A git work tree with nested .gitignore files, a negated pattern and an
    ignored virtual environment."""
    make_tree(tmp_path, {
        "app/main.py": CLEAN,
        "app/gen/out.py": RAISING,
        "app/gen/keep.py": CLEAN,
        "app/notes.py": CLEAN,
        "lib/util.py": RAISING,
        "lib/local_secret.py": CLEAN,
        ".venv/lib/site.py": RAISING,
        "node_modules/x.py": RAISING,
        "README.txt": "not python\n",
        ".gitignore": "*_secret.py\n",
        "app/.gitignore": "gen/*\n!gen/keep.py\nnotes.py\n",
    })
    subprocess.run(["git", "init", "-q", str(tmp_path)], check=True)
    return tmp_path


@needs_git
def test_directory_walk_respects_gitignore_and_default_exclusions(repo):
    result = merged(["."], cwd=repo)
    assert analysed(result) == ["app/gen/keep.py", "app/main.py", "lib/util.py"]
    assert result.returncode == 1


@needs_git
def test_no_respect_gitignore_still_skips_the_default_exclusions(repo):
    result = merged(["--no-respect-gitignore", "."], cwd=repo)
    assert analysed(result) == ["app/gen/keep.py", "app/gen/out.py", "app/main.py",
                                "app/notes.py", "lib/local_secret.py", "lib/util.py"]


@needs_git
def test_exclusion_options(repo):
    extended = merged(["--extend-exclude", "lib", "."], cwd=repo)
    assert analysed(extended) == ["app/gen/keep.py", "app/main.py"]
    replaced = merged(["--exclude", "gen/,lib/util.py", "--no-respect-gitignore", "."],
                          cwd=repo)
    # The default list is replaced: .venv and node_modules come back.
    assert analysed(replaced) == [".venv/lib/site.py", "app/main.py", "app/notes.py",
                                  "lib/local_secret.py", "node_modules/x.py"]


@needs_git
def test_named_paths_are_analysed_unless_force_exclude(repo):
    named = ["lib/util.py", ".venv/lib/site.py", "README.txt"]
    result = merged(named, cwd=repo)
    assert analysed(result) == named
    forced = merged(["--force-exclude"] + named, cwd=repo)
    assert analysed(forced) == ["lib/util.py", "README.txt"]


def test_directory_order_is_by_path_bytes(tmp_path):
    make_tree(tmp_path, {"b.py": CLEAN, "b/a.py": CLEAN, "a-b.py": CLEAN, "B.py": CLEAN,
                         "b/sub/z.py": CLEAN, "notes.txt": "x\n"})
    result = merged(["--no-respect-gitignore", "z_missing.py", ".", "b.py"], cwd=tmp_path)
    assert analysed(result) == ["z_missing.py", "B.py", "a-b.py", "b.py", "b/a.py",
                                "b/sub/z.py", "b.py"]
    assert result.returncode == 2


def test_symlink_loop_and_non_utf8_name(tmp_path):
    make_tree(tmp_path, {"ok.py": CLEAN})
    os.symlink("loop.py", tmp_path / "loop.py")
    os.symlink(tmp_path, tmp_path / "again")  # a link to a directory is not followed
    (tmp_path / os.fsdecode(b"caf\xe9.py")).write_text(RAISING)
    result = run_exact(["."], cwd=tmp_path)
    assert result.stderr.endswith(
        b"Error reading file 'loop.py': Too many levels of symbolic links (os error 40)\n")
    assert b"caf\\xe9.py:2:12: Warning: Possible KeyError in function 'f'\n" in result.stdout
    assert analysed(merged(["."], cwd=tmp_path)) == ["caf\\xe9.py", "loop.py", "ok.py"]
    assert result.returncode == 2


def test_unreadable_directory_is_reported_and_the_walk_goes_on():
    directory = tempfile.mkdtemp(prefix="keyhound-walk-")
    try:
        os.chmod(directory, 0o755)
        for name in ("a/locked/x.py", "b/y.py"):
            path = os.path.join(directory, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as file:
                file.write(CLEAN)
        for sub in ("a", "b"):
            os.chmod(os.path.join(directory, sub), 0o755)
        os.chmod(os.path.join(directory, "a/locked"), 0o000)
        command = [str(NATIVE), "--exact", "--no-cache", "--no-respect-gitignore", directory]
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                pytest.skip("running as root without setpriv to drop privileges")
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        result = subprocess.run(command, capture_output=True, env=clean_env(), timeout=60)
        locked = os.path.join(directory, "a/locked")
        if b"Error reading file" not in result.stderr:
            pytest.skip("the unprivileged user cannot run the built binary here")
        assert result.stderr == (
            f"Error reading file '{locked}': Permission denied (os error 13)\n".encode())
        assert result.stdout == clean_line(os.path.join(directory, "b/y.py"))
        assert result.returncode == 2
    finally:
        os.chmod(os.path.join(directory, "a/locked"), 0o755)
        shutil.rmtree(directory, ignore_errors=True)


@pytest.mark.parametrize("args, name", [([], "-"), (["--stdin-filename", "src/app.py"], "src/app.py")])
def test_standard_input(args, name):
    result = run_exact(args + ["-"], input=RAISING.encode())
    assert result.stdout.startswith(f"{name}:2:12: Warning: Possible KeyError in function 'f'\n"
                                    .encode())
    assert result.stderr.endswith(
        f"Analyzing file '{name}': Potential issue(s) found in '{name}'\n".encode())
    assert result.returncode == 1


def test_standard_input_name_is_excluded_with_force_exclude():
    result = run_exact(["--force-exclude", "--stdin-filename", "build/x.py", "-"],
                        input=RAISING.encode())
    assert result.stdout == b""
    assert result.returncode == 0


def test_exit_zero_keeps_two_for_errors(write):
    bad = write("bad.py", RAISING)
    assert run_exact(["--exit-zero", bad]).returncode == 0
    assert run_exact(["--exit-zero", bad, bad.parent / "missing.py"]).returncode == 2


@pytest.mark.parametrize("value, reason", [
    ("0", "expected a whole number of 1 or more"),
    ("x", "expected a whole number of 1 or more"),
])
def test_bad_jobs_value(value, reason, write):
    path = write("a.py", CLEAN)
    result = run_exact(["--jobs", value, path])
    assert result.returncode == 2
    assert result.stderr.startswith(
        f"error: invalid value '{value}' for '--jobs <N>': {reason}\n".encode())


def test_jobs_do_not_change_a_single_byte(tmp_path):
    """Many files, some raising, some unreadable, some clean: every stream
    byte for byte the same with one job and with four."""
    for i in range(300):
        body = RAISING if i % 3 == 0 else CLEAN
        if i % 7 == 0:
            body += "def g%d(d):\n    return f(d)\n" % i
        (tmp_path / f"m{i:03}.py").write_text(body * (1 + i % 5))
    (tmp_path / "m050.py").write_bytes(b"\xff\xfe")
    names = sorted(p.name for p in tmp_path.iterdir()) + ["missing.py"]
    combined = {}
    for jobs in ("1", PARALLEL_JOBS):
        one = run_exact(["-j", jobs] + names, cwd=tmp_path)
        sink = tmp_path.parent / f"combined-{jobs}"
        with open(sink, "wb") as out:
            together = run_exact(["-j", jobs] + names, cwd=tmp_path, stdout=out,
                                stderr=subprocess.STDOUT)
        combined[jobs] = (one.returncode, one.stdout, one.stderr, together.returncode,
                          sink.read_bytes())
    assert combined["1"] == combined[PARALLEL_JOBS]
    assert combined["1"][0] == 2


def test_a_fault_with_jobs_writes_what_came_before_it(tmp_path):
    """A closed pipe on standard output faults at the first write; whatever the
    number of jobs, nothing after the fault is written and the status is 70."""
    for i in range(50):
        (tmp_path / f"m{i:02}.py").write_text(RAISING)
    names = sorted(p.name for p in tmp_path.iterdir())
    for jobs in ("1", PARALLEL_JOBS):
        with open("/dev/full", "wb") as full:
            result = run_exact(["-j", jobs] + names, cwd=tmp_path, stdout=full)
        assert result.returncode == 70
        assert result.stderr.startswith(b"Potential issue(s) in function 'f'") is False
        assert b"failed printing to stdout" in result.stderr


# Configuration

def pyproject(directory, body):
    (directory / "pyproject.toml").write_text(body)


def test_configuration_is_found_above_and_patterns_are_relative_to_it(tmp_path):
    make_tree(tmp_path, {"src/a.py": CLEAN, "src/skip/b.py": CLEAN, "other/skip/c.py": CLEAN})
    pyproject(tmp_path, '[tool.keyhound]\nextend-exclude = ["src/skip"]\n'
                        'respect-gitignore = false\n')
    result = merged(["."], cwd=tmp_path / "src")
    assert analysed(result) == ["a.py"]
    result = merged(["other"], cwd=tmp_path)
    assert analysed(result) == ["other/skip/c.py"]
    isolated = merged(["--isolated", "."], cwd=tmp_path / "src")
    assert analysed(isolated) == ["a.py", "skip/b.py"]


def test_a_pyproject_without_the_table_is_passed_over(tmp_path):
    make_tree(tmp_path, {"pkg/a.py": CLEAN, "pkg/gen/b.py": CLEAN})
    pyproject(tmp_path, '[tool.keyhound]\nexclude = ["gen"]\n')
    pyproject(tmp_path / "pkg", '[project]\nname = "pkg"\n')
    assert analysed(merged(["."], cwd=tmp_path / "pkg")) == ["a.py"]


def test_command_line_wins_over_the_configuration(tmp_path):
    make_tree(tmp_path, {"a.py": RAISING})
    pyproject(tmp_path, '[tool.keyhound]\nforce-exclude = true\nexclude = ["a.py"]\n')
    assert analysed(merged(["a.py"], cwd=tmp_path)) == []
    assert analysed(merged(["--exclude", "b.py", "a.py"], cwd=tmp_path)) == ["a.py"]


@pytest.mark.parametrize("body, message", [
    ('[tool.keyhound]\njobs = "2"\n',
     "invalid configuration in '{file}': 'jobs' must be a whole number of 1 or more, "
     "not a string"),
    ('[tool.keyhound]\njobs = 0\n',
     "invalid configuration in '{file}': 'jobs' must be a whole number of 1 or more, "
     "not an integer 0"),
    ('[tool.keyhound]\nexclude = "build"\n',
     "invalid configuration in '{file}': 'exclude' must be an array of strings, not a string"),
    ('[tool.keyhound]\nforce-exclude = 1\n',
     "invalid configuration in '{file}': 'force-exclude' must be true or false, "
     "not an integer 1"),
    ('[tool.keyhound]\nexclud = []\n',
     "invalid configuration in '{file}': unknown key 'exclud' in [tool.keyhound]; did you mean "
     "'exclude'? expected one of: jobs, exclude, extend-exclude, force-exclude, respect-gitignore"),
    ('[tool.keyhound]\nselect-codes = []\n',
     "invalid configuration in '{file}': unknown key 'select-codes' in [tool.keyhound]; expected "
     "one of: jobs, exclude, extend-exclude"),
    ('[tool.keyhound]\njobs = \n',
     "cannot parse '{file}': "),
])
def test_configuration_errors(tmp_path, body, message, write):
    write("a.py", CLEAN)
    pyproject(tmp_path, body)
    result = run_exact(["a.py"], cwd=tmp_path)
    expected = "error: " + message.format(file=tmp_path / "pyproject.toml")
    assert result.stderr.decode().startswith(expected)
    assert result.stdout == b""
    assert result.returncode == 2


def test_explicit_configuration_file(tmp_path, write):
    write("a.py", CLEAN)
    missing = run_exact(["--config", "nope.toml", "a.py"], cwd=tmp_path)
    assert missing.stderr == (b"error: cannot read configuration file 'nope.toml': "
                              b"No such file or directory (os error 2)\n")
    assert missing.returncode == 2
    (tmp_path / "kh.toml").write_text('[tool.keyhound]\nexclude = ["a.py"]\nforce-exclude = true\n')
    assert analysed(merged(["--config", "kh.toml", "a.py"], cwd=tmp_path)) == []
    both = run_exact(["--config", "kh.toml", "--isolated", "a.py"], cwd=tmp_path)
    assert both.returncode == 2
    # A file named for its configuration must hold one.
    (tmp_path / "other.toml").write_text('[tool.ruff]\nline-length = 99\n')
    none = run_exact(["--config", "other.toml", "a.py"], cwd=tmp_path)
    assert none.returncode == 2
    assert none.stderr == b"error: the configuration file 'other.toml' has no [tool.keyhound] table\n"


def test_configuration_is_found_from_a_path_in_another_directory(tmp_path):
    # Run from the parent folder: the project's own table still governs it.
    make_tree(tmp_path, {"proj/a.py": CLEAN, "proj/gen/b.py": CLEAN})
    pyproject(tmp_path / "proj", '[tool.keyhound]\nextend-exclude = ["gen"]\n')
    assert analysed(merged(["proj"], cwd=tmp_path)) == ["proj/a.py"]
    assert analysed(merged(["proj/a.py", "proj/gen/b.py"], cwd=tmp_path)) == [
        "proj/a.py", "proj/gen/b.py"]


def test_two_projects_in_one_run_each_keep_their_configuration(tmp_path):
    make_tree(tmp_path, {"one/a.py": RAISING, "one/gen/b.py": RAISING,
                         "two/c.py": RAISING, "two/gen/d.py": RAISING, "e.py": RAISING})
    # One leaves out its gen/ and its calls; the other selects nothing but
    # KH002, so its lookups are not reported.
    pyproject(tmp_path / "one", '[tool.keyhound]\nextend-exclude = ["gen"]\n')
    pyproject(tmp_path / "two", '[tool.keyhound]\nselect = ["KH002"]\n')
    result = run_native(["--no-cache", "--output-format", "concise", "one", "two", "e.py"],
                        cwd=tmp_path)
    lines = result.stdout.decode().splitlines()
    assert [line.split(":")[0] for line in lines if ": KH" in line] == ["one/a.py", "e.py"]
    assert lines[-1] == "Found 2 findings in 2 files."


def test_a_bad_configuration_of_any_path_is_an_error(tmp_path):
    make_tree(tmp_path, {"one/a.py": CLEAN, "two/b.py": CLEAN})
    pyproject(tmp_path / "two", '[tool.keyhound]\nselect = ["KH9"]\n')
    result = run_native(["--no-cache", "one", "two"], cwd=tmp_path)
    assert result.returncode == 2
    assert b"'select' holds 'KH9'" in result.stderr
