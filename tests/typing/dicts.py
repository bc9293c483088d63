"""Dictionary functions, with and without a factory."""

from collections import OrderedDict
from collections.abc import MutableMapping
from typing import Any, assert_type

import quibra as q


def merging(a: dict[str, int], b: dict[str, int], c: dict[str, str]) -> None:
    assert_type(q.merge(a, b), dict[str, int])
    assert_type(q.merge([a, b]), dict[str, int])
    assert_type(q.merge(a, b, factory=OrderedDict), MutableMapping[str, int])
    assert_type(q.merge_with(sum, a, b), dict[str, int])
    assert_type(q.merge_with(tuple, [a, b]), dict[str, tuple[int, ...]])
    assert_type(q.merge_with(len, c, factory=dict), MutableMapping[str, int])

    q.merge(a, 5)  # type: ignore[call-overload]
    q.merge_with(sum, c)  # type: ignore[arg-type]
    q.merge(a, factory=list)  # type: ignore[arg-type]


def updating(a: dict[str, int], nested: dict[str, dict[str, int]]) -> None:
    assert_type(q.assoc(a, "k", 1), dict[str, int])
    assert_type(q.assoc(a, 2, "v"), dict[str | int, int | str])
    assert_type(q.dissoc(a, "x", "y"), dict[str, int])
    assert_type(q.assoc_in(nested, ["a", "b"], 1), dict[Any, Any])
    assert_type(q.assoc_in(nested, ["a"], {}, factory=OrderedDict[str, Any]), OrderedDict[str, Any])
    assert_type(q.update_in(nested, ["a", "b"], lambda v: v + 1, default=0), dict[Any, Any])
    assert_type(q.update_in(nested, ["a"], len, None, OrderedDict[str, Any]), OrderedDict[str, Any])
    assert_type(q.get_in(["a", "b"], nested), Any)

    q.dissoc(a, 1)  # type: ignore[misc]
    q.assoc_in(nested, 5, 1)  # type: ignore[call-overload]
    q.update_in(nested, ["a"], 5)  # type: ignore[call-overload]
    q.get_in(["a"], nested, no_default=1)  # type: ignore[arg-type]


def mapping(a: dict[str, int]) -> None:
    assert_type(q.keymap(str.upper, a), dict[str, int])
    assert_type(q.valmap(float, a), dict[str, float])
    assert_type(q.itemmap(lambda kv: (kv[1], kv[0]), a), dict[int, str])
    assert_type(q.keyfilter(str.isupper, a), dict[str, int])
    assert_type(q.valfilter(bool, a), dict[str, int])
    assert_type(q.itemfilter(lambda kv: kv[1] > 0, a), dict[str, int])
    assert_type(q.valmap(str, a, factory=OrderedDict), MutableMapping[str, str])

    q.keymap(str.upper, {1: 2})  # type: ignore[arg-type]
    q.valmap(len, a)  # type: ignore[arg-type]
    q.itemmap(lambda kv: kv[0], a)  # type: ignore[arg-type,return-value]
    q.valfilter(bool, [1])  # type: ignore[call-overload]
