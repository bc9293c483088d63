// What one module object owns. Each interpreter that imports quibra gets a
// module object of its own (as does a fresh import after the module was
// removed from sys.modules), and with it its own classes, the
// standard-library attributes and interned names kept after first use, and
// PanicException: nothing of the interpreter's objects is shared with
// another interpreter, so one can end without the others noticing. Module
// functions reach the state through their module; methods, slots and
// callables through their instance's type (every class is made with the
// module that owns it). Only the worker pool, which touches raw memory
// alone, is one per process.
#pragma once

#include "utils/gc.hpp"
#include "utils/once.hpp"

#include <cstddef>

namespace quibra {

class ModuleState {
public:
    // Placed in the module's own memory (zero-filled by the interpreter
    // before the execution step, which is the state of no cells and no
    // classes) and made whole by init().
    Status init(PyObject* module);

    PyObject* module() const noexcept { return module_; }  // borrowed: the module owns its state
    OnceCell& cell(const CellKey& key) noexcept { return cells_[key.index()]; }
    PyTypeObject* type(std::size_t index) const noexcept {
        return reinterpret_cast<PyTypeObject*>(types_ ? types_[index] : nullptr);
    }
    void set_type(std::size_t index, Ref type) noexcept;

    int traverse(const Visitor& visit) const;
    // Drops every object; the state may be cleared more than once.
    void clear() noexcept;
    // Frees the state's own memory (the module is going away).
    void free() noexcept;

private:
    PyObject* module_;
    OnceCell* cells_;
    std::size_t cell_count_;
    PyObject** types_;  // strong references, by TypeCell index
    std::size_t type_count_;
};

// The state of a module object of ours.
inline ModuleState& module_state(PyObject* module) noexcept {
    return *static_cast<ModuleState*>(PyModule_GetState(module));
}
// The state of the module that made one of our classes.
inline ModuleState& type_state(PyTypeObject* type) noexcept {
    return *static_cast<ModuleState*>(PyType_GetModuleState(type));
}
// The state behind a callable's `self`: a module, one of our classes, or an
// instance of one.
inline ModuleState& state_for(PyObject* self) noexcept {
    if (PyModule_CheckExact(self)) return module_state(self);
    return type_state(PyType_Check(self) ? reinterpret_cast<PyTypeObject*>(self) : Py_TYPE(self));
}

// The module most recently made in the running interpreter, for the few
// places that meet no object of ours (raising an internal fault); empty
// when there is none.
Ref current_module() noexcept;
// Makes `module`'s state the running interpreter's current one.
Status set_current_state(PyObject* module);

template <class Init>
Result<PyObject*> StateCell::get(ModuleState& state, Init&& init) {
    return state.cell(key_).get(init);
}

inline PyObject* StateCell::peek(ModuleState& state) const noexcept { return state.cell(key_).peek(); }

inline Result<PyObject*> CachedAttr::get(ModuleState& state) {
    if (PyObject* v = cell_.peek(state)) [[likely]] return v;
    return load(state);
}

}  // namespace quibra
