// The native hash and the key tables built on it: the seen-set of unique and
// the counting table of frequencies, countby, groupby and the builtin-key
// fast paths of reduceby, join and merge_with. Keys hash as Python hashes
// them, with exact str and small exact int answered without a call.
#pragma once

#include "utils/capi.hpp"
#include "utils/gc.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

namespace quibra {

// ---- hashing -------------------------------------------------------------------

// Whether a compact exact int may hash inline (value, with -1 -> -2). A
// one-time process-wide probe compares the inline rule with PyObject_Hash;
// an interpreter that disagrees never takes the inline path.
Result<bool> int_hash_inline_ok();

namespace detail {
inline bool is_compact_exact_int(PyObject* o) noexcept {
    return PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o));
}
inline Py_hash_t inline_int_hash(PyObject* o) noexcept {
    Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o));
    return v == -1 ? -2 : static_cast<Py_hash_t>(v);
}
}  // namespace detail

// Makes sure one more push_back cannot throw: doubles the capacity when it
// is used up (16 to start). false with MemoryError set when that fails.
template <class T>
bool room_for_one(std::vector<T>& v) noexcept {
    if (v.size() < v.capacity()) return true;
    try {
        v.reserve(v.empty() ? 16 : v.size() * 2);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// Every routine of this file follows the C API's raw convention (-1 or
// nullptr with the interpreter's exception set): they run once per element
// inside the loops of the tables' owners, which turn a failure into a
// pending error with Error::fetch_ffi() once, where one that set no
// exception reads "FFI call failed without setting an exception".

// The hash of o: the cached hash of an exact str, the inline hash of a
// compact exact int (when int_hash is set), PyObject_Hash otherwise.
// -1 on error.
inline Py_hash_t native_hash_raw(PyObject* o, bool int_hash) noexcept {
    if (PyUnicode_CheckExact(o)) {
        Py_hash_t h = reinterpret_cast<PyASCIIObject*>(o)->hash;
        if (h != -1) return h;
    } else if (int_hash && detail::is_compact_exact_int(o)) {
        return detail::inline_int_hash(o);
    }
    return PyObject_Hash(o);
}

// Whether hashing o, and comparing it with another such object, runs no code
// of the user's (and so cannot be observed): exact int, str, float and bool,
// and None. Functions whose Python-level algorithm hashes a key more than
// once may use a single native probe while every key is one of these.
inline bool builtin_key(PyObject* o) noexcept {
    PyTypeObject* t = Py_TYPE(o);
    return t == &PyLong_Type || t == &PyUnicode_Type || t == &PyFloat_Type || t == &PyBool_Type || o == Py_None;
}

// For two compact exact ints or two exact strs, the answer their __eq__
// would give, without the call; nothing for any other pair.
inline std::optional<bool> exact_equal(PyObject* a, PyObject* b) noexcept {
    if (detail::is_compact_exact_int(a) && detail::is_compact_exact_int(b))
        return PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(a)) ==
               PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(b));
    if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        Py_ssize_t n = PyUnicode_GET_LENGTH(a);
        if (n != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(n) * PyUnicode_KIND(a)) == 0;
    }
    return std::nullopt;
}

// Key equality once the full hashes matched: identity, then stored == probe
// (PyObject_RichCompareBool, answered directly for exact ints and strs).
// 1 equal, 0 different, -1 on error.
inline int keys_equal_raw(PyObject* stored, PyObject* probe) noexcept {
    if (stored == probe) return 1;
    if (std::optional<bool> eq = exact_equal(stored, probe)) return *eq;
    return PyObject_RichCompareBool(stored, probe, Py_EQ);
}

// ---- the probing core ------------------------------------------------------------

