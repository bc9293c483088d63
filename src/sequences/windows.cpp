// interpose, sliding_window, partition_all, partition.
#include "sequences/windows.hpp"

#include "utils/binding.hpp"
#include "utils/iterators.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace quibra {

namespace {

// Buffers reserve at most this many references up front, so a huge n costs
// nothing until elements actually arrive.
constexpr unsigned long long kReserveCap = 4096;

std::size_t capped_reserve(unsigned long long n) noexcept {
    return static_cast<std::size_t>(std::min(n, kReserveCap));
}

// Appends to a reference buffer; running out of memory is a MemoryError,
// not an internal fault.
Status push(std::vector<Ref>& buf, Ref item) {
    return or_no_memory([&]() -> Status {
        buf.push_back(std::move(item));
        return success();
    });
}

// ---- interpose ----------------------------------------------------------------------

// Alternates a pending element with the separator: a separator is returned
// only once the element after it is already in hand, so none trails the last.
struct InterposeState {
    Ref el;
    RawSource source;
    Ref pending;
    bool started;
    bool finished = false;

    InterposeState(Ref sep, RawSource src, Ref first) noexcept
        : el(std::move(sep)), source(std::move(src)), pending(std::move(first)), started(bool(pending)) {}

    // Over an exact list nothing but the list is read: no code runs that
    // could nest, so only an iterator source takes the recursion check.
    static constexpr bool checks_depth = true;

    PyObject* step_raw() noexcept {
        if (pending) return pending.release();
        if (finished) return nullptr;
        DepthCheck depth;
        if (!source.is_list() && !depth.enter()) return nullptr;
        PyObject* x = source.next_raw();
        if (!x) {
            finished = !PyErr_Occurred();  // an error leaves the source to be asked again
            return nullptr;
        }
        if (!started) {
            started = true;
            return x;
        }
        pending = Ref::steal(x);
        return Py_NewRef(el.get());
    }

    int traverse(const Visitor& visit) const { return visit(el, source, pending); }
    // The pending element may be the iterator itself.
    void clear() noexcept {
        pending.reset();
        finished = true;
    }

    unsigned long long hint() const noexcept {
        if (finished) return 0;
        unsigned long long h = source.remaining();
        if (pending) return 2 * h + 1;
        if (!started) return h ? 2 * h - 1 : 0;
        return 2 * h;
    }
};

ClassSpec<Guarded<InterposeState>> interpose_iter_spec = iterator_spec<InterposeState>(
        "quibra._quibra.InterposeIter",
        "Separator between neighbouring elements. The element after a\n"
        "separator is fetched before the separator is returned, so none ever\n"
        "trails the last element; a separator costs one new reference.",
        "__length_hint__($self)\n--\n\n"
        "k source items yield 2k-1 outputs (a separator before every item but\n"
        "the first). Exact for list sources, the source's own hint otherwise.");
TypeCell interpose_iter_type("InterposeIter", interpose_iter_spec);

// ---- sliding_window ------------------------------------------------------------------

// Each window is a fresh tuple built from the element just read and the
// tail of the previous window; the first one draws on the priming buffer
// filled when the iterator was made. No ring of elements is kept.
struct SlidingWindowState {
    std::vector<Ref> priming;  // the first n-1 elements, until the first window
    Ref window;                // the previous window once there is one
    RawSource source;
    unsigned long long n;
    bool finished = false;

    SlidingWindowState(std::vector<Ref> prime, RawSource src, unsigned long long size) noexcept
        : priming(std::move(prime)), source(std::move(src)), n(size) {}

    bool starved() const noexcept { return !window && priming.size() < n - 1; }

    static constexpr bool checks_depth = true;  // as for interpose

