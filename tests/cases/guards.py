import builtins


def bare(d):
    try:
        return d["a"]
    except:
        return None


def lookup_error(d):
    try:
        return d["a"]
    except (TypeError, LookupError) as error:
        raise RuntimeError() from error


def builtin_name(d):
    try:
        return d["a"]
    except builtins.KeyError:
        pass
    finally:
        d["cleanup"] = True


def wrong_handler(d):
    try:
        return d["a"]
    except ValueError:
        return d.get("a")


def group(d):
    try:
        return d["a"]
    except* KeyError:
        pass
