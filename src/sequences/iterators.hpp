// The native iterator protocol: the reentrancy guard, raw sources, the
// guarded tp_iternext shared by every native iterator class, and RustIter,
// which drives one owned step function.
//
// Dedicated class or RustIter step? A lazy function gets a class of its own
// (a state struct run through iterator_spec and Guarded) when its result is
// published as a named class, needs a __length_hint__, or is hot enough that
// the step's virtual call matters (unique, interpose, sliding_window, the
// plain pluck). Everything else is a Step inside the one RustIter class:
// adding it is a small class with next() and traverse(), and no new type.
//
// Both kinds hold objects, so both traverse them for the collector; a state
// that keeps elements between steps (a window, a pending item, seen keys, a
// running total) also clears them, since such an element may be the
// iterator itself (see utils/gc.hpp).
#pragma once

#include "utils/binding.hpp"
#include "utils/recursion.hpp"
#include "utils/types.hpp"

#include <atomic>
#include <memory>

namespace quibra {

// ---- raw source --------------------------------------------------------------

// An exact list read by index (its length re-read at every step, so appends
// are delivered and truncation ends the walk), or any other object read
// through its iterator.
class RawSource {
public:
    static Result<RawSource> open(PyObject* seq);

    // The next item, an empty Ref at the end, or the source's error.
    Result<Ref> next() {
        if (!is_list_) {
            PyObject* item = PyIter_Next(obj_.get());
            if (item) return Ref::steal(item);
            if (PyErr_Occurred()) return Error::fetch_ffi();
            return Ref();
        }
        if (done_) return Ref();
        if (index_ >= PyList_GET_SIZE(obj_.get())) {
            done_ = true;
            return Ref();
        }
        return Ref::borrow(PyList_GET_ITEM(obj_.get(), index_++));
    }

    // The same outcomes in the C API's raw convention, kept for speed in the
    // per-element loop of unique (a Result here costs that loop about 5%): a
    // new reference, or nullptr at the end (no exception set) or on error
    // (exception set).
    PyObject* next_raw() noexcept {
        if (!is_list_) return PyIter_Next(obj_.get());
        if (done_ || index_ >= PyList_GET_SIZE(obj_.get())) {
            done_ = true;
            return nullptr;
        }
        return Py_NewRef(PyList_GET_ITEM(obj_.get(), index_++));
    }

    // How many more items the source can deliver (the iterator's own hint,
    // 0 when it has none or it fails).
    unsigned long long remaining() const noexcept;

    bool is_list() const noexcept { return is_list_; }

