// merge and merge_with: several mappings combined into one.
#include "dicts/conventions.hpp"

#include "utils/binding.hpp"
#include "utils/grouping.hpp"
#include "utils/registry.hpp"

#include <vector>

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
    QB_TRY(Ref maps, mapping_list(a.state(), dicts.get()));
    // A tuple: its items stay put whatever keys() and items() do.
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps.get()); ++i) {
        PyObject* m = PyTuple_GET_ITEM(maps.get(), i);
        QB_TRY(bool is_mapping, has_keys(a.state(), m));
        if (!is_mapping) return not_iterable(m);
        QB_CHECK(copy_items(a.state(), m, result.get()));
    }
    return result;
}

// Files value under key in the private dict of lists.
Status add_value(PyObject* groups, PyObject* key, PyObject* value) {
    PyObject* found;
    int rc = PyDict_GetItemRef(groups, key, &found);
    if (rc < 0) return Error::fetch();
    Ref values = Ref::steal(found);
    if (values) return checked_status(PyList_Append(values.get(), value));
    QB_TRY(Ref fresh, new_list(1));
    PyList_SET_ITEM(fresh.get(), 0, Py_NewRef(value));
    return checked_status(PyDict_SetItem(groups, key, fresh.get()));
}

// Each key's values while every key is a builtin key: the private dict's
// probes for such keys run no user code and cannot be told from a native
// table's, so the values are filed natively, without a dict or a list per
// key. Nothing outside this call can reach the table.
class BuiltinGroups {
public:
    explicit BuiltinGroups(bool int_hash) noexcept : groups_(int_hash) {}

    // false (nothing filed) for a key that is not a builtin key, or with
    // the exception set on error.
    bool add(PyObject* key, PyObject* value) noexcept {
        if (!builtin_key(key)) return false;
        Ref v = Ref::borrow(value);
        return groups_.add(key, v);
    }

    // Each key's values as a list, handed to `each(key, list)` in
    // first-seen order. A list that nobody else holds after the call is
    // filled again for the next key of the same size, not made anew.
    template <class Each>
    Status for_each_group(Each&& each) {
        // The values, key by key. The members keep them alive, and nothing
        // but this call can reach the members.
        std::vector<PyObject*> flat;
        std::vector<std::size_t> start, next;
        auto& entries = groups_.entries();
        QB_CHECK(or_no_memory([&]() -> Status {
            flat.resize(groups_.members().size());
            start.resize(entries.size() + 1);
            for (std::size_t g = 0; g < entries.size(); ++g) start[g + 1] = start[g] + entries[g].value.size;
            next.assign(start.begin(), start.end() - 1);
            return success();
        }));
        for (Member& m : groups_.members()) flat[next[m.group]++] = m.item.get();
        Ref list;
        for (std::size_t g = 0; g < entries.size(); ++g) {
            auto n = static_cast<Py_ssize_t>(entries[g].value.size);
            PyObject* const* values = flat.data() + start[g];
            if (list && PyUnstable_Object_IsUniquelyReferenced(list.get()) && PyList_GET_SIZE(list.get()) == n) {
                for (Py_ssize_t i = 0; i < n; ++i) {
                    Ref old = Ref::steal(PyList_GET_ITEM(list.get(), i));
                    PyList_SET_ITEM(list.get(), i, Py_NewRef(values[i]));
                }
            } else {
                QB_TRY(list, new_list(n));
                for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(list.get(), i, Py_NewRef(values[i]));
            }
            QB_CHECK(each(entries[g].key.get(), list.get()));
        }
        return success();
    }

private:
    struct Count {
        std::size_t size = 0;
    };
    Grouping<Count> groups_;
};

// The first key that is not a builtin key moves what was filed natively into
// the private dict, inserting the keys in the order they came, which makes
// exactly the dict that direct insertion would have made.
Status to_dict(BuiltinGroups& native, PyObject* groups) {
    // A list the dict holds is never filled again.
    return native.for_each_group(
        [groups](PyObject* key, PyObject* list) { return checked_status(PyDict_SetItem(groups, key, list)); });
}

Result<Ref> merge_with_body(Args<"func, *dicts, factory=None">& a) {
    PyObject* func = a.get<"func">();
    QB_TRY(Ref dicts, a.rest_tuple());
    QB_TRY(Ref maps, mapping_list(a.state(), dicts.get()));
    QB_TRY(bool int_hash, int_hash_inline_ok());
    BuiltinGroups native(int_hash);
    Ref groups;  // the private dict, once a key other than a builtin one has come
    auto file = [&](PyObject* key, PyObject* value) -> Status {
        if (!groups) {
            if (native.add(key, value)) return success();
            if (PyErr_Occurred()) return Error::fetch();
            QB_TRY(groups, new_dict());
            QB_CHECK(to_dict(native, groups.get()));
            native = BuiltinGroups(int_hash);
        }
        return add_value(groups.get(), key, value);
    };
    // maps is a tuple of our own: callbacks cannot change it under us.
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps.get()); ++i)
        QB_CHECK(for_each_item(a.state(), PyTuple_GET_ITEM(maps.get(), i), file));
    QB_TRY(Ref result, make_container(a.get<"factory">()));
    if (!groups) {
        auto combine = [&](PyObject* key, PyObject* values) -> Status {
            QB_TRY(Ref combined, call(func, values));
            return store(result.get(), key, combined.get());
        };
        QB_CHECK(native.for_each_group(combine));
        return result;
    }
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
