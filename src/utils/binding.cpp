#include "utils/binding.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quibra {

namespace {

std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) out += " and ";
            else if (i + 1 == names.size()) out += ", and ";
            else out += ", ";
        }
        out += "'" + names[i] + "'";
    }
    return out;
}

bool fail(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
    std::size_t required = 0;
    for (std::size_t i = 0; i < sig.positional; ++i) required += sig.params[i].required ? 1 : 0;
    std::string msg = sig.display + " takes ";
    if (required == sig.positional) msg += std::to_string(sig.positional);
    else msg += "from " + std::to_string(required) + " to " + std::to_string(sig.positional);
    msg += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return fail(msg);
}

std::ptrdiff_t find_param(const Signature& sig, PyObject* key) {
    for (std::size_t i = 0; i < sig.params.size(); ++i) {
        const std::string& name = sig.params[i].name;
        if (PyUnicode_EqualToUTF8AndSize(key, name.data(), static_cast<Py_ssize_t>(name.size())))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

bool bind_keyword(const Signature& sig, PyObject* key, PyObject* value, Py_ssize_t nargs, Args& out) {
    std::ptrdiff_t j = find_param(sig, key);
    if (j < 0) {
        if (sig.has_varkw) return PyDict_SetItem(out.kwargs.get(), key, value) == 0;
        const char* k = PyUnicode_AsUTF8(key);
        if (!k) return false;
        return fail(sig.display + " got an unexpected keyword argument '" + k + "'");
    }
    auto idx = static_cast<std::size_t>(j);
    if ((idx < sig.positional && static_cast<Py_ssize_t>(idx) < nargs) || out.v[idx])
        return fail(sig.display + " got multiple values for argument '" + sig.params[idx].name + "'");
    out.v[idx] = value;
    return true;
}

// The positional arguments past the named ones are the *name arguments.
bool bind_rest(PyObject* const* extra, std::size_t count, Args& out) {
    out.rest_items = extra;
    out.rest_count = static_cast<Py_ssize_t>(count);
    return true;
}

bool bind_positional(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, Args& out) {
    auto n = static_cast<std::size_t>(nargs);
    if (n > sig.positional && !sig.has_varargs) return too_many_positional(sig, nargs);
    std::size_t direct = n < sig.positional ? n : sig.positional;
    for (std::size_t i = 0; i < direct; ++i) out.v[i] = args[i];
    if (sig.has_varargs && !bind_rest(args + direct, n - direct, out)) return false;
    if (sig.has_varkw) {
        out.kwargs = Ref::steal(PyDict_New());
        if (!out.kwargs) return false;
    }
    return true;
}

bool finish_binding(const Signature& sig, Args& out) {
    std::vector<std::string> missing;
    bool keyword_only_missing = false;
    for (std::size_t i = 0; i < sig.params.size(); ++i) {
        const Param& p = sig.params[i];
        if (p.none_default && out.v[i] == Py_None) out.v[i] = nullptr;
        if (p.required && !out.v[i]) {
            missing.push_back(p.name);
            keyword_only_missing = keyword_only_missing || p.keyword_only;
        }
    }
    if (missing.empty()) return true;
    return fail(sig.display + " missing " + std::to_string(missing.size()) + " required " +
                (keyword_only_missing ? "keyword-only" : "positional") + " " +
                (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
}

}  // namespace

Signature::Signature(const char* display_name, const char* spec) : display(std::string(display_name) + "()") {
    std::string_view rest(spec);
    bool after_star = false;
    while (!rest.empty()) {
        std::size_t comma = rest.find(',');
        std::string_view tok = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        while (!tok.empty() && tok.front() == ' ') tok.remove_prefix(1);
        while (!tok.empty() && tok.back() == ' ') tok.remove_suffix(1);
        if (tok.empty() || tok == "$self" || tok == "$type" || tok == "/") continue;
        if (tok.starts_with("**")) {
            has_varkw = true;
            continue;
        }
        if (tok.starts_with("*")) {
            has_varargs = true;
            after_star = true;
            continue;
        }
        Param p;
        std::size_t eq = tok.find('=');
        p.name = std::string(tok.substr(0, eq));
        if (eq != std::string_view::npos) {
            p.required = false;
            p.none_default = tok.substr(eq + 1) == "None";
        }
        p.keyword_only = after_star;
        if (!after_star) ++positional;
        params.push_back(std::move(p));
    }
    // Positional calls of at least this many arguments give every required
    // parameter (keyword-only required ones rule the shortcut out).
    positional_required = SIZE_MAX;
    std::size_t last_required = 0;
    bool keyword_only_required = false;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (!params[i].required) continue;
        if (params[i].keyword_only) keyword_only_required = true;
        else last_required = i + 1;
    }
    if (!keyword_only_required) positional_required = last_required;
}

bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) {
    out.sig = &sig;
    nargs = PyVectorcall_NARGS(nargs);
    // Common case: positional arguments only, every required one given, none
    // left over. Nothing to look up and nothing to allocate.
    auto n = static_cast<std::size_t>(nargs);
    if (!kwnames && !sig.has_varkw && n >= sig.positional_required && (sig.has_varargs || n <= sig.positional)) {
        std::size_t direct = n < sig.positional ? n : sig.positional;
        for (std::size_t i = 0; i < direct; ++i)
            out.v[i] = (sig.params[i].none_default && args[i] == Py_None) ? nullptr : args[i];
        if (sig.has_varargs) return bind_rest(args + direct, n - direct, out);
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

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, Args& out) {
    out.sig = &sig;
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (!bind_positional(sig, &PyTuple_GET_ITEM(args, 0), nargs, out)) return false;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!bind_keyword(sig, key, value, nargs, out)) return false;
    }
    return finish_binding(sig, out);
}

