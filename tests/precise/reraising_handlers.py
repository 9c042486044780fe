# A handler that re-raises what it caught lets the KeyError escape; one that
# handles it, or raises something else, guards.
import logging


class ConfigError(Exception):
    pass


def logged(d, k):
    try:
        return d[k]  # expect: KH001
    except Exception as e:
        logging.error(e)
        raise


def named(d, k):
    try:
        return d[k]  # expect: KH001
    except KeyError as error:
        raise error


def bare(d, k):
    try:
        return d[k]  # expect: KH001
    except:  # noqa: E722
        logging.error("failed")
        raise


def every_branch(d, k, verbose):
    try:
        return d[k]  # expect: KH001
    except LookupError:
        if verbose:
            logging.error("missing")
            raise
        else:
            raise


def translated(d, k):
    try:
        return d[k]
    except KeyError as e:
        raise ConfigError(k) from e


def handled(d, k):
    try:
        return d[k]
    except Exception:
        logging.error("failed")
        return None


def sometimes(d, k, strict):
    try:
        return d[k]
    except KeyError:
        if strict:
            raise
        return None


def branch_without_else(d, k, strict):
    try:
        return d[k]
    except KeyError:
        if strict:
            raise


def other_name(d, k, other):
    try:
        return d[k]
    except KeyError as e:
        raise other


def first_handler_decides(d, k):
    try:
        return d[k]
    except KeyError:
        return None
    except Exception:
        raise


def not_the_first(d, k):
    try:
        return d[k]  # expect: KH001
    except ValueError:
        return None
    except KeyError:
        raise
    except Exception:
        return None


def nested_function_returns(d, k):
    try:
        return d[k]  # expect: KH001
    except KeyError:
        def describe():
            return "missing"
        logging.error(describe())
        raise


def loop_breaks(d, k, tries):
    try:
        return d[k]
    except KeyError:
        for _ in tries:
            break
        raise
