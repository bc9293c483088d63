#include "sequences/topk_select.hpp"

#include "utils/top_k.hpp"

#include <cmath>
#include <vector>

namespace quibra {

namespace {

// Three-way comparisons that agree with the interpreter's own < and > for
// one exact type.
struct IntOrder {
    static bool admits(PyObject* x) noexcept { return PyLong_CheckExact(x); }
    static int compare(PyObject* a, PyObject* b) noexcept {
        auto* la = reinterpret_cast<PyLongObject*>(a);
        auto* lb = reinterpret_cast<PyLongObject*>(b);
        if (PyUnstable_Long_IsCompact(la) && PyUnstable_Long_IsCompact(lb)) {
            Py_ssize_t x = PyUnstable_Long_CompactValue(la), y = PyUnstable_Long_CompactValue(lb);
            return (x > y) - (x < y);
        }
        // Exact ints compare without failing and without user code.
        if (PyObject_RichCompareBool(a, b, Py_GT) == 1) return 1;
        return PyObject_RichCompareBool(a, b, Py_LT) == 1 ? -1 : 0;
    }
};

struct FloatOrder {
    static bool admits(PyObject* x) noexcept { return PyFloat_CheckExact(x) && !std::isnan(PyFloat_AS_DOUBLE(x)); }
    static int compare(PyObject* a, PyObject* b) noexcept {
        double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
        return (x > y) - (x < y);  // -0.0 and 0.0 are equal, as for <
    }
};

struct StrOrder {
    static bool admits(PyObject* x) noexcept { return PyUnicode_CheckExact(x); }
    static int compare(PyObject* a, PyObject* b) noexcept {
        if (a == b) return 0;
        return PyUnicode_Compare(a, b);  // code point order; cannot fail for exact strs
    }
};

struct Candidate {
    PyObject* item;  // borrowed from the caller's items, which nothing can change
    Py_ssize_t index;
};

// The k best by a bounded heap whose root is the one to drop first: the
// smallest, and among equals the latest (a stable descending sort puts later
// equals after earlier ones), so a later element displaces only a strictly
// smaller one.
template <class Order>
Result<Ref> select(std::size_t k, PyObject* const* items, Py_ssize_t n) {
    auto better = [](const Candidate& a, const Candidate& b) noexcept {
        int c = Order::compare(a.item, b.item);
        return c > 0 || (c == 0 && a.index < b.index);
    };
    BoundedHeap<Candidate, decltype(better)> heap(k, better);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!Order::admits(items[i])) return Ref();
        heap.offer({items[i], i});
    }
    std::vector<Candidate> best = std::move(heap).sorted();
    QB_TRY(Ref out, new_tuple(static_cast<Py_ssize_t>(k)));
    for (std::size_t j = 0; j < k; ++j) PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(j), Py_NewRef(best[j].item));
    return out;
}

}  // namespace

Result<Ref> topk_by_selection(unsigned long long k, PyObject* const* items, Py_ssize_t n) {
    if (n == 0 || k >= static_cast<unsigned long long>(n)) return Ref();
    PyTypeObject* type = Py_TYPE(items[0]);
    auto kk = static_cast<std::size_t>(k);
    return or_no_memory([&]() -> Result<Ref> {
        if (type == &PyLong_Type) return select<IntOrder>(kk, items, n);
        if (type == &PyFloat_Type) return select<FloatOrder>(kk, items, n);
        if (type == &PyUnicode_Type) return select<StrOrder>(kk, items, n);
        return Ref();
    });
}

}  // namespace quibra
