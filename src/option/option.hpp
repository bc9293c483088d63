// Option and result values as other subsystems build and inspect them.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// New instances. The payload is borrowed and a new reference taken. An empty
// option is always a fresh NothingType instance, never the module's Nothing.
Result<Ref> make_some(const ModuleState& module, PyObject* value);
Result<Ref> make_nothing(const ModuleState& module);
Result<Ref> make_ok(const ModuleState& module, PyObject* value);
Result<Ref> make_err(const ModuleState& module, PyObject* error);

// Class membership, whichever module state made the value; never fails.
bool is_some(PyObject* o);
bool is_nothing(PyObject* o);
bool is_ok(PyObject* o);
bool is_err(PyObject* o);
inline bool is_option(PyObject* o) { return is_some(o) || is_nothing(o); }
inline bool is_result(PyObject* o) { return is_ok(o) || is_err(o); }

// The option-returning element steps over any iterable: iter(seq), then
// Some(element) or an empty option when the source runs out first. Errors
// from iter() and from the source propagate.
Result<Ref> first_opt_of(const ModuleState& module, PyObject* seq);
// Consumes the whole source, keeping only the latest element.
Result<Ref> last_opt_of(const ModuleState& module, PyObject* seq);
// Fetches one element at a time, even from a list (no indexing shortcut).
Result<Ref> nth_opt_of(const ModuleState& module, unsigned long long n, PyObject* seq);

}  // namespace quibra
