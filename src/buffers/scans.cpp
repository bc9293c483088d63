#include "buffers/scans.hpp"

#include "buffers/pool.hpp"
#include "buffers/tables.hpp"
#include "utils/top_k.hpp"

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>
#include <utility>
#include <vector>

namespace quibra {

namespace {

// ---- counting -------------------------------------------------------------------------

// Pieces are counted in blocks of this many elements, between which the
// counting thread looks at the flag that says whether to go on.
constexpr std::size_t kBlock = std::size_t{1} << 16;

// Counts a piece, giving up between blocks once `stop` is set.
template <class T>
void count_piece(ValueCounts<T>& table, const T* p, std::size_t n, const std::atomic<bool>& stop) {
    for (std::size_t done = 0; done < n; done += kBlock) {
        if (stop.load(std::memory_order_relaxed)) return;
        std::size_t end = std::min(n, done + kBlock);
        for (std::size_t i = done; i < end; ++i) table.add(p[i]);
    }
}

template <class T>
void count_all(ValueCounts<T>& table, const T* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) table.add(p[i]);
}

template <class T>
Result<Ref> count_to_dict(const ValueCounts<T>& table) {
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
    ValueCounts<T> main;
    if (n < kParallelThreshold) {
        count_all(main, p, n);
        return count_to_dict(main);
    }
    const std::size_t chunk = piece_length(n);
    const std::size_t rest = n - chunk;
    std::vector<ValueCounts<T>> pieces(rest / chunk + (rest % chunk != 0));
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
            std::vector<ValueCounts<T>>().swap(pieces);
            count_all(main, p + chunk, rest);
            return count_to_dict(main);
        }
        batch.wait();
    }
    for (const ValueCounts<T>& piece : pieces) main.merge(piece);
    return count_to_dict(main);
}

// ---- distinctness ---------------------------------------------------------------------

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

// The k largest values of a piece, in no particular order.
template <class T>
std::vector<T> select_largest(const T* p, std::size_t n, unsigned long long k) {
    if (k >= n) return std::vector<T>(p, p + n);  // keeps everything either way
    BoundedHeap<T, std::greater<T>> heap(static_cast<std::size_t>(k), std::greater<T>());
    for (std::size_t i = 0; i < n; ++i) heap.offer(p[i]);
    return std::move(heap.kept());
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

}  // namespace quibra
