// isdistinct and topk: questions about all elements at once, answered with
// the interpreter's own set and list.sort so that hashing, equality and
// ordering are exactly Python's (typed integer buffers go to the native
// scans first).
#include "buffers/offers.hpp"
#include "sequences/keys.hpp"
#include "sequences/topk_select.hpp"
#include "utils/binding.hpp"
#include "utils/hashing.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"
#include "utils/signals.hpp"

#include <algorithm>
#include <variant>

namespace quibra {

namespace {

// The elements of an exact list before its first element that is not a
// builtin key, while they are all distinct: probed where they are in a table
// of the native hash, since no code can run (and so nothing can change the
// list) while only builtin keys are hashed and compared. The table is sized
// for the whole list up front. The answer, or the position of that first
// other element.
Result<std::variant<bool, Py_ssize_t>> distinct_builtin_prefix(PyObject* list) {
    QB_TRY(bool int_hash, int_hash_inline_ok());
    ProbeTable<SeenSlot> table;
    Py_ssize_t n = PyList_GET_SIZE(list);
    table.reserve(static_cast<std::size_t>(n));
    PyObject* const* items = reinterpret_cast<PyListObject*>(list)->ob_item;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* x = items[i];
        if (!builtin_key(x)) return std::variant<bool, Py_ssize_t>(i);
        Py_hash_t h = native_hash_raw(x, int_hash);
        if (h == -1) return Error::fetch_ffi();
        SeenSlot* slot = table.find(x, h);
        if (!slot) return Error::fetch_ffi();
        if (slot->key) return std::variant<bool, Py_ssize_t>(false);
        if (table.needs_growth()) {
            if (!table.grow()) return Error::fetch();
            slot = table.reslot(h);
        }
        table.claim(slot, x, h);
    }
    return std::variant<bool, Py_ssize_t>(true);
}

// Membership test, then insertion, in the interpreter's set. While every
// element is a builtin key (no user __hash__ or __eq__ can run) one
// insertion and a size check stand for the pair, or, over an exact list, a
// probe of the native hash in place: the same answer and nothing
// observable differs, for a fraction of the hashing.
Result<Ref> isdistinct_body(Args<"seq">& a) {
    PyObject* seq = a.get<"seq">();
    QB_TRY(std::optional<bool> typed, offer_typed_distinct(seq));
    if (typed) return bool_ref(*typed);
    QB_TRY(Ref seen, checked(PySet_New(nullptr)));
    QB_TRY(RawSource source, RawSource::open(seq));
    if (source.is_list()) {
        QB_TRY(auto prefix, distinct_builtin_prefix(seq));
        if (const bool* answer = std::get_if<bool>(&prefix)) return bool_ref(*answer);
        // The distinct builtin keys read so far go into the set, and the walk
        // goes on from the first other element.
        Py_ssize_t upto = std::get<Py_ssize_t>(prefix);
        for (Py_ssize_t i = 0; i < upto; ++i) {
            QB_TRY(Ref x, source.next());
            QB_CHECK(checked_status(PySet_Add(seen.get(), x.get())));
        }
    }
    bool builtin = true;  // every element so far was a builtin key
    for (;;) {
        Ref x = Ref::steal(source.next_raw());
        if (!x) break;
        if (builtin && builtin_key(x.get())) {
            Py_ssize_t before = PySet_GET_SIZE(seen.get());
            if (PySet_Add(seen.get(), x.get()) < 0) return Error::fetch();
            if (PySet_GET_SIZE(seen.get()) == before) return bool_ref(false);
            continue;
        }
        builtin = false;
        int present = PySet_Contains(seen.get(), x.get());
        if (present < 0) return Error::fetch();
        if (present) return bool_ref(false);
        if (PySet_Add(seen.get(), x.get()) < 0) return Error::fetch();
    }
    if (PyErr_Occurred()) return Error::fetch();
    return bool_ref(true);
}

// Every element of seq in a new list (an exact list or tuple is copied
// whole; nothing of ours runs between the reads).
Result<Ref> list_of(PyObject* seq) {
    if (PyList_CheckExact(seq)) return checked(PyList_GetSlice(seq, 0, PY_SSIZE_T_MAX));
    if (PyTuple_CheckExact(seq)) return checked(PySequence_List(seq));
    QB_TRY(Ref out, new_list(0));
    QB_TRY(RawSource source, RawSource::open(seq));
    for (;;) {
        QB_TRY(Ref x, source.next());
        if (!x) return out;
        QB_CHECK(checked_status(PyList_Append(out.get(), x.get())));
    }
}

// list.sort(reverse=True): stable, so equal items keep their input order.
Status sort_descending(PyObject* list) {
    QB_TRY(Ref kwargs, new_dict());
    QB_CHECK(checked_status(PyDict_SetItemString(kwargs.get(), "reverse", Py_True)));
    QB_TRY(Ref sort, checked(PyObject_GetAttrString(list, "sort")));
    QB_TRY(Ref done, checked(PyObject_VectorcallDict(sort.get(), nullptr, 0, kwargs.get())));
    return success();
}

// The first min(k, len) items of the sorted list as a tuple, each passed
// through pick (the element itself, or the element inside a keyed entry).
template <class Pick>
Result<Ref> head_tuple(PyObject* sorted, unsigned long long k, Pick&& pick) {
    Py_ssize_t len = PyList_GET_SIZE(sorted);
    Py_ssize_t n = k < static_cast<unsigned long long>(len) ? static_cast<Py_ssize_t>(k) : len;
    QB_TRY(Ref out, new_tuple(n));
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(out.get(), i, Py_NewRef(pick(PyList_GET_ITEM(sorted, i))));
    return out;
}

// Sorts (key, -position, element) entries: equal keys fall back to the
// position, so they come out in input order and elements are never compared.
Result<Ref> topk_keyed(unsigned long long k, PyObject* seq, PyObject* key) {
    KeyRule rule(key, KeyRule::When::Once);
    QB_TRY(Ref entries, new_list(0));
    QB_TRY(RawSource source, RawSource::open(seq));
    for (Py_ssize_t i = 0;; ++i) {
        QB_TRY(Ref x, source.next());
        if (!x) break;
        QB_TRY(Ref kx, rule.apply(x.get()));
        QB_TRY(Ref position, checked(PyLong_FromSsize_t(-i)));
        QB_TRY(Ref entry, checked(PyTuple_Pack(3, kx.get(), position.get(), x.get())));
        QB_CHECK(checked_status(PyList_Append(entries.get(), entry.get())));
    }
    QB_CHECK(sort_descending(entries.get()));
    return head_tuple(entries.get(), k, [](PyObject* e) { return PyTuple_GET_ITEM(e, 2); });
}

Result<Ref> topk_body(Args<"k, seq, key=None">& a) {
    QB_TRY(unsigned long long k, a.to_u64<"k">());
    PyObject* seq = a.get<"seq">();
    if (PyObject* key = a.get<"key">()) return topk_keyed(k, seq, key);
    QB_TRY(Ref typed, offer_typed_topk(k, seq));
    if (typed) return typed;
    // Elements that order without user code are selected, not sorted; an
    // exact list or tuple is scanned where it is.
    Ref items;
    if (!PyList_CheckExact(seq) && !PyTuple_CheckExact(seq)) {
        QB_TRY(items, list_of(seq));
    }
    PyObject* all = items ? items.get() : seq;
    QB_TRY(Ref top, topk_by_selection(k, PySequence_Fast_ITEMS(all), PySequence_Fast_GET_SIZE(all)));
    if (top) return top;
    if (!items) {
        QB_TRY(items, list_of(seq));
    }
    QB_CHECK(sort_descending(items.get()));
    return head_tuple(items.get(), k, [](PyObject* x) { return x; });
}

PyMethodDef functions[] = {
    QB_FUNCTION("isdistinct", isdistinct_body),
    QB_FUNCTION("topk", topk_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra
