// Heap types from type specs, holding a C++ state value after the object header.
#pragma once

#include "utils/gc.hpp"
#include "utils/state.hpp"

#include <cstdlib>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <utility>

namespace quibra {

// The layout of every instance: the object header, then one C++ value.
template <class T>
struct Native {
    PyObject_HEAD
    T state;
};

template <class T>
T& state_of(PyObject* o) noexcept {
    return reinterpret_cast<Native<T>*>(o)->state;
}

template <class T>
constexpr int native_size() noexcept {
    return static_cast<int>(sizeof(Native<T>));
}

// Makes an instance of `type` whose state is T(args...). The state's
// constructor must not throw, so an instance is either whole or not made.
template <class T, class... A>
Result<Ref> make_native(PyTypeObject* type, A&&... args) {
    static_assert(std::is_nothrow_constructible_v<T, A&&...>);
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) return Error::fetch();
    new (&state_of<T>(o)) T(std::forward<A>(args)...);
    return Ref::steal(o);
}

// tp_dealloc for Native<T>: destroys the state (releasing everything it
// owns), frees the memory and drops the instance's reference to its type.
// A collectable instance leaves the collector first. Being collectable also
// puts the interpreter's trashcan under deallocation: dropping the head of a
// million nested iterators or wrappers unwinds without exhausting the stack.
template <class T>
void native_dealloc(PyObject* o) noexcept {
    PyTypeObject* type = Py_TYPE(o);
    if constexpr (Collectable<T>) PyObject_GC_UnTrack(o);
    state_of<T>(o).~T();
    type->tp_free(o);
    Py_DECREF(type);
}

// tp_traverse: the type first, as every heap type's instances must.
template <class T>
int native_traverse(PyObject* o, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(o));
    return state_of<T>(o).traverse(Visitor(visit, arg));
}

template <class T>
int native_clear(PyObject* o) noexcept {
    state_of<T>(o).clear();
    return 0;
}

// Flags of every class: not subclassable, no dict or weak references; the
// collector's flag exactly when the state holds objects.
template <class T>
constexpr unsigned type_flags(bool constructible) noexcept {
    unsigned flags = Py_TPFLAGS_DEFAULT;
    if constexpr (Collectable<T>) flags |= Py_TPFLAGS_HAVE_GC;
    if (!constructible) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
    return flags;
}

// Writes the lifecycle slots of Native<T> (dealloc; traverse and clear where
// the state has them) at `out`, returning how many were written (at most 3).
template <class T>
int lifecycle_slots(PyType_Slot* out) noexcept {
    int n = 0;
    out[n++] = {Py_tp_dealloc, reinterpret_cast<void*>(&native_dealloc<T>)};
    if constexpr (Collectable<T>) out[n++] = {Py_tp_traverse, reinterpret_cast<void*>(&native_traverse<T>)};
    if constexpr (Clearable<T>) out[n++] = {Py_tp_clear, reinterpret_cast<void*>(&native_clear<T>)};
    return n;
}

// The state of classes whose instances carry nothing (NothingType, and
// Option and Result, which only hold static methods).
struct NoState {};

// The one way a class is described: instances hold a T, the lifecycle slots
// and flags follow from T (collectable exactly when T reports what it
// holds), a class is constructible exactly when it has a tp_new, and the
// class's own slots come after. Slots whose value is nullptr are left out
// (an optional docstring, say). Built in place where it is defined, since
// the spec points into its own slot array.
template <class T>
class ClassSpec {
public:
    // `statics`: the class's static methods (QB_STATIC entries). They are
    // bound to the class itself, not made by METH_STATIC, whose functions
    // receive no `self` and so could not reach their module state.
    ClassSpec(const char* qualified_name, std::initializer_list<PyType_Slot> own, unsigned extra_flags = 0,
              PyMethodDef* statics = nullptr) noexcept
        : statics_(statics) {
        int n = lifecycle_slots<T>(slots_);
        bool constructible = false;
        for (const PyType_Slot& s : own) {
            if (!s.pfunc) continue;
            if (n + 2 == kCapacity) std::abort();  // a class with more slots: raise kCapacity
            constructible = constructible || s.slot == Py_tp_new;
            slots_[n++] = s;
        }
        slots_[n++] = {Py_tp_token, Py_TP_USE_SPEC};  // instances are recognised by their class's spec
        slots_[n] = {0, nullptr};
        spec_ = {qualified_name, native_size<T>(), 0, type_flags<T>(constructible) | extra_flags, slots_};
    }
    ClassSpec(const ClassSpec&) = delete;
    ClassSpec& operator=(const ClassSpec&) = delete;

    PyType_Spec* spec() noexcept { return &spec_; }
    PyMethodDef* statics() const noexcept { return statics_; }

private:
    static constexpr int kCapacity = 16;
    PyMethodDef* statics_;
    PyType_Slot slots_[kCapacity] = {};
    PyType_Spec spec_{};
};

// A class of the module: its name and description, and its place in every
// module state. The execution step makes every class with the module that
// owns it (make_all); code reaches a class through the state it works for.
class TypeCell {
public:
    using Finish = Status (*)(PyTypeObject*);
    template <class T>
    TypeCell(const char* name, ClassSpec<T>& spec, Finish finish = nullptr) noexcept
        : name_(name), spec_(spec.spec()), statics_(spec.statics()), finish_(finish), index_(count()++) {
        if (index_ >= kMaxTypes) std::abort();  // more classes: raise kMaxTypes
        all()[index_] = this;
    }
    TypeCell(const TypeCell&) = delete;
    TypeCell& operator=(const TypeCell&) = delete;

    // The class in `state`. A state whose module was already cleared has
    // none: an internal fault, "failed to create type object for `Name`".
    Result<PyTypeObject*> get(const ModuleState& state) const {
        if (PyTypeObject* t = state.type(index_)) return t;
        return missing();
    }

    const char* name() const noexcept { return name_; }
    // Whether `o` is an instance of this class, made by any module state.
    bool instance(PyObject* o) const noexcept { return PyType_GetBaseByToken(Py_TYPE(o), spec_, nullptr) == 1; }

    // Makes every class into the state of `module` (the execution step).
    static Status make_all(PyObject* module, ModuleState& state);
    static std::size_t& count() noexcept {
        static std::size_t n = 0;
        return n;
    }

private:
    static constexpr std::size_t kMaxTypes = 32;
    static TypeCell** all() noexcept {
        static TypeCell* cells[kMaxTypes] = {};
        return cells;
    }
    Error missing() const;

    const char* name_;
    PyType_Spec* spec_;
    PyMethodDef* statics_;
    Finish finish_;
    std::size_t index_;
};

}  // namespace quibra
