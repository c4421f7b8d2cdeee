// For every rule, a file that breaks it alone, made from a small valid file:
// the verdict, the identifier and the offset it names; then what repair makes
// of it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "check/check_support.h"
#include "image/check/rules.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using check_test::judge;

// 16 x 2 pixels, 1 bit, only literal bytes: coded and stored alike.
test::PcxLayout bilevel_layout() {
    test::PcxLayout l;
    l.bits = 1;
    l.x_max = 15;
    l.y_max = 1;
    l.bytes_per_line = 2;
    return l;
}
Bytes bilevel() {
    return test::pcx_file(bilevel_layout(), {0x0F, 0xA5, 0x3C, 0x81});
}

// 4 x 2 pixels, 8 bits, with its 256-colour block (no entry byte is 12).
const Bytes kPaletteData = {0x01, 0x02, 0x03, 0x04, 0xC4, 0x05};
Bytes palette_block() {
    Bytes entries(768);
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = uint8_t(i % 7 == 0 ? 200 : i % 251);
    Bytes block;
    test::append_tail_palette(block, entries);
    return block;
}
test::PcxLayout palette8_layout() {
    test::PcxLayout l;
    l.x_max = 3;
    l.y_max = 1;
    l.bytes_per_line = 4;
    return l;
}
Bytes palette8_without_block() {
    return test::pcx_file(palette8_layout(), kPaletteData);
}
Bytes palette8() {
    Bytes file = palette8_without_block();
    const Bytes block = palette_block();
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

// 16 x 2 pixels in 4 bit planes, 16 colours in the header's map.
test::PcxLayout planes4_layout() {
    test::PcxLayout l = bilevel_layout();
    l.planes = 4;
    for (size_t i = 0; i < l.colour_map.size(); ++i) l.colour_map[i] = uint8_t(17 * (i / 3) + i % 3);
    return l;
}
Bytes planes4() {
    return test::pcx_file(planes4_layout(), Bytes(16, 0x0F));
}

Bytes dcx2() {
    return test::dcx_file({bilevel(), palette8()});
}

void put32(Bytes &file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
}

// A DCX file of `pages` one-line 8-pixel pages.
Bytes many_pages(size_t pages) {
    test::PcxLayout l = bilevel_layout();
    l.x_max = 7;
    l.y_max = 0;
    const Bytes page = test::pcx_file(l, {0x55, 0x00});
    return test::dcx_file(std::vector<Bytes>(pages, page));
}

enum class Repair { Mended, Refused };

struct RuleCase {
    const char *id;
    std::vector<const char *> also; // findings the break cannot come without
    const char *verdict;
    Repair repair;
    std::function<Bytes(uint64_t &offset)> make; // the file, and the offset the finding names
};

const std::vector<RuleCase> &rule_cases() {
    static const std::vector<RuleCase> cases = {
        {"FILE-NOT-PCX",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[0] = 11;
             at = 0;
             return f;
         }},
        {"PCX-HEADER-SHORT",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f.resize(100);
             at = 0;
             return f;
         }},
        {"PCX-VERSION",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[1] = 1;
             at = 1;
             return f;
         }},
        {"PCX-VERSION-0",
         {},
         "valid",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[1] = 0;
             at = 1;
             return f;
         }},
        {"PCX-ENCODING",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[2] = 2;
             at = 2;
             return f;
         }},
        {"PCX-STORED",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[2] = 0;
             at = 2;
             return f;
         }},
        {"PCX-LAYOUT",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[3] = 3;
             at = 3;
             return f;
         }},
        {"PCX-WINDOW",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[4] = 20; // x min beyond x max
             at = 4;
             return f;
         }},
        {"PCX-BPL-SHORT",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[8] = 31; // 32 pixels need 4 bytes
             at = 66;
             return f;
         }},
        {"PCX-BPL-ODD",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             test::PcxLayout l = bilevel_layout();
             l.x_max = 7;
             l.bytes_per_line = 1;
             at = 66;
             return test::pcx_file(l, {0x0F, 0xA5});
         }},
        {"PCX-PALETTE-INFO",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = planes4();
             f[68] = 3; // a gray ramp, for the library, in place of the map
             at = 68;
             return f;
         }},
        {"PCX-RESERVED",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[64] = 1;
             at = 64;
             return f;
         }},
        {"PCX-FILLER",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[100] = 7;
             at = 100;
             return f;
         }},
        {"PCX-RESOLUTION",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[14] = f[15] = 0;
             at = 14;
             return f;
         }},
        {"PCX-DATA-SHORT",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f.pop_back();
             at = f.size();
             return f;
         }},
        {"PCX-RUN-CROSSES-LINE",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             at = 128;
             return test::pcx_file(bilevel_layout(), {0xC3, 0x00, 0x00});
         }},
        {"PCX-RUN-CROSSES-PLANE",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = planes4();
             f.erase(f.begin() + 128, f.begin() + 131);
             const Bytes run = {0xC3, 0x0F};
             f.insert(f.begin() + 128, run.begin(), run.end());
             at = 128;
             return f;
         }},
        {"PCX-RUN-EMPTY",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             const Bytes empty = {0xC0, 0x55};
             f.insert(f.begin() + 130, empty.begin(), empty.end());
             at = 130;
             return f;
         }},
        {"PCX-TRAILING-BYTES",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             at = f.size();
             f.insert(f.end(), 5, 0x20);
             return f;
         }},
        {"PCX-PALETTE-MISSING",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = palette8_without_block();
             at = f.size();
             return f;
         }},
        {"PCX-PALETTE-MARKER",
         {},
         "not-valid",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = palette8();
             at = 128 + kPaletteData.size();
             f[at] = 13;
             return f;
         }},
        {"PCX-PALETTE-GAP",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = palette8();
             at = 128 + kPaletteData.size();
             f.insert(f.begin() + long(at), 10, 0);
             return f;
         }},
        {"PCX-PALETTE-NOT-AT-END",
         {},
         "not-valid",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = palette8();
             at = 128 + kPaletteData.size();
             f.insert(f.end(), 5, 0x20);
             return f;
         }},
        {"PCX-PALETTE-VERSION",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = palette8();
             f[1] = 2;
             at = 128 + kPaletteData.size();
             return f;
         }},
        {"PCX-MAP-EMPTY",
         {},
         "not-valid",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = planes4();
             std::fill(f.begin() + 16, f.begin() + 64, 0);
             at = 16;
             return f;
         }},
        {"PCX-MAP-BILEVEL",
         {},
         "valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = bilevel();
             f[16] = 255; // red and blue
             f[21] = 255;
             at = 16;
             return f;
         }},
        {"DCX-DIRECTORY-SHORT",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = dcx2();
             f.resize(6);
             at = 4;
             return f;
         }},
        {"DCX-EMPTY",
         {},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = dcx2();
             f.resize(8);
             put32(f, 4, 0);
             at = 4;
             return f;
         }},
        {"DCX-NO-TERMINATOR",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = dcx2();
             f.erase(f.begin() + 12, f.begin() + 16); // the zero entry
             put32(f, 4, 12);
             put32(f, 8, uint32_t(12 + bilevel().size()));
             at = 12;
             return f;
         }},
        {"DCX-TOO-MANY-PAGES",
         {},
         "not-valid",
         Repair::Refused,
         [](uint64_t &at) {
             at = 4 * 1024;
             return many_pages(1024);
         }},
        {"DCX-PAGE-LIMIT",
         {"DCX-TOO-MANY-PAGES", "PCX-TRAILING-BYTES"},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             at = 4 * 65536;
             return many_pages(65536);
         }},
        {"DCX-OFFSET-OUTSIDE",
         {"PCX-TRAILING-BYTES"},
         "not-well-formed",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes f = dcx2();
             put32(f, 8, uint32_t(f.size() + 100));
             at = 8;
             return f;
         }},
        {"DCX-OFFSET-ORDER",
         {},
         "not-valid",
         Repair::Mended,
         [](uint64_t &at) {
             Bytes f = test::dcx_file({palette8(), bilevel()});
             put32(f, 4, uint32_t(16 + palette8().size()));
             put32(f, 8, 16);
             at = 8;
             return f;
         }},
        {"DCX-PAGE-OVERLAP",
         {},
         "not-valid",
         Repair::Refused,
         [](uint64_t &at) {
             Bytes page = bilevel();
             page.pop_back(); // its data borrow a byte of the next page
             Bytes f = test::dcx_file({page, palette8()});
             at = 16 + page.size();
             return f;
         }},
    };
    return cases;
}

