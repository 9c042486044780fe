# Subscripts in annotations, base classes and of known generics are types.
import typing
import typing as t
from collections import abc
import collections.abc


class Base(typing.Generic[T], Mapping[str, int]):
    pass


def f(x: t.Dict[str, int], y: list[str | None] = None) -> typing.Iterator[int]:
    z: dict[str, t.Any] = {}
    alias = Optional[int]
    other = collections.abc.Mapping[str, int]
    spelled = typing_extensions.Literal["a"]
    w = x["key"]  # expect: KH001
    s: "d[k]" = y[0]
    return Union[int, str], abc.Mapping[str, int]  # expect: KH001


type Pairs = list[tuple[int, int]]
