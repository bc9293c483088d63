// Counting and grouping tables: the constructions of frequencies and
// groupby (shared with the fluent Iter) and the grouping that join's left
// index is built on.
#pragma once

#include "utils/hashing.hpp"

#include <cstddef>
#include <vector>

namespace quibra {

// frequencies(seq): element -> count, keys in first-seen order (a typed
// integer buffer is offered to the native counting scan first).
Result<Ref> frequencies_of(PyObject* seq);

// groupby(key, seq): key -> list of the elements with that key, keys in
// first-seen order, each list in input order.
Result<Ref> groupby_of(PyObject* key, PyObject* seq);

// The length of an exact list or tuple (a read, no user code), else 0: how
// many members to make room for up front.
inline std::size_t known_length(PyObject* seq) noexcept {
    if (PyList_CheckExact(seq)) return static_cast<std::size_t>(PyList_GET_SIZE(seq));
    if (PyTuple_CheckExact(seq)) return static_cast<std::size_t>(PyTuple_GET_SIZE(seq));
    return 0;
}

// An element and the position of its key's entry.
struct Member {
    Ref item;
    std::size_t group;

    int traverse(const Visitor& visit) const { return visit(item); }
};

// Elements filed under their keys: the keys in first-seen order, each with
// a Value whose `size` counts its elements, and every element in input
// order tagged with its key's entry. All members share one array, so a new
// element costs no allocation of its own; the owner lays the groups out at
// the end in one sequential pass.
template <class Value>
class Grouping {
public:
    using Table = CountingTable<Value>;

    explicit Grouping(bool int_hash) noexcept : table_(int_hash) {}

    // Room for n members up front. false with MemoryError set.
    bool reserve(std::size_t n) noexcept {
        try {
            members_.reserve(n);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return false;
        }
        return true;
    }

    // Files x under key k; false with the exception set on error, with
    // nothing half-added (x is left with the caller then).
    bool add(PyObject* k, Ref& x) noexcept {
        if (!room_for_one(members_)) return false;
        typename Table::Entry* e = table_.add_raw(k);
        if (!e) return false;
        ++e->value.size;
        members_.push_back(Member{std::move(x), table_.position(e)});  // room made above
        return true;
    }

    Table& table() noexcept { return table_; }
    std::vector<typename Table::Entry>& entries() noexcept { return table_.entries(); }
    std::vector<Member>& members() noexcept { return members_; }

    int traverse(const Visitor& visit) const { return visit(table_, members_); }

private:
    Table table_;
    std::vector<Member> members_;
};

}  // namespace quibra