    PyObject* step_raw() noexcept {
        if (finished) return nullptr;
        DepthCheck depth;
        if (!source.is_list() && !depth.enter()) return nullptr;
        Ref x = Ref::steal(source.next_raw());
        if (!x || starved()) {
            // A source that ran dry while priming never forms a window, even
            // if it delivers again later; an error leaves it to be asked again.
            finished = !x ? !PyErr_Occurred() : true;
            return nullptr;
        }
        auto size = static_cast<Py_ssize_t>(n);
        PyObject* prev = window.get();
        if (prev && PyUnstable_Object_IsUniquelyReferenced(prev)) return shift_in_place(std::move(x)).release();
        PyObject* t = PyTuple_New(size);
        if (!t) return nullptr;
        if (prev) {
            for (Py_ssize_t i = 1; i < size; ++i) PyTuple_SET_ITEM(t, i - 1, Py_NewRef(PyTuple_GET_ITEM(prev, i)));
        } else {
            Py_ssize_t i = 0;
            for (Ref& r : priming) PyTuple_SET_ITEM(t, i++, r.release());
            std::vector<Ref>().swap(priming);
        }
        PyTuple_SET_ITEM(t, size - 1, x.release());
        // Windows of numbers and strings cost the collector nothing, though
        // a consumer may keep all of them.
        untrack_if_atomic(t);
        window = Ref::steal(t);
        return Py_NewRef(t);
    }

    // Nobody but us holds the previous window (the consumer dropped it), so
    // it can become the next one, as zip and enumerate reuse their result
    // tuples: no allocation per window when windows are consumed one by one.
    Ref shift_in_place(Ref x) noexcept {
        PyObject* t = window.get();
        auto size = static_cast<std::size_t>(n);
        PyObject** items = &PyTuple_GET_ITEM(t, 0);
        Ref oldest = Ref::steal(items[0]);  // released once the tuple is whole again
        std::memmove(items, items + 1, (size - 1) * sizeof(PyObject*));
        items[size - 1] = x.release();
        reinterpret_cast<PyTupleObject*>(t)->ob_hash = -1;  // its contents changed
        // The collector untracks tuples of atomic values; the new element may not be one.
        if (!PyObject_GC_IsTracked(t)) PyObject_GC_Track(t);
        return window;
    }

    int traverse(const Visitor& visit) const { return visit(priming, window, source); }
    // A window may hold the iterator itself.
    void clear() noexcept {
        std::vector<Ref>().swap(priming);
        window.reset();
        finished = true;
    }

    unsigned long long hint() const noexcept {
        if (finished || starved()) return 0;
        return source.remaining();
    }
};

ClassSpec<Guarded<SlidingWindowState>> sliding_window_iter_spec = iterator_spec<SlidingWindowState>(
        "quibra._quibra.SlidingWindowIter",
        "Overlapping n-tuples. Each window is a new tuple made of the previous\n"
        "window's tail and one fresh element, so only that window is kept\n"
        "between steps; the first n-1 elements are read when it is made.",
        "__length_hint__($self)\n--\n\n"
        "Exact for list sources (one window per remaining element once\n"
        "primed), the source's own hint otherwise.");
TypeCell sliding_window_iter_type("SlidingWindowIter", sliding_window_iter_spec);

// ---- partition_all, partition -------------------------------------------------------

// A chunk under construction: elements go straight into a tuple that grows
// toward n when n is beyond the initial reservation. Slots not filled yet
// hold None, never null: the source's __next__ runs between fills, and
// whatever it reaches (gc.get_objects(), for one) must find a whole tuple.
// Operations that can fail return false with the exception set (the raw
// convention of iter_next, for the same loop).
class ChunkBuilder {
public:
    bool open(unsigned long long n) noexcept {
        return replace(static_cast<Py_ssize_t>(std::min(n, kReserveCap)));
    }

    Py_ssize_t size() const noexcept { return size_; }

    bool push(Ref item, unsigned long long n) noexcept {
        if (size_ == PyTuple_GET_SIZE(tuple_.get()) &&
            !replace(static_cast<Py_ssize_t>(std::min(n, 2 * static_cast<unsigned long long>(size_)))))
            return false;
        Ref placeholder = Ref::steal(PyTuple_GET_ITEM(tuple_.get(), size_));
        PyTuple_SET_ITEM(tuple_.get(), size_++, item.release());
        return true;
    }

