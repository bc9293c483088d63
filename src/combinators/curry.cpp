// curry: collects arguments until the wrapped callable's signature accepts
// them, deciding with the signature's own bind / bind_partial (or, for the
// standard library's own Signature, with the same decision made natively).
#include "combinators/bind_plan.hpp"
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
// interpreter, for the one computing it. A known signature comes with its
// bind plan when it has one.
class SignatureSlot {
public:
    using Plan = std::shared_ptr<const BindPlan>;

    SignatureSlot() noexcept = default;
    // A slot inherited from the curry this one was derived from.
    SignatureSlot(Ref known, Plan plan) noexcept : state_(Known), sig_(std::move(known)), plan_(std::move(plan)) {}
    SignatureSlot(const SignatureSlot&) = delete;
    SignatureSlot& operator=(const SignatureSlot&) = delete;

    // The signature, an empty Ref when unavailable, or the error that left
    // the slot unset.
    Result<Ref> get(ModuleState& module, PyObject* func) {
        unsigned char s = state_.load(std::memory_order_acquire);
        if (s == Known) return sig_;
        if (s == Unavailable) return Ref();
        return slow_get(module, func);
    }

    // The plan of a known signature; nullptr while unset, when unavailable,
    // or when bind must be asked.
    const BindPlan* plan() const noexcept {
        return state_.load(std::memory_order_acquire) == Known ? plan_.get() : nullptr;
    }
    Plan shared_plan() const noexcept { return plan() ? plan_ : Plan(); }
    // The signature once known (empty before).
    Ref known() const noexcept { return state_.load(std::memory_order_acquire) == Known ? sig_ : Ref(); }

    // The signature is written once, before the state becomes Known, and
    // only read after that.
    int traverse(const Visitor& visit) const {
        return state_.load(std::memory_order_acquire) == Known ? visit(sig_) : 0;
    }

private:
    enum : unsigned char { Unset, Running, Known, Unavailable };

