// Lazy functions hosted by a RustIter: interleave, iterate, accumulate,
// remove. Each state owns its sources and callables; none keeps an end flag,
// so what happens after the end is whatever its sources do.
#include "sequences/steps.hpp"

#include "utils/hashing.hpp"
#include "utils/binding.hpp"
#include "utils/iterators.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"
#include "utils/signals.hpp"

#include <memory>
#include <optional>
#include <vector>

namespace quibra {

namespace {

// Round robin over the sources. An exhausted source is released at once
// and leaves a hole that is skipped; the holes are squeezed out when the
// round wraps, so the others keep their order and ending many sources costs
// linear time, not a shift of the whole array per source.
class InterleaveState {
public:
    explicit InterleaveState(std::vector<std::optional<RawSource>> sources) noexcept
        : sources_(std::move(sources)), live_(sources_.size()) {}

    Result<Ref> step() {
        while (live_ > 0) {
            if (pos_ >= sources_.size()) {
                std::erase_if(sources_, [](const std::optional<RawSource>& s) { return !s; });
                pos_ = 0;
            }
            std::optional<RawSource>& source = sources_[pos_];
            if (!source) {
                ++pos_;
                continue;
            }
            // An error leaves the position where it is: the next call asks
            // the same source again.
            QB_TRY(Ref x, source->next());
            ++pos_;
            if (x) return x;
            source.reset();
            --live_;
        }
        return Ref();
    }

    int traverse(const Visitor& visit) const { return visit(sources_); }

private:
    std::vector<std::optional<RawSource>> sources_;  // empty: exhausted and released
    std::size_t live_;
    std::size_t pos_ = 0;
};

// x, func(x), func(func(x)), ... The current value is taken out while func
// runs, so a failure leaves the state empty and every later call ends.
class IterateState {
public:
    IterateState(Ref func, Ref x) noexcept : func_(std::move(func)), value_(std::move(x)) {}

    Result<Ref> step() {
        Ref value = std::move(value_);
        if (!value) return Ref();
        if (first_) {
            first_ = false;
            value_ = value;
            return value;
        }
        QB_TRY(Ref r, call(func_.get(), value.get()));
        value_ = r;
        return r;
    }

    int traverse(const Visitor& visit) const { return visit(func_, value_); }
    // The value may be the iterator itself.
    void clear() noexcept { value_.reset(); }

private:
    Ref func_;
    Ref value_;
    bool first_ = true;
};

// How a step calls the user's callable per element: a Python function runs
// under the interpreter's own stack check, so calling it cannot nest native
// code unchecked; `_operator`'s builtins run as the protocol call they wrap,
// which over builtin values runs no code at all.
enum class Callee : unsigned char { Python, Operator, Other };

// Running results: the initial value first (when given), then
// binop(total, x) for each element; without an initial value the first
// element starts the total. A failing binop leaves the total unchanged.
class AccumulateState {
public:
    AccumulateState(RawSource src, Ref binop, Ref initial) noexcept
        : src_(std::move(src)), binop_(std::move(binop)), initial_(std::move(initial)),
          callee_(PyFunction_Check(binop_.get())                    ? Callee::Python
                  : is_operator_builtin(binop_.get(), "add") ? Callee::Operator
                                                                    : Callee::Other) {}

    static constexpr bool checks_depth = true;

