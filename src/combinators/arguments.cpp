#include "combinators/combinators.hpp"

namespace quibra {

Result<Ref> positional_tuple(PyObject* const* args, Py_ssize_t nargs) {
    QB_TRY(Ref t, new_tuple(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(t.get(), i, Py_NewRef(args[i]));
    return t;
}

Status store_keywords(PyObject* dict, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Py_ssize_t nkw = keyword_count(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i)
        QB_CHECK(checked_status(PyDict_SetItem(dict, PyTuple_GET_ITEM(kwnames, i), args[nargs + i])));
    return success();
}

}  // namespace quibra
