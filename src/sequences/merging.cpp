// merge_sorted, join, diff: several inputs read in step, one output per
// RustIter step. What each call checks up front and what waits for the
// first step is part of each function's contract.
#include "sequences/counting.hpp"
#include "sequences/iterators.hpp"
#include "sequences/keys.hpp"
#include "utils/hashing.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"

#include <memory>
#include <optional>
#include <vector>

namespace quibra {

namespace {

// A new 2-tuple (a, b).
Result<Ref> pair(PyObject* a, PyObject* b) { return checked(PyTuple_Pack(2, a, b)); }

// The next item of an iterator: an empty Ref at the end.
Result<Ref> next_of(PyObject* it) {
    PyObject* x = PyIter_Next(it);
    if (x) return Ref::steal(x);
    if (PyErr_Occurred()) return Error::fetch_ffi();
    return Ref();
}

// ---- merge_sorted -----------------------------------------------------------------------

// Looked up once per process: heapq.merge already does the merging, and a
// fresh import on every call would only repeat the module-cache lookup.
CachedAttr heapq_merge("heapq", "merge");

class MergeStep final : public Step {
public:
    explicit MergeStep(Ref it) noexcept : it_(std::move(it)) {}
    Result<Ref> next() override { return next_of(it_.get()); }
    int traverse(const Visitor& visit) const override { return visit(it_); }

private:
    Ref it_;
};

Result<Ref> merge_sorted_body(Args<"*seqs, key=None">& a) {
    QB_TRY(PyObject * merge, heapq_merge.get());
    QB_TRY(Ref seqs, a.rest_tuple());
    Ref kwargs;
    if (PyObject* key = a.get<"key">()) {
        QB_TRY(kwargs, new_dict());
        QB_CHECK(checked_status(PyDict_SetItemString(kwargs.get(), "key", key)));
    }
    QB_TRY(Ref merged, checked(PyObject_Call(merge, seqs.get(), kwargs.get())));
    QB_TRY(Ref it, get_iter(merged.get()));
    return make_rust_iter(std::make_unique<MergeStep>(std::move(it)));
}

// ---- join -------------------------------------------------------------------------------

// A hash join: the left input is filed by key on the first step (keys in
// first-seen order, each group in left-input order), then every right
// element is paired with its group, one pair per step, or yields
// (left_default, right) when it has none. Once the right input ends,
// right_default pairs up the groups no right element matched. Keys hash and
// compare as dict keys do.
class JoinStep final : public Step {
public:
    struct Inputs {
        Ref leftkey, leftseq, rightkey, right_it, left_default, right_default;
    };

    JoinStep(Inputs in, bool int_hash) noexcept : in_(std::move(in)), index_(int_hash) {}

    Result<Ref> next() override {
        if (!index_done_) QB_CHECK(build_index());
        for (;;) {
            if (next_ < end_) return pair_up();
            if (right_done_) {
                if (!next_unmatched()) return Ref();
                continue;
            }
            QB_TRY(Ref r, next_of(in_.right_it.get()));
            if (!r) {
                right_done_ = true;
                if (!in_.right_default) unmatched_ = index_.entries().size();
                continue;
            }
            QB_TRY(Ref kr, right_rule_.apply(r.get()));
            JoinTable::Table::Entry* group = nullptr;
            int found = index_.table().lookup_raw(kr.get(), group);
            if (found < 0) return Error::fetch_ffi();
            if (found) {
                group->value.matched = true;
                start_pairs(group->value, std::move(r));
            } else if (in_.left_default) {
                return pair(in_.left_default.get(), r.get());
            }
        }
    }

    int traverse(const Visitor& visit) const override {
        return visit(in_.leftkey, in_.leftseq, in_.rightkey, in_.right_it, in_.left_default, in_.right_default,
                     left_it_, index_, grouped_, other_);
    }
    // The right element being paired may be the iterator itself.
    void clear() noexcept override {
        other_.reset();
        next_ = end_ = 0;
    }

private:
    struct JoinGroup {
        std::size_t size = 0;
        std::size_t start = 0;  // where the group begins in grouped_
        bool matched = false;
    };
    using JoinTable = Grouping<JoinGroup>;