// Open addressing over a power-of-two slot array. A slot holds the full hash
// and a borrowed pointer to its key (the owner keeps the key alive in its own
// entries); Slot may add fields (an entry index for tables with values).
// Probing follows the perturbed sequence i = 5i + perturb + 1, so every slot
// is reachable and all hash bits take part. Slots are never freed. The
// slot array grows by a power-of-two factor: fourfold keeps growths rare,
// twofold keeps a table of many keys half the size.
template <class Slot, std::size_t Growth = 4>
class ProbeTable {
public:
    static constexpr std::size_t kInitialSlots = 32;
    static constexpr std::size_t kReserveCap = std::size_t{1} << 20;

    ProbeTable() noexcept = default;
    ProbeTable(ProbeTable&&) noexcept = default;
    ProbeTable& operator=(ProbeTable&&) noexcept = default;

    std::size_t slot_count() const noexcept { return mask_ + 1; }
    std::size_t stored() const noexcept { return stored_; }

    // The slot holding a key equal to `key` (hash h), or the free slot
    // where it would go (its key pointer is null); nullptr with the
    // exception set on error. Equality may run Python code; the caller keeps
    // `key` alive and must not let that code reach this table (the
    // iterators' guard, or a table local to one call), so slots never move
    // under the loop.
    //
    // The probe sequence may pass a slot twice. Keys of one hash are placed
    // along it in the order they arrived, so for slots that know their
    // entry's position a second pass shows a position already passed, and
    // such a key is not compared again: every stored key of the same hash
    // is compared at most once, oldest first.
    Slot* find(PyObject* key, Py_hash_t h) noexcept {
        if (!slots_ && !allocate_initial()) return nullptr;
        std::uint64_t perturb = static_cast<std::uint64_t>(h);
        std::size_t i = static_cast<std::size_t>(h) & mask_;
        [[maybe_unused]] std::size_t unmet = 0;  // entries below this position were compared
        for (;; perturb >>= 5, i = (5 * i + static_cast<std::size_t>(perturb) + 1) & mask_) {
            Slot* s = &slots_[i];
            if (!s->key) return s;
            if (s->hash != static_cast<std::uint64_t>(h)) continue;
            if constexpr (requires { s->entry; }) {
                if (s->entry < unmet) continue;
                unmet = s->entry + 1;
            }
            int eq = keys_equal_raw(s->key, key);
            if (eq < 0) return nullptr;
            if (eq) return s;
        }
    }

    // Whether claiming one more slot needs the table to grow first (load kept
    // at or below two thirds).
    bool needs_growth() const noexcept { return 3 * (stored_ + 1) > 2 * slot_count(); }

    // Grows, moving every slot (stored hashes are reused). On failure
    // (false, MemoryError set) the table is unchanged.
    bool grow() noexcept {
        return grow_from([this](auto&& place) {
            for (std::size_t j = 0; j <= mask_; ++j)
                if (slots_[j].key) place(slots_[j]);
        });
    }

    // Grows, re-placing the slots in the order `each(place)` hands
    // them to `place`. Keys of equal hash sit along their probe sequence in
    // the order they were placed, so an owner that replays its keys in
    // insertion order keeps equal-hash keys compared in the order they were
    // met; the slot-order walk of grow() does not.
    template <class Each>
    bool grow_from(Each&& each) noexcept {
        std::size_t count = slot_count() * Growth;
        Slot* fresh = static_cast<Slot*>(std::calloc(count, sizeof(Slot)));
        if (!fresh) return (PyErr_NoMemory(), false);
        std::size_t mask = count - 1;
        each([fresh, mask](const Slot& s) noexcept { *free_slot(fresh, mask, s.hash) = s; });
        slots_.reset(fresh);
        mask_ = mask;
        return true;
    }

    // Claims a free slot for a new key whose find() returned `free`;
    // needs_growth() must have been dealt with beforehand (growing moves the
    // slots, so the caller looks the free slot up again with reslot()).
    Slot* claim(Slot* free, PyObject* key, Py_hash_t h) noexcept {
        free->hash = static_cast<std::uint64_t>(h);
        free->key = key;
        ++stored_;
        return free;
    }

