// The native iterator protocol: the reentrancy guard, the guarded
// tp_iternext every native iterator class shares, and RustIter, the one
// class that hosts the lazy functions without a class of their own.
//
// Every lazy result is a state struct with
//
//     Result<Ref> step();          // the next item; an empty Ref is the end
//     int traverse(const Visitor&) const;
//     void clear() noexcept;       // optional (see utils/gc.hpp)
//
// or, where a pending result per element would show, `PyObject* step_raw()`
// in the C API's raw convention instead of step(). A state whose result is
// published as a named class, or that needs a __length_hint__
// (`unsigned long long hint() const`), becomes a class of its own through
// iterator_spec and make_iterator; any other is hosted by a RustIter
// through make_rust_iter, which needs nothing but the struct.
#pragma once

#include "utils/binding.hpp"
#include "utils/recursion.hpp"
#include "utils/types.hpp"

#include <atomic>
#include <memory>

namespace quibra {

// ---- the guard --------------------------------------------------------------------

// The reentrancy guard word: 0 free, -1 held; a second entry fails at once
// instead of waiting. Without the interpreter lock it is taken by one
// compare-and-set, so that threads running at once can never both hold it.
// With the lock, only the thread holding it runs module code, and handing
// the lock over orders memory: a plain load and store are enough (a step
// that lets the lock go mid-way has stored -1 before).
#ifdef Py_GIL_DISABLED
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
#else
class GuardWord {
public:
    bool try_take() noexcept {
        if (word_ != 0) return false;
        word_ = -1;
        return true;
    }
    void release() noexcept { word_ = 0; }

private:
    Py_ssize_t word_ = 0;
};
#endif

// The interpreter's recursion check, taken only by the steps that get to
// code able to step another native iterator (or call a wrapper of ours)
// with no Python frame in between: a source that is an iterator, a callback
// that is not a Python function, a lookup on an object of no built-in type.
// A step over an exact list that calls nothing of the sort cannot nest.
class DepthCheck {
public:
    DepthCheck() noexcept = default;
    DepthCheck(const DepthCheck&) = delete;
    DepthCheck& operator=(const DepthCheck&) = delete;
    ~DepthCheck() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    // False, with RecursionError set, when the stack is too deep already.
    bool enter() noexcept {
        if (entered_) return true;
        if (Py_EnterRecursiveCall(" in __next__") != 0) return false;
        entered_ = true;
        return true;
    }

private:
    bool entered_ = false;
};

// Every native iterator: a guard word, then the state.
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

// A state whose step takes the recursion check itself, on the paths that can
// nest (a DepthCheck), or never needs it (it reads memory and nothing else),
// declares `static constexpr bool checks_depth = true;`. Every other step is
// one level of the check as a whole.
template <class S>
concept ChecksDepth = requires { requires S::checks_depth; };

template <class S>
concept HasHint = requires(const S& s) { s.hint(); };

// One step of a state in the raw convention.
template <class S>
PyObject* run_step(S& s) {
    if constexpr (requires { s.step_raw(); }) return s.step_raw();
    else return finish(s.step());
}

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
        out = run_step(g.s);
    } catch (...) {
        out = raise_internal_fault(std::current_exception(), "panic in __next__");
    }
    g.guard.release();
    return out;
}

// tp_iternext.
template <class S>
PyObject* guarded_iternext(PyObject* self) noexcept {
    auto& g = state_of<Guarded<S>>(self);
    if constexpr (ChecksDepth<S>) {
        return guarded_step(g);
    } else {
        RecursionGuard depth(" in __next__");
        if (!depth.entered()) return nullptr;
        return guarded_step(g);
    }
}

template <class S>
    requires HasHint<S>
PyObject* guarded_length_hint(PyObject* self, PyObject*) noexcept {
    auto& g = state_of<Guarded<S>>(self);
    if (!g.guard.try_take()) return already_executing();
    PyObject* out = PyLong_FromUnsignedLongLong(g.s.hint());
    g.guard.release();
    return out;
}

// The description of a native iterator class: `doc` is the class docstring
// (nullptr: none), `hint_doc` the docstring of __length_hint__, which only
// classes whose state has hint() get.
template <class S>
ClassSpec<Guarded<S>> iterator_spec(const char* qualified_name, const char* doc, const char* hint_doc = nullptr) {
    static PyMethodDef methods[2] = {QB_METHODS_END, QB_METHODS_END};
    void* method_slot = nullptr;
    if constexpr (HasHint<S>) {
        methods[0] = {"__length_hint__", as_cfunction(&guarded_length_hint<S>), METH_NOARGS, hint_doc};
        method_slot = methods;
    }
    return ClassSpec<Guarded<S>>(qualified_name, {
        {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
        {Py_tp_iternext, reinterpret_cast<void*>(&guarded_iternext<S>)},
        {Py_tp_methods, method_slot},
        {Py_tp_doc, const_cast<char*>(doc)},
    });
}

// Makes an instance of a native iterator class with its state built from args.
template <class S, class... A>
Result<Ref> make_iterator(const ModuleState& module, const TypeCell& cell, A&&... args) {
    QB_TRY(PyTypeObject * type, cell.get(module));
    return make_native<Guarded<S>>(type, std::forward<A>(args)...);
}

// ---- RustIter ------------------------------------------------------------------------

// How a RustIter reaches the state it hosts: the state's own functions,
// one table per state type.
struct HostedOps {
    PyObject* (*step)(void*);
    int (*traverse)(const void*, const Visitor&);
    void (*clear)(void*) noexcept;
    void (*destroy)(void*) noexcept;
};

template <class S>
inline constexpr HostedOps hosted_ops = {
    [](void* s) -> PyObject* {
        if constexpr (ChecksDepth<S>) {
            return run_step(*static_cast<S*>(s));
        } else {
            RecursionGuard depth(" in __next__");
            if (!depth.entered()) return nullptr;
            return run_step(*static_cast<S*>(s));
        }
    },
    [](const void* s, const Visitor& visit) { return static_cast<const S*>(s)->traverse(visit); },
    [](void* s) noexcept {
        if constexpr (Clearable<S>) static_cast<S*>(s)->clear();
    },
    [](void* s) noexcept { delete static_cast<S*>(s); },
};

// The state of a RustIter: the hosted state, owned, and its functions (which
// take the recursion check as the hosted state needs it).
class Hosted {
public:
    static constexpr bool checks_depth = true;

    Hosted(const HostedOps* ops, void* state) noexcept : ops_(ops), state_(state) {}
    Hosted(const Hosted&) = delete;
    Hosted& operator=(const Hosted&) = delete;
    ~Hosted() { ops_->destroy(state_); }

    PyObject* step_raw() { return ops_->step(state_); }
    int traverse(const Visitor& visit) const { return ops_->traverse(state_, visit); }
    void clear() noexcept { ops_->clear(state_); }

private:
    const HostedOps* ops_;
    void* state_;
};

Result<Ref> make_hosted(const ModuleState& module, const HostedOps* ops, void* hosted);

// A new RustIter hosting the state S(args...).
template <class S, class... A>
Result<Ref> make_rust_iter(const ModuleState& module, A&&... args) {
    static_assert(Collectable<S>, "a hosted state reports what it holds");
    auto hosted = std::make_unique<S>(std::forward<A>(args)...);
    QB_TRY(Ref it, make_hosted(module, &hosted_ops<S>, hosted.get()));
    static_cast<void>(hosted.release());  // the RustIter owns it now
    return it;
}

// A RustIter that yields nothing (sizes that yield nothing).
Result<Ref> make_empty_iter(const ModuleState& module);

}  // namespace quibra
