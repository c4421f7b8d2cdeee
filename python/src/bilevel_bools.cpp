#include "bilevel_bools.h"

#include <array>
#include <climits>
#include <cstring>

namespace pyiffpcx {

namespace {

using Spread = std::array<std::array<uint8_t, 8>, 256>;

// The eight bools of each packed byte: first pixel in the top bit, 1 black.
constexpr Spread spread_table() {
    Spread table{};
    for (int byte = 0; byte < 256; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            table[size_t(byte)][size_t(bit)] = ((byte >> (7 - bit)) & 1) != 0 ? 0 : 1;
        }
    }
    return table;
}

constexpr Spread kSpread = spread_table();

struct Target {
    uint8_t *pixels;
    size_t width;
};

// Rows of the two parts come from two threads at once; each writes its own rows.
int spread_rows(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride) {
    const auto &target = *static_cast<const Target *>(context);
    const size_t width = target.width;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t *packed = rows + k * stride;
        uint8_t *bools = target.pixels + (static_cast<size_t>(y) + k) * width;
        size_t x = 0;
        for (; x + 8 <= width; x += 8) {
            std::memcpy(bools + x, kSpread[packed[x / 8]].data(), 8);
        }
        if (x < width) {
            std::memcpy(bools + x, kSpread[packed[x / 8]].data(), width - x);
        }
    }
    return 0;
}

} // namespace

iffpcx_status decode_bools(iffpcx_file *file, uint32_t page, uint32_t flags, uint8_t *pixels, size_t width,
                           iffpcx_error *error) {
    Target target{pixels, width};
    return iffpcx_decode_rows(file, page, IFFPCX_FORM_BITS, flags | IFFPCX_TWO_PARTS, 0, INT32_MAX, spread_rows,
                              &target, error);
}

} // namespace pyiffpcx
