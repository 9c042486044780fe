# Names only ever bound to defaultdict or Counter cannot raise KeyError.
import collections
from collections import Counter, defaultdict


def count(words):
    seen = defaultdict(int)
    totals = collections.Counter()
    for word in words:
        seen[word] += 1
        totals[word] += 1
    return seen["x"], totals["y"]


def rebound(words, flag):
    seen = defaultdict(list)
    if flag:
        seen = {}
    return seen["x"]  # expect: KH001


def parameter(seen):
    return seen["x"]  # expect: KH001


def elsewhere():
    mine = {}
    return mine["x"]  # expect: KH001
