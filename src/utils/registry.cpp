#include "utils/registry.hpp"

#include <cstring>

namespace quibra {

Exports& registered_exports() {
    static Exports exports;
    return exports;
}

Registrar::Registrar(PyMethodDef* functions, std::initializer_list<TypeCell*> types,
                     std::initializer_list<ValueExport> values) {
    Exports& e = registered_exports();
    for (PyMethodDef* f = functions; f && f->ml_name; ++f) e.functions.push_back(f);
    e.types.insert(e.types.end(), types.begin(), types.end());
    e.values.insert(e.values.end(), values.begin(), values.end());
}

const PyMethodDef* find_function(const char* name) {
    for (const PyMethodDef* f : registered_exports().functions)
        if (std::strcmp(f->ml_name, name) == 0) return f;
    return nullptr;
}

}  // namespace quibra