Error Args::note(Error e, std::size_t i) const {
    return std::move(e).with_note(std::string("while processing '") + name(i) + "'");
}

// An int (or int subclass) as it is, anything else through __index__.
Result<Ref> Args::as_int(std::size_t i) const {
    if (PyLong_Check(v[i])) return Ref::borrow(v[i]);
    PyObject* index = PyNumber_Index(v[i]);
    if (!index) return note(Error::fetch(), i);
    return Ref::steal(index);
}

Result<unsigned long long> Args::to_u64(std::size_t i) const {
    QB_TRY(Ref o, as_int(i));
    unsigned long long n = PyLong_AsUnsignedLongLong(o.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return note(Error::fetch(), i);
    return n;
}

Result<long long> Args::to_i64(std::size_t i) const {
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

Result<bool> Args::to_strict_bool(std::size_t i) const {
    PyObject* o = v[i];
    if (!o || o == Py_False) return false;
    if (o == Py_True) return true;
    if (is_numeric_bool(o)) {
        int r = PyObject_IsTrue(o);
        if (r < 0) return note(Error::fetch(), i);
        return r == 1;
    }
    return note(type_check_error(o, "bool"), i);
}

Result<Ref> Args::rest_tuple() const {
    QB_TRY(Ref t, new_tuple(rest_count));
    for (Py_ssize_t i = 0; i < rest_count; ++i) PyTuple_SET_ITEM(t.get(), i, Py_NewRef(rest_items[i]));
    return t;
}

Result<PyObject*> Args::optional_rest(const char* fn, int at_most) const {
    if (rest_count >= 2)
        return Error::type_error(std::string(fn) + " takes at most " + std::to_string(at_most) + " arguments");
    return rest_count == 1 ? rest_items[0] : nullptr;
}

PyObject* raise_internal_fault(std::exception_ptr e, const char* fallback) noexcept {
    std::string text = fallback ? fallback : "";
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        text = ex.what();
    } catch (...) {
    }
    try {
        Error::panic(std::move(text)).raise();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal fault while reporting an internal fault");
    }
    return nullptr;
}

}  // namespace quibra
