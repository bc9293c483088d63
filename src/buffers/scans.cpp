#include "buffers/scans.hpp"

#include "buffers/pool.hpp"
#include "buffers/tables.hpp"
#include "utils/signals.hpp"
#include "utils/top_k.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quibra {

namespace {

// ---- running a scan --------------------------------------------------------------------

// The raw phase is done in blocks of this many elements, between which a
// piece looks whether to go on.
constexpr std::size_t kBlock = kSignalInterval;

// How often a detached scan reattaches to look for pending signals: rarely
// enough that a thread holding the interpreter for its switch interval
// slows the scan little, often enough for Ctrl-C to feel immediate.
constexpr auto kSignalPeriod = std::chrono::milliseconds(10);

// One scan's raw phase. From the pool threshold up the calling thread is
// detached from the interpreter for it (reattached when the run ends,
// however it ends). Between blocks every piece asks go_on(); on the calling
// thread that is also where pending signals are looked for (every block
// while attached, at most every kSignalPeriod while detached), and a
// handler that raises stops every piece.
class ScanRun {
public:
    explicit ScanRun(std::size_t n) noexcept : owner_(std::this_thread::get_id()) {
        if (n >= kParallelThreshold) {
            detached_ = PyEval_SaveThread();
            last_check_ = std::chrono::steady_clock::now();
        }
    }
    ~ScanRun() { attach(); }
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    bool go_on() noexcept {
        if (std::this_thread::get_id() == owner_ && !signals_handled()) stop();
        return !stopped_.load(std::memory_order_relaxed);
    }
    void stop() noexcept { stopped_.store(true, std::memory_order_relaxed); }
    bool stopped() const noexcept { return stopped_.load(std::memory_order_relaxed); }

    // Back on the interpreter: the handler's error, if one raised.
    Status finish() {
        attach();
        if (error_) return std::move(*error_);
        return success();
    }

private:
    bool signals_handled() noexcept {
        if (error_) return false;
        if (!detached_) return handle_signals() || (error_.emplace(Error::fetch()), false);
        auto now = std::chrono::steady_clock::now();
        if (now - last_check_ < kSignalPeriod) return true;
        last_check_ = now;
        PyEval_RestoreThread(detached_);
        if (!handle_signals()) error_.emplace(Error::fetch());
        detached_ = PyEval_SaveThread();
        return !error_;
    }

    void attach() noexcept {
        if (detached_) PyEval_RestoreThread(std::exchange(detached_, nullptr));
    }

