"""A small inventory module with the lookups keyhound is made to find."""

PRICES = {"apple": 0.5, "pear": 0.75}


def price_of(item):
    # Raises KeyError for an unknown item.
    return PRICES[item]


def total(basket):
    return sum(price_of(item) * count for item, count in basket.items())


def safe_total(basket):
    try:
        return total(basket)
    except KeyError:
        return None


def describe(order):
    try:
        return f"{order['id']}: {order['count']} items"
    except ValueError:
        # ValueError does not catch a KeyError: both lookups are reported.
        return "bad order"


print(total({"apple": 2}))
