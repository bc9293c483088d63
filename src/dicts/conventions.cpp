#include "dicts/conventions.hpp"

#include "utils/state.hpp"
#include "utils/signals.hpp"

namespace quibra::dicts {

namespace {

InternedName keys_name("keys"), items_name("items");

}  // namespace

Error changed_during_walk(const char* text) {
    PyErr_SetString(PyExc_RuntimeError, text);
    return Error::fetch();
}

Result<Ref> make_container(PyObject* factory, Py_ssize_t expected) {
    if (factory) return call(factory);
    return new_dict(expected);
}

Result<bool> has_keys(ModuleState& module, PyObject* o) {
    if (PyDict_CheckExact(o)) return true;
    QB_TRY(PyObject * name, keys_name.get(module));
    int rc = PyObject_HasAttrWithError(o, name);
    if (rc < 0) return Error::fetch();
    return rc == 1;
}

Result<Ref> call_items(ModuleState& module, PyObject* m) {
    QB_TRY(PyObject * name, items_name.get(module));
    return checked(PyObject_CallMethodNoArgs(m, name));
}

Status split_item(PyObject* item, PyObject*& key, PyObject*& value) {
    if (!PyTuple_Check(item)) return type_check_error(item, "tuple");
    key = PyTuple_GetItem(item, 0);
    if (!key) return Error::fetch();
    value = PyTuple_GetItem(item, 1);
    if (!value) return Error::fetch();
    return success();
}

Status copy_items(ModuleState& module, PyObject* m, PyObject* result) {
    if (PyDict_CheckExact(m) && PyDict_CheckExact(result)) return checked_status(PyDict_Update(result, m));
    return for_each_item(module, m, [result](PyObject* key, PyObject* value) { return store(result, key, value); });
}

Result<Ref> mapping_list(ModuleState& module, PyObject* rest) {
    if (PyTuple_GET_SIZE(rest) != 1) return Ref::borrow(rest);
    PyObject* only = PyTuple_GET_ITEM(rest, 0);
    QB_TRY(bool is_mapping, has_keys(module, only));
    if (is_mapping) return Ref::borrow(rest);
    return read_all(only);
}

Result<Ref> read_all(PyObject* iterable) {
    if (PyTuple_CheckExact(iterable)) return Ref::borrow(iterable);
    if (PyList_CheckExact(iterable)) return checked(PyList_AsTuple(iterable));
    QB_TRY(Ref it, get_iter(iterable));
    QB_TRY(Ref items, new_list(0));
    SignalCheck signals;
    for (;;) {
        QB_CHECK(signals.status());
        QB_TRY(Ref item, next_item(it.get()));
        if (!item) break;
        QB_CHECK(checked_status(PyList_Append(items.get(), item.get())));
    }
    return checked(PyList_AsTuple(items.get()));
}

}  // namespace quibra::dicts
