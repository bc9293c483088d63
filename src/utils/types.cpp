#include "utils/types.hpp"

#include <string>

namespace quibra {

namespace {

// A type made from its spec with the module that owns it; `__doc__` is left
// None when the docstring is only a text signature.
Result<Ref> create_type(PyObject* module, PyType_Spec* spec) {
    QB_TRY(Ref type, checked(PyType_FromModuleAndSpec(module, spec, nullptr)));
    // A docstring made only of a text signature publishes __text_signature__
    // and leaves __doc__ None, as for builtin functions.
    PyObject* dict = reinterpret_cast<PyTypeObject*>(type.get())->tp_dict;
    PyObject* doc;
    if (PyDict_GetItemStringRef(dict, "__doc__", &doc) < 0) return Error::fetch();
    Ref held = Ref::steal(doc);
    if (doc && PyUnicode_Check(doc) && PyUnicode_GET_LENGTH(doc) == 0)
        QB_CHECK(checked_status(PyDict_SetItemString(dict, "__doc__", Py_None)));
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    return type;
}

}  // namespace

Status TypeCell::make_all(PyObject* module, ModuleState& state) {
    for (std::size_t i = 0; i < count(); ++i) {
        TypeCell& cell = *all()[i];
        QB_TRY(Ref type, create_type(module, cell.spec_));
        for (PyMethodDef* def = cell.statics_; def && def->ml_name; ++def) {
            QB_TRY(Ref fn, checked(PyCFunction_NewEx(def, type.get(), nullptr)));
            QB_TRY(Ref method, checked(PyStaticMethod_New(fn.get())));
            QB_CHECK(checked_status(PyObject_SetAttrString(type.get(), def->ml_name, method.get())));
        }
        if (cell.finish_) QB_CHECK(cell.finish_(reinterpret_cast<PyTypeObject*>(type.get())));
        state.set_type(cell.index_, std::move(type));
    }
    return success();
}

Error TypeCell::missing() const {
    PyErr_SetString(PyExc_SystemError, "the module's classes were already released");
    PyErr_WriteUnraisable(nullptr);
    return Error::panic(std::string("failed to create type object for `") + name_ + "`");
}

}  // namespace quibra