    std::thread::id owner_;
    PyThreadState* detached_ = nullptr;
    std::chrono::steady_clock::time_point last_check_;
    std::atomic<bool> stopped_{false};
    std::optional<Error> error_;  // made and dropped while attached
};

// ceil(n / pool workers): the length of every piece but the last.
std::size_t piece_length(std::size_t n) {
    std::size_t workers = std::max(1u, pool_workers());
    return n / workers + (n % workers != 0);
}

// ---- counting -------------------------------------------------------------------------

// Counts a piece block by block, as long as go_on() says so; false when it
// stopped the piece first. A fresh table starts with a window around the
// first value, for as long as the values stay in it; a piece shorter than
// the window hashes for less than clearing the window would cost.
template <class T, class GoOn>
bool count_piece(ValueCounts<T>& table, const T* p, std::size_t n, GoOn&& go_on) {
    std::size_t i = 0;
    if (table.size() == 0 && n >= WindowCounts<T>::kWindow) {
        WindowCounts<T> window(p[0]);
        bool more = true;
        while (i < n && (more = go_on())) {
            std::size_t end = std::min(n, i + kBlock);
            i = window.count(p, i, end);
            if (i < end) break;
        }
        window.move_into(table);
        if (!more) return false;
    }
    while (i < n) {
        if (!go_on()) return false;
        const std::size_t end = std::min(n, i + kBlock);
        if (table.large()) {  // each lookup misses the caches: overlap the misses
            for (; i < end; ++i) {
                if (i + kFetchAhead < n) table.prefetch(p[i + kFetchAhead]);
                table.add(p[i]);
            }
        } else {
            for (; i < end; ++i) table.add(p[i]);
        }
    }
    return true;
}

// The answer, made on the calling thread; tens of millions of entries take
// a while, so other threads get their turns in between. The table's slots
// are given back first, for the dict's memory. All keys are boxed before
// any is inserted: back-to-back allocations stay apart from the dict's
// probing, which measured about a tenth faster for a million keys.
template <class T>
Result<Ref> count_to_dict(ValueCounts<T>&& table) {
    const auto [values, counts] = std::move(table).take_ordered();
    QB_TRY(Ref out, new_dict(static_cast<Py_ssize_t>(values.size())));
    SignalCheck signals;
    std::vector<Ref> keys;
    QB_CHECK(reserve(keys, values.size()));
    for (const T value : values) {
        QB_TRY(Ref key, box(value));
        keys.push_back(std::move(key));
        QB_CHECK(signals.status());
    }
    for (std::size_t e = 0; e < values.size(); ++e) {
        const Ref key = std::move(keys[e]);
        QB_TRY(Ref count, checked(PyLong_FromUnsignedLongLong(counts[e])));
        QB_CHECK(checked_status(PyDict_SetItem(out.get(), key.get(), count.get())));
        QB_CHECK(signals.status());
    }
    return out;
}

// Sets a flag when the scope ends, however it ends: an exception on the
// calling thread stops the workers before its batch waits for them.
struct RaiseOnExit {
    std::atomic<bool>& flag;
    ~RaiseOnExit() { flag.store(true, std::memory_order_relaxed); }
};

// The first piece is counted here while the workers count the others. When
// that first piece holds many distinct values (more than one per eight
// elements), merging tables would cost more than it saves: the workers are
// told to give up and the rest is counted here. The distinct count only
// grows, so the workers give up as soon as it passes the limit, not after
// the whole piece. Either way the table ends up with the values in
// first-seen order and the same counts.
template <class T>
void count_values(ValueCounts<T>& main, const T* p, std::size_t n, ScanRun& run) {
    auto go_on = [&run] { return run.go_on(); };
    if (n < kParallelThreshold) {
        count_piece(main, p, n, go_on);
        return;
    }
    const std::size_t chunk = piece_length(n);
    const std::size_t rest = n - chunk;
    const std::size_t others = rest / chunk + (rest % chunk != 0);
    std::vector<ValueCounts<T>> pieces;
    pieces.reserve(others);
    while (pieces.size() < others) pieces.emplace_back(kPresizedValues);
    std::atomic<bool> give_up{false};
    auto count_one = [&](std::size_t i) {
        std::size_t begin = chunk * (i + 1);
        count_piece(pieces[i], p + begin, std::min(chunk, n - begin),
                    [&] { return !give_up.load(std::memory_order_relaxed) && run.go_on(); });
    };
    bool many = false;
    {
        Batch batch(pieces.size(), count_one);
        RaiseOnExit give_up_on_error{give_up};
        const std::size_t limit = chunk / 8;
        count_piece(main, p, chunk, [&] {
            if (main.size() > limit) give_up.store(true, std::memory_order_relaxed);
            return run.go_on();
        });
        many = main.size() > limit;
        if (many) give_up.store(true, std::memory_order_relaxed);
        try {
            batch.wait();
        } catch (const std::bad_alloc&) {
            if (!many) throw;  // a table given up on is discarded anyway
        }
    }
    if (run.stopped()) return;
    if (many) {
        std::vector<ValueCounts<T>>().swap(pieces);
        count_piece(main, p + chunk, rest, go_on);
        return;
    }
    for (const ValueCounts<T>& piece : pieces) main.merge(piece);
}

// ---- distinctness ---------------------------------------------------------------------

template <class T>
bool all_distinct(const T* p, std::size_t n, ScanRun& run) {
    if (n == 0) return true;
    ValueSet<T> seen;
    seen.reserve(std::min(n, kPresizedValues));
    for (std::size_t done = 0; done < n; done += kBlock) {
        if (!run.go_on()) return false;
        for (std::size_t i = done, end = std::min(n, done + kBlock); i < end; ++i)
            if (!seen.insert(p[i])) return false;
    }
    return true;
}

// ---- top-k ----------------------------------------------------------------------------

// The k largest values of a piece, in no particular order.
template <class T>
std::vector<T> select_largest(const T* p, std::size_t n, unsigned long long k, ScanRun& run) {
    if (k >= n) return std::vector<T>(p, p + n);  // keeps everything either way
    BoundedHeap<T, std::greater<T>> heap(static_cast<std::size_t>(k), std::greater<T>());
    for (std::size_t done = 0; done < n; done += kBlock) {
        if (!run.go_on()) break;
        for (std::size_t i = done, end = std::min(n, done + kBlock); i < end; ++i) heap.offer(p[i]);
    }
    return std::move(heap.kept());
}

template <class T>
std::vector<T> largest_values(const T* p, std::size_t n, unsigned long long k, ScanRun& run) {
    if (k == 0 || n < kParallelThreshold) return select_largest(p, n, k, run);
    const std::size_t chunk = piece_length(n);
    std::vector<std::vector<T>> pieces(n / chunk + (n % chunk != 0));
    parallel_for(pieces.size(), [&](std::size_t i) {
        std::size_t begin = chunk * i;
        pieces[i] = select_largest(p + begin, std::min(chunk, n - begin), k, run);
    });
    std::vector<T> joined;
    for (const std::vector<T>& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
    return select_largest(joined.data(), joined.size(), k, run);
}

template <class T>
Result<Ref> values_tuple(std::vector<T> kept) {
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
    return dispatch_kind(buffer.kind(), [&](auto zero) -> Result<Ref> {
        using T = decltype(zero);
        ValueCounts<T> counts(std::min(buffer.length(), kPresizedValues));
        ScanRun run(buffer.length());
        count_values(counts, buffer.data<T>(), buffer.length(), run);
        QB_CHECK(run.finish());
        return count_to_dict(std::move(counts));
    });
}

Result<bool> typed_distinct(const TypedBuffer& buffer) {
    return dispatch_kind(buffer.kind(), [&](auto zero) -> Result<bool> {
        using T = decltype(zero);
        ScanRun run(buffer.length());
        bool distinct = all_distinct(buffer.data<T>(), buffer.length(), run);
        QB_CHECK(run.finish());
        return distinct;
    });
}

Result<Ref> typed_topk(const TypedBuffer& buffer, unsigned long long k) {
    return dispatch_kind(buffer.kind(), [&](auto zero) -> Result<Ref> {
        using T = decltype(zero);
        ScanRun run(buffer.length());
        std::vector<T> kept = largest_values(buffer.data<T>(), buffer.length(), k, run);
        QB_CHECK(run.finish());
        return values_tuple(std::move(kept));
    });
}

}  // namespace quibra
