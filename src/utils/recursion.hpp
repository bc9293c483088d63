// The interpreter's recursion guard, for native code that can reach itself
// again with no Python frame in between: a wrapper calling a wrapper, an
// iterator stepping an iterator. Thirty thousand nested levels then raise
// RecursionError instead of running off the end of the C stack.
#pragma once

#include "utils/error.hpp"

namespace quibra {

// One check per native call or step, not per element: a loop that stays
// inside one call stays at one depth.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept : entered_(Py_EnterRecursiveCall(where) == 0) {}
    ~RecursionGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;

    // False, with RecursionError set, when the stack is already too deep.
    bool entered() const noexcept { return entered_; }
    // The same as a pending error.
    Status status() const {
        if (entered_) return success();
        return Error::fetch();
    }

private:
    bool entered_;
};

// The wording the interpreter uses for the calls it guards itself.
inline constexpr const char kWhileCalling[] = " while calling a Python object";

}  // namespace quibra
