#include "utils/iterators.hpp"

#include "utils/registry.hpp"

namespace quibra {

namespace {

ClassSpec<Guarded<Hosted>> rust_iter_spec = iterator_spec<Hosted>("quibra._quibra.RustIter", nullptr);
TypeCell rust_iter_type("RustIter", rust_iter_spec);

struct EmptyStep {
    Result<Ref> step() { return Ref(); }
    int traverse(const Visitor&) const { return 0; }
};

Registrar registrar(nullptr, {&rust_iter_type});

}  // namespace

Result<Ref> make_hosted(const HostedOps* ops, void* state) {
    return make_iterator<Hosted>(rust_iter_type, ops, state);
}

Result<Ref> make_empty_iter() { return make_rust_iter<EmptyStep>(); }

}  // namespace quibra
