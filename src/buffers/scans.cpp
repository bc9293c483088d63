#include "buffers/scans.hpp"

#include "buffers/pool.hpp"
#include "sequences/iterators.hpp"
#include "utils/registry.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace quibra {

namespace {

// ---- values ---------------------------------------------------------------------

// A value widened to 64 bits: sign-extended for signed kinds, zero-extended
// for unsigned ones, so equal widened values are equal values.
template <class T>
std::uint64_t widen(T v) noexcept {
    if constexpr (std::is_signed_v<T>) return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    else return static_cast<std::uint64_t>(v);
}

// Multiplicative hashing, with a second round. The product's low bits
// depend only on the value's low bits, so values that are all multiples of
// a power of two (offsets, timestamps, ids with tag bits) would share a
// handful of slots; its top bits spread runs of consecutive values poorly
// (ten probes a lookup for 0..9999). Folding the product and multiplying
// again spreads both shapes evenly; the slot comes from the top bits.
constexpr std::uint64_t kHashMultiplier = 0x517cc1b727220a95ULL;

inline std::size_t slot_of(std::uint64_t widened, unsigned shift) noexcept {
    std::uint64_t h = widened * kHashMultiplier;
    h ^= h >> 29;
    return static_cast<std::size_t>((h * kHashMultiplier) >> shift);
}

// log2 of a power of two.
inline unsigned log2_exact(std::size_t n) noexcept { return static_cast<unsigned>(std::countr_zero(n)); }

// The value as a Python int, with the constructor of its kind.
template <class T>
Result<Ref> box(T v) {
    PyObject* o;
    if constexpr (std::is_same_v<T, std::int64_t>) o = PyLong_FromLongLong(v);
    else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::uint32_t>)
        o = PyLong_FromUnsignedLongLong(v);
    else o = PyLong_FromLong(v);
    return checked(o);
}

// ---- the counting table -----------------------------------------------------------

// Value -> count with the distinct values in first-seen order. The counts
// sit beside the order, so merging and building the dict walk both in
// sequence instead of looking every value up again. Linear probing; a slot
// names its entry plus one, 0 marking it free.
// Tables up to this many slots fit in the caches and are kept sparse.
inline constexpr std::size_t kSparseSlots = std::size_t{1} << 15;

template <class T>
class CountTable {
public:
    CountTable() { rebuild(16); }

    // Adds n occurrences of v (a new value joins the order).
    void add(T v, std::uint64_t n = 1) {
        std::size_t i = slot_of(widen(v), shift_);
        for (;;) {
            const Slot& s = slots_[i];
            if (s.entry == 0) return insert(v, n);
            if (s.value == v) {
                counts_[s.entry - 1] += n;
                return;
            }
            i = (i + 1) & mask_;
        }
    }

    std::size_t size() const noexcept { return order_.size(); }
    T value(std::size_t entry) const noexcept { return order_[entry]; }
    std::uint64_t count(std::size_t entry) const noexcept { return counts_[entry]; }

    // Adds every count of a later piece of the input: its new values follow
    // ours in its own first-seen order, so the order stays that of the whole.
    void merge(const CountTable& later) {
        for (std::size_t e = 0; e < later.size(); ++e) add(later.order_[e], later.counts_[e]);
    }

private:
    struct Slot {
        T value;
        std::size_t entry;
    };

    // A table that fits in the caches is kept at most a quarter full, so
    // that nearly every lookup ends at its first slot (a longer probe costs
    // a mispredicted branch, more than the lookup itself); a larger one at
    // most half full, to spare memory.
    void insert(T v, std::uint64_t n) {
        order_.push_back(v);
        counts_.push_back(n);
        std::size_t fill = slots_.size() <= kSparseSlots ? 4 : 2;
        if (fill * order_.size() > slots_.size()) rebuild(2 * slots_.size());
        place(Slot{v, order_.size()});
    }

    // Puts a value the table does not hold into its first free slot.
    void place(const Slot& s) noexcept {
        std::size_t i = slot_of(widen(s.value), shift_);
        while (slots_[i].entry != 0) i = (i + 1) & mask_;
        slots_[i] = s;
    }

    void rebuild(std::size_t capacity) {
        std::vector<Slot> old(std::exchange(slots_, std::vector<Slot>(capacity, Slot{T{}, 0})));
        mask_ = capacity - 1;
        shift_ = 64 - log2_exact(capacity);
        for (const Slot& s : old)
            if (s.entry != 0) place(s);
    }

    std::vector<Slot> slots_;
    std::vector<T> order_;
    std::vector<std::uint64_t> counts_;
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
};

// Pieces are counted in blocks of this many elements, between which the
// counting thread looks at the flag that says whether to go on.
constexpr std::size_t kBlock = std::size_t{1} << 16;

// Counts a piece, giving up between blocks once `stop` is set.
template <class T>
void count_piece(CountTable<T>& table, const T* p, std::size_t n, const std::atomic<bool>& stop) {
    for (std::size_t done = 0; done < n; done += kBlock) {
        if (stop.load(std::memory_order_relaxed)) return;
        std::size_t end = std::min(n, done + kBlock);
        for (std::size_t i = done; i < end; ++i) table.add(p[i]);
    }
}

