// check(): the validator's report as Python dicts and lists.
#include "extension.h"

namespace pyiffpcx {

namespace {

PyObject *page_or_none(int32_t page) {
    if (page < 0) {
        Py_RETURN_NONE;
    }
    return PyLong_FromLong(page);
}

// A list of count items, each made by item(k); nullptr on failure.
template <typename Item> PyObject *list_of(size_t count, Item item) {
    PyObject *list = PyList_New(static_cast<Py_ssize_t>(count));
    if (list == nullptr) {
        return nullptr;
    }
    for (size_t k = 0; k < count; ++k) {
        PyObject *value = item(k);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), value);
    }
    return list;
}

PyObject *report_dict(const iffpcx_report &report) {
    PyObject *pages = list_of(report.page_count, [&](size_t k) {
        const iffpcx_page_summary &page = report.pages[k];
        return Py_BuildValue(
            "{s:I,s:K,s:K,s:K,s:i,s:i,s:i,s:i,s:i,s:i,s:s}", "index", page.index, "offset",
            static_cast<unsigned long long>(page.offset), "size", static_cast<unsigned long long>(page.size),
            "data_end", static_cast<unsigned long long>(page.data_end), "version", page.version, "width", page.width,
            "height", page.height, "planes", page.planes, "bits_per_plane", page.bits_per_plane, "bytes_per_line",
            page.bytes_per_line, "verdict", iffpcx_verdict_name(page.verdict));
    });
    PyObject *findings = list_of(report.finding_count, [&](size_t k) {
        const iffpcx_finding &finding = report.findings[k];
        return Py_BuildValue("{s:s,s:s,s:N,s:K,s:s}", "id", finding.id, "severity",
                             iffpcx_severity_name(finding.severity), "page", page_or_none(finding.page), "offset",
                             static_cast<unsigned long long>(finding.offset), "message", finding.message);
    });
    if (pages == nullptr || findings == nullptr) {
        Py_XDECREF(pages);
        Py_XDECREF(findings);
        return nullptr;
    }
    return Py_BuildValue("{s:O&,s:s,s:s,s:i,s:s,s:O,s:N,s:N,s:I,s:I,s:I}", "file", PyUnicode_DecodeFSDefault,
                         report.file, "format", report.format, "format_id", report.format_id, "version", report.version,
                         "verdict", iffpcx_verdict_name(report.verdict), "strict", report.strict ? Py_True : Py_False,
                         "pages", pages, "findings", findings, "warnings", report.warnings, "errors", report.errors,
                         "fatals", report.fatals);
}

} // namespace

// check(source, name, strict, limits): source a path (str) or an object
// with the buffer interface, name how the report names a buffer (or None).
PyObject *check(PyObject *, PyObject *args) {
    PyObject *source = nullptr;
    PyObject *name = nullptr;
    int strict = 0;
    PyObject *limit_values = nullptr;
    if (!PyArg_ParseTuple(args, "OOpO:check", &source, &name, &strict, &limit_values)) {
        return nullptr;
    }
    iffpcx_check_options options{};
    options.flags = strict ? IFFPCX_CHECK_STRICT : 0;
    if (!limits_from(limit_values, &options.limits)) {
        return nullptr;
    }
    iffpcx_report *report = nullptr;
    iffpcx_error error;
    iffpcx_status status = IFFPCX_OK;
    if (PyUnicode_Check(source)) {
        if (!call_with_path(source, [&](const char *path, iffpcx_error *failure) {
                return iffpcx_check_path(path, &options, &report, failure);
            })) {
            return nullptr;
        }
    } else {
        PyObject *bytes = unchanging_bytes(source);
        PyObject *label = nullptr;
        if (bytes == nullptr || (name != Py_None && (label = path_bytes(name)) == nullptr)) {
            Py_XDECREF(bytes);
            return nullptr;
        }
        HeldBuffer held;
        if (held.hold(bytes, PyBUF_SIMPLE)) {
            WithoutGil checking;
            status =
                iffpcx_check_memory(held.data(), held.size(), label != nullptr ? PyBytes_AS_STRING(label) : nullptr,
                                    &options, &report, &error);
        }
        held.release();
        Py_DECREF(bytes);
        Py_XDECREF(label);
        if (PyErr_Occurred()) {
            return nullptr;
        }
        if (status != IFFPCX_OK) {
            return raise_failure(status, error);
        }
    }
    PyObject *result = report_dict(*report);
    iffpcx_report_free(report);
    return result;
}

} // namespace pyiffpcx
