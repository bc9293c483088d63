// unique(seq, key=None): the elements whose key was not seen before, in order.
#include "sequences/unique.hpp"

#include "buffers/offers.hpp"
#include "utils/binding.hpp"
#include "utils/hashing.hpp"
#include "utils/iterators.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"
#include "utils/signals.hpp"

namespace quibra {

namespace {

// The seen-set holds the keys (key(x), or x itself); what is yielded is
// always the element.
struct UniqueState {
    SeenSet seen;
    RawSource source;
    Ref key;  // empty: the element is its own key

    UniqueState(bool int_hash, RawSource src, Ref k) noexcept
        : seen(int_hash), source(std::move(src)), key(std::move(k)) {}

    // The per-element loop stays in the interpreter's raw convention (see
    // next_raw and insert_raw) and turns a failure into a pending error once.
    Result<Ref> step() {
        for (;;) {
            Ref x = Ref::steal(source.next_raw());
            if (!x) {
                if (PyErr_Occurred()) return Error::fetch_ffi();
                return Ref();
            }
            int fresh;
            if (!key) {
                fresh = seen.insert_raw(x.get());
            } else {
                QB_TRY(Ref k, call(key.get(), x.get()));
                fresh = seen.insert_raw(k.get());
            }
            if (fresh > 0) return x;
            if (fresh < 0) return Error::fetch_ffi();
        }
    }

    int traverse(const Visitor& visit) const { return visit(seen, source, key); }
    // A key may be the iterator itself.
    void clear() noexcept { seen.clear(); }

    // Every remaining element could be new.
    unsigned long long hint() const noexcept { return source.remaining(); }
};

ClassSpec<Guarded<UniqueState>> unique_iter_spec = iterator_spec<UniqueState>(
        "quibra._quibra.UniqueIter",
        "Lazy first occurrences. Each element is hashed once and probed in a\n"
        "native open-addressing set that owns the seen keys; equality runs only\n"
        "on a full hash match, after an identity check.",
        "__length_hint__($self)\n--\n\n"
        "Upper bound (PEP 424 allows estimates): every remaining source\n"
        "element could be new. Lets consumers preallocate.");
TypeCell unique_iter_type("UniqueIter", unique_iter_spec);

Result<Ref> unique_body(Args<"seq, key=None">& a) { return build_unique(a.state(), a.get<"seq">(), a.get<"key">()); }

PyMethodDef functions[] = {
    QB_FUNCTION("unique", unique_body),
    QB_METHODS_END,
};

Registrar registrar(functions, {&unique_iter_type});

}  // namespace

Result<Ref> build_unique(const ModuleState& module, PyObject* seq, PyObject* key) {
    if (!key) {
        QB_TRY(Ref typed, offer_typed_unique(module, seq));
        if (typed) return typed;
    }
    QB_TRY(RawSource source, RawSource::open(seq));
    QB_TRY(bool int_hash, int_hash_inline_ok());
    return make_iterator<UniqueState>(module, unique_iter_type, int_hash, std::move(source), Ref::borrow(key));
}

}  // namespace quibra
