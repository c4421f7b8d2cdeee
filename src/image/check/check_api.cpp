// The C interface of check: no exception leaves it.
#include <new>
#include <string>

#include "check_limits.h"
#include "core/pcx_format.h"
#include "file_bytes.h"
#include "iffpcx_check.h"
#include "report.h"

using namespace iffpcx_check;

extern "C" {

const char *iffpcx_verdict_name(uint32_t verdict) {
    switch (verdict) {
    case IFFPCX_VALID: return "valid";
    case IFFPCX_NOT_VALID: return "not-valid";
    case IFFPCX_NOT_WELL_FORMED: return "not-well-formed";
    default: return "unknown";
    }
}

const char *iffpcx_severity_name(uint32_t severity) {
    switch (severity) {
    case IFFPCX_SEVERITY_WARNING: return "warning";
    case IFFPCX_SEVERITY_ERROR: return "error";
    case IFFPCX_SEVERITY_FATAL: return "fatal";
    default: return "unknown";
    }
}

iffpcx_status iffpcx_check_memory(const void *data, size_t size, const char *name, const iffpcx_check_options *options,
                                  iffpcx_report **report, iffpcx_error *error) {
    if (report == nullptr || (data == nullptr && size > 0))
        return fail(error, IFFPCX_ERR_ARGUMENT, "check: no data or no place for the report");
    *report = nullptr;
    const std::string file = name != nullptr ? name : "memory";
    const CheckLimits limits = limits_of(options);
    if (size > limits.max_file_bytes)
        return fail(error, IFFPCX_ERR_LIMIT,
                    file + ": larger than " + std::to_string(limits.max_file_bytes) + " bytes");
    try {
        FileScan scan = scan_file({static_cast<const uint8_t *>(data), size}, limits.max_pages);
        if (scan.over_limit)
            return fail(error, IFFPCX_ERR_LIMIT,
                        file + ": more than " + std::to_string(limits.max_pages) + " pages, the limit set");
        *report = &make_report(std::move(scan), file, limits.strict)->view;
        return IFFPCX_OK;
    } catch (const std::bad_alloc &) {
        return fail(error, IFFPCX_ERR_MEMORY, file + ": out of memory");
    }
}

iffpcx_status iffpcx_check_path(const char *path, const iffpcx_check_options *options, iffpcx_report **report,
                                iffpcx_error *error) {
    if (path == nullptr || report == nullptr) return fail(error, IFFPCX_ERR_ARGUMENT, "check: no path or no report");
    *report = nullptr;
    try {
        std::vector<uint8_t> bytes;
        std::string reason;
        const iffpcx_status status = read_whole_file(path, limits_of(options).max_file_bytes, bytes, reason);
        if (status != IFFPCX_OK) return fail(error, status, std::string(path) + ": " + reason);
        return iffpcx_check_memory(bytes.data(), bytes.size(), path, options, report, error);
    } catch (const std::bad_alloc &) {
        return fail(error, IFFPCX_ERR_MEMORY, std::string(path) + ": out of memory");
    }
}

void iffpcx_report_free(iffpcx_report *report) {
    delete report_of(report);
}

size_t iffpcx_report_json(const iffpcx_report *report, char *buffer, size_t capacity) {
    if (report == nullptr) return 0;
    try {
        std::string json;
        append_json(*report, json);
        if (capacity > 0) {
            const size_t copied = json.size() < capacity ? json.size() : capacity - 1;
            json.copy(buffer, copied);
            buffer[copied] = '\0';
        }
        return json.size();
    } catch (const std::bad_alloc &) {
        if (capacity > 0) buffer[0] = '\0';
        return 0;
    }
}

} // extern "C"
