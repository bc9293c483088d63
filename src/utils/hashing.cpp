#include "utils/hashing.hpp"

#include <atomic>
#include <limits>

namespace quibra {

namespace {

// 0 not probed yet, 1 the inline rule agrees, 2 it does not. A fact of the
// process's one interpreter build, so every module state shares it; two
// threads probing at once both find the same answer.
std::atomic<int> int_hash_probe{0};

// Whether the inline rule agrees with PyObject_Hash for `value`. Values that
// must be compact (|v| < 2^30 fits one digit on every build) fail the probe
// when they are not; wider values are checked only when they happen to be.
Result<bool> probe_value(long long value, bool must_be_compact) {
    QB_TRY(Ref n, checked(PyLong_FromLongLong(value)));
    if (!PyLong_CheckExact(n.get())) return false;
    if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(n.get()))) return !must_be_compact;
    Py_hash_t h = PyObject_Hash(n.get());
    if (h == -1) return Error::fetch_ffi();
    return h == detail::inline_int_hash(n.get());
}

Result<bool> run_probe() {
    static constexpr long long kCompact[] = {0, 1, -1, -2, 5, 256, 257, 1073741823, -1073741823};
    static constexpr long long kWide[] = {1LL << 40, -(1LL << 40), std::numeric_limits<long long>::max(),
                                          -std::numeric_limits<long long>::max()};
    bool ok = true;
    for (long long v : kCompact) {
        QB_TRY(bool agrees, probe_value(v, true));
        ok = ok && agrees;
    }
    for (long long v : kWide) {
        QB_TRY(bool agrees, probe_value(v, false));
        ok = ok && agrees;
    }
    return ok;
}

}  // namespace

Result<bool> int_hash_inline_ok() {
    int known = int_hash_probe.load(std::memory_order_relaxed);
    if (known != 0) return known == 1;
    QB_TRY(bool ok, run_probe());
    int_hash_probe.store(ok ? 1 : 2, std::memory_order_relaxed);
    return ok;
}

}  // namespace quibra
