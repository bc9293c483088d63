// The interpreter's recursion guard, for native code that can reach itself
// again with no Python frame in between: a wrapper calling a wrapper, an
// iterator stepping an iterator. The interpreter measures how much of the
// thread's C stack is left, so nesting that would run off its end raises
// RecursionError instead, however small the thread's stack is.
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
