#include "utils/state.hpp"

#include "utils/types.hpp"

#include <new>

namespace quibra {

Status ModuleState::init(PyObject* module) {
    module_ = module;
    cell_count_ = CellKey::count();
    type_count_ = TypeCell::count();
    cells_ = new (std::nothrow) OnceCell[cell_count_];
    types_ = new (std::nothrow) PyObject*[type_count_]();
    if (!cells_ || !types_) return Error::no_memory();
    return success();
}

void ModuleState::set_type(std::size_t index, Ref type) noexcept {
    Py_XSETREF(types_[index], type.release());
}

int ModuleState::traverse(const Visitor& visit) const {
    for (std::size_t i = 0; cells_ && i < cell_count_; ++i)
        if (int r = visit(cells_[i])) return r;
    for (std::size_t i = 0; types_ && i < type_count_; ++i)
        if (int r = visit(types_[i])) return r;
    return 0;
}

void ModuleState::clear() noexcept {
    for (std::size_t i = 0; cells_ && i < cell_count_; ++i) cells_[i].clear();
    for (std::size_t i = 0; types_ && i < type_count_; ++i) Py_CLEAR(types_[i]);
}

void ModuleState::free() noexcept {
    clear();
    delete[] cells_;
    delete[] types_;
    cells_ = nullptr;
    types_ = nullptr;
}

namespace {

// The running interpreter's dict holds a weak reference to its current
// module under a key of this library's own (two builds loaded side by side
// keep apart, since each has its own `anchor`).
char anchor;

Ref current_key() noexcept {
    return Ref::steal(PyUnicode_FromFormat("quibra._quibra state %p", static_cast<void*>(&anchor)));
}

}  // namespace

Status set_current_state(PyObject* module) {
    PyObject* dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (!dict) return Error::system_error("no interpreter dict");
    Ref key = current_key();
    if (!key) return Error::fetch();
    QB_TRY(Ref ref, checked(PyWeakref_NewRef(module, nullptr)));
    return checked_status(PyDict_SetItem(dict, key.get(), ref.get()));
}

Ref current_module() noexcept {
    PyObject* dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    Ref key = current_key();
    PyObject* ref = nullptr;
    PyObject* module = nullptr;
    if (dict && key && PyDict_GetItemRef(dict, key.get(), &ref) > 0) {
        Ref weak = Ref::steal(ref);
        if (PyWeakref_GetRef(weak.get(), &module) > 0) return Ref::steal(module);
    }
    PyErr_Clear();
    return Ref();
}

}  // namespace quibra
