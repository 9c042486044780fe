# Calls find the function their scopes bind the name to, and a function
# raises only through the code that runs when it is called.
import functools


def shadows_the_helper(d):
    def helper(x):
        return x
    return helper(d)


def helper(d):
    return d["k"]  # expect: KH001


def calls_the_module_helper(d):
    return helper(d)


def first():
    def inner():
        return 1
    return inner()


def second(d):
    def inner():
        return d["x"]  # expect: KH001
    return inner


def relay_first():
    return first()


def retry(function):
    @functools.wraps(function)
    def wrapper(*args):
        return function(*args)["result"]  # expect: KH001
    return wrapper


def decorated_at_import():
    return retry(print)


def make_getter(d):
    return lambda k: d[k]  # expect: KH001


def uses_the_factory(d):
    return make_getter(d)


class Store:
    def load(self, key):
        return self.data[key]  # expect: KH001

    def relay(self, key):
        return self.load(key)

    def load_through_the_relay(self, key):
        return self.relay(key)  # expect: KH002

    @classmethod
    def default(cls, key):
        return cls.fallback(key)

    @classmethod
    def fallback(cls, key):
        return key


def calls_relay(d):
    return relay_first() + calls_the_module_helper(d)  # expect: KH002
