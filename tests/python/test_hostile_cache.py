"""A repository the user did not write must not be able to use the result
cache against them: delete or overwrite their files, or hide a finding."""

import os
import stat
import subprocess
import time
from pathlib import Path

import pytest

from conftest import clean_env, run_native

RAISING = "def f(d):\n    return d['k']\n"
MONTHS_AGO = time.time() - 90 * 24 * 3600
TAG = "Signature: 8a477f597d28d172789f06886806bc55\n"


def env_for(home, **extra):
    environment = clean_env(KEYHOUND_CACHE_STATS="1", XDG_CACHE_HOME=str(home), **extra)
    environment.pop("KEYHOUND_CACHE_DIR", None)
    return environment


def run(args, cwd, home):
    return run_native(args, cwd=cwd, env=env_for(home), timeout=30)


def stats(result):
    line = result.stderr.decode().splitlines()[-1]
    assert line.startswith("cache: "), line
    words = line.split()
    return int(words[1]), int(words[3]), int(words[5])


def victim_with_old_files(path):
    """A directory of the user's with files a month old, some with the names
    the cache gives its entries."""
    path.mkdir()
    files = {"id_rsa": "secret key\n", "thesis.tex": "chapter 1\n", "0" * 30: "not an entry\n"}
    for name, text in files.items():
        (path / name).write_text(text)
        os.utime(path / name, (MONTHS_AGO, MONTHS_AGO))
    return {name: text for name, text in files.items()}


def contents(path):
    return {p.name: p.read_text() for p in path.iterdir()}


@pytest.fixture
def project(tmp_path):
    root = tmp_path / "clone"
    root.mkdir()
    for number in range(6):
        (root / f"m{number}.py").write_text(RAISING + f"X{number} = {number}\n")
    return root


@pytest.fixture
def home(tmp_path):
    return tmp_path / "home-cache"


def test_symlinked_subdirectories_are_never_followed(project, home, tmp_path):
    files = victim_with_old_files(tmp_path / "victim")
    cache = project / ".keyhound_cache"
    cache.mkdir()
    (cache / "CACHEDIR.TAG").write_text(TAG)
    # Every subdirectory an entry could go to is a link to the victim.
    for number in range(256):
        (cache / f"{number:02x}").symlink_to(tmp_path / "victim")
    result = run(["."], project, home)
    assert result.returncode == 1
    assert b"could not be written to the cache directory" in result.stderr
    assert contents(tmp_path / "victim") == files


def test_pruning_keeps_out_of_a_linked_subdirectory(project, home, tmp_path):
    files = victim_with_old_files(tmp_path / "victim")
    cache = project / ".keyhound_cache"
    cache.mkdir()
    (cache / "CACHEDIR.TAG").write_text(TAG)
    (cache / "ab").symlink_to(tmp_path / "victim")
    result = run(["."], project, home)
    assert stats(result)[1] == 6
    # The run stored entries and pruned; the linked directory was not entered.
    assert (cache / ".pruned").exists()
    assert contents(tmp_path / "victim") == files


@pytest.mark.parametrize("empty", [False, True])
def test_a_configuration_cannot_point_the_cache_at_a_foreign_directory(project, home, tmp_path,
                                                                       empty):
    victim = tmp_path / "victim"
    files = {} if empty else victim_with_old_files(victim)
    if empty:
        victim.mkdir()
    (project / "pyproject.toml").write_text('[tool.keyhound]\ncache-dir = "../victim"\n')
    result = run(["."], project, home)
    assert result.returncode == 1
    assert (f"warning: cannot use the cache directory '{victim}': it is not keyhound's cache"
            .encode()) in result.stderr
    assert contents(victim) == files  # no entry, no tag, no .gitignore


