#include "utils/capi.hpp"

#include <cstring>

namespace quibra {

Result<Ref> basic_object(PyObject* p, const char* what) {
    if (p) return Ref::steal(p);
    PyErr_WriteUnraisable(nullptr);
    return Error::panic(std::string("failed to create ") + what);
}
Result<Ref> new_tuple(Py_ssize_t n) { return basic_object(PyTuple_New(n), "tuple"); }
Result<Ref> new_list(Py_ssize_t n) { return basic_object(PyList_New(n), "list"); }
Result<Ref> new_dict(Py_ssize_t expected) {
    return basic_object(expected > 5 ? _PyDict_NewPresized(expected) : PyDict_New(), "dict");
}

std::string type_qualname(PyObject* obj) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (name) {
        if (const char* s = PyUnicode_AsUTF8(name.get())) return s;
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

Error type_check_error(PyObject* obj, const char* expected) {
    if (obj == Py_None) return Error::type_error(std::string("'None' is not an instance of '") + expected + "'");
    return Error::type_error("'" + type_qualname(obj) + "' object is not an instance of '" + expected + "'");
}

std::string display_str(PyObject* obj) {
    Ref s = Ref::steal(PyObject_Str(obj));
    if (s) {
        if (const char* text = PyUnicode_AsUTF8(s.get())) return text;
    }
    PyErr_WriteUnraisable(obj);
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        if (const char* text = PyUnicode_AsUTF8(name.get())) return std::string("<unprintable ") + text + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

Result<Ref> import_attr(const char* module, const char* attr) {
    QB_TRY(Ref mod, checked(PyImport_ImportModule(module)));
    return checked(PyObject_GetAttrString(mod.get(), attr));
}

bool is_operator_builtin(PyObject* f, const char* name) noexcept {
    if (!PyCFunction_CheckExact(f) || std::strcmp(reinterpret_cast<PyCFunctionObject*>(f)->m_ml->ml_name, name) != 0)
        return false;
    PyObject* module = PyCFunction_GET_SELF(f);
    if (!module || !PyModule_Check(module)) return false;
    const char* module_name = PyModule_GetName(module);
    if (!module_name) return (PyErr_Clear(), false);
    return std::strcmp(module_name, "_operator") == 0;
}

}  // namespace quibra
