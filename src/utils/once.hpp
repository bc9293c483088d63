// Once-initialised cells: the standard-library attributes, interned names
// and other objects a module state keeps after first use (see state.hpp),
// and the keys that give each cell its place in every module state.
#pragma once

#include "utils/capi.hpp"
#include "utils/gc.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace quibra {

class ModuleState;

// Holds one object, once an initialiser has produced it, until the module
// state that owns the cell is cleared. The initialiser may run Python code
// that releases the interpreter lock (an import does), so a thread that
// finds another thread initialising waits detached from the interpreter; a
// plain call_once held with the lock attached could deadlock. A failed
// initialisation leaves the cell empty and the next caller tries again.
class OnceCell {
public:
    // The stored object (borrowed: the owning state keeps it).
    template <class Init>
    Result<PyObject*> get(Init&& init) {
        if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
        return slow_get(init);
    }

    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    int traverse(const Visitor& visit) const { return visit(peek()); }
    // Only when nothing can run the owner's code any more (the module is
    // being cleared or freed).
    void clear() noexcept { Py_XDECREF(value_.exchange(nullptr, std::memory_order_acq_rel)); }
    ~OnceCell() { clear(); }

private:
    template <class Init>
    Result<PyObject*> slow_get(Init& init) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
            if (!running_) break;
            if (owner_ == std::this_thread::get_id()) {
                // Re-entered from our own initialiser: there is no value to
                // wait for, so compute one and keep the first that lands.
                lock.unlock();
                Result<Ref> r = run(init);
                if (!r) return std::move(r).error();
                return publish(std::move(r).value());
            }
            PyThreadState* ts = PyEval_SaveThread();
            cv_.wait(lock, [this] { return !running_; });
            lock.unlock();
            PyEval_RestoreThread(ts);
            lock.lock();
        }
        running_ = true;
        owner_ = std::this_thread::get_id();
        lock.unlock();
        Result<Ref> r = run(init);
        lock.lock();
        running_ = false;
        owner_ = {};
        Result<PyObject*> out = r ? Result<PyObject*>(publish(std::move(r).value())) : std::move(r).error();
        cv_.notify_all();
        return out;
    }

    // Stores v unless a value is already there; the stored one either way.
    PyObject* publish(Ref v) noexcept {
        PyObject* expected = nullptr;
        PyObject* mine = v.get();
        if (value_.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
            static_cast<void>(v.release());
            return mine;
        }
        return expected;
    }

    // A C++ exception out of the initialiser (memory running out) is an
    // error like any other: escaping, it would leave the cell marked running
    // and every later caller waiting.
    template <class Init>
    static Result<Ref> run(Init& init) noexcept {
        try {
            return init();
        } catch (...) {
            return Error::from_exception(std::current_exception(), "initialisation failed");
        }
    }

    std::atomic<PyObject*> value_{nullptr};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool running_ = false;
    std::thread::id owner_{};
};

// A cell's place in every module state, handed out while the library loads
// (each key is a namespace-scope object of some file).
class CellKey {
public:
    CellKey() noexcept : index_(count()++) {}
    CellKey(const CellKey&) = delete;
    CellKey& operator=(const CellKey&) = delete;

    std::size_t index() const noexcept { return index_; }
    // How many keys there are (final once the library has loaded).
    static std::size_t& count() noexcept {
        static std::size_t n = 0;
        return n;
    }

private:
    std::size_t index_;
};

// A cell kept per module state, made by `init`.
class StateCell {
public:
    template <class Init>
    Result<PyObject*> get(ModuleState& state, Init&& init);
    // The value, or nullptr while there is none yet.
    PyObject* peek(ModuleState& state) const noexcept;

private:
    CellKey key_;
};

// A standard-library attribute kept per module state after first use.
class CachedAttr {
public:
    CachedAttr(const char* module, const char* attr) noexcept : module_(module), attr_(attr) {}
    // Inline (in state.hpp): on the path of calls that delegate to the attribute.
    Result<PyObject*> get(ModuleState& state);

private:
    Result<PyObject*> load(ModuleState& state);

    const char* module_;
    const char* attr_;
    StateCell cell_;
};

// An interned attribute name, made once per module state.
class InternedName {
public:
    explicit InternedName(const char* text) noexcept : text_(text) {}
    Result<PyObject*> get(ModuleState& state);

private:
    const char* text_;
    StateCell cell_;
};

// A standard-library module kept per module state, for call sites that look
// an attribute up on every call (so a replaced attribute is seen) but need
// not pay for the import machinery each time.
class CachedModule {
public:
    explicit CachedModule(const char* module) noexcept : module_(module) {}
    Result<Ref> attr(ModuleState& state, InternedName& name);

private:
    const char* module_;
    StateCell cell_;
};

}  // namespace quibra
