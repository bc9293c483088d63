#include "utils/error.hpp"

#include "utils/capi.hpp"
#include "utils/state.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>

namespace quibra {

namespace {

// PanicException, made per module state on first use. Its class carries
// the spec as its token, so a PanicException of any module state (or a
// subclass of one) is recognised without finding that state.
PyType_Slot panic_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Raised when quibra's native code meets an internal fault.\n\n"
                    "It derives from BaseException, not Exception, so ordinary\n"
                    "`except Exception` handlers do not swallow it: like SystemExit it\n"
                    "normally ends the program.")},
    {Py_tp_token, Py_TP_USE_SPEC},
    {0, nullptr},
};
PyType_Spec panic_spec = {"quibra._quibra.PanicException", 0, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, panic_slots};
StateCell panic_cell;

bool is_panic_type(PyObject* type) noexcept {
    return PyType_Check(type) && PyType_GetBaseByToken(reinterpret_cast<PyTypeObject*>(type), &panic_spec, nullptr) == 1;
}

constexpr const char kNoneSet[] = "attempted to fetch exception but none was set";
constexpr const char kFfiNoneSet[] = "FFI call failed without setting an exception";

// A PanicException coming back from Python code (a nested call into the
// module that faulted) is not an ordinary callback error: report it and let
// the fault go on.
Error resume_panic(Ref exc) {
    std::fputs("--- quibra: PanicException raised from Python code; resuming the internal fault ---\n", stderr);
    PyErr_DisplayException(exc.get());
    return Error::panic(display_str(exc.get()));
}

Error take_raised(const char* none_set_text) {
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return Error::system_error(none_set_text);
    // The interpreter's own exception classes are static: only a heap type
    // can be ours.
    if (PyType_HasFeature(Py_TYPE(exc), Py_TPFLAGS_HEAPTYPE) && is_panic_type(reinterpret_cast<PyObject*>(Py_TYPE(exc))))
        return resume_panic(Ref::steal(exc));
    return Error::captured(Ref::steal(exc));
}

}  // namespace

Error Error::fetch() { return take_raised(kNoneSet); }
Error Error::fetch_ffi() { return take_raised(kFfiNoneSet); }

Error Error::no_memory() {
    PyErr_NoMemory();
    return fetch();
}

Error Error::from_exception(std::exception_ptr e, const char* fallback) noexcept {
    try {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc&) {
            return no_memory();
        } catch (const std::length_error&) {
            return no_memory();
        } catch (const std::exception& ex) {
            return panic(ex.what());
        } catch (...) {
        }
        return panic(fallback ? fallback : "");
    } catch (...) {
        return no_memory();  // the report itself did not fit
    }
}

PyObject* Error::deferred_type() const {
    switch (kind_) {
        case Kind::TypeError: return PyExc_TypeError;
        case Kind::ValueError: return PyExc_ValueError;
        case Kind::BufferError: return PyExc_BufferError;
        case Kind::SystemError: return PyExc_SystemError;
        case Kind::StopIteration: return PyExc_StopIteration;
        case Kind::Captured:
        case Kind::Panic: break;
    }
    return nullptr;
}

bool Error::matches(PyObject* exc_type) const {
    if (kind_ == Kind::Captured) return PyErr_GivenExceptionMatches(exc_.get(), exc_type) != 0;
    if (kind_ == Kind::Panic) {
        if (PyTuple_Check(exc_type)) {
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(exc_type); ++i)
                if (matches(PyTuple_GET_ITEM(exc_type, i))) return true;
            return false;
        }
        return exc_type == PyExc_BaseException || is_panic_type(exc_type);
    }
    return PyErr_GivenExceptionMatches(deferred_type(), exc_type) != 0;
}

void Error::raise() && {
    switch (kind_) {
        case Kind::Captured:
            PyErr_SetRaisedException(exc_.release());
            return;
        case Kind::StopIteration:
            PyErr_SetNone(PyExc_StopIteration);
            return;
        case Kind::Panic: {
            const char* text = text_.empty() ? "internal fault in quibra" : text_.c_str();
            // A fault is raised with the PanicException of the running
            // interpreter's module; without one, as SystemError.
            Ref module = current_module();
            if (!module) {
                PyErr_SetString(PyExc_SystemError, text);
                return;
            }
            Result<PyObject*> type = panic_exception_type(module_state(module.get()));
            if (!type) {
                std::move(type).error().raise();
                return;
            }
            PyErr_SetString(*type, text);
            return;
        }
        default:
            PyErr_SetString(deferred_type(), text_.c_str());
            return;
    }
}

Ref Error::exception() {
    if (kind_ != Kind::Captured) {
        std::move(*this).raise();
        exc_ = Ref::steal(PyErr_GetRaisedException());
        kind_ = Kind::Captured;
    }
    return exc_;
}

bool Error::is_lookup_error() const {
    switch (kind_) {
        case Kind::Captured: return quibra::is_lookup_error(exc_.get());
        case Kind::Panic: return false;
        default: return quibra::is_lookup_error(deferred_type());
    }
}

Error Error::with_note(std::string_view note) && {
    Ref exc = exception();
    if (!exc) return Error::fetch();
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())));
    if (!text) return Error::fetch();
    Ref r = Ref::steal(PyObject_CallMethod(exc.get(), "add_note", "O", text.get()));
    if (!r) return Error::fetch();
    return Error::captured(std::move(exc));
}

Result<PyObject*> panic_exception_type(ModuleState& state) {
    return panic_cell.get(state, [&state]() -> Result<Ref> {
        return checked(PyType_FromModuleAndSpec(state.module(), &panic_spec, PyExc_BaseException));
    });
}

}  // namespace quibra
