// Cycle collection for native state. A state that holds Python objects says
// which, once:
//
//     int traverse(const Visitor& visit) const { return visit(source, key, seen); }
//
// and the generic type pieces (native_dealloc, the iterator and callable
// specs) turn that into the collector's traverse slot, the GC flag and an
// untrack before deallocation. A state whose objects could close a cycle
// through nothing but tuples and instances of our own classes (an iterator
// whose pending element or window holds the iterator itself) also offers
//
//     void clear() noexcept
//
// which drops those references. The collector clears only objects nobody
// can reach, but a finaliser elsewhere in the cycle may still touch one, so
// a cleared state stays safe to use (it may end, or forget what it saw).
// Other cycles always pass through an object of the interpreter's that has
// a clear of its own (a function's cell, a dict, a list), which breaks them.
#pragma once

#include "utils/ref.hpp"

#include <concepts>
#include <memory>
#include <optional>
#include <vector>

namespace quibra {

class Visitor {
public:
    Visitor(visitproc fn, void* arg) noexcept : fn_(fn), arg_(arg) {}

    // Visits each argument in turn; stops at the first non-zero answer, as
    // Py_VISIT does.
    template <class... T>
    int operator()(const T&... xs) const {
        int r = 0;
        static_cast<void>((((r = visit(xs)) == 0) && ...));
        return r;
    }

private:
    int visit(PyObject* o) const { return o ? fn_(o, arg_) : 0; }
    int visit(const Ref& r) const { return visit(r.get()); }
    // A buffer view holds its exporter.
    int visit(const Py_buffer& view) const { return visit(view.obj); }

    template <class T>
        requires requires(const T& s, const Visitor& v) {
            { s.traverse(v) } -> std::same_as<int>;
        }
    int visit(const T& s) const {
        return s.traverse(*this);
    }

    template <class T>
    int visit(const std::vector<T>& xs) const {
        for (const T& x : xs)
            if (int r = visit(x)) return r;
        return 0;
    }

    template <class T>
    int visit(const std::optional<T>& x) const {
        return x ? visit(*x) : 0;
    }

    template <class T, class D>
    int visit(const std::unique_ptr<T, D>& p) const {
        return p ? visit(*p) : 0;
    }

    visitproc fn_;
    void* arg_;
};

// A state that holds Python objects and reports them to the collector.
template <class T>
concept Collectable = requires(const T& s, const Visitor& v) {
    { s.traverse(v) } -> std::same_as<int>;
};

// A state that can drop its references to break a cycle.
template <class T>
concept Clearable = requires(T& s) {
    { s.clear() } noexcept;
};

}  // namespace quibra
