# Each lookup once, under the innermost function; module-level lookups under
# <module>; bare calls relate to functions by scope.
CONFIG = {}
PORT = CONFIG["port"]  # expect: KH001


def lookup(d):
    return d["k"]  # expect: KH001


def relay(d):
    return lookup(d)


def caller(d):
    return relay(d)  # expect: KH002


def outer(d):
    def inner():
        return d["inner"]  # expect: KH001
    return inner()


def shadowed(relay):
    return relay(1)


def local_name(d):
    relay = print
    return relay(d)


class Box:
    def get(self, d):
        return d["m"]  # expect: KH001

    def use(self):
        return get(self)


def uses_method(box):
    return get(box)


relay({})  # expect: KH002