template <class T>
void count_all(CountTable<T>& table, const T* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) table.add(p[i]);
}

template <class T>
Result<Ref> count_to_dict(const CountTable<T>& table) {
    QB_TRY(Ref out, checked(PyDict_New()));
    for (std::size_t e = 0; e < table.size(); ++e) {
        QB_TRY(Ref key, box(table.value(e)));
        QB_TRY(Ref count, checked(PyLong_FromUnsignedLongLong(table.count(e))));
        QB_CHECK(checked_status(PyDict_SetItem(out.get(), key.get(), count.get())));
    }
    return out;
}

// ceil(n / pool workers): the length of every piece but the last.
std::size_t piece_length(std::size_t n) {
    std::size_t workers = std::max(1u, pool_workers());
    return n / workers + (n % workers != 0);
}

// Sets a flag when the scope ends, however it ends.
struct RaiseOnExit {
    std::atomic<bool>& flag;
    ~RaiseOnExit() { flag.store(true, std::memory_order_relaxed); }
};

// The first piece is counted here while the workers count the others. When
// that first piece holds many distinct values (more than one per eight
// elements), merging tables would cost more than it saves: the workers are
// told to stop and the rest is counted here. The distinct count only grows,
// so the workers are stopped as soon as it passes the limit, not after the
// whole piece. Either way the table ends up with the values in first-seen
// order and the same counts.
template <class T>
Result<Ref> count_values(const T* p, std::size_t n) {
    CountTable<T> main;
    if (n < kParallelThreshold) {
        count_all(main, p, n);
        return count_to_dict(main);
    }
    const std::size_t chunk = piece_length(n);
    const std::size_t rest = n - chunk;
    std::vector<CountTable<T>> pieces(rest / chunk + (rest % chunk != 0));
    std::atomic<bool> stop{false};
    auto count_one = [&](std::size_t i) {
        std::size_t begin = chunk * (i + 1);
        count_piece(pieces[i], p + begin, std::min(chunk, n - begin), stop);
    };
    {
        Batch batch(pieces.size(), count_one);
        RaiseOnExit stop_on_error{stop};  // an exception here stops the workers before the batch waits
        const std::size_t limit = chunk / 8;
        for (std::size_t done = 0; done < chunk; done += kBlock) {
            count_all(main, p + done, std::min(kBlock, chunk - done));
            if (main.size() > limit) stop.store(true, std::memory_order_relaxed);
        }
        if (main.size() > limit) {
            try {
                batch.wait();
            } catch (const std::bad_alloc&) {
                // That piece's table is discarded anyway.
            }
            std::vector<CountTable<T>>().swap(pieces);
            count_all(main, p + chunk, rest);
            return count_to_dict(main);
        }
        batch.wait();
    }
    for (const CountTable<T>& piece : pieces) main.merge(piece);
    return count_to_dict(main);
}

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
    explicit ValueSet(std::size_t capacity) { resize(capacity); }

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
    // Half full; a quarter while the set fits in the caches (as for the
    // counting table); a sixteenth while it is small enough for the nearest
    // ones, where a scan over few distinct values finds nearly every value
    // in its first slot and so never mispredicts the probe loop.
    bool needs_growth() const noexcept {
        return (slots_.size() <= 8192 ? 16 : slots_.size() <= kSparseSlots ? 4 : 2) * stored_ >= slots_.size();
    }

    void resize(std::size_t capacity) {
        std::vector<T> old(std::exchange(slots_, std::vector<T>(capacity)));
        mask_ = capacity - 1;
        shift_ = 64 - log2_exact(capacity);
        for (T v : old) {
            if (v == T{}) continue;
            std::size_t i = slot_of(widen(v), shift_);
            while (slots_[i] != T{}) i = (i + 1) & mask_;
            slots_[i] = v;
        }
    }

    std::vector<T> slots_;
    std::size_t stored_ = 0;  // the value 0 included
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
    bool has_zero_ = false;
};

// Pre-sized for at most 4096 values: a long input usually repeats early.
template <class T>
bool all_distinct(const T* p, std::size_t n) {
    if (n == 0) return true;
    ValueSet<T> seen(std::max<std::size_t>(16, std::bit_ceil(2 * std::min<std::size_t>(n, 4096))));
    for (std::size_t i = 0; i < n; ++i)
        if (!seen.insert(p[i])) return false;
    return true;
}

// ---- top-k ----------------------------------------------------------------------------

