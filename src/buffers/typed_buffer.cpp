#include "buffers/typed_buffer.hpp"

#include <cstring>
#include <new>

namespace quibra {

namespace {

struct KindInfo {
    std::size_t width;
    bool is_signed;
};

constexpr KindInfo info(ElementKind kind) noexcept {
    switch (kind) {
        case ElementKind::I64: return {8, true};
        case ElementKind::U8: return {1, false};
        case ElementKind::I32: return {4, true};
        case ElementKind::U64: return {8, false};
        case ElementKind::U32: return {4, false};
        case ElementKind::I16: return {2, true};
        case ElementKind::U16: return {2, false};
        case ElementKind::I8: break;
    }
    return {1, true};
}

// What a format string says about one element: an integer of this width and
// signedness, or nothing we scan (width 0).
struct FormatElement {
    std::size_t width = 0;
    bool is_signed = false;
};

// The size of an integer type character, natively (the C compiler's sizes)
// or in the struct module's standard sizes (fixed; no ssize_t codes there).
std::size_t code_width(char code, bool native) noexcept {
    switch (code) {
        case 'b': case 'B': case 'c': return 1;
        case 'h': case 'H': return 2;
        case 'i': case 'I': return native ? sizeof(int) : 4;
        case 'l': case 'L': return native ? sizeof(long) : 4;
        case 'q': case 'Q': return 8;
        case 'n': case 'N': return native ? sizeof(Py_ssize_t) : 0;
        default: return 0;
    }
}

// One native type character, or '@', '=' or '<' and one character. Other
// byte orders ('>', '!') and longer formats (several fields, repeat counts)
// describe nothing we read. A missing format means unsigned bytes.
FormatElement parse_format(const char* fmt) noexcept {
    if (!fmt) fmt = "B";
    std::size_t len = std::strlen(fmt);
    char code;
    bool native;
    if (len == 1) {
        code = fmt[0];
        native = true;
    } else if (len == 2 && (fmt[0] == '@' || fmt[0] == '=' || fmt[0] == '<')) {
        code = fmt[1];
        native = fmt[0] == '@';
    } else {
        return {};
    }
    // Character data counts as an unsigned byte here; detection refuses it
    // once the kind has matched.
    bool is_signed = code >= 'a' && code <= 'z' && code != 'c';
    return {code_width(code, native), is_signed};
}

bool matches(const Py_buffer& view, ElementKind kind) noexcept {
    KindInfo k = info(kind);
    if (view.shape == nullptr || view.strides == nullptr) return false;
    if (static_cast<std::size_t>(view.itemsize) != k.width) return false;
    FormatElement e = parse_format(view.format);
    if (e.width != k.width || e.is_signed != k.is_signed) return false;
    return k.width == 1 || reinterpret_cast<std::uintptr_t>(view.buf) % k.width == 0;
}

bool is_character_data(const char* fmt) noexcept { return std::strchr(fmt ? fmt : "B", 'c') != nullptr; }

// Whether iterating o would read anything but its exported memory, element
// by element in the memory's own order: a class that iterates in Python
// code (its own __iter__, or a __getitem__ that a built-in iteration calls,
// as a masked array's does) or that cannot be iterated at all. Such an
// object is read through its iteration, never scanned.
bool iterates_otherwise(PyObject* o) noexcept {
    PyTypeObject* type = Py_TYPE(o);
    if (!type->tp_iter && !PySequence_Check(o)) return true;
    if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) return false;
    // Classes made from type specs (array.array's, among others) are heap
    // types too: what they define is a wrapper of a native slot.
    PyObject* mro = type->tp_mro;
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i) {
        auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (!PyType_HasFeature(base, Py_TPFLAGS_HEAPTYPE)) break;  // a built-in type's own iteration
        for (const char* name : {"__iter__", "__getitem__"}) {
            PyObject* found;
            if (PyDict_GetItemStringRef(base->tp_dict, name, &found) < 0) return (PyErr_Clear(), true);
            Ref held = Ref::steal(found);
            if (found && !Py_IS_TYPE(found, &PyWrapperDescr_Type) && !Py_IS_TYPE(found, &PyMethodDescr_Type))
                return true;
        }
    }
    return false;
}

}  // namespace

Result<std::optional<TypedBuffer>> TypedBuffer::detect(PyObject* o) {
    if (iterates_otherwise(o) || PyObject_CheckBuffer(o) != 1) return std::optional<TypedBuffer>();
    // Each kind gets a view of its own, as an exporter may answer a second
    // request differently from the first.
    for (ElementKind kind : kProbeOrder) {
        std::unique_ptr<Py_buffer> view(new (std::nothrow) Py_buffer{});
        if (!view) return std::optional<TypedBuffer>();
        if (PyObject_GetBuffer(o, view.get(), PyBUF_FULL_RO) != 0) {
            // An exporter that cannot give this view declines; one whose
            // failure is no Exception (KeyboardInterrupt, SystemExit) stops
            // the call.
            if (!PyErr_ExceptionMatches(PyExc_Exception)) return Error::fetch();
            PyErr_Clear();
            continue;
        }
        if (!matches(*view, kind)) {
            PyBuffer_Release(view.get());
            PyErr_Clear();
            continue;
        }
        if (view->ndim != 1 || is_character_data(view->format)) {
            PyBuffer_Release(view.get());
            PyErr_Clear();
            return std::optional<TypedBuffer>();
        }
        return std::optional<TypedBuffer>(TypedBuffer(std::move(view), kind));
    }
    return std::optional<TypedBuffer>();
}

// Only threads attached to the interpreter hold a TypedBuffer (the pool's
// workers see its memory, never the holder), so the exporter's release hook
// runs where it can.
void TypedBuffer::release() noexcept {
    if (!view_) return;
    PyBuffer_Release(view_.get());
    view_.reset();
}

}  // namespace quibra
