// Palette rows expanded to RGB triples: the 64-pixel loop and the portable
// one against a plain lookup, at lengths around their block sizes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "../support/cpu_levels.h"
#include "palette_rows.h"

class PaletteRowsAtEachLevel : public test::AtEachCpuLevel {};
IFF_AT_EACH_CPU_LEVEL(PaletteRowsAtEachLevel);

TEST_P(PaletteRowsAtEachLevel, EveryLengthMatchesAPlainLookup) {
    std::mt19937 rng(11);
    uint8_t colours[256][3];
    for (auto &colour : colours)
        for (uint8_t &c : colour) c = uint8_t(rng());
    const pcxtool::PaletteRows rows(colours);
    std::vector<uint8_t> indices(300);
    for (uint8_t &i : indices) i = uint8_t(rng());
    for (size_t count : {0, 1, 3, 4, 5, 63, 64, 65, 127, 128, 191, 255, 300}) {
        std::vector<uint8_t> out(3 * count + 8, 0xEE);
        rows.expand(indices.data(), count, out.data());
        for (size_t x = 0; x < count; ++x)
            for (size_t c = 0; c < 3; ++c)
                ASSERT_EQ(out[3 * x + c], colours[indices[x]][c]) << "pixel " << x << " of " << count;
        for (size_t k = 3 * count; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << "wrote past " << count;
    }
}
