#include "utils/binding.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quibra {

namespace {

std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) out += " and ";
            else if (i + 1 == names.size()) out += ", and ";
            else out += ", ";
        }
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

bool fail(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
    const ParamList& p = *sig.params;
    std::size_t required = 0;
    for (std::size_t i = 0; i < p.positional; ++i) required += p.params[i].required ? 1 : 0;
    std::string msg = std::string(sig.display) + " takes ";
    if (required == p.positional) msg += std::to_string(p.positional);
    else msg += "from " + std::to_string(required) + " to " + std::to_string(p.positional);
    msg += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return fail(msg);
}

std::size_t find_param(const ParamList& p, PyObject* key) {
    for (std::size_t i = 0; i < p.count; ++i) {
        std::string_view name = p.params[i].name;
        if (PyUnicode_EqualToUTF8AndSize(key, name.data(), static_cast<Py_ssize_t>(name.size()))) return i;
    }
    return p.count;
}

}  // namespace

// The binder proper: fills the protected fields of BoundArgs. It reports a
// failure in the raw convention (false with the TypeError set), because its
// caller, the entry point, hands NULL straight back to the interpreter.
struct Binder {
    static bool bind_keyword(const Signature& sig, PyObject* key, PyObject* value, Py_ssize_t nargs, BoundArgs& out) {
        const ParamList& p = *sig.params;
        if (!PyUnicode_Check(key)) return fail(std::string(sig.display) + " keywords must be strings");
        std::size_t idx = find_param(p, key);
        if (idx == p.count) {
            if (p.has_varkw) return PyDict_SetItem(out.kwargs.get(), key, value) == 0;
            // The name object itself, as the interpreter formats it: no
            // encoding step to fail on a lone surrogate or stop at a NUL.
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.display, key);
            return false;
        }
        if ((idx < p.positional && static_cast<Py_ssize_t>(idx) < nargs) || out.v_[idx])
            return fail(std::string(sig.display) + " got multiple values for argument '" +
                        std::string(p.params[idx].name) + "'");
        out.v_[idx] = value;
        return true;
    }

    // The positional arguments past the named ones are the *name arguments.
    static bool bind_rest(PyObject* const* extra, std::size_t count, BoundArgs& out) {
        out.rest_items_ = extra;
        out.rest_count_ = static_cast<Py_ssize_t>(count);
        return true;
    }

    static bool bind_positional(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, BoundArgs& out) {
        const ParamList& p = *sig.params;
        auto n = static_cast<std::size_t>(nargs);
        if (n > p.positional && !p.has_varargs) return too_many_positional(sig, nargs);
        std::size_t direct = n < p.positional ? n : p.positional;
        for (std::size_t i = 0; i < direct; ++i) out.v_[i] = args[i];
        if (p.has_varargs && !bind_rest(args + direct, n - direct, out)) return false;
        if (p.has_varkw) {
            out.kwargs = Ref::steal(PyDict_New());
            if (!out.kwargs) return false;
        }
        return true;
    }

    static bool finish_binding(const Signature& sig, BoundArgs& out) {
        const ParamList& p = *sig.params;
        std::vector<std::string_view> missing;
        bool keyword_only_missing = false;
        for (std::size_t i = 0; i < p.count; ++i) {
            const ParamSpec& param = p.params[i];
            if (param.none_default && out.v_[i] == Py_None) out.v_[i] = nullptr;
            if (param.required && !out.v_[i]) {
                missing.push_back(param.name);
                keyword_only_missing = keyword_only_missing || param.keyword_only;
            }
        }
        if (missing.empty()) return true;
        return fail(std::string(sig.display) + " missing " + std::to_string(missing.size()) + " required " +
                    (keyword_only_missing ? "keyword-only" : "positional") + " " +
                    (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
    }

    static bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BoundArgs& out) {
        const ParamList& p = *sig.params;
        out.sig_ = &sig;
        nargs = PyVectorcall_NARGS(nargs);
        // Common case: positional arguments only, every required one given, none
        // left over. Nothing to look up and nothing to allocate.
        auto n = static_cast<std::size_t>(nargs);
        if (!kwnames && !p.has_varkw && n >= p.positional_required && (p.has_varargs || n <= p.positional)) {
            std::size_t direct = n < p.positional ? n : p.positional;
            for (std::size_t i = 0; i < direct; ++i)
                out.v_[i] = (p.params[i].none_default && args[i] == Py_None) ? nullptr : args[i];
            if (p.has_varargs) return bind_rest(args + direct, n - direct, out);
            return true;
        }
        if (!bind_positional(sig, args, nargs, out)) return false;
        if (kwnames) {
            Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
            for (Py_ssize_t i = 0; i < nkw; ++i)
                if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], nargs, out)) return false;
        }
        return finish_binding(sig, out);
    }

    static bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, BoundArgs& out) {
        out.sig_ = &sig;
        Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if (!bind_positional(sig, &PyTuple_GET_ITEM(args, 0), nargs, out)) return false;
        if (kwargs && PyDict_GET_SIZE(kwargs)) {
            // The keywords are bound from a tuple of our own (names and values
            // in turn): a str subclass used as a name hashes in Python when it
            // goes into **name, and that code could empty the caller's dict,
            // freeing values bound before it.
            Py_ssize_t n = 2 * PyDict_GET_SIZE(kwargs);
            out.held_ = Ref::steal(PyTuple_New(n));
            PyObject* held = out.held_.get();
            if (!held) return false;
            Py_ssize_t pos = 0, i = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                PyTuple_SET_ITEM(held, i++, Py_NewRef(key));
                PyTuple_SET_ITEM(held, i++, Py_NewRef(value));
            }
            for (i = 0; i < n; i += 2)
                if (!bind_keyword(sig, PyTuple_GET_ITEM(held, i), PyTuple_GET_ITEM(held, i + 1), nargs, out))
                    return false;
        }
        return finish_binding(sig, out);
    }

};

bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BoundArgs& out) {
    return Binder::bind_fast(sig, args, nargs, kwnames, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, BoundArgs& out) {
    return Binder::bind_tuple(sig, args, kwargs, out);
}

Error BoundArgs::note(Error e, std::size_t i) const {
    return std::move(e).with_note("while processing '" + std::string(sig_->params->params[i].name) + "'");
}

// An int (or int subclass) as it is, anything else through __index__.
Result<Ref> BoundArgs::as_int(std::size_t i) const {
    if (PyLong_Check(v_[i])) return Ref::borrow(v_[i]);
    PyObject* index = PyNumber_Index(v_[i]);
    if (!index) return note(Error::fetch(), i);
    return Ref::steal(index);
}

Result<unsigned long long> BoundArgs::to_u64(std::size_t i) const {
    QB_TRY(Ref o, as_int(i));
    unsigned long long n = PyLong_AsUnsignedLongLong(o.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return note(Error::fetch(), i);
    return n;
}

Result<long long> BoundArgs::to_i64(std::size_t i) const {
    QB_TRY(Ref o, as_int(i));
    long long n = PyLong_AsLongLong(o.get());
    if (n == -1 && PyErr_Occurred()) return note(Error::fetch(), i);
    return n;
}

// The numeric library's boolean scalar ("numpy.bool", formerly "numpy.bool_")
// is a boolean too; it is recognised by name so the library need not be loaded.
namespace {
bool is_numeric_bool(PyObject* o) {
    const char* name = Py_TYPE(o)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}
}  // namespace

Result<bool> BoundArgs::to_strict_bool(std::size_t i) const {
    PyObject* o = v_[i];
    if (!o || o == Py_False) return false;
    if (o == Py_True) return true;
    if (is_numeric_bool(o)) {
        int r = PyObject_IsTrue(o);
        if (r < 0) return note(Error::fetch(), i);
        return r == 1;
    }
    return note(type_check_error(o, "bool"), i);
}

Result<Ref> BoundArgs::rest_tuple() const {
    QB_TRY(Ref t, new_tuple(rest_count_));
    for (Py_ssize_t i = 0; i < rest_count_; ++i) PyTuple_SET_ITEM(t.get(), i, Py_NewRef(rest_items_[i]));
    return t;
}

Result<PyObject*> BoundArgs::optional_rest(const char* fn, int at_most) const {
    if (rest_count_ >= 2)
        return Error::type_error(std::string(fn) + " takes at most " + std::to_string(at_most) + " arguments");
    return rest_count_ == 1 ? rest_items_[0] : nullptr;
}

PyObject* raise_internal_fault(std::exception_ptr e, const char* fallback) noexcept {
    try {
        Error::from_exception(std::move(e), fallback).raise();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal fault while reporting an internal fault");
    }
    return nullptr;
}

}  // namespace quibra
