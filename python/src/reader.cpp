// Reader: an open PCX or DCX file for the package's File. One thread uses it
// at a time (the others wait without the GIL); pages decode without the GIL,
// straight into the caller's buffer.
#include <cerrno>
#include <cstring>

#include "bilevel_bools.h"
#include "extension.h"

namespace pyiffpcx {

namespace {

struct Reader {
    PyObject ob_base;
    iffpcx_file *file;
    PyObject *source; // the object a memory input's bytes belong to
    Py_buffer bytes;  // those bytes, held until the file closes
    bool holds_bytes;
    PyThread_type_lock lock;
};

// Runs work(file) with the file to itself; false with ValueError once the
// file is closed. No Python object is made under the lock, so nothing that
// runs Python code can come back to it on this thread.
template <typename Work> bool with_file(Reader *reader, Work work) {
    if (!PyThread_acquire_lock(reader->lock, NOWAIT_LOCK)) {
        WithoutGil waiting;
        PyThread_acquire_lock(reader->lock, WAIT_LOCK);
    }
    const bool open = reader->file != nullptr;
    if (open) {
        work(reader->file);
    }
    PyThread_release_lock(reader->lock);
    if (!open) {
        PyErr_SetString(PyExc_ValueError, "I/O operation on a closed iffpcx file");
    }
    return open;
}

bool page_index(PyObject *object, uint32_t *index) {
    const Py_ssize_t value = PyNumber_AsSsize_t(object, PyExc_IndexError);
    if (value == -1 && PyErr_Occurred()) {
        return false;
    }
    if (value < 0 || static_cast<size_t>(value) > UINT32_MAX) {
        PyErr_Format(PyExc_IndexError, "page %zd does not exist", value);
        return false;
    }
    *index = static_cast<uint32_t>(value);
    return true;
}

void release_file(Reader *reader) {
    iffpcx_close(reader->file);
    reader->file = nullptr;
}

void release_bytes(Reader *reader) {
    if (reader->holds_bytes) {
        PyBuffer_Release(&reader->bytes);
        reader->holds_bytes = false;
    }
    Py_CLEAR(reader->source);
}

void reader_dealloc(Reader *reader) {
    release_file(reader); // nobody else holds a reference, so nobody holds the lock
    release_bytes(reader);
    if (reader->lock != nullptr) {
        PyThread_free_lock(reader->lock);
    }
    PyTypeObject *type = Py_TYPE(reader);
    type->tp_free(reinterpret_cast<PyObject *>(reader));
    Py_DECREF(type); // a heap type, which each of its objects holds
}

PyObject *reader_close(Reader *reader, PyObject *) {
    if (!PyThread_acquire_lock(reader->lock, NOWAIT_LOCK)) {
        WithoutGil waiting;
        PyThread_acquire_lock(reader->lock, WAIT_LOCK);
    }
    release_file(reader);
    PyThread_release_lock(reader->lock);
    release_bytes(reader);
    Py_RETURN_NONE;
}

PyObject *reader_page_count(Reader *reader, PyObject *) {
    uint32_t count = 0;
    if (!with_file(reader, [&](iffpcx_file *file) { count = iffpcx_page_count(file); })) {
        return nullptr;
    }
    return PyLong_FromUnsignedLong(count);
}

PyObject *reader_is_dcx(Reader *reader, PyObject *) {
    int dcx = 0;
    if (!with_file(reader, [&](iffpcx_file *file) { dcx = iffpcx_is_dcx(file); })) {
        return nullptr;
    }
    return PyBool_FromLong(dcx);
}

// The page's description; false with the failure raised.
bool describe(Reader *reader, uint32_t index, iffpcx_page_info *info) {
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    if (!with_file(reader, [&](iffpcx_file *file) { status = iffpcx_page_info_get(file, index, info, &error); })) {
        return false;
    }
    if (status != IFFPCX_OK) {
        raise_failure(status, error);
        return false;
    }
    return true;
}

PyObject *reader_page(Reader *reader, PyObject *argument) {
    uint32_t index = 0;
    iffpcx_page_info info;
    if (!page_index(argument, &index) || !describe(reader, index, &info)) {
        return nullptr;
    }
    const uint32_t entries = info.palette_entries < 256 ? info.palette_entries : 256;
    return Py_BuildValue("{s:I,s:i,s:i,s:I,s:I,s:i,s:i,s:i,s:i,s:i,s:i,s:i,s:(iiii),s:(ii),s:y#,s:K,s:K,s:I}", "index",
                         info.index, "width", info.width, "height", info.height, "kind", info.kind, "color_class",
                         info.color_class, "bits", info.bits, "planes", info.planes, "bits_per_plane",
                         info.bits_per_plane, "version", info.version, "encoding", info.encoding, "bytes_per_line",
                         info.bytes_per_line, "palette_type", info.palette_type, "window", info.x_min, info.y_min,
                         info.x_max, info.y_max, "dpi", info.dpi_x, info.dpi_y, "palette",
                         reinterpret_cast<const char *>(info.palette), static_cast<Py_ssize_t>(3 * entries), "offset",
                         static_cast<unsigned long long>(info.offset), "size",
                         static_cast<unsigned long long>(info.size), "warnings", info.warnings);
}

PyObject *reader_check_page(Reader *reader, PyObject *argument) {
    uint32_t index = 0;
    if (!page_index(argument, &index)) {
        return nullptr;
    }
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    if (!with_file(reader, [&](iffpcx_file *file) { status = iffpcx_page_check(file, index, &error); })) {
        return nullptr;
    }
    if (status != IFFPCX_OK) {
        return raise_failure(status, error);
    }
    Py_RETURN_NONE;
}

// decode(index, form, out=None, partial=False): the page in the form, into
// out (a writable C-contiguous buffer of exactly the page's bytes) or into
// new bytes, which it returns. With partial, a page whose data end early
// comes back with its missing rows zero instead of failing.
PyObject *reader_decode(Reader *reader, PyObject *args) {
    PyObject *index_object = nullptr;
    int form = 0;
    PyObject *out = Py_None;
    int partial = 0;
    if (!PyArg_ParseTuple(args, "Oi|Op:decode", &index_object, &form, &out, &partial)) {
        return nullptr;
    }
    uint32_t index = 0;
    iffpcx_page_info info;
    if (!page_index(index_object, &index) || !describe(reader, index, &info)) {
        return nullptr;
    }
    size_t stride = 0;
    size_t size = 0;
    // A number outside the enumeration is not even an iffpcx_form to pass.
    if (form < IFFPCX_FORM_DEFAULT || form > IFFPCX_FORM_BOOL ||
        iffpcx_decoded_size(&info, static_cast<iffpcx_form>(form), &stride, &size) != IFFPCX_OK ||
        size > static_cast<size_t>(PY_SSIZE_T_MAX)) {
        PyErr_Format(PyExc_ValueError, "page %u cannot be decoded in form %d", index, form);
        return nullptr;
    }

    // The pixels' place is had before the file is taken: making objects
    // may run Python code.
    PyObject *made = nullptr;
    HeldBuffer target;
    void *pixels = nullptr;
    if (out == Py_None) {
        made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size > 0 ? size : 1));
        if (made == nullptr) {
            return nullptr;
        }
        pixels = PyBytes_AS_STRING(made);
    } else {
        if (!target.hold(out, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS)) {
            return nullptr;
        }
        if (target.size() != size) {
            PyErr_Format(PyExc_ValueError, "page %u takes %zu bytes in form %d, not %zu", index, size, form,
                         target.size());
            return nullptr;
        }
        pixels = target.data();
    }
    const uint32_t flags = partial ? IFFPCX_PARTIAL : 0;
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    const bool open = with_file(reader, [&](iffpcx_file *file) {
        WithoutGil decoding;
        status = form == IFFPCX_FORM_BOOL // a bilevel page, or decoded_size refused it
                     ? decode_bools(file, index, flags, static_cast<uint8_t *>(pixels), stride, &error)
                     : iffpcx_decode(file, index, static_cast<iffpcx_form>(form), flags, pixels, stride, &error);
    });
    if (!open || (status != IFFPCX_OK && !(partial && status == IFFPCX_ERR_TRUNCATED))) {
        Py_XDECREF(made);
        return open ? raise_failure(status, error) : nullptr;
    }
    if (made == nullptr) {
        Py_RETURN_NONE;
    }
    if (size == 0) {
        Py_SETREF(made, PyBytes_FromStringAndSize(nullptr, 0));
    }
    return made;
}

