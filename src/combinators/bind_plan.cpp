#include "combinators/bind_plan.hpp"

#include "utils/state.hpp"

#include <new>

namespace quibra {

namespace {

// inspect.Signature, inspect.Parameter, Parameter.empty and the five kinds in
// the order of BindPlan::Kind, kept for the process.
enum Slot : Py_ssize_t { SignatureClass, ParameterClass, Empty, FirstKind, SlotCount = FirstKind + 5 };

StateCell inspect_names;

Result<PyObject*> inspect_objects(ModuleState& module) {
    return inspect_names.get(module, []() -> Result<Ref> {
        static const char* const kinds[] = {"POSITIONAL_ONLY", "POSITIONAL_OR_KEYWORD", "VAR_POSITIONAL",
                                            "KEYWORD_ONLY", "VAR_KEYWORD"};
        QB_TRY(Ref signature, import_attr("inspect", "Signature"));
        QB_TRY(Ref parameter, import_attr("inspect", "Parameter"));
        QB_TRY(Ref out, new_tuple(SlotCount));
        QB_TRY(Ref empty, checked(PyObject_GetAttrString(parameter.get(), "empty")));
        PyTuple_SET_ITEM(out.get(), Empty, empty.release());
        for (Py_ssize_t k = 0; k < 5; ++k) {
            QB_TRY(Ref kind, checked(PyObject_GetAttrString(parameter.get(), kinds[k])));
            PyTuple_SET_ITEM(out.get(), FirstKind + k, kind.release());
        }
        PyTuple_SET_ITEM(out.get(), SignatureClass, signature.release());
        PyTuple_SET_ITEM(out.get(), ParameterClass, parameter.release());
        return out;
    });
}

Result<Ref> attr(PyObject* o, const char* name) { return checked(PyObject_GetAttrString(o, name)); }

}  // namespace

Result<std::shared_ptr<const BindPlan>> BindPlan::read(ModuleState& module, PyObject* sig) {
    using Plan = std::shared_ptr<const BindPlan>;
    auto build = [sig, &module]() -> Result<Plan> {
        QB_TRY(PyObject * names, inspect_objects(module));
        if (Py_TYPE(sig) != reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(names, SignatureClass))) return Plan();
        PyObject* parameter_class = PyTuple_GET_ITEM(names, ParameterClass);
        PyObject* empty = PyTuple_GET_ITEM(names, Empty);
        QB_TRY(Ref mapping, attr(sig, "parameters"));
        QB_TRY(Ref values, checked(PyMapping_Values(mapping.get())));
        QB_TRY(Ref seen, checked(PySet_New(nullptr)));
        auto plan = std::make_shared<BindPlan>();
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
            PyObject* p = PyList_GET_ITEM(values.get(), i);
            if (Py_TYPE(p) != reinterpret_cast<PyTypeObject*>(parameter_class)) return Plan();
            QB_TRY(Ref name, attr(p, "name"));
            QB_TRY(Ref kind, attr(p, "kind"));
            QB_TRY(Ref dflt, attr(p, "default"));
            if (!PyUnicode_CheckExact(name.get())) return Plan();
            // Names are unique in any signature inspect builds; one changed
            // by hand afterwards is left to bind itself.
            if (PySet_Contains(seen.get(), name.get()) != 0) return Plan();
            QB_CHECK(checked_status(PySet_Add(seen.get(), name.get())));
            int k = 0;
            while (k < 5 && kind.get() != PyTuple_GET_ITEM(names, FirstKind + k)) ++k;
            if (k == 5) return Plan();
            plan->params_.push_back(Param{std::move(name), static_cast<Kind>(k), dflt.get() != empty});
        }
        return Plan(std::move(plan));
    };
    Result<Plan> r = Plan();
    try {
        r = build();
    } catch (const std::bad_alloc&) {
        return Plan();
    }
    if (r) return r;
    Error e = std::move(r).error();
    if (e.is_panic() || !e.matches(PyExc_Exception)) return e;
    return Plan();
}

bool BindPlan::keywords_readable(PyObject* kwargs) noexcept {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value))
        if (!PyUnicode_CheckExact(key)) return false;
    return true;
}

bool BindPlan::given(const Param& p, PyObject* kwargs) const noexcept {
    // Exact str keys and name: the lookup runs no user code and cannot fail.
    return kwargs && PyDict_GET_SIZE(kwargs) && PyDict_Contains(kwargs, p.name.get()) == 1;
}

// The standard library's walk, step for step: positional arguments fill the
// parameters in order until one of them runs out; the parameters left are
// then matched by name, and leftover names need a **kwargs parameter.
bool BindPlan::binds(Py_ssize_t nargs, PyObject* kwargs, bool partial) const noexcept {
    const std::size_t count = params_.size();
    std::size_t i = 0;          // next parameter
    Py_ssize_t taken = 0;       // positional arguments placed
    std::size_t by_name = 0;    // where matching by name starts
    for (;;) {
        if (taken == nargs) {
            if (i == count) {
                by_name = count;
                break;
            }
            const Param& p = params_[i++];
            if (p.kind == VarPositional) {
                by_name = i;
                break;
            }
            if (given(p, kwargs)) {
                if (p.kind == PositionalOnly) {
                    // Required even by bind_partial; with a default the name
                    // stays unmatched, for a **kwargs parameter or an error.
                    if (!p.has_default) return false;
                    continue;
                }
                by_name = i - 1;
                break;
            }
            if (p.kind == VarKeyword || p.has_default || partial) {
                by_name = i - 1;
                break;
            }
            return false;  // a required argument is missing
        }
        if (i == count) return false;  // too many positional arguments
        const Param& p = params_[i++];
        if (p.kind == VarKeyword || p.kind == KeywordOnly) return false;
        if (p.kind == VarPositional) {
            by_name = i;
            break;
        }
        if (p.kind != PositionalOnly && given(p, kwargs)) return false;  // given twice
        ++taken;
    }
    Py_ssize_t matched = 0;
    bool var_keyword = false;
    for (std::size_t j = by_name; j < count; ++j) {
        const Param& p = params_[j];
        if (p.kind == VarKeyword) {
            var_keyword = true;
            continue;
        }
        if (p.kind == VarPositional) continue;
        if (given(p, kwargs)) ++matched;
        else if (!partial && !p.has_default) return false;
    }
    Py_ssize_t leftover = (kwargs ? PyDict_GET_SIZE(kwargs) : 0) - matched;
    return leftover == 0 || var_keyword;
}

}  // namespace quibra