    // The finished chunk of `length` slots; slots past the collected
    // elements hold `fill` (only partition pads).
    Result<Ref> finish(Py_ssize_t length, PyObject* fill = nullptr) {
        if (length != PyTuple_GET_SIZE(tuple_.get()) && !replace(length)) return Error::fetch();
        for (Py_ssize_t k = size_; k < length; ++k) {
            Ref placeholder = Ref::steal(PyTuple_GET_ITEM(tuple_.get(), k));
            PyTuple_SET_ITEM(tuple_.get(), k, Py_NewRef(fill));
        }
        return std::move(tuple_);
    }

private:
    // Swaps the collected references into a new None-filled tuple (the old
    // one keeps Nones in their place).
    bool replace(Py_ssize_t length) noexcept {
        PyObject* fresh = PyTuple_New(length);  // length >= 1: never the shared empty tuple
        if (!fresh) return false;
        for (Py_ssize_t k = 0; k < length; ++k) PyTuple_SET_ITEM(fresh, k, Py_NewRef(Py_None));
        for (Py_ssize_t k = 0; tuple_ && k < size_; ++k) {
            PyObject* item = PyTuple_GET_ITEM(tuple_.get(), k);
            PyTuple_SET_ITEM(tuple_.get(), k, PyTuple_GET_ITEM(fresh, k));
            PyTuple_SET_ITEM(fresh, k, item);
        }
        tuple_ = Ref::steal(fresh);
        return true;
    }

    Ref tuple_;  // a dropped builder releases what it collected
    Py_ssize_t size_ = 0;
};

// Collects up to n elements per call. No end flag: after the end each call
// asks the iterator again.
class ChunkState {
public:
    // pad: partition's behaviour for a short last chunk (fill, or drop when
    // fill is empty); otherwise the short chunk is returned as it is.
    ChunkState(Ref it, unsigned long long n, bool pad, Ref fill) noexcept
        : it_(std::move(it)), n_(n), pad_(pad), fill_(std::move(fill)), list_(PyList_CheckExact(it_.get())) {}

    // An exact list is read where it is, which nothing can nest in.
    static constexpr bool checks_depth = true;

    PyObject* step_raw() {
        if (n_ == 0) return nullptr;
        if (list_) return next_from_list();
        DepthCheck depth;
        if (!depth.enter()) return nullptr;
        return finish(next_from_iterator());
    }

    int traverse(const Visitor& visit) const { return visit(it_, fill_); }

private:
    Result<Ref> next_from_iterator() {
        PyObject* it = it_.get();
        Ref item = Ref::steal(iter_next(it));
        if (!item) return end_or_error();
        ChunkBuilder chunk;
        if (!chunk.open(n_)) return Error::fetch();
        SignalCheck signals;  // n may be as large as the source is long
        for (;;) {
            if (!chunk.push(std::move(item), n_)) return Error::fetch();
            if (static_cast<unsigned long long>(chunk.size()) == n_) return chunk.finish(chunk.size());
            if (!signals.tick()) return Error::fetch();
            item = Ref::steal(iter_next(it));
            if (!item) break;
        }
        // An error loses the elements collected for this chunk.
        if (PyErr_Occurred()) return Error::fetch_ffi();
        if (!pad_) return chunk.finish(chunk.size());
        if (!fill_) return Ref();  // partition without a fill value drops a short tail
        return chunk.finish(static_cast<Py_ssize_t>(n_), fill_.get());
    }

    static Result<Ref> end_or_error() {
        if (PyErr_Occurred()) return Error::fetch_ffi();
        return Ref();
    }

    // An exact list read by position, exactly as its own iterator would
    // deliver it: the length is read afresh at every call, nothing runs
    // between the reads of one chunk, and once a read finds the end the list
    // is let go for good.
    PyObject* next_from_list() noexcept {
        if (!it_) return nullptr;
        PyObject* list = it_.get();
        Py_ssize_t left = std::max<Py_ssize_t>(PyList_GET_SIZE(list) - index_, 0);  // it may have shrunk
        Py_ssize_t size = static_cast<unsigned long long>(left) < n_ ? left : static_cast<Py_ssize_t>(n_);
        bool short_chunk = static_cast<unsigned long long>(size) < n_;
        Ref chunk;
        if (size > 0 && (!short_chunk || !pad_ || fill_)) {
            chunk = Ref::steal(PyTuple_New(short_chunk && pad_ ? static_cast<Py_ssize_t>(n_) : size));
            if (!chunk) return nullptr;
            for (Py_ssize_t k = 0; k < size; ++k)
                PyTuple_SET_ITEM(chunk.get(), k, Py_NewRef(PyList_GET_ITEM(list, index_ + k)));
            for (Py_ssize_t k = size; k < PyTuple_GET_SIZE(chunk.get()); ++k)
                PyTuple_SET_ITEM(chunk.get(), k, Py_NewRef(fill_.get()));
        }
        index_ += size;
        if (short_chunk) it_.reset();
        return chunk.release();
    }

