# A subscript of a list, tuple or string raises IndexError or TypeError,
# never KeyError.
import sys
import typing
from typing import List, Sequence


def literals(n, k):
    row = [1, 2, 3]
    pair = (n, k)
    text = "abc"
    shown = f"{n}"
    joined = "a" "b"
    squares = [i * i for i in range(n)]
    return row[k], pair[k], text[k], shown[k], joined[k], squares[k]


def calls(items, line, path, k):
    ordered = sorted(items)
    copied = list(items)
    frozen = tuple(items)
    backwards = reversed(items)
    numbers = range(10)
    fields = line.split(",")
    name = path.strip()
    words = " ".join(items)
    return ordered[k], copied[k], frozen[k], backwards[k], numbers[k], fields[k], name[k], words[k]


def parameters(a: list, b: List[str], c: typing.Sequence[int], d: Sequence, e: "list", *args):
    return a[d], b[d], c[d], d[e], e[a], args[a], sys.argv[a]  # expect: KH001


def annotated_local(make, k):
    found: list[str] = make()
    return found[k]


def positions(rows, other, n):
    for i in range(len(rows)):
        print(rows[i], other[i])
    for j, row in enumerate(rows):
        print(rows[j], row)
    for j, row in enumerate(other):
        print(rows[j])  # expect: KH001
    return rows[len(rows) - 1], rows[len(other) - n]  # expect: KH001


def mixed(flag, k):
    values = [1, 2]
    if flag:
        values = {"a": 1}
    return values[k]  # expect: KH001


def rebound_by_loop(items, k):
    current = []
    for current in items:
        pass
    return current[k]  # expect: KH001


def rebound_by_walrus(make, k):
    found = []
    if (found := make()):
        pass
    return found[k]  # expect: KH001


counter = []


def declared_global(k):
    global counter
    return counter[k]  # expect: KH001


class Buffer:
    prefix: str
    names: "list[str]"

    def __init__(self, lines, k):
        self._lines = list(lines)
        self._words: List[str] = k.words()
        self._table = {}
        self._mixed = []

    def reset(self):
        self._mixed = {}

    def read(self, i):
        return (self._lines[i], self._words[i], self.prefix[i], self._table[i],  # expect: KH001
                self._mixed[i], self.names[i])  # expect: KH001 KH001