    Result<Ref> slow_get(ModuleState& module, PyObject* func) {
        for (;;) {
            unsigned char s = Unset;
            if (state_.compare_exchange_strong(s, Running, std::memory_order_acq_rel)) break;
            if (s == Known) return sig_;
            if (s == Unavailable) return Ref();
            // Re-entered from our own computation (the callable's signature
            // machinery calls this curry): nothing to wait for.
            if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return compute(module, func);
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
        Plan plan;
        try {
            out = compute(module, func);
            if (out && *out) {
                Result<Plan> p = BindPlan::read(module, out->get());
                if (p) plan = std::move(*p);
                else out = std::move(p).error();
            }
        } catch (...) {
            out = Error::from_exception(std::current_exception(), "signature computation failed");
        }
        {
            std::lock_guard lock(slot_mutex);
            owner_.store(std::thread::id(), std::memory_order_relaxed);
            if (out && *out) {
                sig_ = *out;
                plan_ = std::move(plan);
            }
            state_.store(out ? (*out ? Known : Unavailable) : Unset, std::memory_order_release);
        }
        slot_changed.notify_all();
        return out;
    }

    // inspect.signature(func); ValueError and TypeError mean "no signature".
    static Result<Ref> compute(ModuleState& module, PyObject* func) {
        QB_TRY(PyObject * fn, inspect_signature.get(module));
        Result<Ref> sig = call(fn, func);
        if (sig) return sig;
        Error e = std::move(sig).error();
        if (!e.is_panic() && (e.matches(PyExc_ValueError) || e.matches(PyExc_TypeError))) return Ref();
        return e;
    }

    std::atomic<unsigned char> state_{Unset};
    Ref sig_;    // written once, before the state becomes Known
    Plan plan_;  // likewise
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
    CurryState(Ref f, Ref a, Ref k, Ref known, SignatureSlot::Plan plan) noexcept
        : func(std::move(f)), args(std::move(a)), kwargs(std::move(k)), sig(std::move(known), std::move(plan)) {}
    int traverse(const Visitor& visit) const { return visit(func, args, kwargs, sig); }
};

Result<Ref> curry_new(Args<"func, *args, **kwargs">& a);

ClassSpec<CurryState> curry_spec = callable_spec<CurryState>(
    "quibra._quibra.curry", constructor_doc<"curry", curry_new>(), reinterpret_cast<void*>(&new_slot<"curry", curry_new>));
TypeCell curry_type("curry", curry_spec);

Result<Ref> curry_new(Args<"func, *args, **kwargs">& a) {
    QB_TRY(Ref args, a.rest_tuple());
    return make_native<CurryState>(reinterpret_cast<PyTypeObject*>(a.self), Ref::borrow(a.get<"func">()), std::move(args), a.kwargs);
}

// Once-cells rather than function statics: a thread that meets another
// thread's first call making the name waits detached from the interpreter,
// where a static's hidden lock would wait attached and could deadlock.
InternedName bind_name("bind"), bind_partial_name("bind_partial");

// sig.<method>(*args, **kwargs); only whether it raised matters.
Status try_bind(ModuleState& module, PyObject* sig, InternedName& name, PyObject* args, PyObject* kwargs) {
    QB_TRY(PyObject * method_name, name.get(module));
    QB_TRY(Ref method, checked(PyObject_GetAttr(sig, method_name)));
    QB_TRY(Ref ignored, checked(PyObject_Call(method.get(), args, kwargs)));
    return success();
}

// The bound positional arguments followed by the call's.
Result<Ref> merged_args(const CurryState& c, PyObject* const* argv, Py_ssize_t nargs) {
    Py_ssize_t bound = PyTuple_GET_SIZE(c.args.get());
    QB_TRY(Ref args, new_tuple(bound + nargs));
    for (Py_ssize_t i = 0; i < bound; ++i) PyTuple_SET_ITEM(args.get(), i, Py_NewRef(PyTuple_GET_ITEM(c.args.get(), i)));
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(args.get(), bound + i, Py_NewRef(argv[i]));
    return args;
}

// A partial application: the same class, callable and signature, more
// arguments.
Result<Ref> derive(PyObject* self, const CurryState& c, Ref args, Ref kwargs, Ref sig) {
    return make_native<CurryState>(Py_TYPE(self), c.func, std::move(args), std::move(kwargs), std::move(sig),
                                   c.sig.shared_plan());
}

// No keywords anywhere and a planned signature: the decision needs only the
// argument count, and a complete call goes to the callable straight from the
// stack, with no merged tuple or dict.
Result<Ref> positional_call(PyObject* self, const CurryState& c, const BindPlan& plan, PyObject* const* argv,
                            Py_ssize_t nargs) {
    Py_ssize_t bound = PyTuple_GET_SIZE(c.args.get());
    if (plan.incomplete(bound + nargs, nullptr)) {
        QB_TRY(Ref args, merged_args(c, argv, nargs));
        QB_TRY(Ref kwargs, new_dict());
        return derive(self, c, std::move(args), std::move(kwargs), c.sig.known());
    }
    // The bound items stay alive with c, which the caller holds.
    ArgVector all(static_cast<std::size_t>(bound + nargs));
    for (Py_ssize_t i = 0; i < bound; ++i) all[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(c.args.get(), i);
    for (Py_ssize_t i = 0; i < nargs; ++i) all[static_cast<std::size_t>(bound + i)] = argv[i];
    return all.call(c.func.get());
}

Result<Ref> curry_call(PyObject* self, CurryState& c, PyObject* const* argv, std::size_t nargsf, PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (keyword_count(kwnames) == 0 && PyDict_GET_SIZE(c.kwargs.get()) == 0)
        if (const BindPlan* plan = c.sig.plan()) return positional_call(self, c, *plan, argv, nargs);

    // Merged arguments: the bound ones first; call-time keywords win. The
    // instance itself is never touched.
    QB_TRY(Ref args, merged_args(c, argv, nargs));
    QB_TRY(Ref kwargs, checked(PyDict_Copy(c.kwargs.get())));
    QB_CHECK(store_keywords(kwargs.get(), argv, nargs, kwnames));

    ModuleState& module = type_state(Py_TYPE(self));
    QB_TRY(Ref sig, c.sig.get(module, c.func.get()));
    if (!sig) return checked(PyObject_Call(c.func.get(), args.get(), kwargs.get()));

    if (const BindPlan* plan = c.sig.plan(); plan && BindPlan::keywords_readable(kwargs.get())) {
        if (plan->incomplete(PyTuple_GET_SIZE(args.get()), kwargs.get()))
            return derive(self, c, std::move(args), std::move(kwargs), std::move(sig));
        return checked(PyObject_Call(c.func.get(), args.get(), kwargs.get()));
    }

    Status complete = try_bind(module, sig.get(), bind_name, args.get(), kwargs.get());
    if (!complete) {
        Error e = std::move(complete).error();
        if (e.is_panic() || !e.matches(PyExc_TypeError)) return e;
        Status partial = try_bind(module, sig.get(), bind_partial_name, args.get(), kwargs.get());
        if (partial) return derive(self, c, std::move(args), std::move(kwargs), std::move(sig));
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

Result<Ref> make_curry(const ModuleState& module, Ref func, Ref args, Ref kwargs) {
    QB_TRY(PyTypeObject * type, curry_type.get(module));
    return make_native<CurryState>(type, std::move(func), std::move(args), std::move(kwargs));
}

}  // namespace quibra
