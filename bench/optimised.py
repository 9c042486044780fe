#!/usr/bin/env python3
"""The optimised build against the plain one, on code the training never saw.

    python3 bench/optimised.py [--kind pgo|lto] [--rounds 5] [--keep]

Builds the plain command and the optimised one (KEYHOUND_OPTIMISE=pgo, which
trains on the build interpreter's standard library, or lto) from scratch into
build/bench-plain and build/bench-KIND, timing each build; checks that both
print the same bytes on the test cases and on the corpus, in every format
and in both modes; then times them in alternating runs (one thread, no
cache, precise and --exact) over Django and sympy, which the training did
not see, and prints the ratio of the medians, the build times and the sizes
of what a wheel carries (the command and the two modules, and the three
compressed as the wheel compresses them)."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FORMATS = ["full", "concise", "json", "json-lines", "sarif", "github"]


def project_dirs():
    script = f'source "{ROOT}/bench/projects.sh"; for p in "${{bench_projects[@]}}"; do project_dir "$p"; done'
    out = subprocess.run(["bash", "-c", script], check=True, stdout=subprocess.PIPE, text=True)
    return [Path(line) for line in out.stdout.splitlines()]


def build(kind, directory):
    """Configures and builds from scratch; the seconds it took."""
    shutil.rmtree(directory, ignore_errors=True)
    deps = ROOT / "build/tests/_deps"
    args = ["cmake", "-S", str(ROOT), "-B", str(directory), "-G", "Ninja",
            f"-DKEYHOUND_OPTIMISE={kind}", f"-DPython_EXECUTABLE={sys.executable}"]
    if deps.is_dir():
        args.append(f"-DKEYHOUND_DEPS_DIR={deps}")
    started = time.monotonic()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(directory)], check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - started


def run(command, args, cwd):
    return subprocess.run([str(command), "--no-cache", "--isolated", *args], cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def same_output(plain, optimised, corpora):
    """Every format, both modes: the same stdout, stderr and status."""
    checked = 0
    for cwd, paths in corpora:
        for mode in ([], ["--exact"]):
            for output_format in FORMATS:
                args = [*mode, "-j", "2", "--output-format", output_format, *paths]
                a, b = run(plain, args, cwd), run(optimised, args, cwd)
                if (a.stdout, a.stderr, a.returncode) != (b.stdout, b.stderr, b.returncode):
                    sys.exit(f"different output: {' '.join(args)} in {cwd}")
                checked += 1
    return checked


def timed(command, args, cwd):
    started = time.monotonic()
    run(command, args, cwd)
    return time.monotonic() - started


def wheel_payload(directory):
    files = [directory / "keyhound", *directory.glob("keyhound*.abi3.so")]
    raw = sum(f.stat().st_size for f in files)
    packed = sum(len(zlib.compress(f.read_bytes(), 6)) for f in files)
    return raw, packed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kind", default="pgo", choices=["pgo", "lto"])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--keep", action="store_true", help="reuse the builds of a former run")
    options = parser.parse_args()
    plain_dir, optimised_dir = ROOT / "build/bench-plain", ROOT / f"build/bench-{options.kind}"
    for kind, directory in (("off", plain_dir), (options.kind, optimised_dir)):
        if options.keep and (directory / "keyhound").exists():
            print(f"build, {kind}: kept from a former run", flush=True)
        else:
            print(f"build, {kind}: {build(kind, directory):.0f} s", flush=True)
    plain, optimised = plain_dir / "keyhound", optimised_dir / "keyhound"
    projects = project_dirs()
    cases = sorted(str(p) for p in (ROOT / "tests/cases").glob("*.py"))
    checked = same_output(plain, optimised, [(ROOT, cases)] + [(p, ["."]) for p in projects])
    print(f"same bytes: {checked} runs (test cases and corpus, 6 formats, both modes)",
          flush=True)
    for project in projects:
        for mode in ([], ["--exact"]):
            args = [*mode, "-j", "1", "--output-format", "concise", "."]
            times = {plain: [], optimised: []}
            for _ in range(options.rounds):
                for command in (plain, optimised):  # alternating, so that load hits both
                    times[command].append(timed(command, args, project))
            a, b = statistics.median(times[plain]), statistics.median(times[optimised])
            label = f"{project.name} {'--exact' if mode else 'precise'}"
            print(f"{label:22} plain {a:6.2f} s  {options.kind} {b:6.2f} s  ratio {b / a:.3f}",
                  flush=True)
    for name, directory in (("plain", plain_dir), (options.kind, optimised_dir)):
        raw, packed = wheel_payload(directory)
        print(f"size, {name}: {raw / 1e6:.1f} MB, {packed / 1e6:.1f} MB compressed")


if __name__ == "__main__":
    main()
