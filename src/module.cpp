// Module definition and execution step: makes the module's state and
// classes and adds every attribute, in the fixed namespace order, each name
// appended to __all__.
#include "utils/binding.hpp"
#include "utils/registry.hpp"
#include "utils/state.hpp"
#include "utils/types.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace quibra {
namespace {

enum class Kind { Type, HiddenType, Function, Value };

struct Entry {
    const char* name;
    Kind kind;
};

// The namespace, in order: the one place that decides what is published.
// Source files register their functions, types and values; the execution
// step refuses to run when the two disagree (see check_registrations), so a
// function added to a table cannot silently stay unexported.
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

const Entry* find_entry(const char* name, std::initializer_list<Kind> kinds) {
    for (const Entry& e : kNamespace)
        if (std::strcmp(e.name, name) == 0 && std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end()) return &e;
    return nullptr;
}

bool is_registered(const Exports& exports, const Entry& e) {
    auto named = [&e](const char* name) { return std::strcmp(name, e.name) == 0; };
    switch (e.kind) {
        case Kind::Type:
        case Kind::HiddenType:
            return std::ranges::any_of(exports.types, [&](const TypeCell* t) { return named(t->name()); });
        case Kind::Function:
            return std::ranges::any_of(exports.functions, [&](const PyMethodDef* f) { return named(f->ml_name); });
        case Kind::Value:
            return std::ranges::any_of(exports.values, [&](const ValueExport& v) { return named(v.name); });
    }
    return false;
}

// Every registration has its place in the order and every ordered name is
// registered.
Status check_registrations(const Exports& exports) {
    std::string problems;
    auto note = [&problems](const char* what, const char* name) {
        problems += problems.empty() ? "" : "; ";
        problems += std::string(what) + " '" + name + "'";
    };
    for (const PyMethodDef* f : exports.functions)
        if (!find_entry(f->ml_name, {Kind::Function})) note("registered function missing from the namespace order:", f->ml_name);
    for (const TypeCell* t : exports.types)
        if (!find_entry(t->name(), {Kind::Type, Kind::HiddenType})) note("registered type missing from the namespace order:", t->name());
    for (const ValueExport& v : exports.values)
        if (!find_entry(v.name, {Kind::Value})) note("registered value missing from the namespace order:", v.name);
    for (const Entry& e : kNamespace)
        if (!is_registered(exports, e)) note("no registration for the ordered name", e.name);
    if (problems.empty()) return success();
    return Error::system_error("quibra: the namespace order and the registrations disagree: " + problems);
}

// The registrations the check sees. A debug build lets a test pretend that a
// source file registered one function too many (QUIBRA_DEBUG_EXTRA_FUNCTION)
// or lost one (QUIBRA_DEBUG_DROP_FUNCTION), to show the import then fails.
Exports exports_to_check() {
    Exports exports = registered_exports();
#ifdef Py_DEBUG
    static std::string extra_name;
    static PyMethodDef extra{};
    if (const char* name = std::getenv("QUIBRA_DEBUG_EXTRA_FUNCTION")) {
        extra_name = name;
        extra = {extra_name.c_str(), nullptr, METH_NOARGS, nullptr};
        exports.functions.push_back(&extra);
    }
    if (const char* name = std::getenv("QUIBRA_DEBUG_DROP_FUNCTION"))
        std::erase_if(exports.functions, [name](const PyMethodDef* f) { return std::strcmp(f->ml_name, name) == 0; });
#endif
    return exports;
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

// check_registrations has ruled this out before anything is added.
Error unregistered(const Entry& e) { return Error::system_error(std::string("no registration for '") + e.name + "'"); }

Status add_entry(PyObject* module, PyObject* module_name, const Entry& e) {
    switch (e.kind) {
        case Kind::Type:
        case Kind::HiddenType: {
            TypeCell* cell = find_type(e.name);
            if (!cell) return unregistered(e);
            QB_TRY(PyTypeObject * type, cell->get(module_state(module)));
            if (e.kind == Kind::HiddenType) return success();
            return add_attribute(module, e.name, reinterpret_cast<PyObject*>(type));
        }
        case Kind::Function: {
            const PyMethodDef* def = find_function(e.name);
            if (!def) return unregistered(e);
            QB_TRY(Ref fn, checked(PyCFunction_NewEx(const_cast<PyMethodDef*>(def), module, module_name)));
            return add_attribute(module, e.name, fn.get());
        }
        case Kind::Value: {
            const ValueExport* v = find_value(e.name);
            if (!v) return unregistered(e);
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
        Status checked = check_registrations(exports_to_check());
        if (!checked) {
            std::move(checked).error().raise();
            return -1;
        }
        // The module's own state: every class, made with the module, and
        // the cells that fill on first use.
        ModuleState& state = module_state(module);
        for (Status s : {state.init(module), TypeCell::make_all(module, state), set_current_state(module)}) {
            if (!s) {
                std::move(s).error().raise();
                return -1;
            }
        }
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

int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept {
    return module_state(module).traverse(Visitor(visit, arg));
}

int clear_module(PyObject* module) noexcept {
    module_state(module).clear();
    return 0;
}

void free_module(void* module) noexcept { module_state(static_cast<PyObject*>(module)).free(); }

// Each interpreter gets its own module object, state and classes, so
// interpreters with a lock of their own may import it.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_quibra",
    "",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    &traverse_module,
    &clear_module,
    &free_module,
};

}  // namespace
}  // namespace quibra

PyMODINIT_FUNC PyInit__quibra();
PyMODINIT_FUNC PyInit__quibra() {
    return PyModuleDef_Init(&quibra::module_def);
}
