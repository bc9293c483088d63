// merge and merge_with: several mappings combined into one.
#include "dicts/conventions.hpp"

#include "utils/binding.hpp"
#include "utils/registry.hpp"

namespace quibra::dicts {

namespace {

// Plain dicts without a factory: one copy plus native updates. Empty when
// some argument is not an exact dict; that is checked before any work, so
// the general path that follows never repeats a callback.
Result<Ref> merge_exact(PyObject* const* dicts, Py_ssize_t n) {
    if (n == 0) return Ref();
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyDict_CheckExact(dicts[i])) return Ref();
    QB_TRY(Ref out, checked(PyDict_Copy(dicts[0])));
    for (Py_ssize_t i = 1; i < n; ++i) QB_CHECK(checked_status(PyDict_Update(out.get(), dicts[i])));
    return out;
}

Error not_iterable(PyObject* o) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(o)));
    if (!name) return Error::fetch();
    return Error::type_error("'" + display_str(name.get()) + "' object is not iterable");
}

Result<Ref> merge_body(Args<"*dicts, factory=None">& a) {
    PyObject* factory = a.get<"factory">();
    if (!factory) {
        QB_TRY(Ref out, merge_exact(a.rest().data(), a.rest_count()));
        if (out) return out;
    }
    QB_TRY(Ref result, make_container(factory));
    QB_TRY(Ref dicts, a.rest_tuple());
    QB_TRY(Ref maps, mapping_list(dicts.get()));
    // A tuple: its items stay put whatever keys() and items() do.
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps.get()); ++i) {
        PyObject* m = PyTuple_GET_ITEM(maps.get(), i);
        QB_TRY(bool is_mapping, has_keys(m));
        if (!is_mapping) return not_iterable(m);
        QB_CHECK(copy_items(m, result.get()));
    }
    return result;
}

// Each key's values in mapping order, keyed in first-seen order.
Result<Ref> collect_values(PyObject* maps) {
    QB_TRY(Ref groups, new_dict());
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps); ++i) {
        QB_CHECK(for_each_item(PyTuple_GET_ITEM(maps, i), [&groups](PyObject* key, PyObject* value) -> Status {
            PyObject* found;
            int rc = PyDict_GetItemRef(groups.get(), key, &found);
            if (rc < 0) return Error::fetch();
            Ref values = Ref::steal(found);
            if (values) return checked_status(PyList_Append(values.get(), value));
            QB_TRY(Ref fresh, new_list(1));
            PyList_SET_ITEM(fresh.get(), 0, Py_NewRef(value));
            return checked_status(PyDict_SetItem(groups.get(), key, fresh.get()));
        }));
    }
    return groups;
}

Result<Ref> merge_with_body(Args<"func, *dicts, factory=None">& a) {
    PyObject* func = a.get<"func">();
    QB_TRY(Ref dicts, a.rest_tuple());
    QB_TRY(Ref maps, mapping_list(dicts.get()));
    QB_TRY(Ref groups, collect_values(maps.get()));
    QB_TRY(Ref result, make_container(a.get<"factory">()));
    // `groups` is ours, but func can still reach it (gc.get_referrers of the
    // list it is given) and empty it: each entry is held while it is used.
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(groups.get(), &pos, &k, &v)) {
        Ref key = Ref::borrow(k), values = Ref::borrow(v);
        QB_TRY(Ref combined, call(func, values.get()));
        QB_CHECK(store(result.get(), key.get(), combined.get()));
    }
    return result;
}

PyMethodDef functions[] = {
    QB_FUNCTION("merge", merge_body),
    QB_FUNCTION("merge_with", merge_with_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra::dicts
