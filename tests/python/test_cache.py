"""The result cache of the native command: a warm run prints exactly what a
cold one does, an edited file is analysed again, and a broken entry is
recomputed, never trusted."""

import os
import random
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import PARALLEL_JOBS, CASES, NATIVE, ROOT, clean_env, run_native

RAISING = "def f(d):\n    return d['k']\n"


@pytest.fixture
def project(tmp_path):
    for case in CASES.glob("*.py"):
        shutil.copy(case, tmp_path / case.name)
    shutil.copy(ROOT / "examples" / "inventory.py", tmp_path / "inventory.py")
    return tmp_path


def run(args, cwd, **env):
    environment = clean_env(KEYHOUND_CACHE_STATS="1")
    environment.pop("KEYHOUND_CACHE_DIR", None)
    environment.update(env)
    return run_native(args, cwd=cwd, env=environment)


def stats(result):
    """(hits, misses) from the stats line, which only that variable asks for."""
    line = result.stderr.decode().splitlines()[-1]
    assert line.startswith("cache: "), line
    parts = line.split()
    return int(parts[1]), int(parts[3])


def without_stats(result):
    lines = result.stderr.splitlines(keepends=True)
    return result.returncode, result.stdout, b"".join(lines[:-1])


@pytest.mark.parametrize("args", [[], ["--output-format", "json"], ["--jobs", PARALLEL_JOBS],
                                  ["--precise", "--output-format", "sarif"]])
def test_warm_run_prints_exactly_what_a_cold_run_prints(project, args):
    uncached = run_native(["--no-cache", *args, "."], cwd=project)
    cold = run([*args, "."], project)
    warm = run([*args, "."], project)
    assert stats(cold)[1] > 0
    assert stats(warm) == (stats(cold)[0] + stats(cold)[1], 0)
    assert without_stats(cold) == without_stats(warm)
    assert without_stats(warm) == (uncached.returncode, uncached.stdout, uncached.stderr)
    assert (project / ".keyhound_cache" / ".gitignore").read_text().endswith("*\n")


def test_an_edited_file_is_analysed_again(project):
    run(["."], project)
    (project / "calls.py").write_text((project / "calls.py").read_text() + "\n" + RAISING)
    again = run(["."], project)
    assert stats(again)[1] == 1
    assert b"\ncalls.py:41:12: KH001 [medium] Possible KeyError: d['k'] (a mapping from a parameter) in function 'f'\n" in again.stdout


def test_options_that_change_the_analysis_are_part_of_the_key(project):
    run(["."], project)
    assert stats(run(["--exact", "."], project))[0] == 0
    assert stats(run(["--ignore-noqa", "."], project))[0] == 0
    # Selection, the baseline and the format act after the analysis.
    assert stats(run(["--select", "KH002", "--output-format", "concise", "."], project))[1] == 0


def entries(project):
    return [p for p in (project / ".keyhound_cache").glob("??/*") if p.is_file()]


