# A file that does not parse gets one KH003 at its first error.
def broken(:  # expect: KH003
    return d["k"]  # expect: KH001
