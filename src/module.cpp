// Module definition and execution step: creates the classes and adds every
// attribute, in the fixed namespace order, each name appended to __all__.
#include "utils/binding.hpp"
#include "utils/registry.hpp"

#include <cstring>

namespace quibra {
namespace {

enum class Kind { Type, HiddenType, Function, Value };

struct Entry {
    const char* name;
    Kind kind;
};

// The namespace, in order. Names not registered by any source file yet are
// skipped, so the order of those present is always the final one.
constexpr Entry kNamespace[] = {
    {"Some", Kind::Type}, {"NothingType", Kind::Type}, {"Option", Kind::Type},
    {"Ok", Kind::Type}, {"Err", Kind::Type}, {"Result", Kind::Type},
    {"Nothing", Kind::Value},
    {"first_opt", Kind::Function}, {"last_opt", Kind::Function}, {"nth_opt", Kind::Function},
    {"get_opt", Kind::Function}, {"get_in_opt", Kind::Function}, {"peek_opt", Kind::Function},
    {"RustIter", Kind::Type},
    {"count", Kind::Function}, {"first", Kind::Function}, {"second", Kind::Function},
    {"last", Kind::Function}, {"nth", Kind::Function}, {"get", Kind::Function},
    {"isdistinct", Kind::Function}, {"frequencies", Kind::Function}, {"topk", Kind::Function},
    {"peek", Kind::Function}, {"take", Kind::Function}, {"drop", Kind::Function},
    {"take_nth", Kind::Function}, {"tail", Kind::Function}, {"cons", Kind::Function},
    {"concat", Kind::Function}, {"concatv", Kind::Function}, {"interpose", Kind::Function},
    {"interleave", Kind::Function}, {"sliding_window", Kind::Function}, {"partition", Kind::Function},
    {"partition_all", Kind::Function}, {"merge_sorted", Kind::Function}, {"diff", Kind::Function},
    {"groupby", Kind::Function}, {"countby", Kind::Function}, {"reduceby", Kind::Function},
    {"mapcat", Kind::Function}, {"pluck", Kind::Function}, {"remove", Kind::Function},
    {"accumulate", Kind::Function}, {"iterate", Kind::Function}, {"unique", Kind::Function},
    {"join", Kind::Function},
    {"InterposeIter", Kind::HiddenType}, {"SlidingWindowIter", Kind::HiddenType},
    {"UniqueIter", Kind::HiddenType}, {"UniqueIntIter", Kind::HiddenType}, {"PluckIter", Kind::HiddenType},
    {"curry", Kind::Type},
    {"identity", Kind::Function}, {"apply", Kind::Function}, {"pipe", Kind::Function},
    {"do", Kind::Function}, {"compose", Kind::Function}, {"compose_left", Kind::Function},
    {"complement", Kind::Function}, {"juxt", Kind::Function}, {"excepts", Kind::Function},
    {"memoize", Kind::Function}, {"thread_first", Kind::Function}, {"thread_last", Kind::Function},
    {"flip", Kind::Value},
    {"merge", Kind::Function}, {"merge_with", Kind::Function}, {"assoc", Kind::Function},
    {"dissoc", Kind::Function}, {"assoc_in", Kind::Function}, {"update_in", Kind::Function},
    {"get_in", Kind::Function}, {"keymap", Kind::Function}, {"valmap", Kind::Function},
    {"itemmap", Kind::Function}, {"keyfilter", Kind::Function}, {"valfilter", Kind::Function},
    {"itemfilter", Kind::Function},
    {"Iter", Kind::Type},
};

TypeCell* find_type(const char* name) {
    for (TypeCell* cell : registered_exports().types)
        if (std::strcmp(cell->name(), name) == 0) return cell;
    return nullptr;
}

const ValueExport* find_value(const char* name) {
    for (const ValueExport& v : registered_exports().values)
        if (std::strcmp(v.name, name) == 0) return &v;
    return nullptr;
}

// Appends the name to __all__ (created on first use), then sets the attribute.
Status add_attribute(PyObject* module, const char* name, PyObject* value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::fetch();
        PyErr_Clear();
        QB_TRY(all, checked(PyList_New(0)));
        QB_CHECK(checked_status(PyObject_SetAttrString(module, "__all__", all.get())));
    }
    QB_TRY(Ref text, checked(PyUnicode_FromString(name)));
    QB_CHECK(checked_status(PyList_Append(all.get(), text.get())));
    return checked_status(PyObject_SetAttr(module, text.get(), value));
}

Status add_entry(PyObject* module, PyObject* module_name, const Entry& e) {
    switch (e.kind) {
        case Kind::Type:
        case Kind::HiddenType: {
            TypeCell* cell = find_type(e.name);
            if (!cell) return success();
            QB_TRY(PyTypeObject * type, cell->get_or_raise());
            if (e.kind == Kind::HiddenType) return success();
            return add_attribute(module, e.name, reinterpret_cast<PyObject*>(type));
        }
        case Kind::Function: {
            const PyMethodDef* def = find_function(e.name);
            if (!def) return success();
            QB_TRY(Ref fn, checked(PyCFunction_NewEx(const_cast<PyMethodDef*>(def), module, module_name)));
            return add_attribute(module, e.name, fn.get());
        }
        case Kind::Value: {
            const ValueExport* v = find_value(e.name);
            if (!v) return success();
            QB_TRY(Ref value, v->make(module));
            return add_attribute(module, e.name, value.get());
        }
    }
    return success();
}

int exec_module(PyObject* module) noexcept {
    if (!PyModule_Check(module)) {
        type_check_error(module, "PyModule").raise();
        return -1;
    }
    try {
        Ref module_name = Ref::steal(PyModule_GetNameObject(module));
        if (!module_name) return -1;
        for (const Entry& e : kNamespace) {
            Status s = add_entry(module, module_name.get(), e);
            if (!s) {
                std::move(s).error().raise();
                return -1;
            }
        }
        return 0;
    } catch (...) {
        raise_internal_fault(std::current_exception(), "module initialisation failed");
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_quibra",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quibra

PyMODINIT_FUNC PyInit__quibra();
PyMODINIT_FUNC PyInit__quibra() {
    return PyModuleDef_Init(&quibra::module_def);
}
