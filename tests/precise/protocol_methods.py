# Raising KeyError for a missing key is the contract of __getitem__,
# __missing__ and __delitem__; a defaultdict or Counter attribute never
# raises it.
from collections import Counter, defaultdict
from typing import DefaultDict


class Registry:
    counts: Counter

    def __init__(self):
        self._items = {}
        self._groups = defaultdict(list)
        self._seen: DefaultDict[str, int] = defaultdict(int)
        self._sometimes = defaultdict(int)

    def __getitem__(self, key):
        return self._items[key]

    def __missing__(self, name):
        return self._items[name], self._items["fallback"]  # expect: KH001

    def __delitem__(self, key):
        del self._items[key]

    def get(self, key):
        return self._items[key]  # expect: KH001

    def add(self, group, item):
        self._groups[group].append(item)
        self._seen[item] += 1
        self.counts[item] += 1
        return self._sometimes[item]  # expect: KH001

    def replace(self):
        self._sometimes = {}


def __getitem__(table, key):
    return table[key]  # expect: KH001
