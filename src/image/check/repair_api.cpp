// The C interface of repair: the rebuilt file is checked again and compared,
// page by page, with the input through the line library before it is handed
// out. No exception leaves it.
#include <new>
#include <string>

#include "file_bytes.h"
#include "iffpcx_check.h"
#include "library_page.h"
#include "repair.h"
#include "report.h"

using namespace iffpcx_check;

namespace {

struct Repaired {
    iffpcx_repaired view{}; // first: the caller's pointer is this object's
    std::vector<uint8_t> bytes;
    std::vector<std::string> changes;
    std::vector<const char *> change_texts;
    Report *before = nullptr;
    ~Repaired() { delete before; }
};

// The same pixels, palette and resolution, page by page, as the library
// decodes each page on its own.
bool decodes_alike(Bytes in, const FileScan &in_scan, Bytes out, const FileScan &out_scan, Repair &repair) {
    for (size_t i = 0; i < in_scan.pages.size(); ++i) {
        const PageFacts &a = in_scan.pages[i], &b = out_scan.pages[i];
        LibraryPage before({in.data + a.offset, a.end - a.offset}), after({out.data + b.offset, b.end - b.offset});
        repair.page = int32_t(i);
        const IFFImageInfo &x = before.info(), &y = after.info();
        if (before.status() != after.status() || x.width != y.width || x.height != y.height ||
            x.color_class != y.color_class || x.bits != y.bits) {
            repair.reason = "the repaired page would be described differently";
            return false;
        }
        int32_t status_before = 0, status_after = 0;
        if (before.palette(IFF_PIXELS_INDEX, status_before) != after.palette(IFF_PIXELS_INDEX, status_after) ||
            status_before != status_after) {
            repair.reason = "the repaired page would decode to other colours";
            return false;
        }
        std::string why;
        if (!before.same_image(after, why)) {
            repair.reason = "the repaired page would decode differently: " + why;
            return false;
        }
    }
    repair.page = -1;
    return true;
}

iffpcx_status repair_bytes(Bytes in, const std::string &name, const iffpcx_check_options *options, Repaired &result,
                           iffpcx_error *error) {
    const CheckLimits limits = limits_of(options);
    if (in.size > limits.max_file_bytes)
        return fail(error, IFFPCX_ERR_LIMIT,
                    name + ": larger than " + std::to_string(limits.max_file_bytes) + " bytes");
    FileScan scan = scan_file(in, limits.max_pages);
    if (scan.over_limit) return fail(error, IFFPCX_ERR_LIMIT, name + ": more pages than the limit set");
    Repair repair;
    const iffpcx_status status = repair_file(in, scan, limits, repair);
    const auto refuse = [&](iffpcx_status why) {
        const std::string page = repair.page >= 0 ? "page " + std::to_string(repair.page) + ": " : "";
        return fail(error, why, name + ": " + page + "cannot repair: " + repair.reason, repair.page);
    };
    if (status != IFFPCX_OK) return refuse(status);
    const Bytes out{repair.bytes.data(), repair.bytes.size()};
    const FileScan out_scan = scan_file(out, limits.max_pages);
    for (const Finding &finding : out_scan.findings) {
        if (rule_info(finding.rule).severity != IFFPCX_SEVERITY_WARNING) {
            repair.page = finding.page;
            repair.reason =
                std::string("the result would still break ") + rule_info(finding.rule).id + ": " + finding.message;
            return refuse(IFFPCX_ERR_UNSUPPORTED);
        }
    }
    if (out_scan.pages.size() != scan.pages.size() || !decodes_alike(in, scan, out, out_scan, repair))
        return refuse(IFFPCX_ERR_UNSUPPORTED);
    result.bytes = std::move(repair.bytes);
    result.changes = std::move(repair.changes);
    result.before = make_report(std::move(scan), name, false);
    return IFFPCX_OK;
}

} // namespace

extern "C" {

iffpcx_status iffpcx_repair_memory(const void *data, size_t size, const char *name, const iffpcx_check_options *options,
                                   iffpcx_repaired **result, iffpcx_error *error) {
    if (result == nullptr || (data == nullptr && size > 0))
        return fail(error, IFFPCX_ERR_ARGUMENT, "repair: no data or no place for the result");
    *result = nullptr;
    const std::string file = name != nullptr ? name : "memory";
    try {
        auto *repaired = new Repaired;
        const iffpcx_status status =
            repair_bytes({static_cast<const uint8_t *>(data), size}, file, options, *repaired, error);
        if (status != IFFPCX_OK) {
            delete repaired;
            return status;
        }
        for (const std::string &change : repaired->changes) repaired->change_texts.push_back(change.c_str());
        iffpcx_repaired &view = repaired->view;
        view.data = repaired->bytes.data();
        view.size = repaired->bytes.size();
        view.change_count = repaired->change_texts.size();
        view.changes = repaired->change_texts.data();
        view.before = &repaired->before->view;
        *result = &view;
        return IFFPCX_OK;
    } catch (const std::bad_alloc &) {
        return fail(error, IFFPCX_ERR_MEMORY, file + ": out of memory");
    }
}

iffpcx_status iffpcx_repair_path(const char *in_path, const char *out_path, const iffpcx_check_options *options,
                                 iffpcx_repaired **result, iffpcx_error *error) {
    if (in_path == nullptr || out_path == nullptr) return fail(error, IFFPCX_ERR_ARGUMENT, "repair: no path");
    if (result != nullptr) *result = nullptr;
    try {
        std::vector<uint8_t> bytes;
        std::string reason;
        iffpcx_status status = read_whole_file(in_path, limits_of(options).max_file_bytes, bytes, reason);
        if (status != IFFPCX_OK) return fail(error, status, std::string(in_path) + ": " + reason);
        iffpcx_repaired *repaired = nullptr;
        status = iffpcx_repair_memory(bytes.data(), bytes.size(), in_path, options, &repaired, error);
        if (status != IFFPCX_OK) return status;
        status = write_whole_file(out_path, repaired->data, repaired->size, reason);
        if (status != IFFPCX_OK) {
            iffpcx_repaired_free(repaired);
            return fail(error, status, std::string(out_path) + ": " + reason);
        }
        if (result != nullptr) {
            *result = repaired;
        } else {
            iffpcx_repaired_free(repaired);
        }
        return IFFPCX_OK;
    } catch (const std::bad_alloc &) {
        return fail(error, IFFPCX_ERR_MEMORY, std::string(in_path) + ": out of memory");
    }
}

void iffpcx_repaired_free(iffpcx_repaired *result) {
    delete reinterpret_cast<Repaired *>(result);
}

} // extern "C"
