"""Function combinators against their plain-Python equivalents."""

import functools
from operator import neg

import quibra as q
from harness import row


def _add3(a, b, c):
    return a + b + c


def _inc(x):
    return x + 1


_composed = q.compose(abs, neg, abs)
_lambda_chain = lambda x: abs(neg(abs(x)))  # noqa: E731
row("compose: three builtins, one call", "compose", lambda: -7, _composed, _lambda_chain,
    "lambda x: abs(neg(abs(x)))")


def _py_pipe(data, *funcs):
    for f in funcs:
        data = f(data)
    return data


_pipe = q.pipe
row("pipe: three builtins", "pipe", lambda: -7, lambda x: _pipe(x, abs, neg, abs),
    lambda x: _py_pipe(x, abs, neg, abs), "for-loop pipe(x, *funcs)")
row("pipe: ten Python functions", "pipe", lambda: 0, lambda x: _pipe(x, *[_inc] * 10),
    lambda x: _py_pipe(x, *[_inc] * 10), "for-loop pipe(x, *funcs)")
def _py_thread_last(val, *forms):
    for form in forms:
        if isinstance(form, tuple):
            val = form[0](*form[1:], val)
        else:
            val = form(val)
    return val


_forms = ((pow, 2), (max, 1), abs, (divmod, 100))
row("thread_last: four forms", "thread_last", lambda: 3, lambda x: q.thread_last(x, *_forms),
    lambda x: _py_thread_last(x, *_forms), "for-loop thread_last")


def _py_memoize(func):
    cache = {}

    def wrapper(x):
        try:
            return cache[x]
        except KeyError:
            result = cache[x] = func(x)
            return result
    return wrapper


_memo = q.memoize(_inc)
_py_memo = _py_memoize(_inc)
row("memoize: hit of a unary function", "memoize", lambda: 42, _memo, _py_memo,
    "closure over a dict: cache[x]")

_memo2 = q.memoize(_add3)
_py_memo2 = functools.cache(_add3)
row("memoize: hit of a three-argument function", "memoize", lambda: 2,
    lambda x: _memo2(1, x, 3), lambda x: _py_memo2(1, x, 3), "functools.cache")

def _add2(a, b):
    return a + b


_curried = q.curry(_add3)(1, 2)
_partial = functools.partial(_add3, 1, 2)
row("curry: completing call", "curry", lambda: 3, _curried, _partial, "functools.partial")
_curry2 = q.curry(_add2)
_partial2 = functools.partial
row("curry: c(1, 2) of a two-parameter function", "curry", lambda: 2, lambda x: _curry2(1, x),
    lambda x: _partial2(_add2, 1)(x), "functools.partial(f, 1)(2)")
row("curry: c(1)(2) of a two-parameter function", "curry", lambda: 2, lambda x: _curry2(1)(x),
    lambda x: _partial2(_add2, 1)(x), "functools.partial(f, 1)(2)")

_juxt = q.juxt(abs, str, float)
def _py_juxt(*funcs):
    def call(*args, **kwargs):
        return tuple(f(*args, **kwargs) for f in funcs)
    return call


row("juxt: three builtins", "juxt", lambda: -2, _juxt, _py_juxt(abs, str, float),
    "closure: tuple(f(*args) for f in funcs)")
_not_odd = q.complement(_inc)
row("complement: Python predicate", "complement", lambda: 3, _not_odd, lambda x: not _inc(x),
    "lambda x: not f(x)")
_not_bool = q.complement(bool)
row("complement: builtin predicate", "complement", lambda: 3, _not_bool, lambda x: not bool(x),
    "lambda x: not bool(x)")
