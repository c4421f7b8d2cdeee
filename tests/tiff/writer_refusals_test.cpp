// Calls the writer must refuse, and outputs that fail: each is reported with
// its status and a message naming the page and row, the failure sticks, and a
// file by name never appears half written.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tiff_test_support.h"

namespace {

using namespace tifftest;
using iff::tiff::Error;
using iff::tiff::Writer;

bool exists(const std::string &path) {
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return true;
    }
    return false;
}

struct Refusal {
    const char *name;
    // Drives the writer into the wrong call and returns its status.
    std::function<Status(Writer &, Error *)> steps;
    Status status;
    const char *words; // in the message
};

const TestPage kGray = make_page(Kind::gray, 10, 4);

Status begin(Writer &w, Page page, Error *e) {
    return w.begin_page(page, e);
}

class WriterRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(WriterRefuses, ReportsStaysFailedAndLeavesNoFile) {
    const Refusal c = GetParam();
    const std::string path = own_temp_path(std::string("refused_") + c.name + ".tif");
    std::remove(path.c_str());
    std::unique_ptr<Writer> writer;
    Error error;
    ASSERT_EQ(Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::ok);
    ASSERT_EQ(c.steps(*writer, &error), c.status);
    EXPECT_EQ(error.status, int32_t(c.status));
    EXPECT_NE(std::string(error.message).find(c.words), std::string::npos) << error.message;
    EXPECT_EQ(std::string(error.message).find(path), 0u) << "the message names the file: " << error.message;
    // Sticky: the next call fails the same way.
    Error again;
    EXPECT_EQ(writer->finish(&again), c.status);
    EXPECT_STREQ(again.message, error.message);
    writer.reset();
    EXPECT_FALSE(exists(path));
}

Page with(Page page, const std::function<void(Page &)> &change) {
    change(page);
    return page;
}

const uint8_t kPalette[6] = {0, 0, 0, 255, 255, 255};

const Refusal kRefusals[] = {
    Refusal{"empty_page",
            [](Writer &w, Error *e) { return begin(w, with(kGray.page, [](Page &p) { p.width = 0; }), e); },
            Status::argument, "at least 1 x 1"},
    Refusal{"unknown_kind",
            [](Writer &w, Error *e) { return begin(w, with(kGray.page, [](Page &p) { p.kind = Kind(9); }), e); },
            Status::argument, "unknown page kind"},
    Refusal{"palette_missing",
            [](Writer &w, Error *e) { return begin(w, with(kGray.page, [](Page &p) { p.kind = Kind::indexed; }), e); },
            Status::argument, "palette of 1 to 256"},
    Refusal{"palette_too_long",
            [](Writer &w, Error *e) {
                return begin(w,
                             with(kGray.page,
                                  [](Page &p) {
                                      p.kind = Kind::indexed;
                                      p.palette = kPalette;
                                      p.palette_entries = 257;
                                  }),
                             e);
            },
            Status::argument, "palette of 1 to 256"},
    Refusal{"negative_resolution",
            [](Writer &w, Error *e) { return begin(w, with(kGray.page, [](Page &p) { p.dpi_y = -1; }), e); },
            Status::argument, "negative resolution"},
    Refusal{"rows_before_a_page",
            [](Writer &w, Error *e) { return w.write_rows(kGray.rows.data(), 1, kGray.stride, e); }, Status::argument,
            "no page begun"},
    Refusal{"more_rows_than_the_page",
            [](Writer &w, Error *e) {
                begin(w, kGray.page, e);
                return w.write_rows(kGray.rows.data(), 5, kGray.stride, e);
            },
            Status::argument, "page 0: line 0: more rows than the page has"},
    Refusal{"stride_shorter_than_a_row",
            [](Writer &w, Error *e) {
                begin(w, kGray.page, e);
                return w.write_rows(kGray.rows.data(), 2, 9, e);
            },
            Status::argument, "stride is shorter"},
    Refusal{"new_page_before_the_last_is_whole",
            [](Writer &w, Error *e) {
                begin(w, kGray.page, e);
                w.write_rows(kGray.rows.data(), 3, kGray.stride, e);
                return begin(w, kGray.page, e);
            },
            Status::argument, "before the last one had all its rows"},
    Refusal{"finish_before_the_page_is_whole",
            [](Writer &w, Error *e) {
                begin(w, kGray.page, e);
                w.write_rows(kGray.rows.data(), 3, kGray.stride, e);
                return w.finish(e);
            },
            Status::argument, "page 0: line 3: the page has not had all its rows"},
    Refusal{"finish_without_pages", [](Writer &w, Error *e) { return w.finish(e); }, Status::argument,
            "at least one page"},
    Refusal{"index_beyond_a_4_bit_palette",
            [](Writer &w, Error *e) {
                const uint8_t rows[2][3] = {{0, 1, 0}, {1, 2, 1}};
                begin(w,
                      with(kGray.page,
                           [](Page &p) {
                               p.kind = Kind::indexed;
                               p.width = 3;
                               p.palette = kPalette;
                               p.palette_entries = 2;
                           }),
                      e);
                return w.write_rows(rows[0], 2, 3, e);
            },
            Status::colours, "page 0: line 1: pixel 1 has index 2, beyond the palette's 2 colours"},
    Refusal{"index_beyond_an_8_bit_palette",
            [](Writer &w, Error *e) {
                static uint8_t palette[3 * 100];
                const uint8_t row[4] = {99, 100, 0, 0};
                begin(w,
                      with(kGray.page,
                           [](Page &p) {
                               p.kind = Kind::indexed;
                               p.width = 4;
                               p.palette = palette;
                               p.palette_entries = 100;
                           }),
                      e);
                return w.write_rows(row, 1, 4, e);
            },
            Status::colours, "pixel 1 has index 100"}};

INSTANTIATE_TEST_SUITE_P(Calls, WriterRefuses, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &param) { return std::string(param.param.name); });

TEST(FailedWrite, CallbackThatRefusesFailsTheFinish) {
    auto refuse_after_first = [](void *context, const void *, size_t) { return (*static_cast<int *>(context))++; };
    int calls = 0;
    std::unique_ptr<Writer> writer;
    Error error;
    ASSERT_EQ(Writer::to_writer(refuse_after_first, &calls, "host.tif", Compression::page_default, writer, &error),
              Status::ok);
    // More than one block of output, so the second call comes.
    ASSERT_EQ(write_pages(*writer, {make_page(Kind::rgb, 300, 300)}, 50, &error), Status::ok);
    EXPECT_EQ(writer->finish(&error), Status::write);
    EXPECT_EQ(calls, 2);
    EXPECT_NE(std::string(error.message).find("host.tif: the write callback refused"), std::string::npos)
        << error.message;
}

TEST(FailedWrite, PathThatCannotBeCreated) {
    const std::string path = testing::TempDir() + "no_such_folder/out.tif";
    std::unique_ptr<Writer> writer;
    Error error;
    EXPECT_EQ(Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::write);
    EXPECT_EQ(writer, nullptr);
    EXPECT_NE(std::string(error.message).find("cannot create the file"), std::string::npos) << error.message;
}

TEST(FailedWrite, AbandonedPathLeavesNothingBehind) {
    const std::string folder = testing::TempDir();
    const std::string path = folder + "abandoned.tif";
    std::unique_ptr<Writer> writer;
    Error error;
    ASSERT_EQ(Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::ok);
    ASSERT_EQ(write_pages(*writer, {make_page(Kind::gray, 100, 100)}, 10, &error), Status::ok);
    EXPECT_GT(writer->bytes_so_far(), 0u);
    writer.reset();
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(path + ".part0"));
}

// A finished file replaces an older one of the same name only when complete.
TEST(FailedWrite, OlderFileStaysUntilTheNewOneIsComplete) {
    const std::string path = own_temp_path("replaced.tif");
    const std::vector<TestPage> first = {make_page(Kind::gray, 10, 10)};
    std::unique_ptr<Writer> writer;
    Error error;
    ASSERT_EQ(Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::ok);
    ASSERT_EQ(write_pages(*writer, first, 10, &error), Status::ok);
    ASSERT_EQ(writer->finish(&error), Status::ok);
    const std::vector<uint8_t> before = read_file(path);
    ASSERT_EQ(Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::ok);
    ASSERT_EQ(write_pages(*writer, {make_page(Kind::rgb, 20, 20)}, 10, &error), Status::ok);
    EXPECT_TRUE(read_file(path) == before);
    ASSERT_EQ(writer->finish(&error), Status::ok);
    EXPECT_EQ(read_memory(read_file(path)).at(0).info.kind, Kind::rgb);
    std::remove(path.c_str());
}

} // namespace
