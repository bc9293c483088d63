// merge_sorted, join, diff: several inputs read in step, one output per
// step of a RustIter. What each call checks up front and what waits for the
// first step is part of each function's contract.
#include "sequences/keys.hpp"
#include "utils/binding.hpp"
#include "utils/grouping.hpp"
#include "utils/iterators.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"
#include "utils/signals.hpp"

#include <memory>
#include <optional>
#include <vector>

namespace quibra {

namespace {

// A new 2-tuple (a, b).
Result<Ref> pair(PyObject* a, PyObject* b) { return checked(PyTuple_Pack(2, a, b)); }

// ---- merge_sorted -----------------------------------------------------------------------

// Kept once looked up: heapq.merge already does the merging, and a fresh
// import on every call would only repeat the module-cache lookup.
CachedAttr heapq_merge("heapq", "merge");

// Nothing but the merge iterator's own next item: this state is all that
// stands between heapq.merge and the consumer.
struct MergeState {
    Ref it;

    PyObject* step_raw() noexcept { return iter_next(it.get()); }
    int traverse(const Visitor& visit) const { return visit(it); }
};

Result<Ref> merge_sorted_body(Args<"*seqs, key=None">& a) {
    QB_TRY(PyObject * merge, heapq_merge.get(a.state()));
    QB_TRY(Ref seqs, a.rest_tuple());
    Ref kwargs;
    if (PyObject* key = a.get<"key">()) {
        QB_TRY(kwargs, new_dict());
        QB_CHECK(checked_status(PyDict_SetItemString(kwargs.get(), "key", key)));
    }
    QB_TRY(Ref merged, checked(PyObject_Call(merge, seqs.get(), kwargs.get())));
    QB_TRY(Ref it, get_iter(merged.get()));
    return make_rust_iter<MergeState>(a.state(), std::move(it));
}

// ---- join -------------------------------------------------------------------------------

// A hash join. The first step files the whole left input by key in a dict
// of lists (keys in first-seen order, each list in left-input order); then
// every right element is paired with its key's list, one pair per step, or
// yields (left_default, right) when it has none, and each right key that
// matched goes into a `seen` set. Once the right input ends, right_default
// pairs up the lists whose key is not in `seen`.
//
// While every key is a builtin key, a native grouping stands in for the
// dict and matched marks for the set: one probe where the dict and the set
// would take several, with no user code behind any of them, so nothing
// observable changes. The first other key moves everything into the dict
// and the set, and from there the work is done on them as described.
class JoinState {
public:
    struct Inputs {
        Ref leftkey, leftseq, rightkey, right_it, left_default, right_default;
    };

    JoinState(Inputs in, bool int_hash) noexcept : in_(std::move(in)), index_(int_hash) {}

    Result<Ref> step() {
        if (!index_done_) QB_CHECK(build_index());
        SignalCheck signals;
        for (;;) {
            if (at_ != end_) return pair_up();
            if (right_done_) {
                if (!next_unmatched()) return Ref();
                continue;
            }
            QB_CHECK(signals.status());  // right elements without a match may go on and on
            QB_TRY(Ref r, next_item(in_.right_it.get()));
            if (!r) {
                QB_CHECK(finish_right());
                continue;
            }
            QB_TRY(Ref kr, right_rule_.apply(r.get()));
            QB_TRY(bool found, match(std::move(kr)));
            if (found) {
                other_ = std::move(r);
            } else if (in_.left_default) {
                return pair(in_.left_default.get(), r.get());
            }
        }
    }

    int traverse(const Visitor& visit) const {
        return visit(in_.leftkey, in_.leftseq, in_.rightkey, in_.right_it, in_.left_default, in_.right_default,
                     left_it_, index_, grouped_, dict_, seen_, unmatched_lists_, copied_, other_);
    }
    // A left or right element may hold the iterator itself: drop them all
    // and end.
    void clear() noexcept {
        index_ = JoinTable(false);
        std::vector<Ref>().swap(grouped_);
        std::vector<Ref>().swap(unmatched_lists_);
        std::vector<Ref>().swap(copied_);
        dict_.reset();
        seen_.reset();
        other_.reset();
        at_ = end_ = nullptr;
        unmatched_.clear();
        index_done_ = right_done_ = true;
    }

private:
    struct JoinGroup {
        std::size_t size = 0;
        std::size_t start = 0;  // where the group begins in grouped_
        Ref matched;            // the first right key that matched it
        int traverse(const Visitor& visit) const { return visit(matched); }
    };
    using JoinTable = Grouping<JoinGroup>;

