# Lookups under a membership test of the same container and key.
def guarded(d, k, other, cfg):
    if k in d:
        print(d[k])
    if k in d and other:
        print(d[k])
    elif k in cfg:
        print(cfg[k])
    while k in d:
        d[k]
    x = d[k] if k in d else None
    y = k in d and d[k]
    assert k in cfg
    print(cfg[k], cfg [ k ])
    return x, y


def the_else_of_a_test(d, k):
    if k in d:
        return 1
    else:
        print(d[k])  # expect: KH001


def another_key(d, k, other):
    if other in d:
        print(d[k])  # expect: KH001


def either_of_two(d, k, other):
    if k in d or other:
        print(d[k])  # expect: KH001


def tested_too_late(d, k):
    z = d[k] and k in d  # expect: KH001
    return z


def loops(d, items):
    for key in d:
        print(d[key])
    for key in d.keys():
        print(d[key])
    for key, value in d.items():
        print(d[key])
    for key in items:
        print(d[key])  # expect: KH001
    return {key: d[key] for key in d}, [d[k] for k, _ in d.items()]


def early_exit(d, k):
    if k not in d:
        return None
    return d[k]


def no_early_exit(d, k):
    if k not in d:
        print("missing")
    return d[k]  # expect: KH001


def other_names(env):
    import os
    return env["PATH"] + os.environ["HOME"]  # expect: KH001 KH001
