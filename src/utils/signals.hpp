// Ctrl-C and other threads during long loops. A native loop over user input
// that might not end (a count of itertools.repeat, a unique of one value
// repeated) never reaches the interpreter's own switch points, so every
// kSignalInterval elements it runs pending signal handlers, stopping with
// whatever a handler raises, and now and then lets the interpreter go to
// any other thread that waits for it (the timer thread that sends the
// signal, say).
#pragma once

#include "utils/error.hpp"

#include <chrono>
#include <cstdint>

namespace quibra {

inline constexpr std::uint32_t kSignalInterval = std::uint32_t{1} << 16;

// A thread that waits for the interpreter asks for it only after waiting a
// switch interval (5 ms unless changed) without being woken, and every
// hand-back wakes it: pausing more often than this would starve it.
inline constexpr auto kPausePeriod = std::chrono::milliseconds(10);

// Runs pending signal handlers: false with the handler's exception set.
// PyErr_CheckSignals runs a scheduled collection first, and a collector
// callback written in Python (hypothesis installs one) would then meet the
// pending signal and swallow the KeyboardInterrupt as unraisable; with the
// collector held off for the call the handlers run first, as they do in the
// interpreter's own loop, and the collection waits for its next turn.
inline bool handle_signals() noexcept {
    int was_enabled = PyGC_Disable();
    int r = PyErr_CheckSignals();
    if (was_enabled) PyGC_Enable();
    return r == 0;
}

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
        return pause(last_switch_);
    }
    // The same as a Status.
    Status status() noexcept {
        if (tick()) return success();
        return Error::fetch();
    }

private:
    // Static, and given the clock alone, so that the countdown's address
    // never escapes the loop and the counter can live in a register.
    [[gnu::noinline]] static bool pause(std::chrono::steady_clock::time_point& last_switch) noexcept {
        auto now = std::chrono::steady_clock::now();
        if (last_switch == std::chrono::steady_clock::time_point()) {
            last_switch = now;  // the clock starts with the first long run
        } else if (now - last_switch >= kPausePeriod) {
            last_switch = now;
            PyEval_RestoreThread(PyEval_SaveThread());
        }
        return handle_signals();
    }

    std::uint32_t left_ = kSignalInterval;
    std::uint32_t every_ = kSignalInterval;
    std::chrono::steady_clock::time_point last_switch_{};
};

}  // namespace quibra
