#include "utils/types.hpp"

#include <string>

namespace quibra {

Result<Ref> create_type(PyType_Spec* spec) {
    QB_TRY(Ref type, checked(PyType_FromSpec(spec)));
    // A docstring made only of a text signature publishes __text_signature__
    // and leaves __doc__ None, as for builtin functions.
    PyObject* dict = reinterpret_cast<PyTypeObject*>(type.get())->tp_dict;
    PyObject* doc = PyDict_GetItemString(dict, "__doc__");
    if (doc && PyUnicode_Check(doc) && PyUnicode_GET_LENGTH(doc) == 0)
        QB_CHECK(checked_status(PyDict_SetItemString(dict, "__doc__", Py_None)));
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    return type;
}

Result<PyTypeObject*> TypeCell::get() {
    Result<PyTypeObject*> r = get_or_raise();
    if (r) return r;
    std::move(r).error().raise();
    PyErr_WriteUnraisable(nullptr);
    return Error::panic(std::string("failed to create type object for `") + name_ + "`");
}

}  // namespace quibra