    PyObject* step_raw() {
        if (initial_ && !delivered_) {
            delivered_ = true;
            total_ = initial_;
            return Py_NewRef(initial_.get());
        }
        DepthCheck depth;
        if (!src_.is_list() && !depth.enter()) return nullptr;
        Ref x = Ref::steal(src_.next_raw());
        if (!x) return nullptr;
        if (!total_) {
            total_ = x;
            return x.release();
        }
        PyObject* r;
        if (callee_ == Callee::Operator && builtin_key(total_.get()) && builtin_key(x.get())) {
            r = PyNumber_Add(total_.get(), x.get());  // operator.add itself, without the call
        } else {
            if (callee_ != Callee::Python && !depth.enter()) return nullptr;
            if (callee_ == Callee::Operator) {
                r = PyNumber_Add(total_.get(), x.get());
            } else {
                PyObject* argv[] = {nullptr, total_.get(), x.get()};
                r = PyObject_Vectorcall(binop_.get(), argv + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
            }
        }
        if (!r) return nullptr;
        total_ = Ref::steal(r);
        return Py_NewRef(r);
    }

    int traverse(const Visitor& visit) const { return visit(src_, binop_, initial_, total_); }
    // The running total may be the iterator itself.
    void clear() noexcept { total_.reset(); }

private:
    RawSource src_;
    Ref binop_;
    Ref initial_;
    Ref total_;
    Callee callee_;
    bool delivered_ = false;
};

// The elements for which predicate(x) is false.
class RemoveState {
public:
    RemoveState(RawSource src, Ref predicate) noexcept
        : src_(std::move(src)), predicate_(std::move(predicate)),
          callee_(PyFunction_Check(predicate_.get())                                  ? Callee::Python
                  : is_operator_builtin(predicate_.get(), "truth") ||
                          predicate_.get() == reinterpret_cast<PyObject*>(&PyBool_Type) ? Callee::Operator
                                                                                        : Callee::Other) {}

    static constexpr bool checks_depth = true;

    PyObject* step_raw() {
        DepthCheck depth;
        if ((!src_.is_list() || callee_ == Callee::Other) && !depth.enter()) return nullptr;
        for (;;) {
            Ref x = Ref::steal(src_.next_raw());
            if (!x) return nullptr;
            int t;
            if (callee_ == Callee::Operator) {
                // operator.truth(x) and bool(x) are the truth test of x.
                if (!builtin_key(x.get()) && !depth.enter()) return nullptr;
                t = PyObject_IsTrue(x.get());
            } else {
                Ref r = Ref::steal(call_one_raw(predicate_.get(), x.get()));
                if (!r) return nullptr;
                t = truth(r.get());
            }
            if (t < 0) return nullptr;
            if (t == 0) return x.release();
        }
    }

    int traverse(const Visitor& visit) const { return visit(src_, predicate_); }

private:
    // The bool singletons answer without a call.
    static int truth(PyObject* r) noexcept {
        if (r == Py_True) return 1;
        if (r == Py_False) return 0;
        return PyObject_IsTrue(r);
    }

    RawSource src_;
    Ref predicate_;
    Callee callee_;
};

// Every inner sequence is opened now, so a non-iterable one fails the call;
// an exact list is read by index, which is what its iterator would do.
Result<Ref> interleave_body(Args<"seqs">& a) {
    QB_TRY(Ref outer, get_iter(a.get<"seqs">()));
    std::vector<std::optional<RawSource>> sources;
    SignalCheck signals;
    for (;;) {
        QB_CHECK(signals.status());
        QB_TRY(Ref s, next_item(outer.get()));
        if (!s) break;
        QB_TRY(RawSource src, RawSource::open(s.get()));
        sources.emplace_back(std::move(src));
    }
    return make_rust_iter<InterleaveState>(a.state(), std::move(sources));
}

Result<Ref> iterate_body(Args<"func, x">& a) {
    return make_rust_iter<IterateState>(a.state(), Ref::borrow(a.get<"func">()), Ref::borrow(a.get<"x">()));
}

Result<Ref> accumulate_body(Args<"binop, seq, *rest">& a) {
    QB_TRY(PyObject * initial, a.optional_rest("accumulate", 3));
    return accumulate_iter(a.state(), a.get<"binop">(), a.get<"seq">(), initial);
}

Result<Ref> remove_body(Args<"predicate, seq">& a) {
    QB_TRY(RawSource src, RawSource::open(a.get<"seq">()));
    return make_rust_iter<RemoveState>(a.state(), std::move(src), Ref::borrow(a.get<"predicate">()));
}

PyMethodDef functions[] = {
    QB_FUNCTION("interleave", interleave_body),
    QB_FUNCTION("remove", remove_body),
    QB_FUNCTION("accumulate", accumulate_body),
    QB_FUNCTION("iterate", iterate_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

Result<Ref> accumulate_iter(const ModuleState& module, PyObject* binop, PyObject* seq, PyObject* initial) {
    QB_TRY(RawSource src, RawSource::open(seq));
    return make_rust_iter<AccumulateState>(module, std::move(src), Ref::borrow(binop), Ref::borrow(initial));
}

}  // namespace quibra
