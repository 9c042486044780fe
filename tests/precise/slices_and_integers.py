# Slices and integer indexes cannot raise KeyError on sequences.
def slices(text, grid, d, k):
    a = text[1:3]
    b = grid[1:2, 3]
    c = grid[::2]
    e = text[0] + text[-1] + grid[10]
    f = d[k]  # expect: KH001
    g = d["0"]  # expect: KH001
    h = d[1 + 1]  # expect: KH001
    i = d[0, 1]  # expect: KH001
    j = d[+1]  # expect: KH001
    return a, b, c, e, f, g, h, i, j