    // Sizes an empty table for up to n keys (at most kReserveCap) at once,
    // saving the growths on the way; the memory is calloc'd, so pages no
    // probe touches cost nothing. Only a hint: without the memory the table
    // starts small as usual.
    void reserve(std::size_t n) noexcept {
        std::size_t count = std::bit_ceil(3 * std::min(n, kReserveCap) / 2 + 1);
        if (slots_ || count <= kInitialSlots) return;
        if (Slot* s = static_cast<Slot*>(std::calloc(count, sizeof(Slot)))) {
            slots_.reset(s);
            mask_ = count - 1;
        }
    }

    // Back to no slots at all (the next find allocates the initial ones).
    void reset() noexcept {
        slots_.reset();
        mask_ = kInitialSlots - 1;
        stored_ = 0;
    }

    // The first free slot on h's probe sequence (after a growth).
    Slot* reslot(Py_hash_t h) noexcept { return free_slot(slots_.get(), mask_, static_cast<std::uint64_t>(h)); }

private:
    struct Free {
        void operator()(Slot* p) const noexcept { std::free(p); }
    };

    bool allocate_initial() noexcept {
        Slot* s = static_cast<Slot*>(std::calloc(kInitialSlots, sizeof(Slot)));
        if (!s) return (PyErr_NoMemory(), false);
        slots_.reset(s);
        mask_ = kInitialSlots - 1;
        return true;
    }

    static Slot* free_slot(Slot* slots, std::size_t mask, std::uint64_t h) noexcept {
        std::uint64_t perturb = h;
        std::size_t i = static_cast<std::size_t>(h) & mask;
        while (slots[i].key) {
            perturb >>= 5;
            i = (5 * i + static_cast<std::size_t>(perturb) + 1) & mask;
        }
        return &slots[i];
    }

    std::unique_ptr<Slot[], Free> slots_;  // allocated on first use
    std::size_t mask_ = kInitialSlots - 1;
    std::size_t stored_ = 0;
};

// ---- the seen-set ------------------------------------------------------------------

struct SeenSlot {
    std::uint64_t hash;
    PyObject* key;  // borrowed from the entries
};

// A set of keys that only grows: insert-if-absent and nothing else. Entries
// own one reference per key, in insertion order.
class SeenSet {
public:
    // int_hash: the result of int_hash_inline_ok().
    explicit SeenSet(bool int_hash) noexcept : int_hash_(int_hash) {}
    SeenSet(SeenSet&&) noexcept = default;

    // 1 when `key` was new (the set now holds a reference to it), 0 when an
    // equal key was already present, -1 with the exception set on error.
    [[gnu::always_inline]] int insert_raw(PyObject* key) noexcept {
        Py_hash_t h = native_hash_raw(key, int_hash_);
        if (h == -1) return -1;
        SeenSlot* slot = table_.find(key, h);
        if (!slot) return -1;
        if (slot->key) return 0;
        return add(slot, key, h);
    }

    std::size_t size() const noexcept { return entries_.size(); }
    std::size_t slot_count() const noexcept { return table_.slot_count(); }
    bool int_hash() const noexcept { return int_hash_; }

    int traverse(const Visitor& visit) const { return visit(entries_); }
    // Forgets every key (the slots point into the entries, so both go).
    void clear() noexcept {
        table_.reset();
        std::vector<Ref>().swap(entries_);
    }

private:
    // Stores a key that find() reported absent at `slot`. Everything that
    // can fail happens before the table changes.
    [[gnu::noinline]] int add(SeenSlot* slot, PyObject* key, Py_hash_t h) noexcept {
        if (!room_for_one(entries_)) return -1;
        if (table_.needs_growth()) {
            if (!table_.grow()) return -1;
            slot = table_.reslot(h);
        }
        table_.claim(slot, key, h);
        entries_.push_back(Ref::borrow(key));  // capacity reserved: cannot throw
        return 1;
    }
    ProbeTable<SeenSlot> table_;
    std::vector<Ref> entries_;
    bool int_hash_;
};

