// curry: collects arguments until the wrapped callable's signature accepts
// them, deciding with the signature's own bind / bind_partial.
#include "combinators/combinators.hpp"
#include "utils/registry.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quibra {

namespace {

CachedAttr inspect_signature("inspect", "signature");

// Waiters for any signature slot share one mutex and condition: first calls
// racing on the same fresh curry are rare, and a mutex per instance would
// triple its size.
std::mutex slot_mutex;
std::condition_variable slot_changed;

// The per-instance signature: unset until the first call computes it, then
// known (the signature object) or unavailable (introspection refused the
// callable) for good. Concurrent first callers wait, detached from the
// interpreter, for the one computing it.
class SignatureSlot {
public:
    SignatureSlot() noexcept = default;
    // A slot inherited from the curry this one was derived from.
    explicit SignatureSlot(Ref known) noexcept : state_(Known), sig_(std::move(known)) {}
    SignatureSlot(const SignatureSlot&) = delete;
    SignatureSlot& operator=(const SignatureSlot&) = delete;

    // The signature, an empty Ref when unavailable, or the error that left
    // the slot unset.
    Result<Ref> get(PyObject* func) {
        unsigned char s = state_.load(std::memory_order_acquire);
        if (s == Known) return sig_;
        if (s == Unavailable) return Ref();
        return slow_get(func);
    }

    // The signature is written once, before the state becomes Known, and
    // only read after that.
    int traverse(const Visitor& visit) const {
        return state_.load(std::memory_order_acquire) == Known ? visit(sig_) : 0;
    }

private:
    enum : unsigned char { Unset, Running, Known, Unavailable };

    Result<Ref> slow_get(PyObject* func) {
        for (;;) {
            unsigned char s = Unset;
            if (state_.compare_exchange_strong(s, Running, std::memory_order_acq_rel)) break;
            if (s == Known) return sig_;
            if (s == Unavailable) return Ref();
            // Re-entered from our own computation (the callable's signature
            // machinery calls this curry): nothing to wait for.
            if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return compute(func);
            PyThreadState* ts = PyEval_SaveThread();
            {
                std::unique_lock lock(slot_mutex);
                slot_changed.wait(lock, [this] { return state_.load(std::memory_order_acquire) != Running; });
            }
            PyEval_RestoreThread(ts);
        }
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        // Waiters must be released on every way out, a native fault included.
        Result<Ref> out = Error::panic("signature computation failed");
        try {
            out = compute(func);
        } catch (...) {
            out = Error::from_exception(std::current_exception(), "signature computation failed");
        }
        {
            std::lock_guard lock(slot_mutex);
            owner_.store(std::thread::id(), std::memory_order_relaxed);
            if (out && *out) sig_ = *out;
            state_.store(out ? (*out ? Known : Unavailable) : Unset, std::memory_order_release);
        }
        slot_changed.notify_all();
        return out;
    }

    // inspect.signature(func); ValueError and TypeError mean "no signature".
    static Result<Ref> compute(PyObject* func) {
        QB_TRY(PyObject * fn, inspect_signature.get());
        Result<Ref> sig = call(fn, func);
        if (sig) return sig;
        Error e = std::move(sig).error();
        if (!e.is_panic() && (e.matches(PyExc_ValueError) || e.matches(PyExc_TypeError))) return Ref();
        return e;
    }

    std::atomic<unsigned char> state_{Unset};
    Ref sig_;  // written once, before the state becomes Known
    std::atomic<std::thread::id> owner_{};
};

PyObject* curry_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct CurryState {
    vectorcallfunc vc = &curry_vectorcall;
    Ref func;
    Ref args;    // tuple
    Ref kwargs;  // dict owned by this instance alone
    SignatureSlot sig;

    CurryState(Ref f, Ref a, Ref k) noexcept : func(std::move(f)), args(std::move(a)), kwargs(std::move(k)) {}
    CurryState(Ref f, Ref a, Ref k, Ref known) noexcept
        : func(std::move(f)), args(std::move(a)), kwargs(std::move(k)), sig(std::move(known)) {}
    int traverse(const Visitor& visit) const { return visit(func, args, kwargs, sig); }
};

Result<Ref> curry_new(Args<"func, *args, **kwargs">& a);

TypeCell curry_type("curry", [] {
    return callable_spec<CurryState>("quibra._quibra.curry", constructor_doc<"curry", curry_new>(),
                                     reinterpret_cast<void*>(&new_slot<"curry", curry_new>));
});

Result<Ref> curry_new(Args<"func, *args, **kwargs">& a) {
    QB_TRY(Ref args, a.rest_tuple());
    return make_native<CurryState>(reinterpret_cast<PyTypeObject*>(a.self), Ref::borrow(a.get<"func">()), std::move(args), a.kwargs);
}

// Once-cells rather than function statics: a thread that meets another
// thread's first call making the name waits detached from the interpreter,
// where a static's hidden lock would wait attached and could deadlock.
InternedName bind_name("bind"), bind_partial_name("bind_partial");

// sig.<method>(*args, **kwargs); only whether it raised matters.
Status try_bind(PyObject* sig, InternedName& name, PyObject* args, PyObject* kwargs) {
    QB_TRY(PyObject * method_name, name.get());
    QB_TRY(Ref method, checked(PyObject_GetAttr(sig, method_name)));
    QB_TRY(Ref ignored, checked(PyObject_Call(method.get(), args, kwargs)));
    return success();
}

Result<Ref> curry_call(CurryState& c, PyObject* const* argv, std::size_t nargsf, PyObject* kwnames) {
    // Merged arguments: the bound ones first; call-time keywords win. The
    // instance itself is never touched.
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Py_ssize_t bound = PyTuple_GET_SIZE(c.args.get());
    QB_TRY(Ref args, new_tuple(bound + nargs));
    for (Py_ssize_t i = 0; i < bound; ++i) PyTuple_SET_ITEM(args.get(), i, Py_NewRef(PyTuple_GET_ITEM(c.args.get(), i)));
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(args.get(), bound + i, Py_NewRef(argv[i]));
    QB_TRY(Ref kwargs, checked(PyDict_Copy(c.kwargs.get())));
    QB_CHECK(store_keywords(kwargs.get(), argv, nargs, kwnames));

    QB_TRY(Ref sig, c.sig.get(c.func.get()));
    if (!sig) return checked(PyObject_Call(c.func.get(), args.get(), kwargs.get()));

    Status complete = try_bind(sig.get(), bind_name, args.get(), kwargs.get());
    if (!complete) {
        Error e = std::move(complete).error();
        if (e.is_panic() || !e.matches(PyExc_TypeError)) return e;
        Status partial = try_bind(sig.get(), bind_partial_name, args.get(), kwargs.get());
        if (partial) {
            QB_TRY(PyTypeObject * type, curry_type.get());
            return make_native<CurryState>(type, c.func, std::move(args), std::move(kwargs), std::move(sig));
        }
        Error pe = std::move(partial).error();
        if (pe.is_panic() || !pe.matches(PyExc_TypeError)) return pe;
        // The arguments cannot fit: let the callable report it its own way.
    }
    return checked(PyObject_Call(c.func.get(), args.get(), kwargs.get()));
}

PyObject* curry_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return vectorcall_entry<CurryState, curry_call>(self, args, nargsf, kwnames);
}

Registrar registrar(nullptr, {&curry_type});

}  // namespace

Result<Ref> make_curry(Ref func, Ref args, Ref kwargs) {
    QB_TRY(PyTypeObject * type, curry_type.get());
    return make_native<CurryState>(type, std::move(func), std::move(args), std::move(kwargs));
}

}  // namespace quibra
