#include "repair.h"

#include <algorithm>
#include <cstring>

#include "core/pcx_format.h"
#include "library_page.h"
#include "line_codec.h"

namespace iffpcx_check {
namespace {

namespace fmt = pcx_format;

void store_le16(uint8_t *at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void store_le32(uint8_t *at, uint32_t value) {
    store_le16(at, value & 0xFFFF);
    store_le16(at + 2, value >> 16);
}

bool has(const std::vector<Rule> &rules, Rule rule) {
    return std::find(rules.begin(), rules.end(), rule) != rules.end();
}

// Findings that no rewrite can mend without changing the image or guessing.
iffpcx_status refusal(const Finding &finding, std::string &why) {
    const RuleInfo &rule = rule_info(finding.rule);
    why = std::string(rule.id) + ": " + finding.message;
    if (rule.severity == IFFPCX_SEVERITY_FATAL) {
        why = "not well-formed: " + why;
        if (finding.rule == Rule::FileNotPcx) return IFFPCX_ERR_NOT_PCX;
        return finding.rule == Rule::DataShort ? IFFPCX_ERR_TRUNCATED : IFFPCX_ERR_MALFORMED;
    }
    switch (finding.rule) {
    case Rule::DcxTooManyPages: why += " (only splitting the file would mend it)"; return IFFPCX_ERR_UNSUPPORTED;
    case Rule::DcxPageOverlap: why += " (which bytes are whose is unclear)"; return IFFPCX_ERR_MALFORMED;
    case Rule::PaletteNotAtEnd:
    case Rule::PaletteMarker: why += " (readers disagree on the page's colours)"; return IFFPCX_ERR_MALFORMED;
    case Rule::MapEmpty: why += " (the colours are lost)"; return IFFPCX_ERR_UNSUPPORTED;
    case Rule::VersionZero: why += " (the line library does not read it)"; return IFFPCX_ERR_UNSUPPORTED;
    default: return IFFPCX_OK;
    }
}

// Whether a page's colours come from the header map for the line library.
bool map_colours(const PageFacts &page) {
    const int32_t depth = page.bits * page.planes;
    if (depth < 2 || depth > 8) return false;
    if (page.version == 3 || (page.version == 4 && depth == 3)) return false;
    return depth <= 4 || page.version != fmt::kVersionLatest; // 8-bit pages of version 5 use the block
}

struct PageRepair {
    Bytes file;
    const PageFacts &page;
    const std::vector<Rule> &rules; // the page's findings
    Repair &repair;

    void note(const std::string &change) {
        repair.changes.push_back("page " + std::to_string(page.index) + ": " + change);
    }

    iffpcx_status build(std::vector<uint8_t> &out);
    void mend_header(uint8_t *header, LibraryPage &library);
    void copy_data(uint32_t bytes_per_line, std::vector<uint8_t> &out);
    iffpcx_status append_block(LibraryPage &library, std::vector<uint8_t> &out);
};

void PageRepair::mend_header(uint8_t *header, LibraryPage &library) {
    if (page.encoding != fmt::kEncodingRuns) {
        header[fmt::kEncodingAt] = fmt::kEncodingRuns;
        note("encoding " + std::to_string(page.encoding) + " set to 1 (run-length coded)");
    }
    if (header[fmt::kReservedAt] != 0) {
        header[fmt::kReservedAt] = 0;
        note("reserved byte set to 0");
    }
    if (has(rules, Rule::Filler)) {
        std::memset(header + fmt::kFillerAt, 0, fmt::kFillerBytes);
        note("filler set to zeros");
    }
    if (page.palette_info != fmt::kPaletteInfoColour && page.palette_info != fmt::kPaletteInfoGray) {
        store_le16(header + fmt::kPaletteInfoAt, fmt::kPaletteInfoColour);
        note("palette information " + std::to_string(page.palette_info) + " set to 1");
    }
    uint8_t *map = header + fmt::kColourMapAt;
    if (page.bits * page.planes == 1 && has(rules, Rule::MapBilevel)) {
        static const uint8_t kBlackWhite[6] = {0, 0, 0, 255, 255, 255};
        std::memcpy(map, kBlackWhite, sizeof kBlackWhite);
        note("colour map's first two entries set to black and white, as the page decodes");
    }
    if (page.palette_info > fmt::kPaletteInfoGray && map_colours(page)) {
        // Such pages take a gray ramp, not their map: the map now holds those
        // colours, so palette information 1 keeps them.
        int32_t status = 0;
        const std::vector<uint8_t> colours = library.palette(IFF_PIXELS_INDEX, status);
        const size_t used = std::min<size_t>(colours.size(), fmt::kColourMapBytes);
        if (status == IFF_OK && std::memcmp(map, colours.data(), used) != 0) {
            std::memcpy(map, colours.data(), used);
            note("colour map rewritten with the colours the page decodes to");
        }
    }
}

void PageRepair::copy_data(uint32_t bytes_per_line, std::vector<uint8_t> &out) {
    const uint64_t start = page.offset + fmt::kHeaderSize;
    const bool runs_sound = page.encoding == fmt::kEncodingRuns && !has(rules, Rule::RunCrossesLine) &&
                            !has(rules, Rule::RunCrossesPlane) && !has(rules, Rule::RunEmpty);
    if (runs_sound && bytes_per_line == page.bytes_per_line) {
        out.insert(out.end(), file.data + start, file.data + page.data_end);
        return;
    }
    // Each plane's line again, padded with zeros to the even length, in runs
    // that stay inside it.
    const uint64_t line_size = uint64_t(page.bytes_per_line) * uint64_t(page.planes);
    std::vector<uint8_t> line(static_cast<size_t>(line_size));
    std::vector<uint8_t> plane(bytes_per_line, 0);
    LineDecoder decoder(file, page);
    for (int32_t y = 0; y < page.height && decoder.next(line.data(), line_size); ++y) {
        for (int32_t p = 0; p < page.planes; ++p) {
            std::memcpy(plane.data(), line.data() + uint64_t(p) * page.bytes_per_line, page.bytes_per_line);
            encode_runs(plane.data(), bytes_per_line, out);
        }
    }
    note(bytes_per_line != page.bytes_per_line
             ? "bytes per line " + std::to_string(page.bytes_per_line) + " made " + std::to_string(bytes_per_line) +
                   " with a zero byte at each plane line's end, and the lines coded again"
             : std::string("image data coded again, every run inside its plane's line"));
}

iffpcx_status PageRepair::append_block(LibraryPage &library, std::vector<uint8_t> &out) {
    if (page.block_at != 0) {
        if (page.block_at != page.data_end) note("gap before the 256-colour block removed");
        out.insert(out.end(), file.data + page.block_at, file.data + page.block_at + fmt::kPaletteBlockSize);
        return IFFPCX_OK;
    }
    int32_t status = 0;
    const std::vector<uint8_t> colours = library.palette(IFF_PIXELS_INDEX, status);
    if (status != IFF_OK || colours.size() != 3 * 256) {
        repair.reason = "the line library gives no 256 colours for the page";
        return IFFPCX_ERR_LIBRARY;
    }
    out.push_back(fmt::kPaletteBlockMarker);
    out.insert(out.end(), colours.begin(), colours.end());
    note("256-colour block added with the colours the page decodes to");
    return IFFPCX_OK;
}

iffpcx_status PageRepair::build(std::vector<uint8_t> &out) {
    LibraryPage library({file.data + page.offset, page.end - page.offset});
    if (library.status() != IFF_OK) {
        repair.reason = "the line library does not open the page (status " + std::to_string(library.status()) + ")";
        return IFFPCX_ERR_UNSUPPORTED;
    }
    const size_t header_at = out.size();
    out.insert(out.end(), file.data + page.offset, file.data + page.offset + fmt::kHeaderSize);
    uint8_t header[fmt::kHeaderSize];
    std::memcpy(header, file.data + page.offset, fmt::kHeaderSize);
    mend_header(header, library);
    const uint32_t bytes_per_line = page.bytes_per_line + (page.bytes_per_line & 1);
    store_le16(header + fmt::kBytesPerLineAt, bytes_per_line);
    std::memcpy(out.data() + header_at, header, fmt::kHeaderSize);
    copy_data(bytes_per_line, out);
    if (page.bits == 8 && page.planes == 1) return append_block(library, out);
    if (has(rules, Rule::TrailingBytes)) note("bytes after the image data dropped");
    return IFFPCX_OK;
}

} // namespace

iffpcx_status repair_file(Bytes file, const FileScan &scan, const CheckLimits &limits, Repair &repair) {
    for (const Finding &finding : scan.findings) {
        const iffpcx_status status = refusal(finding, repair.reason);
        if (status != IFFPCX_OK) {
            repair.page = finding.page;
            return status;
        }
    }
    repair.reason.clear();
    for (const PageFacts &page : scan.pages) {
        if (uint64_t(page.width) * uint64_t(page.height) > limits.max_pixels) {
            repair.page = int32_t(page.index);
            repair.reason = "more than " + std::to_string(limits.max_pixels) + " pixels, the limit set";
            return IFFPCX_ERR_LIMIT;
        }
    }
    const bool dcx = scan.format == Format::Dcx;
    const size_t pages = scan.pages.size();
    std::vector<uint8_t> &out = repair.bytes;
    std::vector<uint64_t> offsets;
    if (dcx) out.resize(fmt::kDcxEntrySize * (pages + 2), 0);
    for (const PageFacts &page : scan.pages) {
        std::vector<Rule> rules;
        for (const Finding &finding : scan.findings)
            if (finding.page == int32_t(page.index)) rules.push_back(finding.rule);
        offsets.push_back(out.size());
        PageRepair page_repair{file, page, rules, repair};
        const iffpcx_status status = page_repair.build(out);
        if (status != IFFPCX_OK) {
            repair.page = int32_t(page.index);
            return status;
        }
        if (out.size() > limits.max_file_bytes) {
            repair.reason = "the repaired file would exceed " + std::to_string(limits.max_file_bytes) + " bytes";
            return IFFPCX_ERR_LIMIT;
        }
    }
    if (dcx) {
        store_le32(out.data(), fmt::kDcxSignature);
        for (size_t i = 0; i < pages; ++i) store_le32(out.data() + fmt::kDcxEntrySize * (i + 1), uint32_t(offsets[i]));
        const bool rebuilt = std::any_of(scan.findings.begin(), scan.findings.end(),
                                         [](const Finding &finding) { return finding.page < 0; });
        if (rebuilt) repair.changes.push_back("directory written again: its zero entry, pages in order, laid apart");
    }
    return IFFPCX_OK;
}

} // namespace iffpcx_check
