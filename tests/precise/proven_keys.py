# What a function has made sure of on every path to a lookup, and the near
# misses that must still be reported.
import contextlib
from contextlib import suppress

ROUTES = {"home": "/", "about": "/about"}
LEVELS = ("debug", "info")
REGISTRY = {"a": 1}
SHRINKING = {"a": 1}


def register(name, value):
    REGISTRY[name] = value


def forget(name):
    del SHRINKING[name]  # expect: KH001


def else_of_not_in(d, k):
    if k not in d:
        print("absent")
    else:
        print(d[k])


def set_if_absent(groups, key, item):
    if key not in groups:
        groups[key] = []
    groups[key].append(item)


class Memo:
    def get(self, k):
        if k not in self.cache:
            self.cache[k] = compute(k)
        return self.cache[k]


def not_get_continue(rows, k):
    for row in rows:
        if not row.get(k):
            continue
        print(row[k])


def isinstance_of_get(d, k):
    if isinstance(d.get(k), dict):
        return d[k]["x"]  # expect: KH001


def walrus_in(d):
    if (k := pick()) in d and d[k]:
        return d[k]


def while_not_in(d, k):
    while k not in d:
        d[k] = make()
    return d[k]


def read_twice(cfg):
    host = cfg["host"]  # expect: KH001
    print(cfg["host"], host)


def get_is_none_exits(d, k):
    if d.get(k) is None:
        raise ValueError(k)
    return d[k]


def store_on_one_branch(d, k, flag):
    if flag:
        d[k] = 1
    return d[k]  # expect: KH001


def early_exit_on_another_key(d, k, j):
    if j not in d:
        return None
    return d[k]  # expect: KH001


def no_exit(d, k):
    if k not in d:
        log()
    return d[k]  # expect: KH001


def deleted_later_in_the_loop(d, k, rows):
    d[k] = 0
    for row in rows:
        print(d[k])  # expect: KH001
        del d[k]


def popped_on_one_path(d, k, flag):
    d[k] = 0
    if flag:
        d.pop(k)
    return d[k]  # expect: KH001


def rebound_key(d, k):
    if k in d:
        k = other()
        return d[k]  # expect: KH001


def rebound_container(d, k):
    if k in d:
        d = load()
        return d[k]  # expect: KH001


def literal_keys():
    d = {"a": 1, 'b': 2}
    options = dict(verbose=True)
    return d["a"] + d["b"] + d["c"] + options["verbose"]  # expect: KH001


def first_key(d):
    k = next(iter(d))
    return d[k]


def try_else(d, k):
    try:
        value = d[k]
    except KeyError:
        return None
    else:
        return d[k], value


def handler_does_not_know(d, k):
    try:
        d.pop(k)
        d[k] = 1
    except ValueError:
        return d[k]  # expect: KH001
    return d[k]


def finally_runs_on_the_way_out(d, k, rows):
    for row in rows:
        try:
            if k not in d:
                break
        finally:
            print(row)
    return d[k]  # expect: KH001


def match_without_catch_all(d, k, command):
    match command:
        case "store":
            d[k] = 1
        case "load":
            d[k] = 2
    return d[k]  # expect: KH001


def match_with_catch_all(d, k, command):
    match command:
        case "store":
            d[k] = 1
        case _:
            d[k] = 2
    return d[k]


def suppressed(d, k):
    with suppress(KeyError):
        print(d[k])
    with contextlib.suppress(LookupError):
        print(d["x"])
    with suppress(ValueError):
        print(d["y"])  # expect: KH001


def suppressed_call(k):
    with suppress(KeyError):
        return read_twice(k)


def module_constants(page, i):
    print(ROUTES["home"], LEVELS[i], REGISTRY["a"])
    print(ROUTES[page])  # expect: KH001
    print(REGISTRY["b"])  # expect: KH001
    print(SHRINKING["a"])  # expect: KH001


def shadowed(ROUTES):
    return ROUTES["home"]  # expect: KH001


def module_itself():
    import sys
    return globals()["__file__"], sys.modules[__name__], globals()["spam"]  # expect: KH001


def lambda_runs_later(d, k):
    if k in d:
        return lambda: d[k]  # expect: KH001


def comprehension_filter(d, keys):
    return [d[k] for k in keys if k in d]


def conditional_expression(d, k):
    return d[k] if k in d else d[k]  # expect: KH001


REBOUND = ("a", "b")


def rebind_the_module_name():
    global REBOUND
    REBOUND = {}


def read_a_rebound_name(i):
    return REBOUND[i]  # expect: KH001


def a_local_shadows_the_module_name(i):
    LEVELS = load()
    return LEVELS[i]  # expect: KH001


def fromkeys_read_in_a_loop(names):
    seen = dict.fromkeys(names, False)
    for name in names:
        seen[name] = not seen[name]
    for other in load():
        print(seen[other])  # expect: KH001


def comprehension_keys(rows):
    index = {row: i for row in rows}
    return [index[row] for row in rows]


def items_rebound_before_the_loop(names):
    seen = dict.fromkeys(names)
    names = load()
    for name in names:
        print(seen[name])  # expect: KH001