// The k largest values of a piece, in no particular order: a min-heap of at
// most k values whose root is the smallest kept.
template <class T>
std::vector<T> select_largest(const T* p, std::size_t n, unsigned long long k) {
    if (k >= n) return std::vector<T>(p, p + n);  // keeps everything either way
    std::vector<T> heap;
    if (k == 0) return heap;
    const auto cap = static_cast<std::size_t>(k);
    heap.reserve(cap);
    for (std::size_t i = 0; i < n; ++i) {
        T v = p[i];
        if (heap.size() < cap) {
            std::size_t c = heap.size();
            heap.push_back(v);
            while (c > 0 && v < heap[(c - 1) / 2]) {
                heap[c] = heap[(c - 1) / 2];
                c = (c - 1) / 2;
            }
            heap[c] = v;
        } else if (heap[0] < v) {
            std::size_t c = 0;
            for (;;) {
                std::size_t child = 2 * c + 1;
                if (child >= cap) break;
                if (child + 1 < cap && heap[child + 1] < heap[child]) ++child;
                if (!(heap[child] < v)) break;
                heap[c] = heap[child];
                c = child;
            }
            heap[c] = v;
        }
    }
    return heap;
}

template <class T>
Result<Ref> largest_values(const T* p, std::size_t n, unsigned long long k) {
    std::vector<T> kept;
    if (k == 0 || n < kParallelThreshold) {
        kept = select_largest(p, n, k);
    } else {
        const std::size_t chunk = piece_length(n);
        std::vector<std::vector<T>> pieces(n / chunk + (n % chunk != 0));
        parallel_for(pieces.size(), [&](std::size_t i) {
            std::size_t begin = chunk * i;
            pieces[i] = select_largest(p + begin, std::min(chunk, n - begin), k);
        });
        std::vector<T> joined;
        for (const std::vector<T>& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
        kept = select_largest(joined.data(), joined.size(), k);
    }
    std::sort(kept.begin(), kept.end(), std::greater<T>());
    QB_TRY(Ref out, checked(PyTuple_New(static_cast<Py_ssize_t>(kept.size()))));
    for (std::size_t i = 0; i < kept.size(); ++i) {
        QB_TRY(Ref v, box(kept[i]));
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), v.release());
    }
    return out;
}

// ---- UniqueIntIter -----------------------------------------------------------------------

Error out_of_memory() {
    PyErr_NoMemory();
    return Error::fetch();
}

// Reads the exporter's memory afresh on every step, so it sees writes made
// between steps. Nothing is scanned until the first step.
struct UniqueIntState {
    static constexpr bool leaf = true;  // reads the buffer and nothing else
    TypedBuffer buffer;
    ValueSet<std::uint64_t> seen;  // widened values: one set type for every kind
    std::size_t position = 0;

    explicit UniqueIntState(TypedBuffer b) noexcept : buffer(std::move(b)) {}

    Result<Ref> step() {
        // An exporter may stop offering scannable memory; a cleared iterator
        // has no buffer left. Either way the iteration just ends.
        if (!buffer.scannable()) return Ref();
        try {
            return dispatch_kind(buffer.kind(), [this](auto zero) { return next_new(zero); });
        } catch (const std::bad_alloc&) {
            return out_of_memory();
        }
    }

    template <class T>
    Result<Ref> next_new(T) {
        const T* p = buffer.data<T>();
        const std::size_t n = buffer.length();
        // May throw while storing a new value; everything before it was a repeat.
        std::size_t i = seen.first_new(p, position, n);
        if (i == n) {
            position = n;
            return Ref();
        }
        position = i + 1;
        return box(p[i]);
    }

    unsigned long long hint() const noexcept {
        std::size_t n = buffer.length();
        return n > position ? n - position : 0;
    }

    int traverse(const Visitor& visit) const { return visit(buffer); }
    // The exporter may hold this iterator; letting go of the view breaks that.
    void clear() noexcept { buffer.release(); }
};

TypeCell unique_int_iter_type("UniqueIntIter", [] {
    return iterator_spec<UniqueIntState>(
        "quibra._quibra.UniqueIntIter",
        "Lazy `unique` over a 1-D contiguous int buffer: scans natively and boxes\n"
        "only the values it yields, so early exits (`take(5, unique(big_array))`)\n"
        "stay cheap while full scans skip per-element boxing and PyObject hashing.",
        "__length_hint__($self)\n--\n\n"
        "Upper bound (PEP 424 allows estimates): every remaining element\n"
        "could be new.");
});

Registrar registrar(nullptr, {&unique_int_iter_type});

}  // namespace

Result<Ref> typed_count(const TypedBuffer& buffer) {
    return dispatch_kind(buffer.kind(), [&](auto zero) {
        using T = decltype(zero);
        return count_values(buffer.data<T>(), buffer.length());
    });
}

bool typed_distinct(const TypedBuffer& buffer) {
    return dispatch_kind(buffer.kind(), [&](auto zero) {
        using T = decltype(zero);
        return all_distinct(buffer.data<T>(), buffer.length());
    });
}

Result<Ref> typed_topk(const TypedBuffer& buffer, unsigned long long k) {
    return dispatch_kind(buffer.kind(), [&](auto zero) {
        using T = decltype(zero);
        return largest_values(buffer.data<T>(), buffer.length(), k);
    });
}

Result<Ref> make_unique_int_iter(TypedBuffer buffer) {
    return make_iterator<UniqueIntState>(unique_int_iter_type, std::move(buffer));
}

}  // namespace quibra
