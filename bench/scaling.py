"""Generates the scaling shapes, times keyhound on each against the same
file's parse, and prints the growth ratios.

    python3 bench/scaling.py BUILD_DIR

Every shape is written for N = 10,000 and 20,000; time should grow about
linearly (t(20,000) / t(10,000) <= 2.3). Functions nested D deep are
compared with their parse time, since such a file grows with D squared.
The flow shapes (one long function: straight-line code, an `elif` chain,
many loops; blocks nested D deep) time precise mode, whose flow graphs they
stress, beside --exact.
"""

import subprocess
import sys
from pathlib import Path

BENCH = Path(sys.argv[1] if len(sys.argv) > 1 else "build/tests") / "bench" / "keyhound_bench"
OUT = Path(__file__).resolve().parent / "generated"


def chain(n):
    # f0 calls f1 ... and only the last holds a subscript. Definitions come
    # caller first, so a sweep in source order moves KeyError one step back.
    lines = [f"def f{i}(d):\n    return f{i + 1}(d)\n" for i in range(n - 1)]
    lines.append(f"def f{n - 1}(d):\n    return d['k']\n")
    return "".join(lines)


def nested_subscripts(n):
    return "def f():\n    return (\n" + "a[\n" * n + "0" + "]" * n + ")\n"


def try_sequence(n):
    body = "".join(f"    try:\n        x = d[{i}]\n    except KeyError:\n        pass\n"
                   for i in range(n))
    return "def f(d):\n" + body


def brackets(n):
    return "x = " + "(" * (5 * n) + ")" * (5 * n) + "\n"


def comment_lines(n):
    # A commented-out block inside a function, at the block's indentation
    # and at column 0.
    half = n // 2
    return ("def f(d):\n    x = d['a']\n" + "    # x = d['b']\n" * half
            + "# x = d['c']\n" * (n - half) + "    return x\n")


def continuation_lines(n):
    # Lines that hold only a backslash continuation, indented and not.
    half = n // 2
    return ("if x:\n    y = d['a']\n" + "    \\\n" * half + "\\\n" * (n - half)
            + "    z = d['b']\n")


def nested_functions(depth):
    lines = []
    for level in range(depth):
        lines.append("    " * level + f"def f{level}(d):\n")
    lines.append("    " * depth + "return d['k']\n")
    return "".join(lines)


# Shapes of one long function for precise mode's flow graphs, timed with
# `precise` (the native command's default) beside `full` (--exact).
def straight_line(n):
    # Many keys known at once, and names rebound all along.
    half = n // 2
    stores = "".join(f"    d['k{i}'] = x{i} = {i}\n" for i in range(half))
    reads = "".join(f"    y = d['k{i}'] + e[x{i}]\n" for i in range(n - half))
    return "def f(d, e):\n" + stores + reads


def elif_chain(n):
    branches = "".join(f"    elif k == {i}:\n        d[k] = e[{i}]\n" for i in range(1, n))
    return "def f(d, e, k):\n    if k == 0:\n        d[k] = 0\n" + branches + "    return d[k]\n"


def many_loops(n):
    loops = "".join(f"    for x in e:\n        if x not in d:\n            continue\n"
                    f"        d[x] = d[x] + {i}\n" for i in range(n))
    return "def f(d, e):\n" + loops


def nested_blocks(depth):
    lines = ["def f(d, k, e):\n"]
    for level in range(depth):
        keyword = ("if k in d:", "for x in e:", "while k not in d:", "try:")[level % 4]
        lines.append("    " * (level + 1) + keyword + "\n")
    lines.append("    " * (depth + 1) + "d[k] = e[k]\n")
    for level in reversed(range(depth)):
        if level % 4 == 3:
            lines.append("    " * (level + 1) + "finally:\n" + "    " * (level + 2) + "pass\n")
    return "".join(lines)


def run(mode, path):
    out = subprocess.run([str(BENCH), mode, str(path)], check=True, capture_output=True,
                         text=True).stdout.split()
    return float(out[0]), int(out[1])


def growth(title, shapes, mode, against):
    """Each shape at N = 10,000 and 20,000, timed in `mode` and `against`."""
    print(f"{title:<20}{'t(10k) s':>10}{'t(20k) s':>10}{'ratio':>8}"
          f"{against + '(10k) s':>14}{against + '(20k) s':>14}{'ratio':>8}")
    for name, make in shapes:
        times, others = [], []
        for n in (10000, 20000):
            path = OUT / f"{name.replace(' ', '_')}_{n}.py"
            path.write_text(make(n))
            times.append(run(mode, path)[0])
            others.append(run(against, path)[0])
        print(f"{name:<20}{times[0]:>10.4f}{times[1]:>10.4f}{times[1] / times[0]:>8.2f}"
              f"{others[0]:>14.4f}{others[1]:>14.4f}{others[1] / others[0]:>8.2f}")
    print()


def depths(title, make, mode, values):
    """A shape nested D deep, timed in `mode` against its parse."""
    print(f"{title:<20}{mode + ' s':>12}{'parse s':>10}{'ratio':>8}")
    for depth in values:
        path = OUT / f"{title.replace(' ', '_')}_{depth}.py"
        path.write_text(make(depth))
        timed, _ = run(mode, path)
        parse, _ = run("parse", path)
        print(f"{'D = ' + str(depth):<20}{timed:>12.4f}{parse:>10.4f}{timed / parse:>8.2f}")
    print()


def main():
    OUT.mkdir(exist_ok=True)
    growth("shape", [("call chain", chain), ("nested subscripts", nested_subscripts),
                     ("try sequence", try_sequence), ("brackets 5N", brackets),
                     ("comment lines", comment_lines),
                     ("continuation lines", continuation_lines)], "full", "parse")
    depths("nested functions", nested_functions, "full", (500, 1000))
    growth("flow shape", [("straight line", straight_line), ("elif chain", elif_chain),
                          ("many loops", many_loops)], "precise", "full")
    depths("nested blocks", nested_blocks, "precise", (100, 200))


if __name__ == "__main__":
    main()
