// UniqueIntIter: unique over a typed buffer, lazily, reading the exporter's
// memory afresh on every step.
#include "buffers/unique_int_iter.hpp"

#include "buffers/tables.hpp"
#include "utils/iterators.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

#include <algorithm>

namespace quibra {

namespace {

// Sees writes made between steps; nothing is scanned until the first step.
struct UniqueIntState {
    static constexpr bool checks_depth = true;  // reads the buffer and nothing else: never nests
    TypedBuffer buffer;
    ValueSet<std::uint64_t> seen;  // widened values: one set type for every kind
    std::size_t position = 0;

    explicit UniqueIntState(TypedBuffer b) noexcept : buffer(std::move(b)) {}

    Result<Ref> step() {
        // An exporter may stop offering scannable memory; a cleared iterator
        // has no buffer left. Either way the iteration just ends.
        if (!buffer.scannable()) return Ref();
        return or_no_memory([this] { return dispatch_kind(buffer.kind(), [this](auto zero) { return next_new(zero); }); });
    }

    template <class T>
    Result<Ref> next_new(T) {
        const T* p = buffer.data<T>();
        const std::size_t n = buffer.length();
        // A long run of repeats is read in blocks, with a pause between them.
        SignalCheck signals(1);
        if (position == 0) seen.reserve(std::min(n, kPresizedValues));
        while (position < n) {
            std::size_t end = std::min(n, position + kSignalInterval);
            // May throw while storing a new value; everything before it was a repeat.
            std::size_t i = seen.first_new(p, position, end);
            if (i < end) {
                position = i + 1;
                return box(p[i]);
            }
            position = end;
            if (position < n && !signals.tick()) return Error::fetch();
        }
        return Ref();
    }

    unsigned long long hint() const noexcept {
        std::size_t n = buffer.length();
        return n > position ? n - position : 0;
    }

    int traverse(const Visitor& visit) const { return visit(buffer); }
    // The exporter may hold this iterator; letting go of the view breaks that.
    void clear() noexcept { buffer.release(); }
};

ClassSpec<Guarded<UniqueIntState>> unique_int_iter_spec = iterator_spec<UniqueIntState>(
    "quibra._quibra.UniqueIntIter",
    "Lazy `unique` over a 1-D contiguous int buffer: scans natively and boxes\n"
    "only the values it yields, so early exits (`take(5, unique(big_array))`)\n"
    "stay cheap while full scans skip per-element boxing and PyObject hashing.",
    "__length_hint__($self)\n--\n\n"
    "Upper bound (PEP 424 allows estimates): every remaining element\n"
    "could be new.");
TypeCell unique_int_iter_type("UniqueIntIter", unique_int_iter_spec);

Registrar registrar(nullptr, {&unique_int_iter_type});

}  // namespace

Result<Ref> make_unique_int_iter(const ModuleState& module, TypedBuffer buffer) {
    return make_iterator<UniqueIntState>(module, unique_int_iter_type, std::move(buffer));
}

}  // namespace quibra
