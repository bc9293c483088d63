// What inspect.Signature.bind and bind_partial would answer, decided
// natively. curry asks them on every call; for a signature that is exactly
// inspect.Signature (whose binding is the standard library's own and reads
// nothing but the parameters' names, kinds and whether they have defaults),
// the parameters are read once and the same walk runs here without a call.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

#include <memory>
#include <vector>

namespace quibra {

class BindPlan {
public:
    enum Kind : unsigned char { PositionalOnly, PositionalOrKeyword, VarPositional, KeywordOnly, VarKeyword };

    // The plan of `sig`, or nullptr when sig is not exactly inspect.Signature
    // or its parameters are not plain inspect.Parameter objects (the caller
    // then asks bind and bind_partial themselves). Errors that are not
    // Exceptions (KeyboardInterrupt, ...) propagate; any other failure to
    // read only means no plan.
    static Result<std::shared_ptr<const BindPlan>> read(ModuleState& module, PyObject* sig);

    // Whether bind (partial false) or bind_partial (partial true) accepts
    // `nargs` positional arguments and the keywords of `kwargs` (nullptr or a
    // dict whose keys are all exact str; see keywords_readable).
    bool binds(Py_ssize_t nargs, PyObject* kwargs, bool partial) const noexcept;

    // binds() would fail for bind and succeed for bind_partial: the call is
    // a partial application.
    bool incomplete(Py_ssize_t nargs, PyObject* kwargs) const noexcept {
        return !binds(nargs, kwargs, false) && binds(nargs, kwargs, true);
    }

    // Whether the keyword names can be tested without running user code
    // (a str subclass could bring its own __eq__ and __hash__).
    static bool keywords_readable(PyObject* kwargs) noexcept;

private:
    struct Param {
        Ref name;  // exact str
        Kind kind;
        bool has_default;
    };

    bool given(const Param& p, PyObject* kwargs) const noexcept;

    std::vector<Param> params_;
};

}  // namespace quibra
