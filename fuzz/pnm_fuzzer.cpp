// pcxtool's PNM reader on any bytes, against libnetpbm's reading of the same
// bytes: an image pcxtool reads has every pixel netpbm reads, scaled to
// 0..255 with rounding; what netpbm refuses pcxtool refuses too; and what
// pcxtool refuses and netpbm reads is refused for a reason the formats or
// pcxtool's own limits give (netpbm accepts more than the formats allow).
#include <cctype>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <netpbm/pnm.h>
}

#include "format_error.h"
#include "fuzz_check.h"
#include "pnm_io.h"

namespace {

// Pages past this are refused by pcxtool before netpbm would read them whole.
constexpr uint64_t kMaxPixels = uint64_t{1} << 22;

void quiet(const char *) {}

struct NetpbmHeader {
    int cols = 0;
    int rows = 0;
    xelval maxval = 0;
    int format = 0;
};

// libnetpbm reports errors by longjmp to the jmp_buf it is given (by calling
// exit otherwise). The frames it jumps over hold nothing with a destructor.
bool read_header(FILE *file, NetpbmHeader *header) {
    jmp_buf jump;
    pm_setjmpbuf(&jump);
    if (setjmp(jump) != 0) {
        return false;
    }
    pnm_readpnminit(file, &header->cols, &header->rows, &header->maxval, &header->format);
    return true;
}

// Reads the rows, checking each against `rgb` when it is given; false when
// netpbm refuses them. `row` holds cols xels.
bool read_rows(FILE *file, const NetpbmHeader &header, xel *row, const uint8_t *rgb) {
    jmp_buf jump;
    pm_setjmpbuf(&jump);
    if (setjmp(jump) != 0) {
        return false;
    }
    const size_t cols = static_cast<size_t>(header.cols);
    const uint32_t maxval = header.maxval;
    const bool colour = PNM_FORMAT_TYPE(header.format) == PPM_TYPE; // else the sample is in blue
    for (int y = 0; y < header.rows; ++y) {
        pnm_readpnmrow(file, row, header.cols, header.maxval, header.format);
        if (rgb == nullptr) {
            continue;
        }
        for (size_t x = 0; x < cols; ++x) {
            const uint32_t gray = PNM_GET1(row[x]);
            const uint32_t samples[3] = {colour ? PPM_GETR(row[x]) : gray, colour ? PPM_GETG(row[x]) : gray,
                                         colour ? PPM_GETB(row[x]) : gray};
            const uint8_t *pixel = rgb + 3 * (static_cast<size_t>(y) * cols + x);
            for (int c = 0; c < 3; ++c) {
                FUZZ_CHECK(pixel[c] == (samples[c] * 255 + maxval / 2) / maxval);
            }
        }
    }
    return true;
}

// Whether numbers of the text part (the header, and the samples of plain
// PGM and PPM) end somewhere in a character other than whitespace or a
// comment: netpbm takes any one character after a number, the formats
// whitespace only.
bool foreign_separator(const std::vector<uint8_t> &bytes) {
    const auto space = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const int format = bytes[1] - '0';
    const size_t numbers = format == 2 || format == 3 ? SIZE_MAX : format == 1 || format == 4 ? 2 : 3;
    size_t at = 2;
    for (size_t n = 0; n < numbers; ++n) {
        while (at < bytes.size() && (space(bytes[at]) || bytes[at] == '#')) {
            if (bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r') ++at;
            } else {
                ++at;
            }
        }
        if (at >= bytes.size() || !std::isdigit(bytes[at])) return false;
        while (at < bytes.size() && std::isdigit(bytes[at])) ++at;
        if (at < bytes.size() && !space(bytes[at]) && bytes[at] != '#') return true;
    }
    return false;
}

// Refusals that the formats or pcxtool's limits give where netpbm reads on.
bool refused_by_right(const std::string &reason, const std::vector<uint8_t> &bytes) {
    for (const char *allowed : {"larger than a PCX image can be", "more than the limit",
                                "the header does not end in whitespace", "exceeds the maximum value"}) {
        if (reason.find(allowed) != std::string::npos) {
            return true;
        }
    }
    return foreign_separator(bytes); // not a valid file, whatever else it holds
}

// Whether netpbm reads the first image of `bytes`, whose pixels must be
// those of `image` when it is given. An image beyond pcxtool's size limit
// counts as read only when pcxtool refused it.
bool netpbm_reads(std::vector<uint8_t> &bytes, const pcxtool::RgbImage *image) {
    static const bool initialised = [] {
        pm_init("pnm_fuzzer", 0);
        pm_setusermessagefn(quiet);
        pm_setusererrormsgfn(quiet);
        return true;
    }();
    (void)initialised;
    FILE *file = fmemopen(bytes.data(), bytes.size(), "rb");
    if (file == nullptr) return false;
    NetpbmHeader header;
    bool read = read_header(file, &header) && header.cols > 0 && header.rows > 0;
    pm_setjmpbuf(nullptr);
    if (read && (header.cols > pcxtool::kMaxImageSide || header.rows > pcxtool::kMaxImageSide)) {
        FUZZ_CHECK(image == nullptr); // pcxtool's limit: refused whatever else it holds
        std::fclose(file);
        return false;
    }
    if (read) {
        FUZZ_CHECK(image == nullptr || (header.cols == image->width && header.rows == image->height));
        xel *row = pnm_allocrow(static_cast<unsigned>(header.cols));
        read = read_rows(file, header, row, image != nullptr ? image->rgb.data() : nullptr);
        pm_setjmpbuf(nullptr);
        pnm_freerow(row);
    }
    std::fclose(file);
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (!pcxtool::has_pnm_signature(bytes)) return 0;
    if (bytes[1] == '7') {
        // PAM, and streams of images: no reference to compare with, but
        // whatever is read must be whole.
        try {
            for (const pcxtool::RgbImage &each : pcxtool::read_pnm_images(bytes, "input", kMaxPixels)) {
                FUZZ_CHECK(each.width > 0 && each.height > 0);
                FUZZ_CHECK(each.rgb.size() == size_t(each.width) * size_t(each.height) * 3);
            }
        } catch (const pcxtool::FormatError &) {
        }
        return 0;
    }
    pcxtool::RgbImage image;
    bool accepted = false;
    std::string reason;
    try {
        image = pcxtool::read_pnm(bytes, "input", kMaxPixels);
        accepted = true;
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(image.rgb.size() == size_t(image.width) * size_t(image.height) * 3);
    } catch (const pcxtool::FormatError &error) {
        reason = error.what();
    }
    if (!accepted && (reason.find("larger than a PCX image") != std::string::npos ||
                      reason.find("more than the limit") != std::string::npos)) {
        return 0; // netpbm would read an image larger than the fuzzer's memory
    }

    bool read = netpbm_reads(bytes, accepted ? &image : nullptr);
    // netpbm wants a character after the last sample of a plain image and a
    // line end after a comment, where the formats leave the file's end open:
    // such a file must read with a line feed added.
    if (accepted && !read && bytes[1] <= '3') {
        bytes.push_back('\n');
        read = netpbm_reads(bytes, &image);
    }
    if (accepted) {
        FUZZ_CHECK(read); // what netpbm refuses, pcxtool must not read
    } else if (read) {
        if (!refused_by_right(reason, bytes)) {
            std::fprintf(stderr, "pcxtool refuses what netpbm reads: %s\n", reason.c_str());
        }
        FUZZ_CHECK(refused_by_right(reason, bytes));
    }
    return 0;
}
