// What each subsystem contributes to the module namespace. Files register
// their tables of functions, their types and values; the execution step adds
// them in the namespace order of module.cpp, and refuses to run when a
// registration has no place in that order or a place has no registration.
#pragma once

#include "utils/types.hpp"

#include <initializer_list>
#include <vector>

namespace quibra {

struct TypeExport {
    TypeCell* cell;
};

// A namespace attribute that is an instance (Nothing, the curried flip).
struct ValueExport {
    const char* name;
    Result<Ref> (*make)(PyObject* module);
};

struct Exports {
    std::vector<const PyMethodDef*> functions;
    std::vector<TypeCell*> types;
    std::vector<ValueExport> values;
};

// All registrations, in no particular order.
Exports& registered_exports();

struct Registrar {
    Registrar(PyMethodDef* functions, std::initializer_list<TypeCell*> types = {},
              std::initializer_list<ValueExport> values = {});
};

// Finds a registered function definition by name (nullptr if none).
const PyMethodDef* find_function(const char* name);

}  // namespace quibra
