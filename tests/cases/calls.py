class Store:
    def load(self, key):
        return self.data[key]

    def get(self, key):
        return self.load(key)


def leaf(table, key):
    return table[key]


def middle(table):
    return leaf(table, "x")


def top(table):
    value = middle(table); other = middle(table)
    return value + other


def recursive(n, memo):
    if n in memo:
        return memo[n]
    return recursive(n - 1, memo)


async def fetch(session, url):
    response = await session.get(url)
    return response.headers["content-type"]


@decorator(leaf({}, "k"))
def decorated():
    return lambda d: d[0]


top({})
