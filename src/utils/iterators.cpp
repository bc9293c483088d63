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

Result<Ref> make_hosted(const ModuleState& module, const HostedOps* ops, void* hosted) {
    return make_iterator<Hosted>(module, rust_iter_type, ops, hosted);
}

Result<Ref> make_empty_iter(const ModuleState& module) { return make_rust_iter<EmptyStep>(module); }

}  // namespace quibra
