// The rules of one PCX page: its header, its image data, its colours.
#include <cstring>
#include <string>

#include "core/pcx_format.h"
#include "scan.h"

namespace iffpcx_check {
namespace {

namespace fmt = pcx_format;

struct PageScan {
    Bytes file;
    PageFacts &page;
    std::vector<Finding> &findings;
    const uint8_t *header = nullptr;

    void add(Rule rule, uint64_t offset, std::string message) {
        findings.push_back({rule, int32_t(page.index), offset, std::move(message)});
    }
    uint64_t at(uint32_t field) const { return page.offset + field; }
    uint32_t word(uint32_t field) const { return load_le16(header + field); }

    bool check_header();
    void check_fields();
    bool check_data();
    void check_tail();
    void check_colour_map();
};

// Whether any of eight bytes is a count byte: its bit 6, shifted up, meets
// its bit 7.
bool has_run_mark(const uint8_t *at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return (word & (word << 1) & 0x8080808080808080ull) != 0;
}

bool known_layout(int32_t bits, int32_t planes) {
    switch (bits) {
    case 1: return planes >= 1 && planes <= 4;
    case 2:
    case 4: return planes == 1;
    case 8: return planes == 1 || planes == 3 || planes == 4;
    default: return false;
    }
}

// Whether a page's colours come from its header's 16-entry map, as readers
// take them: depths 2 to 4 of versions 2 and 5 (version 3 has built-in
// colours; version 4 too for depth 3).
bool colours_from_map(const PageFacts &page) {
    const int32_t depth = page.bits * page.planes;
    if (depth < 2 || depth > 4) return false;
    return page.version == 2 || page.version == 5 || (page.version == 4 && depth != 3);
}

bool PageScan::check_header() {
    if (page.offset + fmt::kHeaderSize > file.size) {
        add(Rule::HeaderShort, page.offset,
            "the file ends " + std::to_string(file.size - page.offset) + " bytes into the 128-byte header");
        return false;
    }
    header = file.data + page.offset;
    page.version = header[fmt::kVersionAt];
    page.encoding = header[fmt::kEncodingAt];
    page.bits = header[fmt::kBitsPerPixelAt];
    page.planes = header[fmt::kPlanesAt];
    page.bytes_per_line = word(fmt::kBytesPerLineAt);
    page.palette_info = word(fmt::kPaletteInfoAt);
    page.width = int32_t(word(fmt::kXMaxAt)) - int32_t(word(fmt::kXMinAt)) + 1;
    page.height = int32_t(word(fmt::kYMaxAt)) - int32_t(word(fmt::kYMinAt)) + 1;
    if (header[fmt::kManufacturerAt] != fmt::kManufacturer) {
        add(Rule::FileNotPcx, at(fmt::kManufacturerAt),
            "the first byte is " + std::to_string(header[0]) + ", not 10: not a PCX page");
        return false;
    }
    bool usable = true;
    if (page.version == 1 || page.version > fmt::kVersionLatest) {
        add(Rule::Version, at(fmt::kVersionAt), "version " + std::to_string(page.version) + " is not a PCX version");
        usable = false;
    }
    if (!known_layout(page.bits, page.planes)) {
        add(Rule::Layout, at(fmt::kBitsPerPixelAt),
            std::to_string(page.planes) + " planes of " + std::to_string(page.bits) + " bits is not a PCX layout");
        usable = false;
    }
    if (page.width <= 0 || page.height <= 0) {
        add(Rule::Window, at(fmt::kXMinAt),
            "the window is " + std::to_string(page.width) + " x " + std::to_string(page.height) + " pixels");
        usable = false;
    }
    if (usable) {
        const uint64_t needed = (uint64_t(page.width) * uint64_t(page.bits) + 7) / 8;
        if (page.bytes_per_line < needed) {
            add(Rule::BytesPerLineShort, at(fmt::kBytesPerLineAt),
                std::to_string(page.bytes_per_line) + " bytes per line, " + std::to_string(needed) + " needed for " +
                    std::to_string(page.width) + " pixels");
            usable = false;
        }
    }
    check_fields();
    return usable;
}

// Fields readers mostly pass over.
void PageScan::check_fields() {
    if (page.version == fmt::kVersionNoPalette)
        add(Rule::VersionZero, at(fmt::kVersionAt), "version 0: several readers, this library's among them, refuse it");
    if (page.encoding == fmt::kEncodingStored)
        add(Rule::Stored, at(fmt::kEncodingAt),
            "encoding 0: lines stored as they are; readers that ignore the "
            "byte decode them as runs");
    else if (page.encoding != fmt::kEncodingRuns)
        add(Rule::Encoding, at(fmt::kEncodingAt), "encoding " + std::to_string(page.encoding) + ", not 1");
    if ((page.bytes_per_line & 1) != 0)
        add(Rule::BytesPerLineOdd, at(fmt::kBytesPerLineAt),
            std::to_string(page.bytes_per_line) + " bytes per line: odd, where the format asks for an even count");
    if (page.palette_info != fmt::kPaletteInfoColour && page.palette_info != fmt::kPaletteInfoGray)
        add(Rule::PaletteInfo, at(fmt::kPaletteInfoAt),
            "palette information " + std::to_string(page.palette_info) + ", not 1 (colour) or 2 (gray)");
    if (header[fmt::kReservedAt] != 0)
        add(Rule::Reserved, at(fmt::kReservedAt),
            "the reserved byte is " + std::to_string(header[fmt::kReservedAt]) + ", not 0");
    for (uint32_t k = fmt::kFillerAt; k < fmt::kHeaderSize; ++k) {
        if (header[k] != 0) {
            add(Rule::Filler, at(k), "the filler is not zero from byte " + std::to_string(k) + " of the header");
            break;
        }
    }
    const uint32_t dpi_x = word(fmt::kHorizontalDpiAt), dpi_y = word(fmt::kVerticalDpiAt);
    if (dpi_x == 0 || dpi_y == 0)
        add(Rule::Resolution, at(dpi_x == 0 ? fmt::kHorizontalDpiAt : fmt::kVerticalDpiAt),
            "the resolution is " + std::to_string(dpi_x) + " x " + std::to_string(dpi_y) + " dots per inch");
}

// Walks the coded data to the end of the last line; its time follows the
// bytes present, not the size the header claims.
bool PageScan::check_data() {
    const uint64_t plane = page.bytes_per_line;
    const uint64_t line = plane * uint64_t(page.planes);
    const uint64_t total = line * uint64_t(page.height);
    const uint64_t start = page.offset + fmt::kHeaderSize;
    uint64_t pos = 0; // decoded bytes so far
    uint64_t cursor = start;
    if (page.encoding == fmt::kEncodingStored) {
        cursor = start + total;
        pos = cursor <= file.size ? total : file.size - start;
    } else {
        uint64_t line_crossings = 0, plane_crossings = 0, empty_runs = 0;
        uint64_t first_line_crossing = 0, first_plane_crossing = 0, first_empty = 0;
        const uint8_t *bytes = file.data;
        while (pos < total && cursor < file.size) {
            // Eight literals at a time while no byte has both top bits set.
            while (pos + 8 <= total && cursor + 8 <= file.size && !has_run_mark(bytes + cursor)) {
                pos += 8;
                cursor += 8;
            }
            if (pos >= total || cursor >= file.size) break;
            const uint8_t b = bytes[cursor];
            if ((b & fmt::kRunMark) != fmt::kRunMark) {
                ++pos;
                ++cursor;
                continue;
            }
            if (cursor + 1 >= file.size) break;
            const uint64_t count = b & fmt::kRunCountMask;
            if (count == 0) {
                if (empty_runs++ == 0) first_empty = cursor;
            } else if (pos % line + count > line) {
                if (line_crossings++ == 0) first_line_crossing = cursor;
            } else if (pos % plane + count > plane) {
                if (plane_crossings++ == 0) first_plane_crossing = cursor;
            }
            pos += count;
            cursor += 2;
        }
        const auto times = [](uint64_t n) {
            return n == 1 ? std::string(" once") : " " + std::to_string(n) + " times";
        };
        if (line_crossings > 0)
            add(Rule::RunCrossesLine, first_line_crossing,
                "runs cross the end of a scan line" + times(line_crossings) + "; readers disagree on where they go");
        if (plane_crossings > 0)
            add(Rule::RunCrossesPlane, first_plane_crossing,
                "runs cross the end of a plane's line inside a scan line" + times(plane_crossings));
        if (empty_runs > 0) add(Rule::RunEmpty, first_empty, "runs of count 0" + times(empty_runs));
    }
    if (pos < total) {
        const uint64_t lines = pos / line;
        add(Rule::DataShort, file.size,
            "the image data end in line " + std::to_string(lines) + " of " + std::to_string(page.height) + " (" +
                std::to_string(total - pos) + " bytes of lines missing)");
        return false;
    }
    page.data_end = cursor;
    if (cursor > page.end)
        add(Rule::DcxPageOverlap, page.end,
            "the image data run " + std::to_string(cursor - page.end) + " bytes into the next page");
    return true;
}

void PageScan::check_tail() {
    const uint64_t data_end = page.data_end;
    const uint64_t end = page.end > data_end ? page.end : data_end;
    const uint64_t block_size = fmt::kPaletteBlockSize;
    const bool needs_block = page.bits == 8 && page.planes == 1;
    const uint8_t *bytes = file.data;
    if (needs_block) {
        // Readers look for the block at the page's end; those that read front
        // to back expect it right after the data.
        const bool at_end = end >= data_end + block_size && bytes[end - block_size] == fmt::kPaletteBlockMarker;
        const bool after_data = end >= data_end + block_size && bytes[data_end] == fmt::kPaletteBlockMarker;
        if (at_end) {
            page.block_at = end - block_size;
            if (page.block_at > data_end) {
                add(Rule::PaletteGap, data_end,
                    std::to_string(page.block_at - data_end) +
                        " bytes between the image data and the 256-colour block; readers that read front to "
                        "back refuse the page");
            }
            if (page.version < fmt::kVersionLatest)
                add(Rule::PaletteVersion, page.block_at,
                    "a 256-colour block in a version " + std::to_string(page.version) + " page");
            return;
        }
        page.ambiguous_colours = after_data || end == data_end + block_size;
        if (after_data)
            add(Rule::PaletteNotAtEnd, data_end,
                "a 256-colour block follows the image data, but " + std::to_string(end - data_end - block_size) +
                    " more bytes follow it: readers that look "
                    "at the end miss it");
        else if (end == data_end + block_size)
            add(Rule::PaletteMarker, data_end,
                "769 bytes follow the image data, but their marker is " + std::to_string(bytes[data_end]) + ", not 12");
        else
            add(Rule::PaletteMissing, data_end,
                "no 256-colour block: readers take the colours from the 16-entry header map or guess");
        return;
    }
    if (end > data_end)
        add(Rule::TrailingBytes, data_end, std::to_string(end - data_end) + " bytes after the image data");
}

void PageScan::check_colour_map() {
    const uint8_t *map = header + fmt::kColourMapAt;
    const int32_t depth = page.bits * page.planes;
    if (depth == 1) {
        static const uint8_t kBlackWhite[6] = {0, 0, 0, 255, 255, 255};
        bool zero = true, black_white = true;
        for (int k = 0; k < 6; ++k) {
            zero = zero && map[k] == 0;
            black_white = black_white && map[k] == kBlackWhite[k];
        }
        if (!zero && !black_white)
            add(Rule::MapBilevel, at(fmt::kColourMapAt),
                "the colour map's first entries are not black and white: some readers show those colours, "
                "others black and white");
        return;
    }
    if (!colours_from_map(page)) return;
    const uint32_t used = 3u << depth;
    for (uint32_t k = 0; k < used; ++k)
        if (map[k] != 0) return;
    add(Rule::MapEmpty, at(fmt::kColourMapAt),
        "the header's colour map is all zero: every one of the page's " + std::to_string(1 << depth) +
            " colours is black");
}

} // namespace

void scan_page(Bytes file, PageFacts &page, std::vector<Finding> &findings) {
    PageScan scan{file, page, findings};
    if (!scan.check_header()) return;
    if (!scan.check_data()) return;
    page.readable = true;
    scan.check_tail();
    scan.check_colour_map();
}

} // namespace iffpcx_check