PyObject *reader_page_bytes(Reader *reader, PyObject *argument) {
    uint32_t index = 0;
    if (!page_index(argument, &index)) {
        return nullptr;
    }
    const uint8_t *data = nullptr;
    size_t size = 0;
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    if (!with_file(reader, [&](iffpcx_file *file) { status = iffpcx_page_bytes(file, index, &data, &size, &error); })) {
        return nullptr;
    }
    if (status != IFFPCX_OK) {
        return raise_failure(status, error);
    }
    // The bytes stay until the file closes, which only this thread could do now.
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(data), static_cast<Py_ssize_t>(size));
}

PyMethodDef reader_methods[] = {
    {"close", reinterpret_cast<PyCFunction>(reader_close), METH_NOARGS, "releases the file"},
    {"page_count", reinterpret_cast<PyCFunction>(reader_page_count), METH_NOARGS, "pages in the file"},
    {"is_dcx", reinterpret_cast<PyCFunction>(reader_is_dcx), METH_NOARGS, "whether the file is DCX"},
    {"page", reinterpret_cast<PyCFunction>(reader_page), METH_O, "page(index) -> the page's description as a dict"},
    {"check_page", reinterpret_cast<PyCFunction>(reader_check_page), METH_O,
     "check_page(index): raises what decoding would refuse from the header alone"},
    {"decode", reinterpret_cast<PyCFunction>(reader_decode), METH_VARARGS,
     "decode(index, form, out=None, partial=False) -> bytes, or None once decoded into out"},
    {"page_bytes", reinterpret_cast<PyCFunction>(reader_page_bytes), METH_O,
     "page_bytes(index) -> the page's bytes as they lie in the file"},
    {nullptr, nullptr, 0, nullptr}};

