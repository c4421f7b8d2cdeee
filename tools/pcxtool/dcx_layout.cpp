#include "dcx_layout.h"

#include <limits>

#include "tool_error.h"

namespace pcxtool {

namespace {

uint32_t load_u32(ByteView bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void store_u32(std::vector<uint8_t> &bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

} // namespace

bool has_dcx_signature(ByteView file) {
    return file.size() >= 4 && load_u32(file, 0) == kDcxSignature;
}

bool starts_like_pcx_or_dcx(ByteView file) {
    constexpr uint8_t kPcxManufacturer = 10;
    return has_dcx_signature(file) || (!file.empty() && file[0] == kPcxManufacturer);
}

std::vector<PageSpan> page_spans(ByteView file, const std::string &name) {
    if (file.size() > std::numeric_limits<uint32_t>::max()) {
        throw input_error(name + ": too large for a PCX or DCX file");
    }
    const auto size = static_cast<uint32_t>(file.size());
    if (!has_dcx_signature(file)) {
        return {PageSpan{0, size}};
    }
    std::vector<uint32_t> offsets;
    size_t at = 4;
    for (;;) {
        if (at + 4 > file.size()) {
            throw input_error(name + ": the DCX page directory has no terminating zero entry");
        }
        const uint32_t offset = load_u32(file, at);
        at += 4;
        if (offset == 0) {
            break;
        }
        offsets.push_back(offset);
    }
    if (offsets.empty()) {
        throw input_error(name + ": the DCX page directory lists no page");
    }
    if (offsets.size() > kMaxPages) {
        throw input_error(name + ": the DCX file has more than " + std::to_string(kMaxPages) + " pages");
    }
    std::vector<PageSpan> spans;
    for (size_t page = 0; page < offsets.size(); ++page) {
        const uint32_t offset = offsets[page];
        const uint32_t end = page + 1 < offsets.size() ? offsets[page + 1] : size;
        const std::string where = name + ": page " + std::to_string(page) + ": ";
        if (offset < at) {
            throw input_error(where + "offset " + std::to_string(offset) + " lies inside the page directory");
        }
        if (offset >= size) {
            throw input_error(where + "offset " + std::to_string(offset) + " lies past the end of the file (" +
                              std::to_string(size) + " bytes)");
        }
        if (end < offset) {
            throw input_error(where + "the next page's offset " + std::to_string(end) + " lies before this page's " +
                              std::to_string(offset));
        }
        if (end - offset < kPcxHeaderSize) {
            throw input_error(where + "only " + std::to_string(end - offset) +
                              " bytes long, shorter than a PCX header");
        }
        spans.push_back(PageSpan{offset, end});
    }
    return spans;
}

HeaderFields header_fields(ByteView file, uint32_t offset) {
    HeaderFields fields{};
    if (static_cast<size_t>(offset) + kPcxHeaderSize > file.size()) {
        return fields;
    }
    const uint8_t *header = file.data() + offset;
    fields.version = header[1];
    fields.bits_per_plane = header[3];
    fields.planes = header[65];
    fields.bytes_per_line = header[66] | header[67] << 8;
    return fields;
}

std::vector<uint8_t> dcx_directory(const std::vector<size_t> &page_sizes) {
    if (page_sizes.empty() || page_sizes.size() > kMaxPages) {
        throw usage_error("a DCX file holds 1 to " + std::to_string(kMaxPages) + " pages");
    }
    uint64_t offset = 4 + 4 * (static_cast<uint64_t>(page_sizes.size()) + 1);
    std::vector<uint8_t> directory;
    store_u32(directory, kDcxSignature);
    for (const size_t size : page_sizes) {
        store_u32(directory, static_cast<uint32_t>(offset));
        offset += size;
        // Offsets are 32 bits, and the library reads streams of up to 2 GiB.
        if (offset > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            throw input_error("the pages add up to more than a DCX file can hold (2 GiB)");
        }
    }
    store_u32(directory, 0);
    return directory;
}

std::vector<uint8_t> build_dcx(const std::vector<std::vector<uint8_t>> &pages) {
    std::vector<size_t> sizes;
    for (const auto &page : pages) {
        sizes.push_back(page.size());
    }
    std::vector<uint8_t> file = dcx_directory(sizes);
    for (const auto &page : pages) {
        file.insert(file.end(), page.begin(), page.end());
    }
    return file;
}

} // namespace pcxtool
