// A whole file: a plain PCX page, or a DCX directory and its pages.
#include <algorithm>
#include <string>

#include "core/pcx_format.h"
#include "scan.h"

namespace iffpcx_check {
namespace {

namespace fmt = pcx_format;

void add(std::vector<Finding> &findings, Rule rule, uint64_t offset, std::string message) {
    findings.push_back({rule, -1, offset, std::move(message)});
}

// Reads the directory's entries, stopping at the zero, at the file's end, at
// the first page (a directory cannot reach into it) or at max_pages; end is
// where the directory ends.
std::vector<uint64_t> read_directory(Bytes file, uint32_t max_pages, FileScan &scan, uint64_t &end) {
    std::vector<Finding> &findings = scan.findings;
    std::vector<uint64_t> offsets;
    uint64_t at = fmt::kDcxEntrySize;
    uint64_t first_page = file.size;
    for (;; at += fmt::kDcxEntrySize) {
        if (at >= first_page && !offsets.empty()) {
            add(findings, Rule::DcxNoTerminator, at,
                "the directory of " + std::to_string(offsets.size()) + " pages reaches the first page at byte " +
                    std::to_string(first_page) + " without its zero entry");
            end = at;
            break;
        }
        if (at + fmt::kDcxEntrySize > file.size) {
            add(findings, Rule::DcxDirectoryShort, at, "the file ends inside the directory, before its zero entry");
            end = at;
            break;
        }
        const uint64_t offset = load_le32(file.data + at);
        if (offset == 0) {
            end = at + fmt::kDcxEntrySize;
            if (offsets.empty()) add(findings, Rule::DcxEmpty, at, "the directory lists no page");
            break;
        }
        if (offsets.size() == fmt::kDcxMostPages) {
            add(findings, Rule::DcxPageLimit, at, "more than 65,535 pages, more than a page count can hold");
            end = at;
            break;
        }
        if (offsets.size() == max_pages) {
            scan.over_limit = true;
            end = at;
            break;
        }
        offsets.push_back(offset);
        first_page = std::min(first_page, std::max(offset, at + fmt::kDcxEntrySize));
    }
    if (offsets.size() > fmt::kDcxReaderPageLimit)
        add(findings, Rule::DcxTooManyPages, fmt::kDcxEntrySize * (fmt::kDcxReaderPageLimit + 1),
            std::to_string(offsets.size()) + " pages: readers keep at most 1,023 and lose the rest");
    return offsets;
}

void scan_dcx(Bytes file, uint32_t max_pages, FileScan &scan) {
    uint64_t directory_end = 0;
    const std::vector<uint64_t> offsets = read_directory(file, max_pages, scan, directory_end);
    // Each page ends where the next page in the file begins: the smallest
    // larger offset, whatever the directory's order.
    std::vector<uint64_t> starts;
    for (size_t i = 0; i < offsets.size(); ++i) {
        const uint64_t entry_at = fmt::kDcxEntrySize * (i + 1);
        if (offsets[i] < directory_end || offsets[i] + fmt::kHeaderSize > file.size) {
            add(scan.findings, Rule::DcxOffsetOutside, entry_at,
                "page " + std::to_string(i) + " is said to start at byte " + std::to_string(offsets[i]) +
                    (offsets[i] < directory_end ? ", inside the directory" : ", where no page header fits"));
            continue;
        }
        if (i > 0 && offsets[i] <= offsets[i - 1])
            add(scan.findings, Rule::DcxOffsetOrder, entry_at,
                "page " + std::to_string(i) + " starts at byte " + std::to_string(offsets[i]) + ", not after page " +
                    std::to_string(i - 1) + " at byte " + std::to_string(offsets[i - 1]));
        starts.push_back(offsets[i]);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t i = 0; i < offsets.size(); ++i) {
        PageFacts page;
        page.index = uint32_t(i);
        page.offset = offsets[i];
        const bool placed = offsets[i] >= directory_end && offsets[i] + fmt::kHeaderSize <= file.size;
        const auto next = std::upper_bound(starts.begin(), starts.end(), offsets[i]);
        page.end = !placed ? page.offset : next == starts.end() ? file.size : *next;
        if (placed) scan_page(file, page, scan.findings);
        scan.pages.push_back(page);
    }
}

} // namespace

FileScan scan_file(Bytes file, uint32_t max_pages) {
    FileScan scan;
    if (file.size >= fmt::kDcxEntrySize && load_le32(file.data) == fmt::kDcxSignature) {
        scan.format = Format::Dcx;
        scan_dcx(file, max_pages, scan);
        return scan;
    }
    if (file.size == 0 || file.data[0] != fmt::kManufacturer) {
        add(scan.findings, Rule::FileNotPcx, 0,
            file.size == 0 ? "the file is empty" : "neither the PCX manufacturer byte 10 nor the DCX signature");
        return scan;
    }
    scan.format = Format::Pcx;
    PageFacts page;
    page.end = file.size;
    scan_page(file, page, scan.findings);
    scan.pages.push_back(page);
    return scan;
}

} // namespace iffpcx_check
