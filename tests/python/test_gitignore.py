"""keyhound reads git's ignore rules itself and never starts git: the files a
walk finds, against what real git says of the same tree (`git check-ignore`),
over a table of patterns; and a tree whose own git configuration names
commands (fsmonitor, hooks, aliases) runs none of them."""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import clean_env, run_native

pytestmark = pytest.mark.skipif(shutil.which("git") is None, reason="git is not installed")

LOOKUP = "def f(d, k):\n    return d[k]\n"


def isolated_env(home, **extra):
    """No configuration of the user running the tests: a home of the test's own."""
    env = clean_env(HOME=str(home), GIT_CONFIG_NOSYSTEM="1", **extra)
    for name in ("XDG_CONFIG_HOME", "GIT_CONFIG_GLOBAL", "GIT_DIR", "GIT_WORK_TREE"):
        env.pop(name, None)
    env.update(extra)
    return env


def git(args, cwd, env, **kwargs):
    return subprocess.run(["git", *args], cwd=cwd, env=env, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def git_ignores(repo, paths, env):
    """The paths (relative to `repo`) that git says it ignores there."""
    if not paths:
        return set()
    result = subprocess.run(["git", "check-ignore", "--no-index", "--stdin", "-z"], cwd=repo,
                            env=env, input="\0".join(paths).encode() + b"\0",
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert result.returncode in (0, 1), result.stderr.decode()
    return {p for p in result.stdout.decode().split("\0") if p}


def expected_files(root, repos, files, env):
    """What a walk should find: every file that neither git ignores nor lies
    in a directory that git ignores, each asked of its innermost repository
    (a nested repository keeps rules of its own)."""
    def repo_of(path):
        inner = [r for r in repos if r == "" or path == r or path.startswith(r + "/")]
        return max(inner, key=len)

    walked = []
    for file in files:
        parts = file.split("/")
        # The file, then each directory above it, down from the top.
        candidates = ["/".join(parts[:i]) for i in range(1, len(parts) + 1)]
        ignored = False
        for candidate in candidates:
            # A repository's own top is asked of the repository around it.
            repo = repo_of(candidate if candidate not in repos else candidate.rsplit("/", 1)[0]
                           if "/" in candidate else "")
            relative = candidate[len(repo) + 1:] if repo else candidate
            if git_ignores(root / repo, [relative], env):
                ignored = True
                break
        if not ignored:
            walked.append(file)
    return sorted(walked)


@pytest.fixture
def repo(tmp_path):
    """A git work tree at tmp_path/tree, with a home (tmp_path/home) of the
    test's own."""
    home = tmp_path / "home"
    home.mkdir()
    env = isolated_env(home)
    tree = tmp_path / "tree"
    tree.mkdir()
    git(["init", "-q", "."], cwd=tree, env=env)
    return tree, env


def walked_files(root, env):
    result = run_native(["--exact", "--no-cache", "--output-format", "json-lines", "."],
                        cwd=root, env=env)
    assert result.returncode in (0, 1), result.stderr.decode()
    return sorted({json.loads(line)["filename"] for line in result.stdout.decode().splitlines()})


# Each case: the ignore files (by path; ".git/info/exclude" and "~" for the
# home directory too), the Python files of the tree, and the nested
# repositories besides the top one.
CASES = {
    "bare name anywhere": ({".gitignore": "gen.py\n"}, ["gen.py", "a/gen.py", "a/b/gen.py", "a/keep.py"]),
    "star": ({".gitignore": "*_pb2.py\n"}, ["x_pb2.py", "a/y_pb2.py", "a/pb2.py"]),
    "question mark": ({".gitignore": "v?.py\n"}, ["v1.py", "v22.py", "a/v3.py"]),
    "set and range": ({".gitignore": "[a-c].py\n"}, ["a.py", "c.py", "d.py", "x/b.py"]),
    "negated set": ({".gitignore": "[!a].py\n"}, ["a.py", "b.py"]),
    "caret set": ({".gitignore": "[^a].py\n"}, ["a.py", "b.py"]),
    "class": ({".gitignore": "[[:digit:]]*.py\n"}, ["1x.py", "x1.py"]),
    "escaped star": ({".gitignore": "\\*.py\n"}, ["*.py", "a.py"]),
    "escaped bang": ({".gitignore": "\\!x.py\n"}, ["!x.py", "x.py"]),
    "escaped hash": ({".gitignore": "\\#x.py\n"}, ["#x.py", "x.py"]),
    "comment": ({".gitignore": "# a.py\na.py # not a comment\nb.py\n"}, ["a.py", "b.py"]),
    "trailing spaces dropped": ({".gitignore": "a.py   \n"}, ["a.py", "b.py"]),
    "escaped trailing space": ({".gitignore": "a.py\\ \n"}, ["a.py", "a.py ", "b.py"]),
    "crlf": ({".gitignore": "a.py\r\nb.py\r\n"}, ["a.py", "b.py", "c.py"]),
    "directory only": ({".gitignore": "gen/\n"}, ["gen/a.py", "x/gen/b.py", "gen.py"]),
    "directory only does not match a file": ({".gitignore": "a.py/\nzz.py\n"}, ["a.py", "b/a.py", "zz.py"]),
    "anchored with leading slash": ({".gitignore": "/top.py\n"}, ["top.py", "a/top.py"]),
    "anchored with middle slash": ({".gitignore": "a/b.py\n"}, ["a/b.py", "x/a/b.py", "b.py"]),
    "anchored directory": ({".gitignore": "/lib/\n"}, ["lib/a.py", "x/lib/b.py"]),
    "star does not cross slash": ({".gitignore": "a/*.py\n"}, ["a/x.py", "a/b/y.py"]),
    "star in directory part": ({".gitignore": "*/gen.py\n"}, ["a/gen.py", "a/b/gen.py", "gen.py"]),
    "leading double star": ({".gitignore": "**/gen.py\n"}, ["gen.py", "a/gen.py", "a/b/gen.py", "a/other.py"]),
    "leading double star dir": ({".gitignore": "**/cache/\n"}, ["cache/a.py", "a/cache/b.py", "a/cachex/c.py"]),
    "trailing double star": ({".gitignore": "out/**\n"}, ["out/a.py", "out/b/c.py", "outx/d.py"]),
    "trailing double star re-include": ({".gitignore": "out/**\n!out/keep.py\n"}, ["out/a.py", "out/keep.py"]),
    "middle double star": ({".gitignore": "a/**/z.py\n"}, ["a/z.py", "a/b/z.py", "a/b/c/z.py", "b/z.py"]),
    "double star not delimited": ({".gitignore": "a**.py\n"}, ["a.py", "abc.py", "x/ab.py", "b.py"]),
    "double star in middle of name": ({".gitignore": "x/a**b.py\n"}, ["x/ab.py", "x/aXb.py", "x/a/b.py"]),
    "negation": ({".gitignore": "*.py\n!keep.py\n"}, ["a.py", "keep.py", "d/keep.py"]),
    "negation then again": ({".gitignore": "*.py\n!keep.py\nkeep.py\n!other.py\n"}, ["keep.py", "a.py", "other.py"]),
    "negation cannot reach into excluded dir": ({".gitignore": "gen/\n!gen/keep.py\n"}, ["gen/keep.py", "gen/a.py", "other.py"]),
    "negation of dir contents": ({".gitignore": "gen/*\n!gen/keep.py\n"}, ["gen/keep.py", "gen/a.py"]),
    "nested gitignore relative": ({".gitignore": "", "app/.gitignore": "/local.py\n"}, ["local.py", "app/local.py", "app/x/local.py"]),
    "nested overrides parent": ({".gitignore": "*.py\n!app/\n", "app/.gitignore": "!*.py\n"}, ["a.py", "app/b.py"]),
    "parent pattern below nested": ({".gitignore": "secret.py\n", "app/.gitignore": "other.py\n"}, ["app/secret.py", "app/other.py", "app/x.py"]),
    "nested anchored middle": ({"app/.gitignore": "gen/out.py\n"}, ["app/gen/out.py", "gen/out.py"]),
    "info exclude": ({".git/info/exclude": "local_*.py\n"}, ["local_a.py", "a.py"]),
    "gitignore beats info exclude": ({".git/info/exclude": "*.py\n", ".gitignore": "!a.py\n"}, ["a.py", "b.py"]),
    "global excludes by default place": ({"~/.config/git/ignore": "scratch*.py\n"}, ["scratch1.py", "a.py"]),
    "global excludes from config": ({"~/.gitconfig": "[core]\n\texcludesFile = ~/my-ignores\n",
                                     "~/my-ignores": "tmp_*.py\n"}, ["tmp_1.py", "a.py"]),
    "global excludes quoted in config": ({"~/.gitconfig": '[Core]\n  excludesfile = "~/ig nores" ; comment\n',
                                          "~/ig nores": "b.py\n"}, ["a.py", "b.py"]),
    "info exclude beats global": ({"~/.config/git/ignore": "*.py\n", ".git/info/exclude": "!a.py\n"}, ["a.py", "b.py"]),
    "unclosed set matches nothing": ({".gitignore": "[ab.py\nzz.py\n"}, ["[ab.py", "a.py", "zz.py"]),
    "bom": ({".gitignore": "\ufeffa.py\n"}, ["a.py", "b.py"]),
    "dotfiles": ({".gitignore": ".*.py\n"}, [".hidden.py", "visible.py"]),
    "unicode name": ({".gitignore": "caf\u00e9*.py\n"}, ["caf\u00e9.py", "cafe.py"]),
    "anchored directory in the middle": ({".gitignore": "a/b/\n"}, ["a/b/x.py", "a/bx/y.py", "c/a/b/z.py"]),
    "double star alone": ({".gitignore": "**\n!keep/\n!keep/*.py\n"}, ["x.py", "keep/y.py"]),
    "leading slash double star": ({".gitignore": "/**/gen.py\n"}, ["gen.py", "a/b/gen.py", "a/other.py"]),
    "double star then star": ({".gitignore": "doc/**/*.py\n"}, ["doc/a.py", "doc/x/b.py", "src/c.py"]),
    "trailing double star slash": ({".gitignore": "a/**/\n"}, ["a/x.py", "a/b/y.py", "b/z.py"]),
    "everything but python": ({".gitignore": "*\n!*.py\n!*/\nsecret.py\n"},
                              ["a.py", "d/b.py", "d/secret.py"]),
    "trailing backslash matches nothing": ({".gitignore": "a.py\\\nzz.py\n"}, ["a.py", "zz.py", "b.py"]),
    "nested repository keeps its own rules": ({".gitignore": "x.py\n", "sub/.gitignore": "y.py\n"},
                                              ["x.py", "sub/x.py", "sub/y.py", "z.py"], ["sub"]),
    "nested repository ignored by the outer": ({".gitignore": "vendor/\n"},
                                               ["vendor/a.py", "b.py"], ["vendor"]),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_walk_ignores_what_git_ignores(repo, name):
    ignore_files, files, *nested = CASES[name]
    nested = nested[0] if nested else []
    root, env = repo
    home = root.parent / "home"
    for repo in nested:
        (root / repo).mkdir(parents=True, exist_ok=True)
        git(["init", "-q", "."], cwd=root / repo, env=env)
    for path, text in ignore_files.items():
        target = home / path[2:] if path.startswith("~/") else root / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(text, encoding="utf-8", newline="")
    for file in files:
        (root / file).parent.mkdir(parents=True, exist_ok=True)
        (root / file).write_text(LOOKUP)

    expected = expected_files(root, ["", *nested], files, env)
    assert walked_files(root, env) == expected
    # The case means something: git ignores some of its files, and not all.
    assert 0 < len(expected) < len(files)


def test_the_table_ignores_something_in_most_cases(repo):
    """Guards the oracle: were git's answers all empty, every case would pass
    by walking everything."""
    tree, env = repo
    (tree / ".gitignore").write_text("gen/\n*_pb2.py\n")
    (tree / "gen").mkdir()
    assert git_ignores(tree, ["gen", "x_pb2.py", "x.py"], env) == {"gen", "x_pb2.py"}


def test_a_trees_git_configuration_runs_nothing(repo):
    """fsmonitor, hooks and aliases are commands the tree's author chose:
    keyhound reads no git configuration of the tree and starts no git."""
    tree, env = repo
    marker = tree.parent / "PWNED"
    hooks = tree / "hooks"
    hooks.mkdir()
    for hook in ("post-checkout", "pre-commit", "post-index-change", "fsmonitor-watchman"):
        script = hooks / hook
        script.write_text(f"#!/bin/sh\ntouch '{marker}'\n")
        script.chmod(0o755)
    command = f"touch '{marker}'; false"
    for key, value in (("core.fsmonitor", command), ("core.hooksPath", str(hooks)),
                       ("alias.ls-files", f"!{command}"), ("core.pager", command),
                       ("core.sshCommand", command), ("diff.external", command)):
        git(["config", key, value], cwd=tree, env=env)
    (tree / ".gitignore").write_text("ignored.py\n")
    (tree / "ignored.py").write_text(LOOKUP)
    (tree / "kept.py").write_text(LOOKUP)

    for args in (["."], ["--add-noqa", "."], ["--exact", "."]):
        run_native(["--no-cache", *args], cwd=tree, env=env)
    assert not marker.exists()
    # The ignore rules still held, without git.
    assert "# noqa" not in (tree / "ignored.py").read_text()
    assert "# noqa" in (tree / "kept.py").read_text()


def test_no_git_needed(repo):
    """The rules hold with no git on PATH at all."""
    tree, env = repo
    (tree / ".gitignore").write_text("gen.py\n")
    (tree / "gen.py").write_text(LOOKUP)
    (tree / "app.py").write_text(LOOKUP)
    env["PATH"] = str(tree / "no-such-bin")
    assert walked_files(tree, env) == ["app.py"]


def test_a_named_directory_below_the_top_takes_the_ignore_files_above_it(repo):
    tree, env = repo
    (tree / ".gitignore").write_text("gen.py\n/src/top_only.py\n")
    (tree / "src" / "pkg").mkdir(parents=True)
    for name in ("src/pkg/gen.py", "src/pkg/app.py", "src/top_only.py"):
        (tree / name).write_text(LOOKUP)
    result = run_native(["--exact", "--no-cache", "--output-format", "json-lines", "src"],
                        cwd=tree, env=env)
    found = sorted({json.loads(line)["filename"] for line in result.stdout.decode().splitlines()})
    assert found == ["src/pkg/app.py"]
