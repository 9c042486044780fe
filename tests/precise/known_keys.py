# A key the function has just stored, read or checked is there.


def stored(d, k, v):
    d[k] = v
    return d[k]


def read_twice(d, k):
    first = d[k]  # expect: KH001
    return first, d[k]


def set_by_default(d, k):
    d.setdefault(k, [])
    return d[k]


def literal(port):
    options = {"host": "localhost", 'port': port}
    settings = dict(debug=True)
    return options["host"], options["port"], settings["debug"], options["user"]  # expect: KH001


def checked(d, k):
    if d.get(k):
        print(d[k])
    if d.get(k) is not None:
        print(d[k])
    if k in d.keys():
        print(d[k])
    if d.get(k) is None:
        print(d[k])  # expect: KH001


def taken_from_the_mapping(d):
    first = next(iter(d))
    for name in sorted(d):
        print(d[name])
    for name in list(d):
        print(d[name])
    for name in d.copy():
        print(d[name])
    return d[first]


def only_in_a_branch(d, k, flag):
    if flag:
        d[k] = 1
    return d[k]  # expect: KH001


def inside_the_branch(d, k, flag):
    if flag:
        d[k] = 1
        return d[k]
    return None


def maybe_not_run(d, k, flag):
    flag and d.setdefault(k, 1)
    value = d[k] if flag else None  # expect: KH001
    return value, d[k]  # expect: KH001


def forgotten(d, k, e):
    d[k] = 1
    del d[k]
    print(d[k])  # expect: KH001
    d[k] = 1
    d.pop(e)
    print(d[k])  # expect: KH001
    d[k] = 1
    d.clear()
    print(d[k])  # expect: KH001
    d[k] = 1
    d = {}
    print(d[k])  # expect: KH001
    d[k] = 1
    k = e
    print(d[k])  # expect: KH001
    d[k] = 1
    k += 1
    return d[k]  # expect: KH001


def rebound_in_the_same_statement(d, k):
    d = d[k]  # expect: KH001
    return d[k]  # expect: KH001


def forgotten_later_in_the_loop(d, k, items):
    d[k] = 1
    for item in items:
        print(d[k])  # expect: KH001
        del d[item]  # expect: KH001


def kept_in_the_loop(d, k, items):
    d[k] = 1
    for item in items:
        print(d[k], item)


def another_function(d, k):
    d[k] = 1

    def later():
        return d[k]  # expect: KH001
    return later, [d[k] for k in d.values()]  # expect: KH001


def after_try(d, k):
    try:
        value = d[k]
    except KeyError:
        value = None
    return value, d[k]  # expect: KH001
