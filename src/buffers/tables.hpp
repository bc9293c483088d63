// The native tables of the buffer scans: values widened and hashed, the
// counting table (value -> count in first-seen order) and the value set.
// They hold raw integers only, so the pool's workers can fill them.
#pragma once

#include "utils/big_memory.hpp"
#include "utils/capi.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace quibra {

// ---- values ---------------------------------------------------------------------

// A value widened to 64 bits: sign-extended for signed kinds, zero-extended
// for unsigned ones, so equal widened values are equal values.
template <class T>
inline std::uint64_t widen(T v) noexcept {
    if constexpr (std::is_signed_v<T>) return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    else return static_cast<std::uint64_t>(v);
}

// Fibonacci hashing: the slot is the top bits of the value times 2^64 over
// the golden ratio. Runs of consecutive values land evenly spread, and so do
// values that are all multiples of a power of two (offsets, timestamps, ids
// with tag bits): their product is the same spread shifted up, whose top
// bits still tell them apart. One multiply, on the path of every lookup.
inline constexpr std::uint64_t kGoldenRatio = 0x9e3779b97f4a7c15ULL;

inline std::size_t slot_of(std::uint64_t widened, unsigned shift) noexcept {
    return static_cast<std::size_t>((widened * kGoldenRatio) >> shift);
}

// log2 of a power of two.
inline unsigned log2_exact(std::size_t n) noexcept { return static_cast<unsigned>(std::countr_zero(n)); }

// The value as a Python int, with the constructor of its kind.
template <class T>
inline Result<Ref> box(T v) {
    PyObject* o;
    if constexpr (std::is_same_v<T, std::int64_t>) o = PyLong_FromLongLong(v);
    else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::uint32_t>)
        o = PyLong_FromUnsignedLongLong(v);
    else o = PyLong_FromLong(v);
    return checked(o);
}

// ---- the counting table -----------------------------------------------------------

// Tables up to this many slots fit in the caches and are kept sparse; up to
// kNearSlots, in the nearest ones, where they are kept sparser still.
inline constexpr std::size_t kSparseSlots = std::size_t{1} << 15;
inline constexpr std::size_t kNearSlots = 8192;

// How many slots a table of `slots` keeps per value at most. A table that
// fits in the caches is kept at most a quarter full (a sixteenth in the
// nearest ones), so that nearly every lookup ends at its first slot (a
// longer probe costs a mispredicted branch, more than the lookup itself); a
// larger one at most half full, to spare memory.
inline std::size_t slots_per_value(std::size_t slots) noexcept {
    return slots <= kNearSlots ? 16 : slots <= kSparseSlots ? 4 : 2;
}

// The fewest slots (a power of two, at least 16) that hold `values` values
// without growing.
inline std::size_t capacity_for(std::size_t values) noexcept {
    std::size_t slots = 16;
    while (slots_per_value(slots) * values > slots) slots *= 2;
    return slots;
}

// How many values a table is made ready for up front, at most: those that
// keep it in the nearest caches. An input of fewer values can hold no more
// distinct ones, so its table never grows; a longer one usually repeats.
inline constexpr std::size_t kPresizedValues = kNearSlots / 16;

// How many lookups ahead a walk over a table too large for the caches
// fetches the slot it will need, so that the misses overlap.
inline constexpr std::size_t kFetchAhead = 16;

// Value -> count with the distinct values in first-seen order. A slot holds
// its value's count (0 marking it free), so counting touches one slot per
// element; the order is kept beside as values, and reading the counts in
// that order looks each up again, fetched ahead. Linear probing.
template <class T>
class ValueCounts {
public:
    // Ready for `values` distinct values before it first grows.
    explicit ValueCounts(std::size_t values = 0) { rebuild(capacity_for(values)); }

    // Adds n (>= 1) occurrences of v (a new value joins the order); whether v was new.
    bool add(T v, std::uint64_t n = 1) {
        std::size_t i = slot_of(widen(v), shift_);
        for (;;) {
            Slot& s = slots_[i];
            if (s.count == 0) {
                insert(i, v, n);
                return true;
            }
            if (s.value == v) {
                s.count += n;
                return false;
            }
            i = (i + 1) & mask_;
        }
    }

    // Starts bringing v's first slot into the cache, ahead of its add().
    void prefetch(T v) const noexcept { __builtin_prefetch(&slots_[slot_of(widen(v), shift_)], 1); }
    // Whether the slots outgrow the caches, where prefetching pays.
    bool large() const noexcept { return slots_.size() > kSparseSlots; }

    std::size_t size() const noexcept { return order_.size(); }
    T value(std::size_t entry) const noexcept { return order_[entry]; }
    // The count of the entry-th value; a walk in entry order has the slots
    // of the next ones fetched ahead.
    std::uint64_t count(std::size_t entry) const noexcept {
        if (entry + kFetchAhead < order_.size()) prefetch(order_[entry + kFetchAhead]);
        const T v = order_[entry];
        std::size_t i = slot_of(widen(v), shift_);
        while (slots_[i].value != v) i = (i + 1) & mask_;  // v is held: no free slot comes first
        return slots_[i].count;
    }

    // The values in first-seen order and their counts, side by side. The
    // table is spent, only to be destroyed; slots beyond the caches are
    // given back at once, for the memory of what is made from the answer.
    struct Ordered {
        BigVector<T> values;
        BigVector<std::uint64_t> counts;
    };
    Ordered take_ordered() && {
        BigVector<std::uint64_t> counts(order_.size());
        for (std::size_t e = 0; e < order_.size(); ++e) counts[e] = count(e);
        if (large()) slots_ = BigArray<Slot>();
        return Ordered{std::move(order_), std::move(counts)};
    }

