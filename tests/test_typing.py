"""The annotation aliases of quibra.typing at run time."""

import typing

import quibra
from quibra import typing as qt


def test_aliases_resolve_in_evaluated_annotations():
    def parse(text: qt.Option[str]) -> qt.Result[int, ValueError]: ...

    hints = typing.get_type_hints(parse)
    assert (typing.get_origin(hints["text"]), typing.get_args(hints["text"])) == (qt.Option, (str,))
    assert typing.get_args(hints["return"]) == (int, ValueError)
    # The values are the plain unions, usable with isinstance.
    assert isinstance(quibra.Some(1), qt.Option.__value__) and isinstance(quibra.Nothing, qt.Option.__value__)
    assert isinstance(quibra.Err(1), qt.Result.__value__) and not isinstance(quibra.Some(1), qt.Result.__value__)
