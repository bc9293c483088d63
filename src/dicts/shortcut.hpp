// Module functions whose commonest call skips argument binding.
//
// A call with positional arguments only binds trivially for some signatures
// (merge's `*dicts`, get_in's two or three leading parameters); for those the
// shortcut works on the caller's argument array directly. It may decline by
// returning an empty Ref, and every other call goes through the regular
// binding, so the published signature and all binding errors stay those of
// the descriptor.
#pragma once

#include "utils/binding.hpp"

namespace quibra::dicts {

// Handles a keyword-free call; an empty Ref declines it.
using Shortcut = Result<Ref> (*)(PyObject* const* args, Py_ssize_t nargs);

template <FixedString Name, FixedString Params, Body B, Shortcut S>
PyObject* shortcut_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    if (!kwnames) {
        try {
            Result<Ref> r = S(args, PyVectorcall_NARGS(nargsf));
            if (!r || r.value()) return finish(std::move(r));
        } catch (...) {
            return raise_internal_fault(std::current_exception(), nullptr);
        }
    }
    return fast_entry<Name, Params, B>(self, args, nargsf, kwnames);
}

}  // namespace quibra::dicts

#define QB_FUNCTION_SHORTCUT(name, params, body, shortcut)                                        \
    PyMethodDef {                                                                                 \
        name, ::quibra::as_cfunction(&::quibra::dicts::shortcut_entry<name, params, body, shortcut>), \
            METH_FASTCALL | METH_KEYWORDS, ::quibra::SignatureDoc<name, params>::c_str()          \
    }
