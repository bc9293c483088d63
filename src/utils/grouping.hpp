// Elements filed under their keys, in one pass: the grouping behind groupby,
// join's left index and merge_with's builtin-key path.
#pragma once

#include "utils/hashing.hpp"

#include <cstddef>
#include <vector>

namespace quibra {

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

// The keys in first-seen order, each with a Value whose `size` counts its
// elements, and every element in input order tagged with its key's entry.
// All members share one array, so a new element costs no allocation of its
// own; the owner lays the groups out at the end in one sequential pass.
template <class Value>
class Grouping {
public:
    using Table = CountingTable<Value>;

    explicit Grouping(bool int_hash) noexcept : table_(int_hash) {}

    // Room for n members up front.
    Status reserve(std::size_t n) { return quibra::reserve(members_, n); }

    // Files x under key k; false with the exception set on error (the raw
    // convention of the tables), with nothing half-added (x is left with the
    // caller then).
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