@pytest.mark.parametrize("damage", ["truncate", "random", "empty", "foreign"])
def test_a_broken_entry_is_recomputed(project, damage):
    expected = run_native(["--no-cache", "."], cwd=project)
    run(["."], project)
    found = sorted(entries(project))
    assert found
    rng = random.Random(7)
    originals = [entry.read_bytes() for entry in found]
    for number, entry in enumerate(found):
        data = entry.read_bytes()
        if damage == "truncate":
            entry.write_bytes(data[: len(data) // 2])
        elif damage == "random":
            entry.write_bytes(bytes(rng.randrange(256) for _ in range(len(data))))
        elif damage == "empty":
            entry.write_bytes(b"")
        else:
            # A whole, valid entry of another content under this name.
            entry.write_bytes(originals[(number + 1) % len(found)])
    again = run(["."], project)
    assert stats(again) == (0, len(found))
    assert without_stats(again) == (expected.returncode, expected.stdout, expected.stderr)


def test_an_unwritable_cache_directory_is_one_warning(project):
    cache = project / "ro-cache"
    cache.mkdir()
    os.chmod(cache, 0o555)
    try:
        command = [str(NATIVE), "--cache-dir", str(cache), "."]
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                pytest.skip("running as root without setpriv to drop privileges")
            os.chmod(project, 0o777)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        result = subprocess.run(command, cwd=project, capture_output=True, env=clean_env())
        if b"KH001" not in result.stdout:
            pytest.skip("the unprivileged user cannot run the built binary here")
        expected = run_native(["--no-cache", "."], cwd=project)
        warning = (f"warning: cannot use the cache directory '{cache}': "
                   f"Permission denied (os error 13); going on without it\n").encode()
        assert result.stderr == warning + expected.stderr
        assert result.stdout == expected.stdout
        assert list(cache.iterdir()) == []
    finally:
        os.chmod(cache, 0o755)


def test_no_cache_writes_nothing(project):
    run_native(["--no-cache", "."], cwd=project)
    assert not (project / ".keyhound_cache").exists()


def test_where_the_cache_lives(project, tmp_path_factory):
    (project / "pyproject.toml").write_text("[tool.keyhound]\nrespect-gitignore = false\n")
    sub = project / "sub"
    sub.mkdir()
    (sub / "a.py").write_text(RAISING)
    run(["a.py"], sub)
    assert (project / ".keyhound_cache").is_dir() and not (sub / ".keyhound_cache").exists()
    elsewhere = tmp_path_factory.mktemp("elsewhere")
    run(["a.py"], sub, KEYHOUND_CACHE_DIR=str(elsewhere / "c"))
    assert (elsewhere / "c" / ".gitignore").exists()
    run(["--cache-dir", "given", "a.py"], sub)
    assert (sub / "given" / ".gitignore").exists()


def test_without_home_the_secret_is_found_through_the_password_database(project, tmp_path):
    """Some containers and CI runners start without HOME: the user still has
    a home directory, and the cache is used as usual."""
    import pwd
    home = pwd.getpwuid(os.geteuid()).pw_dir
    if not os.access(home, os.W_OK):
        pytest.skip("the home directory of this user is not writable")
    environment = clean_env(KEYHOUND_CACHE_STATS="1")
    for name in ("HOME", "XDG_CACHE_HOME"):
        environment.pop(name, None)
    environment["KEYHOUND_CACHE_DIR"] = str(tmp_path / "cache")
    for _ in range(2):
        result = run_native(["--exact", "inventory.py"], cwd=project, env=environment)
        assert b"cannot use the cache" not in result.stderr
    assert stats(result) == (1, 0)


def hashed(result):
    """How many files' bytes a run hashed, from the stats line."""
    line = result.stderr.decode().splitlines()[-1]
    assert line.endswith(" hashed"), line
    return int(line.split()[-2])


@pytest.fixture
def settled(tmp_path):
    """Files whose times are past the clock's grain: the index remembers
    only those."""
    import time
    (tmp_path / "a.py").write_text(RAISING)
    (tmp_path / "b.py").write_text("x = 1\n")
    time.sleep(2.2)
    return tmp_path


def test_an_unchanged_file_is_answered_without_hashing_its_bytes(settled, tmp_path_factory):
    import time
    cache = str(tmp_path_factory.mktemp("cache") / "c")
    cold = run(["a.py", "b.py"], settled, KEYHOUND_CACHE_DIR=cache)
    assert hashed(cold) == 2
    warm = run(["a.py", "b.py"], settled, KEYHOUND_CACHE_DIR=cache)
    assert stats(warm) == (2, 0) and hashed(warm) == 0
    assert without_stats(warm) == without_stats(cold)
    # Touched, same bytes: hashed again, still a hit.
    os.utime(settled / "a.py")
    touched = run(["a.py", "b.py"], settled, KEYHOUND_CACHE_DIR=cache)
    assert stats(touched) == (2, 0) and hashed(touched) == 1
    # Changed bytes, same size and times put back: the change time differs,
    # so the bytes are hashed and the new finding shown.
    before = os.stat(settled / "a.py")
    (settled / "a.py").write_text(RAISING.replace("'k'", "'j'"))
    os.utime(settled / "a.py", ns=(before.st_atime_ns, before.st_mtime_ns))
    changed = run(["--output-format", "concise", "a.py"], settled, KEYHOUND_CACHE_DIR=cache)
    assert hashed(changed) == 1
    assert b"d['j']" in changed.stdout


@pytest.mark.parametrize("damage", ["forged", "other user"])
def test_an_index_record_that_is_not_ours_costs_a_hash_never_a_finding(settled, tmp_path_factory,
                                                                      damage):
    cache = tmp_path_factory.mktemp("cache") / "c"
    run(["a.py", "b.py"], settled, KEYHOUND_CACHE_DIR=str(cache))
    entries = [p for p in cache.rglob("*") if p.is_file() and len(p.parent.name) == 2]
    env = {"KEYHOUND_CACHE_DIR": str(cache)}
    if damage == "forged":
        # Every record swapped with another: an identity then names the
        # wrong entry, or no valid one.
        contents = [p.read_bytes() for p in entries]
        for path, content in zip(entries, contents[1:] + contents[:1]):
            path.write_bytes(content)
    else:
        env["XDG_CACHE_HOME"] = str(tmp_path_factory.mktemp("other-user"))
    result = run(["--output-format", "concise", "a.py", "b.py"], settled, **env)
    assert hashed(result) == 2
    assert b"a.py:2:12: KH001" in result.stdout