    // Files the whole left input. An error leaves what was read in place:
    // the next step goes on with the following left element.
    Status build_index() {
        if (!left_it_) {
            QB_TRY(left_it_, get_iter(in_.leftseq.get()));
            QB_CHECK(index_.reserve(known_length(in_.leftseq.get())));
        }
        SignalCheck signals;
        for (;;) {
            QB_CHECK(signals.status());
            QB_TRY(Ref l, next_item(left_it_.get()));
            if (!l) break;
            QB_TRY(Ref kl, left_rule_.apply(l.get()));
            if (!dict_ && builtin_key(kl.get())) {
                if (!index_.add(kl.get(), l)) return Error::fetch_ffi();
                continue;
            }
            if (!dict_) QB_CHECK(move_to_dict());
            QB_CHECK(file(kl.get(), l.get()));
        }
        if (!dict_) QB_CHECK(lay_out_groups());
        left_it_.reset();
        index_done_ = true;
        return success();
    }

    // index[kl].append(l), or index[kl] = [l].
    Status file(PyObject* kl, PyObject* l) {
        PyObject* found;
        if (PyDict_GetItemRef(dict_.get(), kl, &found) < 0) return Error::fetch();
        Ref list = Ref::steal(found);
        if (list) return checked_status(PyList_Append(list.get(), l));
        QB_TRY(list, new_list(1));
        PyList_SET_ITEM(list.get(), 0, Py_NewRef(l));
        return checked_status(PyDict_SetItem(dict_.get(), kl, list.get()));
    }

    // Moves the filed elements into grouped_, group after group.
    Status lay_out_groups() {
        std::vector<Member>& members = index_.members();
        QB_CHECK(or_no_memory([&]() -> Status {
            grouped_.resize(members.size());
            return success();
        }));
        std::size_t start = 0;
        for (JoinTable::Table::Entry& e : index_.entries()) {
            e.value.start = start;
            start += e.value.size;
            e.value.size = 0;  // refilled below
        }
        for (Member& m : members) {
            JoinGroup& g = index_.entries()[m.group].value;
            grouped_[g.start + g.size++] = std::move(m.item);
        }
        std::vector<Member>().swap(members);
        laid_out_ = true;
        return success();
    }

    // Points the pairing at the group of the left key equal to kr (noting
    // the match); false when there is none.
    Result<bool> match(Ref kr) {
        if (!dict_ && builtin_key(kr.get())) {
            JoinTable::Table::Entry* e = nullptr;
            int found = index_.table().lookup_raw(kr.get(), e);
            if (found < 0) return Error::fetch_ffi();
            if (!found) return false;
            if (!e->value.matched) {
                e->value.matched = std::move(kr);
                matched_order_.push_back(index_.table().position(e));
            }
            pair_with_group(e->value);
            return true;
        }
        if (!dict_) QB_CHECK(move_to_dict());
        PyObject* found;
        if (PyDict_GetItemRef(dict_.get(), kr.get(), &found) < 0) return Error::fetch();
        Ref list = Ref::steal(found);
        if (!list) return false;
        QB_CHECK(checked_status(PySet_Add(seen_.get(), kr.get())));
        QB_CHECK(pair_with_list(list.get()));
        return true;
    }

    // The dict and the set the native grouping stood in for: the same keys
    // in the same order with their elements in the same order, and the
    // right keys that matched, added in the order they first did. None of
    // these keys runs user code.
    Status move_to_dict() {
        if (!laid_out_) QB_CHECK(lay_out_groups());
        QB_TRY(Ref dict, new_dict());
        QB_TRY(Ref seen, checked(PySet_New(nullptr)));
        for (JoinTable::Table::Entry& e : index_.entries()) {
            QB_TRY(Ref list, new_list(static_cast<Py_ssize_t>(e.value.size)));
            for (std::size_t i = 0; i < e.value.size; ++i)
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(grouped_[e.value.start + i].get()));
            QB_CHECK(checked_status(PyDict_SetItem(dict.get(), e.key.get(), list.get())));
        }
        for (std::size_t i : matched_order_)
            QB_CHECK(checked_status(PySet_Add(seen.get(), index_.entries()[i].value.matched.get())));
        dict_ = std::move(dict);
        seen_ = std::move(seen);
        index_ = JoinTable(false);
        std::vector<Ref>().swap(grouped_);
        std::vector<std::size_t>().swap(matched_order_);
        return success();
    }

    // With a right_default, the groups no right key matched, in key order.
    // On the dict every membership test is made here, before any pair goes
    // out, as the whole final phase is decided at once.
    Status finish_right() {
        right_done_ = true;
        if (!in_.right_default) return success();
        if (!dict_) {
            for (std::size_t i = 0; i < index_.entries().size(); ++i)
                if (!index_.entries()[i].value.matched) unmatched_.push_back(i);
            return success();
        }
        Py_ssize_t pos = 0;
        PyObject *key, *list;
        while (PyDict_Next(dict_.get(), &pos, &key, &list)) {
            Ref k = Ref::borrow(key), keep = Ref::borrow(list);
            int present = PySet_Contains(seen_.get(), k.get());
            if (present < 0) return Error::fetch();
            if (!present) unmatched_lists_.push_back(std::move(keep));
        }
        return success();
    }

