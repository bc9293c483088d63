// Ctrl-C in long loops. A native loop over user input that might not end
// (a count of itertools.repeat, a unique of one value repeated) pauses
// every kSignalInterval elements: it lets any other thread that waits for
// the interpreter run (the timer thread that sends a signal, say; a loop
// in native code never reaches the interpreter's own switch points), then
// runs pending signal handlers, and stops with whatever a handler raises.
#pragma once

#include "utils/error.hpp"

#include <cstdint>

namespace quibra {

inline constexpr std::uint32_t kSignalInterval = std::uint32_t{1} << 16;

// One per loop. A pause lets other threads and signal handlers run, and may
// run the cyclic collector, so a loop ticks only where it holds no borrowed
// reference into a container that user code could change.
class SignalCheck {
public:
    SignalCheck() noexcept = default;
    // A loop that already works in blocks of kSignalInterval pauses every
    // `every` ticks instead.
    explicit SignalCheck(std::uint32_t every) noexcept : left_(every), every_(every) {}

    // False, with the handler's exception set, when the loop must stop.
    [[gnu::always_inline]] bool tick() noexcept {
        if (--left_ != 0) [[likely]] return true;
        left_ = every_;
        PyEval_RestoreThread(PyEval_SaveThread());
        return PyErr_CheckSignals() == 0;
    }
    // The same as a Status.
    Status status() noexcept {
        if (tick()) return success();
        return Error::fetch();
    }

private:
    std::uint32_t left_ = kSignalInterval;
    std::uint32_t every_ = kSignalInterval;
};

}  // namespace quibra
