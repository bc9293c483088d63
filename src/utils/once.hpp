// Process-wide once-initialised cells (type objects, cached standard-library
// attributes, probes).
#pragma once

#include "utils/capi.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quibra {

// Holds one object for the rest of the process once an initialiser has
// produced it. The initialiser may run Python code that releases the
// interpreter lock (an import does), so a thread that finds another thread
// initialising waits detached from the interpreter; a plain call_once held
// with the lock attached could deadlock. A failed initialisation leaves the
// cell empty and the next caller tries again.
class OnceCell {
public:
    // The stored object (borrowed, alive for the whole process).
    template <class Init>
    Result<PyObject*> get(Init&& init) {
        if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
        return slow_get(init);
    }

    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

private:
    template <class Init>
    Result<PyObject*> slow_get(Init& init) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
            if (!running_) break;
            if (owner_ == std::this_thread::get_id()) {
                // Re-entered from our own initialiser: there is no value to
                // wait for, so compute one without caching it.
                lock.unlock();
                Result<Ref> r = run(init);
                if (!r) return std::move(r).error();
                return keep_forever(std::move(r).value());
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
        if (r) value_.store(std::move(r).value().release(), std::memory_order_release);
        cv_.notify_all();
        if (!r) return std::move(r).error();
        return value_.load(std::memory_order_acquire);
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

    static PyObject* keep_forever(Ref r) { return r.release(); }

    std::atomic<PyObject*> value_{nullptr};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool running_ = false;
    std::thread::id owner_{};
};

// A standard-library attribute kept once per process.
class CachedAttr {
public:
    CachedAttr(const char* module, const char* attr) noexcept : module_(module), attr_(attr) {}
    Result<PyObject*> get() {
        return cell_.get([this] { return import_attr(module_, attr_); });
    }

private:
    const char* module_;
    const char* attr_;
    OnceCell cell_;
};

// An interned attribute name, made once per process.
class InternedName {
public:
    explicit InternedName(const char* text) noexcept : text_(text) {}
    Result<PyObject*> get() {
        return cell_.get([this] { return checked(PyUnicode_InternFromString(text_)); });
    }

private:
    const char* text_;
    OnceCell cell_;
};

// A standard-library module kept once per process, for call sites that look
// an attribute up on every call (so a replaced attribute is seen) but need
// not pay for the import machinery each time.
class CachedModule {
public:
    explicit CachedModule(const char* module) noexcept : module_(module) {}
    Result<Ref> attr(InternedName& name) {
        QB_TRY(PyObject * mod, cell_.get([this] { return checked(PyImport_ImportModule(module_)); }));
        QB_TRY(PyObject * key, name.get());
        return checked(PyObject_GetAttr(mod, key));
    }

private:
    const char* module_;
    OnceCell cell_;
};

}  // namespace quibra