    // Starts pairing the next unmatched group with right_default; false
    // once there is none.
    bool next_unmatched() {
        if (unmatched_next_ < unmatched_.size()) {
            pair_with_group(index_.entries()[unmatched_[unmatched_next_++]].value);
        } else if (unmatched_next_ - unmatched_.size() < unmatched_lists_.size()) {
            Ref list = std::move(unmatched_lists_[unmatched_next_++ - unmatched_.size()]);
            if (!pair_with_list(list.get())) return false;
        } else {
            return false;
        }
        other_ = in_.right_default;
        return true;
    }

    void pair_with_group(const JoinGroup& g) noexcept {
        at_ = grouped_.data() + g.start;
        end_ = at_ + g.size;
    }

    // The list's items, held while they are paired (nobody else holds the
    // list, but the pairs are made one step at a time).
    Status pair_with_list(PyObject* list) {
        std::vector<Ref>().swap(copied_);
        Py_ssize_t n = PyList_GET_SIZE(list);
        QB_CHECK(reserve(copied_, static_cast<std::size_t>(n)));
        for (Py_ssize_t i = 0; i < n; ++i) copied_.push_back(Ref::borrow(PyList_GET_ITEM(list, i)));
        at_ = copied_.data();
        end_ = at_ + copied_.size();
        return success();
    }

    // (l, other) for the next l of the group being paired.
    Result<Ref> pair_up() {
        PyObject* l = (at_++)->get();
        Result<Ref> p = pair(l, other_.get());
        if (at_ == end_) other_.reset();
        return p;
    }

    Inputs in_;
    KeyRule left_rule_{in_.leftkey.get(), KeyRule::When::Each};
    KeyRule right_rule_{in_.rightkey.get(), KeyRule::When::Each};
    Ref left_it_;  // while the left input is being read
    bool index_done_ = false;
    bool right_done_ = false;
    // While every key is a builtin key:
    JoinTable index_;
    bool laid_out_ = false;
    std::vector<Ref> grouped_;                // the left elements, group after group
    std::vector<std::size_t> matched_order_;  // groups in the order they first matched
    std::vector<std::size_t> unmatched_;      // the groups right_default pairs up
    // Once another key came:
    Ref dict_;
    Ref seen_;
    std::vector<Ref> unmatched_lists_;
    std::size_t unmatched_next_ = 0;
    // The group being paired with other_: [at_, end_) in grouped_ or copied_.
    std::vector<Ref> copied_;
    const Ref* at_ = nullptr;
    const Ref* end_ = nullptr;
    Ref other_;
};

Result<Ref> join_body(
    Args<"leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None">& a) {
    JoinState::Inputs in;
    QB_TRY(in.right_it, get_iter(a.get<"rightseq">()));
    QB_TRY(bool int_hash, int_hash_inline_ok());
    in.leftkey = Ref::borrow(a.get<"leftkey">());
    in.leftseq = Ref::borrow(a.get<"leftseq">());
    in.rightkey = Ref::borrow(a.get<"rightkey">());
    in.left_default = Ref::borrow(a.get<"left_default">());
    in.right_default = Ref::borrow(a.get<"right_default">());
    return make_rust_iter<JoinState>(a.state(), std::move(in), int_hash);
}

// ---- diff -------------------------------------------------------------------------------

// One value from every input per step; a tuple of them where they (or
// their keys) are not all equal. Without a fill value the shortest input
// ends the output, with one the longest does (an ended input gives the fill
// value from then on). The per-element helpers use the C API's convention
// (-1 with the exception set); step() turns that into a Result.
class DiffState {
public:
    // `values` and `keys` hold one slot per source (keys only with a key).
    DiffState(std::vector<std::optional<RawSource>> sources, Ref fill, Ref key, std::vector<Ref> values,
             std::vector<Ref> keys) noexcept
        : sources_(std::move(sources)), fill_(std::move(fill)), key_(std::move(key)), values_(std::move(values)),
          keys_(std::move(keys)) {}

    Result<Ref> step() {
        for (;;) {
            int got = collect();
            if (got <= 0) return stop(got);
            int same = all_equal();
            if (same < 0) return stop(same);
            if (!same) return values_tuple();
        }
    }

    int traverse(const Visitor& visit) const { return visit(sources_, fill_, key_, values_, keys_); }

private:
    // One value per source into values_: 1, or 0 at the end of the output.
    int collect() noexcept {
        bool any = false;
        for (std::size_t i = 0; i < sources_.size(); ++i) {
            std::optional<RawSource>& source = sources_[i];
            PyObject* v = source ? source->next_raw() : nullptr;
            if (!v && source) {
                if (PyErr_Occurred()) return -1;
                if (!fill_) return 0;
                source.reset();
            }
            any = any || v;
            values_[i] = v ? Ref::steal(v) : fill_;
        }
        return any ? 1 : 0;
    }

