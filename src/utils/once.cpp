#include "utils/once.hpp"

#include "utils/state.hpp"

namespace quibra {

Result<PyObject*> CachedAttr::load(ModuleState& state) {
    return cell_.get(state, [this] { return import_attr(module_, attr_); });
}

Result<PyObject*> InternedName::get(ModuleState& state) {
    return cell_.get(state, [this] { return checked(PyUnicode_InternFromString(text_)); });
}

Result<Ref> CachedModule::attr(ModuleState& state, InternedName& name) {
    QB_TRY(PyObject * mod, cell_.get(state, [this] { return checked(PyImport_ImportModule(module_)); }));
    QB_TRY(PyObject * key, name.get(state));
    return checked(PyObject_GetAttr(mod, key));
}

}  // namespace quibra
