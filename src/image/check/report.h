// The report object behind iffpcx_report: it owns every string and array the
// C view points into.
#pragma once

#include <string>
#include <vector>

#include "iffpcx_check.h"
#include "scan.h"

namespace iffpcx_check {

struct Report {
    iffpcx_report view{}; // first: the C caller's pointer is this object's
    std::string file;
    std::vector<Finding> sources;
    std::vector<iffpcx_finding> findings;
    std::vector<iffpcx_page_summary> pages;
};

// Judges a scan: verdicts for the file and each page, counts, the C view.
Report *make_report(FileScan &&scan, const std::string &file, bool strict);

inline Report *report_of(const iffpcx_report *view) {
    return reinterpret_cast<Report *>(const_cast<iffpcx_report *>(view));
}

// The report as JSON, appended to out.
void append_json(const iffpcx_report &report, std::string &out);

// Fills error (when given) and returns status.
iffpcx_status fail(iffpcx_error *error, iffpcx_status status, const std::string &message, int32_t page = -1);

} // namespace iffpcx_check
