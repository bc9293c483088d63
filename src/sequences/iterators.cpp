#include "sequences/iterators.hpp"

#include "utils/registry.hpp"

namespace quibra {

Result<RawSource> RawSource::open(PyObject* seq) {
    if (PyList_CheckExact(seq)) return RawSource(Ref::borrow(seq), true);
    QB_TRY(Ref it, get_iter(seq));
    return RawSource(std::move(it), false);
}

unsigned long long RawSource::remaining() const noexcept {
    if (is_list_) {
        if (done_) return 0;
        Py_ssize_t left = PyList_GET_SIZE(obj_.get()) - index_;
        return left > 0 ? static_cast<unsigned long long>(left) : 0;
    }
    Py_ssize_t h = PyObject_LengthHint(obj_.get(), 0);
    if (h < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<unsigned long long>(h);
}

namespace {

struct RustState {
    std::unique_ptr<Step> fn;
    bool raw;  // the step answers in the raw convention
    explicit RustState(std::unique_ptr<Step> f) noexcept : fn(std::move(f)), raw(fn->answers_raw()) {}
    PyObject* step_raw() { return raw ? fn->next_raw() : finish(fn->next()); }
    int traverse(const Visitor& visit) const { return fn->traverse(visit); }
    void clear() noexcept { fn->clear(); }
};

TypeCell rust_iter_type("RustIter", [] {
    return iterator_spec<RustState>("quibra._quibra.RustIter", nullptr);
});

class EmptyStep final : public Step {
public:
    Result<Ref> next() override { return Ref(); }
    int traverse(const Visitor&) const override { return 0; }
};

Registrar registrar(nullptr, {&rust_iter_type});

}  // namespace

Result<Ref> make_rust_iter(std::unique_ptr<Step> step) {
    return make_iterator<RustState>(rust_iter_type, std::move(step));
}

Result<Ref> make_empty_iter() { return make_rust_iter(std::make_unique<EmptyStep>()); }

}  // namespace quibra