class RuleFile : public testing::TestWithParam<RuleCase> {};

TEST(RuleFiles, BaseFilesAreValidEvenStrictly) {
    for (const Bytes &file : {bilevel(), palette8(), planes4(), dcx2(), many_pages(3)}) {
        const check_test::Judged judged = judge(file, true);
        EXPECT_EQ(judged.verdict, "valid");
        EXPECT_TRUE(judged.ids.empty()) << *judged.ids.begin();
    }
}

TEST_P(RuleFile, BreaksItsRuleAloneAtItsOffset) {
    const RuleCase &rule = GetParam();
    uint64_t offset = 0;
    const Bytes file = rule.make(offset);
    const check_test::Judged judged = judge(file);
    ASSERT_EQ(judged.status, IFFPCX_OK);
    std::set<std::string> expected = {rule.id};
    expected.insert(rule.also.begin(), rule.also.end());
    EXPECT_EQ(judged.ids, expected);
    EXPECT_EQ(judged.offset_of(rule.id), offset);
    EXPECT_EQ(judged.verdict, rule.verdict);
    // Strictly, every break makes the file at least not-valid.
    EXPECT_NE(judge(file, true).verdict, "valid");
}

TEST_P(RuleFile, RepairMendsOrRefuses) {
    const RuleCase &rule = GetParam();
    uint64_t offset = 0;
    const Bytes file = rule.make(offset);
    const check_test::Repaired repaired = check_test::repair(file);
    if (rule.repair == Repair::Refused) {
        EXPECT_NE(repaired.status, IFFPCX_OK);
        EXPECT_NE(repaired.message.find(rule.id), std::string::npos) << repaired.message;
        return;
    }
    ASSERT_EQ(repaired.status, IFFPCX_OK) << repaired.message;
    const check_test::Judged after = judge(repaired.bytes);
    EXPECT_EQ(after.verdict, "valid");
    // What repair cannot change without changing the image stays a warning;
    // everything else was changed, and said so.
    for (const std::string &id : after.ids) EXPECT_TRUE(id == "PCX-RESOLUTION" || id == "PCX-PALETTE-VERSION") << id;
    EXPECT_EQ(repaired.changes.empty(), after.ids.count(rule.id) == 1);
    EXPECT_EQ(after.format, judge(file).format);
    // Each page of the input on its own (a broken directory misleads the
    // library) against the repaired file as the library reads it.
    const auto after_pages = check_test::decode_all(repaired.bytes);
    ASSERT_EQ(after_pages.size(), judge(file).spans.size());
    EXPECT_TRUE(check_test::decode_pages_alone(file) == after_pages);
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleFile, testing::ValuesIn(rule_cases()),
                         [](const testing::TestParamInfo<RuleCase> &param) {
                             std::string name;
                             for (const char *c = param.param.id; *c != '\0'; ++c)
                                 if (*c != '-') name += *c;
                             return name;
                         });

// Every rule of the table has its file here.
TEST(RuleFiles, EveryRuleHasACase) {
    std::set<std::string> covered;
    for (const RuleCase &rule : rule_cases()) covered.insert(rule.id);
    size_t count = 0;
    const iffpcx_check::RuleInfo *rules = iffpcx_check::rule_table(&count);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(covered.count(rules[i].id), 1u) << rules[i].id;
}

} // namespace
