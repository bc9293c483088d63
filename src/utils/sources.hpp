// Where the per-element loops read their input: an exact list by position,
// anything else through its iterator.
#pragma once

#include "utils/capi.hpp"
#include "utils/gc.hpp"
#include "utils/signals.hpp"

namespace quibra {

// An exact list read by index (its length re-read at every step, so appends
// are delivered and truncation ends the walk), or any other object read
// through its iterator. Reading a list by position is exactly what its
// iterator would do, without the iterator. An iterator may never end
// (itertools.repeat), so reading one pauses every kSignalInterval items for
// signals and waiting threads (see signals.hpp); a list ends, and code of
// the user's that keeps it growing handles signals itself.
class RawSource {
public:
    static Result<RawSource> open(PyObject* seq);

    // The next item, an empty Ref at the end, or the source's error.
    Result<Ref> next() {
        if (PyObject* item = next_raw()) return Ref::steal(item);
        if (PyErr_Occurred()) return Error::fetch_ffi();
        return Ref();
    }

    // The same outcomes in the C API's raw convention, for the per-element
    // loops (a Result per element costs unique's loop about 5%): a new
    // reference, or nullptr at the end (no exception set) or on error.
    [[gnu::always_inline]] PyObject* next_raw() noexcept {
        if (!is_list_) return signals_.tick() ? iter_next(obj_.get()) : nullptr;
        if (done_ || index_ >= PyList_GET_SIZE(obj_.get())) {
            done_ = true;
            return nullptr;
        }
        return Py_NewRef(PyList_GET_ITEM(obj_.get(), index_++));
    }

    // How many more items the source can deliver (the iterator's own hint,
    // 0 when it has none or it fails).
    unsigned long long remaining() const noexcept;

    bool is_list() const noexcept { return is_list_; }

    int traverse(const Visitor& visit) const { return visit(obj_); }

    // For a step that reads into each element: an exact list's elements are
    // objects anywhere in memory, and asking now for the one a few places
    // ahead overlaps the wait for it with this step.
    void prefetch_ahead() const noexcept {
        if (is_list_ && index_ + kPrefetchDistance < PyList_GET_SIZE(obj_.get()))
            __builtin_prefetch(PyList_GET_ITEM(obj_.get(), index_ + kPrefetchDistance));
    }

private:
    static constexpr Py_ssize_t kPrefetchDistance = 8;

    RawSource(Ref obj, bool is_list) noexcept : obj_(std::move(obj)), is_list_(is_list) {}
    Ref obj_;
    Py_ssize_t index_ = 0;
    bool is_list_;
    bool done_ = false;
    SignalCheck signals_;
};

}  // namespace quibra