    // Files the whole left input. An error leaves what was read in place:
    // the next step goes on with the following left element.
    Status build_index() {
        if (!left_it_) {
            QB_TRY(left_it_, get_iter(in_.leftseq.get()));
            if (!index_.reserve(known_length(in_.leftseq.get()))) return Error::fetch();
        }
        for (;;) {
            QB_TRY(Ref l, next_item(left_it_.get()));
            if (!l) break;
            QB_TRY(Ref kl, left_rule_.apply(l.get()));
            if (!index_.add(kl.get(), l)) return Error::fetch_ffi();
        }
        QB_CHECK(lay_out_groups());
        left_it_.reset();
        index_done_ = true;
        return success();
    }

    // Moves the left elements into grouped_, group after group.
    Status lay_out_groups() {
        std::vector<Member>& members = index_.members();
        try {
            grouped_.resize(members.size());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return Error::fetch();
        }
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
        return success();
    }

    void start_pairs(const JoinGroup& g, Ref other) noexcept {
        next_ = g.start;
        end_ = g.start + g.size;
        other_ = std::move(other);
    }

    // (l, other) for the next l of the group being paired.
    Result<Ref> pair_up() {
        PyObject* l = grouped_[next_++].get();
        Result<Ref> p = pair(l, other_.get());
        if (next_ == end_) other_.reset();
        return p;
    }

    // Starts pairing the next group no right element matched with
    // right_default; false once there is none.
    bool next_unmatched() noexcept {
        std::vector<JoinTable::Table::Entry>& entries = index_.entries();
        while (unmatched_ < entries.size()) {
            const JoinGroup& g = entries[unmatched_++].value;
            if (!g.matched) {
                start_pairs(g, in_.right_default);
                return true;
            }
        }
        return false;
    }

    Inputs in_;
    KeyRule left_rule_{in_.leftkey.get(), KeyRule::When::Each};
    KeyRule right_rule_{in_.rightkey.get(), KeyRule::When::Each};
    Ref left_it_;  // while the left input is being read
    JoinTable index_;
    std::vector<Ref> grouped_;  // the left elements, group after group
    bool index_done_ = false;
    bool right_done_ = false;
    std::size_t unmatched_ = 0;  // the next entry to check once the right input ended
    Ref other_;                  // what the group [next_, end_) is paired with
    std::size_t next_ = 0;
    std::size_t end_ = 0;
};

Result<Ref> join_body(
    Args<"leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None">& a) {
    JoinStep::Inputs in;
    QB_TRY(in.right_it, get_iter(a.get<"rightseq">()));
    QB_TRY(bool int_hash, int_hash_inline_ok());
    in.leftkey = Ref::borrow(a.get<"leftkey">());
    in.leftseq = Ref::borrow(a.get<"leftseq">());
    in.rightkey = Ref::borrow(a.get<"rightkey">());
    in.left_default = Ref::borrow(a.get<"left_default">());
    in.right_default = Ref::borrow(a.get<"right_default">());
    return make_rust_iter(std::make_unique<JoinStep>(std::move(in), int_hash));
}

// ---- diff -------------------------------------------------------------------------------

// One value from every input per step; a tuple of them where they (or
// their keys) are not all equal. Without a fill value the shortest input
// ends the output, with one the longest does (an ended input gives the fill
// value from then on). The per-element helpers use the C API's convention
// (-1 with the exception set); next() turns that into a Result.
class DiffStep final : public Step {
public:
    // `values` and `keys` hold one slot per source (keys only with a key).
    DiffStep(std::vector<std::optional<RawSource>> sources, Ref fill, Ref key, std::vector<Ref> values,
             std::vector<Ref> keys) noexcept
        : sources_(std::move(sources)), fill_(std::move(fill)), key_(std::move(key)), values_(std::move(values)),
          keys_(std::move(keys)) {}

    Result<Ref> next() override {
        for (;;) {
            int got = collect();
            if (got <= 0) return stop(got);
            int same = all_equal();
            if (same < 0) return stop(same);
            if (!same) return values_tuple();
        }
    }

    int traverse(const Visitor& visit) const override { return visit(sources_, fill_, key_, values_, keys_); }

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
        for (;;) {
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
    return make_rust_iter(
        std::make_unique<DiffStep>(std::move(sources), std::move(fill), std::move(key), std::move(values), std::move(keys)));
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
