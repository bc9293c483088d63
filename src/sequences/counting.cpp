// frequencies, countby, groupby, reduceby: one pass over the input into a
// table keyed by the native hash, turned into a dict at the end with one
// insertion per distinct key.
#include "sequences/counting.hpp"

#include "buffers/offers.hpp"
#include "sequences/keys.hpp"
#include "utils/binding.hpp"
#include "utils/grouping.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"
#include "utils/signals.hpp"

#include <cstdint>
#include <vector>

namespace quibra {

namespace {

// Calls visit(x) for each element of seq, x a Ref the visitor may keep. An
// exact list is read by position with its length re-read at every step
// (user code run by the visitor may change it); anything else through its
// iterator. visit returns false with the exception set to stop with that error.
template <class Visit>
Status for_each_element(PyObject* seq, Visit&& visit) {
    QB_TRY(RawSource source, RawSource::open(seq));
    for (;;) {
        Ref x = Ref::steal(source.next_raw());
        if (!x) break;
        if (!visit(std::move(x))) return Error::fetch_ffi();
    }
    if (PyErr_Occurred()) return Error::fetch_ffi();
    return success();
}

using CountTable = CountingTable<std::uint64_t>;

// The table's counts as a dict, in first-seen order.
Result<Ref> counts_to_dict(CountTable& table) {
    QB_TRY(Ref out, new_dict(static_cast<Py_ssize_t>(table.entries().size())));
    SignalCheck signals;
    for (CountTable::Entry& e : table.entries()) {
        QB_TRY(Ref n, checked(PyLong_FromUnsignedLongLong(e.value)));
        QB_CHECK(checked_status(PyDict_SetItem(out.get(), e.key.get(), n.get())));
        QB_CHECK(signals.status());
    }
    return out;
}

// Keys counted in first-seen order. The native table answers most inputs,
// whose keys repeat: one probe and a native count per element, and the dict
// made once at the end. When nearly every key is new that would only do the
// dict's work twice, so while every key is a builtin one (whose hashing and
// comparison run no code, so nothing observable differs) the counts move
// into the result dict and go on there; the first other key moves them
// back, in order, to the table for good.
class Counts {
public:
    explicit Counts(bool int_hash) noexcept : table_(int_hash), int_hash_(int_hash) {}

    // One more of key k; false with the exception set on error.
    [[gnu::always_inline]] bool add(PyObject* k) noexcept {
        if (mode_ == Mode::Table) [[likely]] return add_to_table(k);
        return add_judged(k);
    }

    Result<Ref> result() {
        if (dict_) return std::move(dict_);
        return counts_to_dict(table_);
    }

private:
    // How many keys each judgement looks at.
    static constexpr std::size_t kProbe = 4096;

    enum class Mode { FirstKeys, Table, Dict };

    bool add_to_table(PyObject* k) noexcept {
        CountTable::Entry* e = table_.add_raw(k);
        if (!e) return false;
        ++e->value;
        return true;
    }

    [[gnu::noinline]] bool add_judged(PyObject* k) noexcept {
        bool builtin = builtin_key(k);
        if (mode_ == Mode::Dict) {
            if (!builtin) return to_table() && add_to_table(k);
            return add_to_dict(k) >= 0;
        }
        if (!add_to_table(k)) return false;
        builtin_ = builtin_ && builtin;
        ++seen_;
        if (seen_ == kProbe) keys_before_ = table_.entries().size();
        if (seen_ < 2 * kProbe) return true;
        // Judged on the second kProbe keys: an input that starts with its
        // distinct keys and then repeats them is told from one that does not.
        mode_ = Mode::Table;
        if (!builtin_ || 2 * (table_.entries().size() - keys_before_) <= kProbe) return true;
        mode_ = Mode::Dict;
        return to_dict();
    }

