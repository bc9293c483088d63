"""The README's examples run as written."""

import doctest
import pathlib


def test_readme_examples():
    readme = pathlib.Path(__file__).resolve().parent.parent / "README.md"
    failures, tried = doctest.testfile(str(readme), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert tried > 20 and failures == 0
