#include "dcx_layout.h"

#include <limits>

#include "base/image_error.h"

namespace image {

namespace {

uint32_t load_u32(ByteView bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

int load_u16(const uint8_t *at) {
    return at[0] | at[1] << 8;
}

void store_u32(std::vector<uint8_t> &bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

[[noreturn]] void malformed(const std::string &message, int32_t page = -1) {
    throw ImageError(IFFPCX_ERR_MALFORMED, message, page);
}

} // namespace

bool has_dcx_signature(ByteView file) {
    return file.size() >= pcx_format::kDcxEntrySize && load_u32(file, 0) == pcx_format::kDcxSignature;
}

bool starts_like_pcx_or_dcx(ByteView file) {
    return has_dcx_signature(file) || (!file.empty() && file[0] == pcx_format::kManufacturer);
}

std::vector<PageSpan> page_spans(ByteView file, const std::string &name, uint32_t max_pages) {
    if (file.size() > std::numeric_limits<uint32_t>::max()) {
        throw ImageError(IFFPCX_ERR_LIMIT, name + ": too large for a PCX or DCX file");
    }
    const auto size = static_cast<uint32_t>(file.size());
    if (!has_dcx_signature(file)) {
        return {PageSpan{0, size}};
    }
    constexpr size_t kEntry = pcx_format::kDcxEntrySize;
    std::vector<uint32_t> offsets;
    size_t listed = 0; // entries before the zero; only the first that can be pages are kept
    size_t at = kEntry;
    for (;;) {
        if (at + kEntry > file.size()) {
            malformed(name + ": the DCX page directory has no terminating zero entry");
        }
        const uint32_t offset = load_u32(file, at);
        at += kEntry;
        if (offset == 0) {
            break;
        }
        if (++listed <= pcx_format::kDcxMostPages) {
            offsets.push_back(offset);
        }
    }
    if (listed == 0) {
        malformed(name + ": the DCX page directory lists no page");
    }
    if (listed > pcx_format::kDcxMostPages) {
        malformed(name + ": the DCX file has more than " + std::to_string(pcx_format::kDcxMostPages) + " pages");
    }
    if (offsets.size() > max_pages) {
        throw ImageError(IFFPCX_ERR_LIMIT, name + ": the DCX file has " + std::to_string(offsets.size()) +
                                               " pages, more than the limit of " + std::to_string(max_pages));
    }
    std::vector<PageSpan> spans;
    for (size_t page = 0; page < offsets.size(); ++page) {
        const uint32_t offset = offsets[page];
        const uint32_t end = page + 1 < offsets.size() ? offsets[page + 1] : size;
        const std::string where = name + ": page " + std::to_string(page) + ": ";
        const auto index = static_cast<int32_t>(page);
        if (offset < at) {
            malformed(where + "offset " + std::to_string(offset) + " lies inside the page directory", index);
        }
        if (offset >= size) {
            malformed(where + "offset " + std::to_string(offset) + " lies past the end of the file (" +
                          std::to_string(size) + " bytes)",
                      index);
        }
        if (end < offset) {
            malformed(where + "the next page's offset " + std::to_string(end) + " lies before this page's " +
                          std::to_string(offset),
                      index);
        }
        if (end - offset < pcx_format::kHeaderSize) {
            malformed(where + "only " + std::to_string(end - offset) + " bytes long, shorter than a PCX header", index);
        }
        spans.push_back(PageSpan{offset, end});
    }
    return spans;
}

HeaderFields header_fields(ByteView file, uint32_t offset) {
    using namespace pcx_format;
    HeaderFields fields{};
    if (static_cast<size_t>(offset) + kHeaderSize > file.size()) {
        return fields;
    }
    const uint8_t *header = file.data() + offset;
    fields.version = header[kVersionAt];
    fields.encoding = header[kEncodingAt];
    fields.bits_per_plane = header[kBitsPerPixelAt];
    fields.planes = header[kPlanesAt];
    fields.bytes_per_line = load_u16(header + kBytesPerLineAt);
    fields.palette_info = load_u16(header + kPaletteInfoAt);
    fields.x_min = load_u16(header + kXMinAt);
    fields.y_min = load_u16(header + kYMinAt);
    fields.x_max = load_u16(header + kXMaxAt);
    fields.y_max = load_u16(header + kYMaxAt);
    return fields;
}

std::vector<uint8_t> dcx_directory(const std::vector<size_t> &page_sizes) {
    if (page_sizes.empty() || page_sizes.size() > pcx_format::kDcxMostPages) {
        throw ImageError(IFFPCX_ERR_ARGUMENT,
                         "a DCX file holds 1 to " + std::to_string(pcx_format::kDcxMostPages) + " pages");
    }
    uint64_t offset = pcx_format::kDcxEntrySize * (static_cast<uint64_t>(page_sizes.size()) + 2);
    std::vector<uint8_t> directory;
    store_u32(directory, pcx_format::kDcxSignature);
    for (const size_t size : page_sizes) {
        store_u32(directory, static_cast<uint32_t>(offset));
        offset += size;
        // Offsets are 32 bits, and the library reads streams of up to 2 GiB.
        if (offset > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            throw ImageError(IFFPCX_ERR_LIMIT, "the pages add up to more than a DCX file can hold (2 GiB)");
        }
    }
    store_u32(directory, 0);
    return directory;
}

} // namespace image