    // 1 when k was counted before, 0 when new, -1 on error.
    int add_to_dict(PyObject* k) noexcept {
        PyObject* count;
        int present = PyDict_SetDefaultRef(dict_.get(), k, one(), &count);
        if (present <= 0) return present;
        Ref held = Ref::steal(count);
        Ref more = Ref::steal(PyNumber_Add(count, one()));
        return more && PyDict_SetItem(dict_.get(), k, more.get()) == 0 ? 1 : -1;
    }

    static PyObject* one() noexcept {
        static PyObject* const value = PyLong_FromLong(1);  // the small int 1: immortal, never fails
        return value;
    }

    bool to_dict() noexcept {
        Result<Ref> d = counts_to_dict(table_);
        if (!d) {
            std::move(d).error().raise();
            return false;
        }
        dict_ = std::move(d).value();
        table_ = CountTable(int_hash_);
        return true;
    }

    bool to_table() noexcept {
        mode_ = Mode::Table;
        Py_ssize_t pos = 0;
        PyObject *key, *count;
        while (PyDict_Next(dict_.get(), &pos, &key, &count)) {
            CountTable::Entry* e = table_.add_raw(key);
            if (!e) return false;
            e->value = PyLong_AsUnsignedLongLong(count);
        }
        dict_.reset();
        return true;
    }

    CountTable table_;
    Ref dict_;  // while the counts are kept in the result dict
    Mode mode_ = Mode::FirstKeys;
    std::size_t seen_ = 0;         // keys counted before the judgement
    std::size_t keys_before_ = 0;  // distinct keys among the first kProbe
    bool builtin_ = true;      // every key so far was a builtin key
    bool int_hash_;
};

Result<Ref> countby_of(PyObject* key, PyObject* seq) {
    QB_TRY(bool int_hash, int_hash_inline_ok());
    Counts counts(int_hash);
    KeyRule rule(key, KeyRule::When::Once);
    QB_CHECK(for_each_element(seq, [&](Ref x) {
        Ref k = Ref::steal(rule.apply_raw(x.get()));
        if (!k) return false;
        x.reset();  // the key is what is kept
        return counts.add(k.get());
    }));
    return counts.result();
}

struct GroupSize {
    std::size_t size = 0;
};
using GroupTable = Grouping<GroupSize>;

// The groups as a dict of lists, in first-seen order. Every list is made
// at its exact size and kept from the collector until the one pass over
// the members has filled it, so no half-filled list is ever visible.
Result<Ref> groups_to_dict(GroupTable& groups) {
    std::vector<GroupTable::Table::Entry>& entries = groups.entries();
    std::vector<Ref> lists;
    QB_CHECK(reserve(lists, entries.size()));
    for (GroupTable::Table::Entry& e : entries) {
        QB_TRY(Ref list, new_list(static_cast<Py_ssize_t>(e.value.size)));
        PyObject_GC_UnTrack(list.get());
        lists.push_back(std::move(list));  // reserved
        e.value.size = 0;  // from here on: how many members the list holds
    }
    for (Member& m : groups.members()) {
        std::size_t& filled = entries[m.group].value.size;
        PyList_SET_ITEM(lists[m.group].get(), static_cast<Py_ssize_t>(filled++), m.item.release());
    }
    for (Ref& list : lists) PyObject_GC_Track(list.get());
    QB_TRY(Ref out, new_dict(static_cast<Py_ssize_t>(entries.size())));
    for (std::size_t g = 0; g < entries.size(); ++g)
        QB_CHECK(checked_status(PyDict_SetItem(out.get(), entries[g].key.get(), lists[g].get())));
    return out;
}

Result<Ref> frequencies_body(Args<"seq">& a) { return frequencies_of(a.get<"seq">()); }

Result<Ref> countby_body(Args<"key, seq">& a) { return countby_of(a.get<"key">(), a.get<"seq">()); }

Result<Ref> groupby_body(Args<"key, seq">& a) { return groupby_of(a.get<"key">(), a.get<"seq">()); }

// reduceby folds into its result dict: look the key up, then store the
// folded value. While every key is a builtin key that pair of dict probes
// cannot be told from one probe of a native table, so the fold starts
// there; the first other key moves the folds made so far into the dict
// (their keys run no user code either) and the rest goes on in the dict.
class Folds {
public:
    Folds(PyObject* binop, PyObject* init, bool int_hash) noexcept : binop_(binop), init_(init), table_(int_hash) {}

    // Folds x into key k's value; false with the exception set on error.
    bool add(Ref k, Ref x) {
        if (!dict_ && builtin_key(k.get())) {
            CountingTable<Ref>::Entry* e = table_.add_raw(k.get());
            return e && fold(e->value, std::move(x));
        }
        if (!dict_ && !move_to_dict()) return false;
        PyObject* found;
        int present = PyDict_GetItemRef(dict_.get(), k.get(), &found);
        if (present < 0) return false;
        Ref acc = Ref::steal(found);
        return fold(acc, std::move(x)) && PyDict_SetItem(dict_.get(), k.get(), acc.get()) == 0;
    }

    Result<Ref> result() {
        if (!dict_ && !move_to_dict()) return Error::fetch();
        return std::move(dict_);
    }

private:
    // acc = binop(acc, x); a key's first element starts its fold (or init
    // does: called when callable, else used as it is).
    bool fold(Ref& acc, Ref x) {
        if (!acc && !init_) {
            acc = std::move(x);
            return true;
        }
        Ref seed;
        if (!acc) {
            seed = Ref::steal(PyCallable_Check(init_) ? PyObject_CallNoArgs(init_) : Py_NewRef(init_));
            if (!seed) return false;
        }
        PyObject* argv[] = {nullptr, acc ? acc.get() : seed.get(), x.get()};
        Ref folded = Ref::steal(PyObject_Vectorcall(binop_, argv + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        if (!folded) return false;
        acc = std::move(folded);
        return true;
    }

    bool move_to_dict() {
        dict_ = Ref::steal(PyDict_New());
        if (!dict_) return false;
        for (CountingTable<Ref>::Entry& e : table_.entries())
            if (PyDict_SetItem(dict_.get(), e.key.get(), e.value.get()) < 0) return false;
        table_ = CountingTable<Ref>(false);
        return true;
    }

    PyObject* binop_;
    PyObject* init_;
    CountingTable<Ref> table_;
    Ref dict_;  // once a key other than a builtin one has come
};

Result<Ref> reduceby_body(Args<"key, binop, seq, *rest">& a) {
    QB_TRY(PyObject * init, a.optional_rest("reduceby", 4));
    QB_TRY(bool int_hash, int_hash_inline_ok());
    Folds folds(a.get<"binop">(), init, int_hash);
    KeyRule rule(a.get<"key">(), KeyRule::When::Each);
    QB_CHECK(for_each_element(a.get<"seq">(), [&](Ref x) {
        Ref k = Ref::steal(rule.apply_raw(x.get()));
        return k && folds.add(std::move(k), std::move(x));
    }));
    return folds.result();
}

PyMethodDef functions[] = {
    QB_FUNCTION("frequencies", frequencies_body),
    QB_FUNCTION("groupby", groupby_body),
    QB_FUNCTION("countby", countby_body),
    QB_FUNCTION("reduceby", reduceby_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

Result<Ref> frequencies_of(PyObject* seq) {
    QB_TRY(Ref typed, offer_typed_count(seq));
    if (typed) return typed;
    QB_TRY(bool int_hash, int_hash_inline_ok());
    Counts counts(int_hash);
    QB_CHECK(for_each_element(seq, [&](Ref x) { return counts.add(x.get()); }));
    return counts.result();
}

Result<Ref> groupby_of(PyObject* key, PyObject* seq) {
    QB_TRY(bool int_hash, int_hash_inline_ok());
    GroupTable groups(int_hash);
    QB_CHECK(groups.reserve(known_length(seq)));
    KeyRule rule(key, KeyRule::When::Once);
    QB_CHECK(for_each_element(seq, [&](Ref x) {
        Ref k = Ref::steal(rule.apply_raw(x.get()));
        return k && groups.add(k.get(), x);
    }));
    return groups_to_dict(groups);
}

}  // namespace quibra