PyType_Slot reader_slots[] = {{Py_tp_dealloc, reinterpret_cast<void *>(reader_dealloc)},
                              {Py_tp_methods, reader_methods},
                              {Py_tp_doc, const_cast<char *>("An open PCX or DCX file; made by open()")},
                              {0, nullptr}};

PyType_Spec reader_spec = {"iffpcx._iffpcx.Reader", sizeof(Reader), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, reader_slots};

PyTypeObject *reader_type = nullptr;

bool open_file(PyObject *source, PyObject *name, const iffpcx_limits &limits, Reader *reader) {
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    if (PyUnicode_Check(source)) {
        return call_with_path(source, [&](const char *path, iffpcx_error *failure) {
            return iffpcx_open_path(path, &limits, &reader->file, failure);
        });
    }
    reader->source = unchanging_bytes(source);
    if (reader->source == nullptr || PyObject_GetBuffer(reader->source, &reader->bytes, PyBUF_SIMPLE) != 0) {
        return false;
    }
    reader->holds_bytes = true;
    PyObject *name_bytes = nullptr;
    if (name != Py_None && (name_bytes = path_bytes(name)) == nullptr) {
        return false;
    }
    {
        WithoutGil reading;
        status = iffpcx_open_memory(reader->bytes.buf, static_cast<size_t>(reader->bytes.len),
                                    name_bytes != nullptr ? PyBytes_AS_STRING(name_bytes) : nullptr, &limits,
                                    &reader->file, &error);
    }
    Py_XDECREF(name_bytes);
    if (status != IFFPCX_OK) {
        raise_failure(status, error);
        return false;
    }
    return true;
}

} // namespace

bool add_reader(PyObject *module) {
    reader_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&reader_spec));
    return reader_type != nullptr &&
           PyModule_AddObjectRef(module, "Reader", reinterpret_cast<PyObject *>(reader_type)) == 0;
}

// open(source, name, limits): source a path (str) or an object with the
// buffer interface; name, how messages name a buffer (str or None).
PyObject *open_reader(PyObject *, PyObject *args) {
    PyObject *source = nullptr;
    PyObject *name = nullptr;
    PyObject *limit_values = nullptr;
    if (!PyArg_ParseTuple(args, "OOO:open", &source, &name, &limit_values)) {
        return nullptr;
    }
    iffpcx_limits limits;
    if (!limits_from(limit_values, &limits)) {
        return nullptr;
    }
    auto *reader = PyObject_New(Reader, reader_type);
    if (reader == nullptr) {
        return nullptr;
    }
    reader->file = nullptr;
    reader->source = nullptr;
    reader->holds_bytes = false;
    reader->lock = PyThread_allocate_lock();
    if (reader->lock == nullptr) {
        Py_DECREF(reader);
        return PyErr_NoMemory();
    }
    if (!open_file(source, name, limits, reader)) {
        Py_DECREF(reader);
        return nullptr;
    }
    return reinterpret_cast<PyObject *>(reader);
}

} // namespace pyiffpcx