    int traverse(const Visitor& visit) const { return visit(obj_); }

private:
    RawSource(Ref obj, bool is_list) noexcept : obj_(std::move(obj)), is_list_(is_list) {}
    Ref obj_;
    Py_ssize_t index_ = 0;
    bool is_list_;
    bool done_ = false;
};

// ---- guarded iterator classes ---------------------------------------------------

// The reentrancy guard word: 0 free, -1 held. It is taken by one
// compare-and-set, so that even threads running at once (an interpreter
// without the global lock) can never both hold it, and a second entry fails
// at once instead of waiting.
class GuardWord {
public:
    bool try_take() noexcept {
        Py_ssize_t free = 0;
        return word_.compare_exchange_strong(free, -1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    void release() noexcept { word_.store(0, std::memory_order_release); }

private:
    std::atomic<Py_ssize_t> word_{0};
};

// Every native iterator: a guard word, then the class's state. S provides
// `Result<Ref> step()` (an empty Ref means the end) and, for classes with a
// length hint, `unsigned long long hint() const`.
template <class S>
struct Guarded {
    GuardWord guard;
    S s;

    template <class... A>
    explicit Guarded(A&&... args) noexcept : s(std::forward<A>(args)...) {}

    int traverse(const Visitor& visit) const
        requires Collectable<S>
    {
        return visit(s);
    }
    // The collector clears only unreachable objects, so never one whose step
    // is running.
    void clear() noexcept
        requires Clearable<S>
    {
        s.clear();
    }
};

// A state whose step runs nothing but its own code (no source, no
// callback: it reads memory) cannot nest, and skips the recursion check by
// declaring `static constexpr bool leaf = true;`.
template <class S>
concept LeafStep = requires { requires S::leaf; };

inline PyObject* already_executing() noexcept {
    PyErr_SetString(PyExc_ValueError, "iterator already executing");
    return nullptr;
}

// One step under the reentrancy guard: item, NULL without exception at the
// end, NULL with the error, or PanicException for an internal fault; the
// guard is released on every way out.
template <class S>
PyObject* guarded_step(Guarded<S>& g) noexcept {
    if (!g.guard.try_take()) return already_executing();
    PyObject* out;
    try {
        if constexpr (requires { g.s.step_raw(); }) out = g.s.step_raw();
        else out = finish(g.s.step());
    } catch (...) {
        out = raise_internal_fault(std::current_exception(), "panic in __next__");
    }
    g.guard.release();
    return out;
}

// tp_iternext. A step reads its source, which may be another native
// iterator, so each step is one level of the interpreter's recursion check.
template <class S>
PyObject* guarded_iternext(PyObject* self) noexcept {
    auto& g = state_of<Guarded<S>>(self);
    if constexpr (LeafStep<S>) {
        return guarded_step(g);
    } else {
        RecursionGuard depth(" in __next__");
        if (!depth.entered()) return nullptr;
        return guarded_step(g);
    }
}

template <class S>
    requires requires(const S& s) { s.hint(); }
PyObject* guarded_length_hint(PyObject* self, PyObject*) noexcept {
    auto& g = state_of<Guarded<S>>(self);
    if (!g.guard.try_take()) return already_executing();
    PyObject* out = PyLong_FromUnsignedLongLong(g.s.hint());
    g.guard.release();
    return out;
}

template <class S>
concept HasHint = requires(const S& s) { s.hint(); };

// The type spec of a native iterator class: `doc` is the class docstring
// (nullptr: none), `hint_doc` the docstring of __length_hint__, which only
// classes whose state has hint() get.
template <class S>
PyType_Spec* iterator_spec(const char* qualified_name, const char* doc, const char* hint_doc = nullptr) {
    static PyMethodDef methods[2] = {QB_METHODS_END, QB_METHODS_END};
    static PyType_Slot slots[8] = {};
    int n = lifecycle_slots<Guarded<S>>(slots);
    slots[n++] = {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)};
    slots[n++] = {Py_tp_iternext, reinterpret_cast<void*>(&guarded_iternext<S>)};
    if constexpr (HasHint<S>) {
        methods[0] = {"__length_hint__", as_cfunction(&guarded_length_hint<S>), METH_NOARGS, hint_doc};
        slots[n++] = {Py_tp_methods, methods};
    }
    if (doc) slots[n++] = {Py_tp_doc, const_cast<char*>(doc)};
    slots[n] = {0, nullptr};
    static PyType_Spec spec = {qualified_name, native_size<Guarded<S>>(), 0, type_flags<Guarded<S>>(false), slots};
    return &spec;
}

// Makes an instance of a native iterator class with its state built from args.
template <class S, class... A>
Result<Ref> make_iterator(TypeCell& cell, A&&... args) {
    QB_TRY(PyTypeObject * type, cell.get());
    return make_native<Guarded<S>>(type, std::forward<A>(args)...);
}

// ---- RustIter ----------------------------------------------------------------------

// A step function: owns all of its state and yields an item, the end (an
// empty Ref) or an error per call.
class Step {
public:
    virtual ~Step() = default;
    virtual Result<Ref> next() = 0;
    // The same step in the C API's raw convention: a new reference, or
    // nullptr at the end (no exception set) or on error (exception set).
    // A step cheap enough for a pending result per call to show overrides
    // it and answers_raw(); the RustIter then calls it instead of next().
    virtual PyObject* next_raw() { return nullptr; }
    virtual bool answers_raw() const noexcept { return false; }
    // Every object the step holds, for the collector.
    virtual int traverse(const Visitor& visit) const = 0;
    // Drops what could close a cycle through the RustIter alone (elements
    // kept between steps), leaving a step that is still safe to call; most
    // steps keep none.
    virtual void clear() noexcept {}
};

// Wraps a step function in a new RustIter.
Result<Ref> make_rust_iter(std::unique_ptr<Step> step);

// The step function that always ends (sizes that yield nothing).
Result<Ref> make_empty_iter();

}  // namespace quibra