def test_the_project_itself_is_never_taken_for_the_cache(project, home):
    (project / "db").mkdir()
    (project / "db" / "models.py").write_text("x = 1\n")
    os.utime(project / "db" / "models.py", (MONTHS_AGO, MONTHS_AGO))
    (project / "pyproject.toml").write_text('[tool.keyhound]\ncache-dir = "."\n')
    before = sorted(p.name for p in project.rglob("*"))
    result = run(["."], project, home)
    assert b"it is not keyhound's cache" in result.stderr
    assert sorted(p.name for p in project.rglob("*")) == before


def test_a_cache_directory_that_is_a_link_is_refused(project, home, tmp_path):
    victim_with_old_files(tmp_path / "victim")
    (project / ".keyhound_cache").symlink_to(tmp_path / "victim")
    result = run(["."], project, home)
    assert b"'.keyhound_cache': it is a symbolic link" in result.stderr.replace(
        str(project).encode() + b"/", b"")
    assert len(list((tmp_path / "victim").iterdir())) == 3


def entry_files(cache):
    return sorted(p for p in cache.glob("??/*") if p.is_file() and not p.is_symlink())


def test_entries_of_another_user_or_a_repository_are_not_trusted(project, home, tmp_path):
    """The clone carries a whole cache made elsewhere, saying every file is
    clean; the user's run must report what is there."""
    elsewhere = tmp_path / "attacker"
    elsewhere.mkdir()
    for number in range(6):
        (elsewhere / f"m{number}.py").write_text(f"X{number} = {number}\n")
    made = run(["."], elsewhere, tmp_path / "attacker-home")
    assert made.returncode == 0
    attacker_entries = entry_files(elsewhere / ".keyhound_cache")
    assert len(attacker_entries) == 6

    expected = run_native(["--no-cache", "."], cwd=project)
    first = run(["."], project, home)
    assert stats(first)[0] == 0
    assert first.returncode == expected.returncode == 1
    assert first.stdout == expected.stdout
    # Even under the very names the user's entries have, the attacker's
    # entries (valid for their own key) fail the check.
    mine = entry_files(project / ".keyhound_cache")
    for entry, forged in zip(mine, attacker_entries):
        entry.write_bytes(forged.read_bytes())
    again = run(["."], project, home)
    assert stats(again) == (0, 6, 6)
    assert (again.returncode, again.stdout) == (expected.returncode, expected.stdout)


def test_an_entry_that_is_a_fifo_or_a_device_is_not_read(project, home):
    run(["."], project, home)
    mine = entry_files(project / ".keyhound_cache")
    mine[0].unlink()
    os.mkfifo(mine[0])
    mine[1].unlink()
    mine[1].symlink_to("/dev/zero")
    expected = run_native(["--no-cache", "."], cwd=project)
    again = run(["."], project, home)
    assert stats(again) == (4, 2, 2)
    assert (again.returncode, again.stdout) == (expected.returncode, expected.stdout)


def test_a_secret_others_can_read_is_refused(project, home):
    run(["."], project, home)
    secret = home / "keyhound" / "secret"
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600
    secret.chmod(0o644)
    result = run(["."], project, home)
    assert b"is not private to this user; going on without it" in result.stderr


def test_pruning_removes_only_what_the_cache_wrote(project, home):
    run(["."], project, home)
    cache = project / ".keyhound_cache"
    entry = entry_files(cache)[0]
    leftover = entry.parent / f".{entry.name}.keyhound-AbC123"
    leftover.write_bytes(b"half an entry")
    young = entry.parent / f".{entry.name}.keyhound-XyZ789"
    young.write_bytes(b"being written")
    mine = entry.parent / "notes.txt"
    mine.write_text("kept")
    for path in (leftover, entry, mine):
        os.utime(path, (MONTHS_AGO, MONTHS_AGO))
    os.utime(cache / ".pruned", (MONTHS_AGO, MONTHS_AGO))
    (project / "new.py").write_text(RAISING)  # something to store, so pruning runs
    run(["."], project, home)
    assert not leftover.exists() and young.exists()
    assert mine.read_text() == "kept"
