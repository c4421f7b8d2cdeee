// What the pieces of the extension module share: the error type, held
// buffers, the limits as Python gives them, and the GIL let go around the
// library's work.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cerrno>

#include "iffpcx_check.h"
#include "iffpcx_image.h"

namespace pyiffpcx {

// iffpcx.Error, a ValueError: a file the library refuses.
extern PyObject *error_type;

// Raises what a failed call of the layer means to Python: MemoryError, an
// OSError for an input that cannot be read or an output that cannot be
// written (errno_after: the errno the call left, 0 if unknown), else
// iffpcx.Error with the library's message, status, page and line. Returns
// nullptr.
PyObject *raise_failure(iffpcx_status status, const iffpcx_error &error, PyObject *path = nullptr, int errno_after = 0);

// (max_pixels, max_file_bytes, max_pages) as Python passes them.
bool limits_from(PyObject *tuple, iffpcx_limits *limits);

// A str or PathLike as the file system's bytes (a new reference), or
// nullptr with TypeError for anything else.
PyObject *path_bytes(PyObject *path);

// An object with the buffer interface whose bytes nobody can change while
// the library reads them (a new reference): the object itself when its
// buffer is read-only, else a copy as bytes.
PyObject *unchanging_bytes(PyObject *source);

// A buffer held for as long as this object lives.
class HeldBuffer {
  public:
    HeldBuffer() = default;
    ~HeldBuffer() { release(); }
    HeldBuffer(const HeldBuffer &) = delete;
    HeldBuffer &operator=(const HeldBuffer &) = delete;

    bool hold(PyObject *object, int flags) {
        release();
        if (PyObject_GetBuffer(object, &view_, flags) != 0) {
            return false;
        }
        held_ = true;
        return true;
    }
    void release() {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
    }
    const Py_buffer &view() const { return view_; }
    void *data() const { return view_.buf; }
    size_t size() const { return static_cast<size_t>(view_.len); }

  private:
    Py_buffer view_{};
    bool held_ = false;
};

// Lets other Python threads run while the library works.
class WithoutGil {
  public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    ~WithoutGil() { PyEval_RestoreThread(state_); }
    WithoutGil(const WithoutGil &) = delete;
    WithoutGil &operator=(const WithoutGil &) = delete;

  private:
    PyThreadState *state_;
};

// Runs call(path, &error) over a str path's file system bytes without the
// GIL; false, with what its failure means raised, when it fails.
template <typename Call> bool call_with_path(PyObject *path, Call call) {
    PyObject *encoded = path_bytes(path);
    if (encoded == nullptr) {
        return false;
    }
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    int errno_after = 0;
    {
        WithoutGil working;
        errno = 0;
        status = call(PyBytes_AS_STRING(encoded), &error);
        errno_after = errno; // what an input that cannot be opened left
    }
    Py_DECREF(encoded);
    if (status != IFFPCX_OK) {
        raise_failure(status, error, path, errno_after);
        return false;
    }
    return true;
}

// The types and functions each source file adds to the module.
bool add_reader(PyObject *module);
PyObject *open_reader(PyObject *self, PyObject *args);
PyObject *encode(PyObject *self, PyObject *args);
PyObject *check(PyObject *self, PyObject *args);

} // namespace pyiffpcx