    // Adds every count of a later piece of the input: its new values follow
    // ours in its own first-seen order, so the order stays that of the whole.
    void merge(const ValueCounts& later) {
        for (std::size_t e = 0; e < later.size(); ++e) add(later.order_[e], later.count(e));
    }

private:
    struct Slot {
        T value;
        std::uint64_t count;
    };

    void insert(std::size_t i, T v, std::uint64_t n) {
        order_.push_back(v);
        if (slots_per_value(slots_.size()) * order_.size() <= slots_.size()) {
            slots_[i] = Slot{v, n};
            return;
        }
        rebuild(2 * slots_.size());
        place(Slot{v, n});
    }

    // Puts a value the table does not hold into its first free slot.
    void place(const Slot& s) noexcept {
        std::size_t i = slot_of(widen(s.value), shift_);
        while (slots_[i].count != 0) i = (i + 1) & mask_;
        slots_[i] = s;
    }

    void rebuild(std::size_t capacity) {
        BigArray<Slot> old = std::exchange(slots_, BigArray<Slot>(capacity));
        mask_ = capacity - 1;
        shift_ = 64 - log2_exact(capacity);
        for (const Slot& s : old)
            if (s.count != 0) place(s);
    }

    BigArray<Slot> slots_;
    BigVector<T> order_;
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
};

// ---- the window count -----------------------------------------------------------

// Counts over a window of kWindow consecutive values centred on the first
// one, indexed directly: the common input of few values close together
// (codes, categories, bytes) costs a subtraction and an increment per
// element, no hashing or probing. The first value outside the window ends
// it; its counts then move to a ValueCounts, in first-seen order.
template <class T>
class WindowCounts {
public:
    static constexpr std::size_t kWindow = 4096;

    explicit WindowCounts(T first) : base_(widen(first) - kWindow / 2), counts_(kWindow), order_(kWindow) {}

    // Counts p[i], p[i + 1], ... before n; where it stopped: the position
    // of the first value outside the window, or n.
    std::size_t count(const T* p, std::size_t i, std::size_t n) noexcept {
        std::uint64_t* counts = counts_.data();
        for (; i < n; ++i) {
            const std::uint64_t d = widen(p[i]) - base_;  // wraps below the window
            if (d >= kWindow) break;
            if (counts[d]++ == 0) order_[seen_++] = static_cast<std::uint16_t>(d);
        }
        return i;
    }

    // Adds the counts to an empty table, which then has the same order.
    void move_into(ValueCounts<T>& table) const {
        for (std::size_t e = 0; e < seen_; ++e)
            table.add(static_cast<T>(base_ + order_[e]), counts_[order_[e]]);
    }

private:
    std::uint64_t base_;
    std::size_t seen_ = 0;
    std::vector<std::uint64_t> counts_;
    std::vector<std::uint16_t> order_;
};

// ---- the value set -------------------------------------------------------------------

// Values seen so far: open addressing with linear probing, never shrinking.
// Capacity is 0 or a power of two of at least 16; it doubles before any
// insertion attempt that finds the set too full. A slot is just a value,
// with 0 marking it free and the value 0 itself kept in a flag: half the
// memory of a slot with its own occupied flag, and memory traffic is what a
// large set spends its time on.
template <class T>
class ValueSet {
public:
    ValueSet() noexcept = default;

    // Makes room for `values` values before the next growth.
    void reserve(std::size_t values) {
        if (const std::size_t slots = capacity_for(values); slots > slots_.size()) resize(slots);
    }

    // True when v was new (and is now stored).
    bool insert(T v) {
        if (needs_growth()) resize(std::max<std::size_t>(16, 2 * slots_.size()));
        std::size_t i = slot_of(widen(v), shift_);
        for (;;) {
            T& s = slots_[i];
            if (s == v) break;  // v itself, or a free slot when v is 0
            if (s == T{}) {
                s = v;
                ++stored_;
                return true;
            }
            i = (i + 1) & mask_;
        }
        if (v != T{} || has_zero_) return false;
        has_zero_ = true;
        ++stored_;
        return true;
    }

    // The position of the first of p[i], ..., p[n - 1] that the set does not
    // hold yet (now stored), or n. Lookups that find their value, nearly
    // all of them on a long scan, run on a snapshot of the table in
    // registers; only a new value goes through insert().
    template <class E>
    std::size_t first_new(const E* p, std::size_t i, std::size_t n) {
        if (slots_.empty()) resize(16);
        const T* slots = slots_.data();
        const std::size_t mask = mask_;
        const unsigned shift = shift_;
        for (; i < n; ++i) {
            const T v = static_cast<T>(widen(p[i]));
            std::size_t j = slot_of(static_cast<std::uint64_t>(v), shift);
            T s;
            while ((s = slots[j]) != v && s != T{}) j = (j + 1) & mask;
            if (s == v && (v != T{} || has_zero_)) continue;
            insert(v);
            return i;
        }
        return n;
    }

private:
    // As full as the counting table gets (slots_per_value).
    bool needs_growth() const noexcept { return slots_per_value(slots_.size()) * stored_ >= slots_.size(); }

    void resize(std::size_t capacity) {
        BigArray<T> old = std::exchange(slots_, BigArray<T>(capacity));
        mask_ = capacity - 1;
        shift_ = 64 - log2_exact(capacity);
        for (T v : old) {
            if (v == T{}) continue;
            std::size_t i = slot_of(widen(v), shift_);
            while (slots_[i] != T{}) i = (i + 1) & mask_;
            slots_[i] = v;
        }
    }

    BigArray<T> slots_;
    std::size_t stored_ = 0;  // the value 0 included
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
    bool has_zero_ = false;
};

}  // namespace quibra
