# Stores: an assignment or for target is no lookup; only the outermost
# subscript of a target is the store.
def stores(d, k, v, rows):
    d[k] = v
    d[k] = d[v] = 1
    d[k], [d[v], *d[rows]] = 1, 2, 3
    (d[k]) = 4
    for d[k] in rows:
        pass
    d["a"]["b"] = 5  # expect: KH001
    d["n"] += 1  # expect: KH001
    del d[k]
    return [d[k] for d[k] in rows]