    Ref it_;  // the iterator, or an exact list (empty once it has ended)
    unsigned long long n_;
    bool pad_;
    Ref fill_;
    bool list_;
    Py_ssize_t index_ = 0;
};

// An exact list is read where it is, as its iterator would read it.
Result<Ref> make_chunker(const ModuleState& module, unsigned long long n, PyObject* seq, bool pad, Ref fill) {
    Ref source;
    if (PyList_CheckExact(seq)) {
        source = Ref::borrow(seq);
    } else {
        QB_TRY(source, get_iter(seq));
    }
    return make_rust_iter<ChunkState>(module, std::move(source), n, pad, std::move(fill));
}

// ---- module functions ---------------------------------------------------------------

Result<Ref> interpose_body(Args<"el, seq">& a) {
    QB_TRY(RawSource source, RawSource::open(a.get<"seq">()));
    QB_TRY(Ref first, source.next());
    if (!first) return Error::stop_iteration();
    return make_iterator<InterposeState>(a.state(), interpose_iter_type, Ref::borrow(a.get<"el">()), std::move(source),
                                         std::move(first));
}

Result<Ref> sliding_window_body(Args<"n, seq">& a) {
    QB_TRY(long long n, a.to_i64<"n">());
    if (n < 0) return Error::value_error("n must be >= 0");
    return build_sliding_window(a.state(), static_cast<unsigned long long>(n), a.get<"seq">());
}

Result<Ref> partition_all_body(Args<"n, seq">& a) {
    QB_TRY(long long n, a.to_i64<"n">());
    if (n < 1) return make_empty_iter(a.state());
    return build_chunker(a.state(), static_cast<unsigned long long>(n), a.get<"seq">());
}

Result<Ref> partition_body(Args<"n, seq, *rest">& a) {
    QB_TRY(long long n, a.to_i64<"n">());
    QB_TRY(PyObject * fill, a.optional_rest("partition", 3));
    if (n < 1) return make_empty_iter(a.state());
    return make_chunker(a.state(), static_cast<unsigned long long>(n), a.get<"seq">(), true, Ref::borrow(fill));
}

PyMethodDef functions[] = {
    QB_FUNCTION("interpose", interpose_body),
    QB_FUNCTION("sliding_window", sliding_window_body),
    QB_FUNCTION("partition", partition_body),
    QB_FUNCTION("partition_all", partition_all_body),
    QB_METHODS_END,
};

Registrar registrar(functions, {&interpose_iter_type, &sliding_window_iter_type});

}  // namespace

Result<Ref> build_interpose(const ModuleState& module, PyObject* el, RawSource source) {
    return make_iterator<InterposeState>(module, interpose_iter_type, Ref::borrow(el), std::move(source), Ref());
}

Result<Ref> build_sliding_window(const ModuleState& module, unsigned long long n, PyObject* seq) {
    if (n == 0) return make_empty_iter(module);
    QB_TRY(RawSource source, RawSource::open(seq));
    std::vector<Ref> priming;
    if (n > 1) {
        QB_CHECK(reserve(priming, capped_reserve(n - 1)));
        while (priming.size() < n - 1) {
            QB_TRY(Ref x, source.next());
            if (!x) break;
            QB_CHECK(push(priming, std::move(x)));
        }
    }
    return make_iterator<SlidingWindowState>(module, sliding_window_iter_type, std::move(priming), std::move(source), n);
}

Result<Ref> build_chunker(const ModuleState& module, unsigned long long n, PyObject* seq) {
    return make_chunker(module, n, seq, false, Ref());
}

}  // namespace quibra
