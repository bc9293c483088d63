#include "utils/sources.hpp"

namespace quibra {

Result<RawSource> RawSource::open(PyObject* seq) {
    if (PyList_CheckExact(seq)) return RawSource(Ref::borrow(seq), true);
    QB_TRY(Ref it, get_iter(seq));
    return RawSource(std::move(it), false);
}

unsigned long long RawSource::remaining() const noexcept {
    if (is_list_) {
        if (done_) return 0;
        Py_ssize_t left = PyList_GET_SIZE(obj_.get()) - index_;
        return left > 0 ? static_cast<unsigned long long>(left) : 0;
    }
    Py_ssize_t h = PyObject_LengthHint(obj_.get(), 0);
    if (h < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<unsigned long long>(h);
}

}  // namespace quibra
