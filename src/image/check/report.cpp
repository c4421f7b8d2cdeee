#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace iffpcx_check {
namespace {

const char *format_id(Format format, int32_t version) {
    if (format == Format::Dcx) return "x-fmt/348";
    if (format != Format::Pcx) return "";
    switch (version) {
    case 0: return "fmt/86";
    case 2: return "fmt/87";
    case 3: return "fmt/88";
    case 4: return "fmt/89";
    case 5: return "fmt/90";
    default: return "";
    }
}

uint32_t verdict_of(uint32_t severity, bool strict) {
    if (severity == IFFPCX_SEVERITY_FATAL) return IFFPCX_NOT_WELL_FORMED;
    if (severity == IFFPCX_SEVERITY_ERROR || strict) return IFFPCX_NOT_VALID;
    return IFFPCX_VALID;
}

void append_string(std::string &out, const char *text) {
    out += '"';
    for (const char *c = text; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += *c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += *c;
        }
    }
    out += '"';
}

} // namespace

Report *make_report(FileScan &&scan, const std::string &file, bool strict) {
    auto *report = new Report;
    report->file = file;
    report->sources = std::move(scan.findings);
    // The file's findings first, then each page's, in file order.
    std::stable_sort(report->sources.begin(), report->sources.end(), [](const Finding &a, const Finding &b) {
        return a.page != b.page ? a.page < b.page : a.offset < b.offset;
    });
    iffpcx_report &view = report->view;
    view.strict = strict ? 1 : 0;
    for (const PageFacts &page : scan.pages) {
        iffpcx_page_summary summary{};
        summary.index = page.index;
        summary.offset = page.offset;
        summary.size = page.end - page.offset;
        summary.data_end = page.readable ? page.data_end : 0;
        summary.version = page.version;
        summary.width = page.width;
        summary.height = page.height;
        summary.planes = page.planes;
        summary.bits_per_plane = page.bits;
        summary.bytes_per_line = int32_t(page.bytes_per_line);
        report->pages.push_back(summary);
    }
    for (const Finding &source : report->sources) {
        const RuleInfo &rule = rule_info(source.rule);
        report->findings.push_back(
            {rule.id, uint32_t(rule.severity), source.page, source.offset, source.message.c_str()});
        const uint32_t verdict = verdict_of(rule.severity, strict);
        if (verdict > view.verdict) view.verdict = verdict;
        if (source.page >= 0 && size_t(source.page) < report->pages.size()) {
            uint32_t &page_verdict = report->pages[size_t(source.page)].verdict;
            if (verdict > page_verdict) page_verdict = verdict;
        }
        switch (rule.severity) {
        case IFFPCX_SEVERITY_WARNING: ++view.warnings; break;
        case IFFPCX_SEVERITY_ERROR: ++view.errors; break;
        default: ++view.fatals; break;
        }
    }
    view.file = report->file.c_str();
    view.format = scan.format == Format::Pcx ? "pcx" : scan.format == Format::Dcx ? "dcx" : "unknown";
    view.version = scan.pages.empty() ? -1 : scan.pages.front().version;
    view.format_id = format_id(scan.format, view.version);
    view.page_count = uint32_t(report->pages.size());
    view.pages = report->pages.data();
    view.finding_count = report->findings.size();
    view.findings = report->findings.data();
    return report;
}

void append_json(const iffpcx_report &report, std::string &out) {
    out += "{\"file\": ";
    append_string(out, report.file);
    out += ", \"format\": ";
    append_string(out, report.format);
    out += ", \"format_id\": ";
    append_string(out, report.format_id);
    out += ", \"version\": " + std::to_string(report.version);
    out += ", \"verdict\": ";
    append_string(out, iffpcx_verdict_name(report.verdict));
    out += ", \"pages\": [";
    for (uint32_t i = 0; i < report.page_count; ++i) {
        const iffpcx_page_summary &page = report.pages[i];
        out += i == 0 ? "" : ", ";
        out += "{\"page\": " + std::to_string(page.index) + ", \"offset\": " + std::to_string(page.offset) +
               ", \"size\": " + std::to_string(page.size) + ", \"version\": " + std::to_string(page.version) +
               ", \"width\": " + std::to_string(page.width) + ", \"height\": " + std::to_string(page.height) +
               ", \"planes\": " + std::to_string(page.planes) +
               ", \"bits_per_plane\": " + std::to_string(page.bits_per_plane) +
               ", \"bytes_per_line\": " + std::to_string(page.bytes_per_line) + ", \"verdict\": ";
        append_string(out, iffpcx_verdict_name(page.verdict));
        out += "}";
    }
    out += "], \"findings\": [";
    for (size_t i = 0; i < report.finding_count; ++i) {
        const iffpcx_finding &finding = report.findings[i];
        out += i == 0 ? "" : ", ";
        out += "{\"id\": ";
        append_string(out, finding.id);
        out += ", \"severity\": ";
        append_string(out, iffpcx_severity_name(finding.severity));
        out += ", \"page\": " + std::to_string(finding.page) + ", \"offset\": " + std::to_string(finding.offset) +
               ", \"message\": ";
        append_string(out, finding.message);
        out += "}";
    }
    out += "]}";
}

iffpcx_status fail(iffpcx_error *error, iffpcx_status status, const std::string &message, int32_t page) {
    if (error != nullptr) {
        error->status = status;
        error->page = page;
        error->line = -1;
        error->library_status = 0;
        std::snprintf(error->message, sizeof error->message, "%s", message.c_str());
    }
    return status;
}

} // namespace iffpcx_check
