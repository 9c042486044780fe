# What kind of value a name holds on every path: a subscript of a sequence
# looks no key up.
import typing as t


def appended(rows, i):
    found = None
    found = [0]
    found.append(rows)
    return found[i]


def grown_by_append(out, i):
    out.append(1)
    return out[i]


def comprehension(rows, i):
    squares = [r * r for r in rows]
    return squares[i]


def annotated(i):
    names: t.List[str] = load()
    return names[i]


def literal_by_bool(flag):
    return ("no", "yes")[flag]


def array_shape(array, style):
    return array.shape[0], array.shape[-1], style.shape["width"]  # expect: KH001


def position_from_index(items, item, table):
    i = items.index(item)
    return items[i], table[i]  # expect: KH001


def a_sequence_on_one_path_only(flag, i):
    values = {}
    if flag:
        values = []
    return values[i]  # expect: KH001


def rebound_after(i):
    names = ["a"]
    names = load()
    return names[i]  # expect: KH001


def arrays(n, i, j):
    grid = np.zeros((n, n))
    weights: torch.Tensor = load()
    full = numpy.ones(n)
    return grid[i, j] + weights[i] + full[i]


def array_load(path, i):
    data = np.load(path)
    return data[i]  # expect: KH001