// ---- the counting table -------------------------------------------------------------

struct EntrySlot {
    std::uint64_t hash;
    PyObject* key;      // borrowed from the entries
    std::size_t entry;  // position of the key's entry
};

// Keys in first-seen order, each with a Value (a count, a group, a folded
// value) that the caller updates in place. Entries own one reference per
// key and remember its hash, so growing replays them in order and keys of
// equal hash are still compared oldest first. Its owner keeps user code
// from reaching it while a key's __eq__ runs (a table local to one call,
// or an iterator's guard).
template <class Value>
class CountingTable {
public:
    struct Entry {
        Ref key;
        std::uint64_t hash;
        Value value;

        int traverse(const Visitor& visit) const {
            if constexpr (std::is_same_v<Value, Ref> || Collectable<Value>) return visit(key, value);
            else return visit(key);
        }
    };

    // int_hash: the result of int_hash_inline_ok().
    explicit CountingTable(bool int_hash) noexcept : int_hash_(int_hash) {}

    // Room for up to n keys in the entries (memory is only touched as keys
    // arrive), so that a table of many keys is never copied to grow.
    Status reserve(std::size_t n) { return quibra::reserve(entries_, n); }

    // The entry of a key equal to `key`, made with a value-initialised Value
    // (and a new reference to `key`) when there is none; nullptr with the
    // exception set on error. Valid until the next add_raw.
    [[gnu::always_inline]] Entry* add_raw(PyObject* key) noexcept {
        Py_hash_t h = native_hash_raw(key, int_hash_);
        if (h == -1) return nullptr;
        EntrySlot* slot = table_.find(key, h);
        if (!slot) return nullptr;
        if (slot->key) return &entries_[slot->entry];
        return add(slot, key, h);
    }

    // The entry of a key equal to `key` into `found` (1), or 0 when there is
    // none; -1 with the exception set on error. The table is unchanged.
    int lookup_raw(PyObject* key, Entry*& found) noexcept {
        Py_hash_t h = native_hash_raw(key, int_hash_);
        if (h == -1) return -1;
        EntrySlot* slot = table_.find(key, h);
        if (!slot) return -1;
        if (!slot->key) return 0;
        found = &entries_[slot->entry];
        return 1;
    }

    std::vector<Entry>& entries() noexcept { return entries_; }
    const std::vector<Entry>& entries() const noexcept { return entries_; }
    std::size_t position(const Entry* e) const noexcept { return static_cast<std::size_t>(e - entries_.data()); }

    int traverse(const Visitor& visit) const { return visit(entries_); }

private:
    // Everything that can fail happens before the table changes.
    [[gnu::noinline]] Entry* add(EntrySlot* slot, PyObject* key, Py_hash_t h) noexcept {
        if (!room_for_one(entries_)) return nullptr;
        if (table_.needs_growth()) {
            bool grown = table_.grow_from([this](auto&& place) {
                for (std::size_t i = 0; i < entries_.size(); ++i)
                    place(EntrySlot{entries_[i].hash, entries_[i].key.get(), i});
            });
            if (!grown) return nullptr;
            slot = table_.reslot(h);
        }
        slot->entry = entries_.size();
        table_.claim(slot, key, h);
        entries_.push_back(Entry{Ref::borrow(key), static_cast<std::uint64_t>(h), Value{}});  // room made above
        return &entries_.back();
    }

    // Twofold: a table of tens of thousands of keys, most of them seen
    // once, would otherwise spend its time faulting in fresh pages.
    ProbeTable<EntrySlot, 2> table_;
    std::vector<Entry> entries_;
    bool int_hash_;
};

}  // namespace quibra
