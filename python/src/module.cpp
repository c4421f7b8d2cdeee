// iffpcx._iffpcx: the layer's C interface for the Python package, which
// adds the numpy and Pillow sides in Python.
#include <cerrno>
#include <cstring>

#include "extension.h"

namespace pyiffpcx {

PyObject *error_type = nullptr;

namespace {

PyObject *text(const char *message) {
    return PyUnicode_DecodeFSDefault(message); // names of files come as the file system spells them
}

PyObject *number_or_none(int32_t value) {
    if (value < 0) {
        Py_RETURN_NONE;
    }
    return PyLong_FromLong(value);
}

bool set_attribute(PyObject *object, const char *name, PyObject *value) {
    if (value == nullptr) {
        return false;
    }
    const int result = PyObject_SetAttrString(object, name, value);
    Py_DECREF(value);
    return result == 0;
}

PyObject *library_error(const iffpcx_error &error) {
    PyObject *message = text(error.message);
    if (message == nullptr) {
        return nullptr;
    }
    PyObject *raised = PyObject_CallOneArg(error_type, message);
    Py_DECREF(message);
    if (raised == nullptr) {
        return nullptr;
    }
    if (set_attribute(raised, "status", PyUnicode_FromString(iffpcx_status_name(error.status))) &&
        set_attribute(raised, "page", number_or_none(error.page)) &&
        set_attribute(raised, "line", number_or_none(error.line))) {
        PyErr_SetObject(error_type, raised);
    }
    Py_DECREF(raised);
    return nullptr;
}

PyObject *default_limits(PyObject *, PyObject *) {
    const iffpcx_limits limits = iffpcx_default_limits();
    return Py_BuildValue("(KKI)", static_cast<unsigned long long>(limits.max_pixels),
                         static_cast<unsigned long long>(limits.max_file_bytes), limits.max_pages);
}

PyObject *version(PyObject *, PyObject *) {
    return PyUnicode_FromString(iffpcx_image_version());
}

PyMethodDef functions[] = {
    {"open", open_reader, METH_VARARGS, "open(source, name, limits) -> Reader over a path (str) or a buffer"},
    {"encode", encode, METH_VARARGS,
     "encode(images, bits, flags, dcx, path) -> bytes, or None once written to path; images: "
     "[(pixels, width, height, form, palette, dpi_x, dpi_y)]"},
    {"check", check, METH_VARARGS, "check(source, name, strict, limits) -> the report as a dict"},
    {"default_limits", default_limits, METH_NOARGS, "(max_pixels, max_file_bytes, max_pages) of the layer"},
    {"version", version, METH_NOARGS, "the library's version"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef module_definition = {PyModuleDef_HEAD_INIT,
                                 "iffpcx._iffpcx",
                                 "PCX and DCX files through libiffpcx_image",
                                 -1,
                                 functions,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr};

bool add_constants(PyObject *module) {
    struct Constant {
        const char *name;
        long value;
    };
    static const Constant constants[] = {{"FORM_INDEX", IFFPCX_FORM_INDEX},
                                         {"FORM_GRAY", IFFPCX_FORM_GRAY},
                                         {"FORM_RGB", IFFPCX_FORM_RGB},
                                         {"FORM_RGBA", IFFPCX_FORM_RGBA},
                                         {"FORM_BITS", IFFPCX_FORM_BITS},
                                         {"FORM_BOOL", IFFPCX_FORM_BOOL},
                                         {"ONE_THREAD", IFFPCX_ONE_THREAD},
                                         {"KIND_BILEVEL", IFFPCX_KIND_BILEVEL},
                                         {"KIND_GRAY", IFFPCX_KIND_GRAY},
                                         {"KIND_INDEXED", IFFPCX_KIND_INDEXED},
                                         {"KIND_RGB", IFFPCX_KIND_RGB},
                                         {"KIND_RGBA", IFFPCX_KIND_RGBA},
                                         {"WARN_NO_PALETTE_BLOCK", IFFPCX_WARN_NO_PALETTE_BLOCK}};
    for (const Constant &constant : constants) {
        if (PyModule_AddIntConstant(module, constant.name, constant.value) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

PyObject *raise_failure(iffpcx_status status, const iffpcx_error &error, PyObject *path, int errno_after) {
    if (status == IFFPCX_ERR_MEMORY) {
        return PyErr_NoMemory();
    }
    if (status == IFFPCX_ERR_READ && path != nullptr && errno_after != 0) {
        // FileNotFoundError, PermissionError, IsADirectoryError, as open() raises them.
        errno = errno_after;
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    }
    if (status == IFFPCX_ERR_READ || status == IFFPCX_ERR_WRITE) {
        PyObject *message = text(error.message);
        if (message != nullptr) {
            PyErr_SetObject(PyExc_OSError, message);
            Py_DECREF(message);
        }
        return nullptr;
    }
    return library_error(error);
}

bool limits_from(PyObject *tuple, iffpcx_limits *limits) {
    PyObject *pixels = nullptr;
    PyObject *bytes = nullptr;
    PyObject *pages = nullptr;
    if (!PyArg_ParseTuple(tuple, "OOO;limits: (max_pixels, max_file_bytes, max_pages)", &pixels, &bytes, &pages)) {
        return false;
    }
    limits->max_pixels = PyLong_AsUnsignedLongLong(pixels);
    if (PyErr_Occurred()) {
        return false;
    }
    limits->max_file_bytes = PyLong_AsUnsignedLongLong(bytes);
    if (PyErr_Occurred()) {
        return false;
    }
    const unsigned long long most_pages = PyLong_AsUnsignedLongLong(pages);
    if (PyErr_Occurred()) {
        return false;
    }
    if (most_pages > UINT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "max_pages is too large");
        return false;
    }
    limits->max_pages = static_cast<uint32_t>(most_pages);
    return true;
}

PyObject *unchanging_bytes(PyObject *source) {
    HeldBuffer bytes;
    if (!bytes.hold(source, PyBUF_SIMPLE)) {
        return nullptr;
    }
    if (bytes.view().readonly) {
        return Py_NewRef(source);
    }
    return PyBytes_FromStringAndSize(static_cast<const char *>(bytes.data()), bytes.view().len);
}

PyObject *path_bytes(PyObject *path) {
    PyObject *encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) {
        return nullptr;
    }
    return encoded;
}

} // namespace pyiffpcx

PyMODINIT_FUNC PyInit__iffpcx(void) {
    using namespace pyiffpcx;
    PyObject *module = PyModule_Create(&module_definition);
    if (module == nullptr) {
        return nullptr;
    }
    error_type = PyErr_NewExceptionWithDoc("iffpcx.Error",
                                           "A file the library refuses: its message names the file, the page, the "
                                           "line and the reason; status, page and line say the same as values.",
                                           PyExc_ValueError, nullptr);
    if (error_type == nullptr || PyModule_AddObjectRef(module, "Error", error_type) != 0 || !add_constants(module) ||
        !add_reader(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
