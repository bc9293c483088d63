"""The API reference's examples run as written."""

import doctest
import pathlib

import quibra

API = pathlib.Path(__file__).resolve().parent.parent / "docs" / "api.md"


def test_api_reference_examples():
    failures, tried = doctest.testfile(str(API), module_relative=False, optionflags=doctest.ELLIPSIS)
    # One example or more per public name, so a dropped section shows up too.
    assert failures == 0 and tried >= len(quibra.__all__)