    // Whether the first value (or key) == each of the others, in turn. No
    // identity shortcut: a value that is not equal to itself differs.
    int all_equal() {
        std::vector<Ref>* compared = &values_;
        if (key_) {
            for (std::size_t i = 0; i < values_.size(); ++i) {
                PyObject* argv[] = {nullptr, values_[i].get()};
                keys_[i] = Ref::steal(PyObject_Vectorcall(key_.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
                if (!keys_[i]) return -1;
            }
            compared = &keys_;
        }
        PyObject* first = (*compared)[0].get();
        for (std::size_t i = 1; i < compared->size(); ++i) {
            int eq = equal(first, (*compared)[i].get());
            if (eq <= 0) return eq;
        }
        return 1;
    }

    // a == b as bool(a == b); exact ints and strs answer without the call.
    static int equal(PyObject* a, PyObject* b) noexcept {
        if (std::optional<bool> eq = exact_equal(a, b)) return *eq;
        Ref r = Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
        if (!r) return -1;
        if (r.get() == Py_True || r.get() == Py_False) return r.get() == Py_True;
        return PyObject_IsTrue(r.get());
    }

    Result<Ref> values_tuple() {
        Result<Ref> out = new_tuple(static_cast<Py_ssize_t>(values_.size()));
        if (out) {
            for (std::size_t i = 0; i < values_.size(); ++i)
                PyTuple_SET_ITEM(out->get(), static_cast<Py_ssize_t>(i), values_[i].release());
            untrack_if_atomic(out->get());
        }
        drop_scratch();
        return out;
    }

    // The end (0) or the pending error (-1).
    Result<Ref> stop(int outcome) {
        drop_scratch();
        if (outcome < 0) return Error::fetch_ffi();
        return Ref();
    }

    // Nothing is kept between steps.
    void drop_scratch() noexcept {
        for (Ref& v : values_) v.reset();
        for (Ref& k : keys_) k.reset();
    }

    std::vector<std::optional<RawSource>> sources_;  // empty: an input that ended (with a fill value)
    Ref fill_;
    Ref key_;
    std::vector<Ref> values_;  // scratch of one step
    std::vector<Ref> keys_;
};

// The "default" and "key" keywords (others are ignored): a default given
// as None is a fill value, a key given as None is no key.
Status read_diff_options(PyObject* kwargs, Ref& fill, Ref& key) {
    if (!kwargs) return success();
    PyObject* v;
    if (PyDict_GetItemStringRef(kwargs, "default", &v) < 0) return Error::fetch();
    fill = Ref::steal(v);
    if (PyDict_GetItemStringRef(kwargs, "key", &v) < 0) return Error::fetch();
    key = Ref::steal(v);
    if (key.get() == Py_None) key.reset();
    return success();
}

// The inputs: the items of a lone list argument, else the arguments.
Result<std::vector<Ref>> diff_inputs(std::span<PyObject* const> args) {
    std::vector<Ref> inputs;
    if (args.size() == 1 && PyList_Check(args[0])) {
        QB_TRY(Ref it, get_iter(args[0]));
        SignalCheck signals;
        for (;;) {
            QB_CHECK(signals.status());
            QB_TRY(Ref s, next_item(it.get()));
            if (!s) break;
            inputs.push_back(std::move(s));
        }
    } else {
        for (PyObject* s : args) inputs.push_back(Ref::borrow(s));
    }
    return inputs;
}

Result<Ref> diff_body(Args<"*seqs, **kwargs">& a) {
    Ref fill, key;
    QB_CHECK(read_diff_options(a.kwargs.get(), fill, key));
    QB_TRY(std::vector<Ref> inputs, diff_inputs(a.rest()));
    if (inputs.size() < 2) return Error::type_error("Too few sequences given (min 2 required)");
    std::vector<std::optional<RawSource>> sources;
    sources.reserve(inputs.size());
    for (const Ref& s : inputs) {
        QB_TRY(RawSource source, RawSource::open(s.get()));
        sources.emplace_back(std::move(source));
    }
    std::vector<Ref> values(inputs.size()), keys(key ? inputs.size() : 0);
    return make_rust_iter<DiffState>(a.state(), std::move(sources), std::move(fill), std::move(key), std::move(values),
                                     std::move(keys));
}

PyMethodDef functions[] = {
    QB_FUNCTION("merge_sorted", merge_sorted_body),
    QB_FUNCTION("join", join_body),
    QB_FUNCTION_VARARGS("diff", diff_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra
