// Pages made for the TIFF tests, written to memory and read back whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/tiff/tiff_layout.h"
#include "image/tiff/tiff_reader.h"
#include "image/tiff/tiff_writer.h"
#include "support/memory_stream.h"

namespace tifftest {

using iff::tiff::Compression;
using iff::tiff::Kind;
using iff::tiff::Page;
using iff::tiff::PageInfo;
using iff::tiff::Status;

// A page and its rows in the caller's form, stride bytes apart; the bytes
// between rows and the unused bits at the end of 1-bit rows are noise the
// writer must ignore. expected holds the rows as they must read back.
struct TestPage {
    Page page; // its palette pointer is set from palette when the page is written
    std::vector<uint8_t> palette;
    std::vector<uint8_t> rows;
    size_t stride = 0;
    std::vector<uint8_t> expected; // rows of row_bytes, tail bits clear
};

// Shapes and noise that exercise each coder: long runs, edges, gradients.
TestPage make_page(Kind kind, int32_t width, int32_t height, uint32_t palette_entries = 0, int32_t dpi_x = 0,
                   int32_t dpi_y = 0, uint32_t seed = 1);

// Writes the pages with the writer, in blocks of block_rows rows.
Status write_pages(iff::tiff::Writer &writer, const std::vector<TestPage> &pages, size_t block_rows,
                   iff::tiff::Error *error);
std::vector<uint8_t> write_memory(const std::vector<TestPage> &pages, Compression compression, size_t block_rows = 7);

struct ReadPage {
    PageInfo info;
    std::vector<uint8_t> rows; // rows of row_bytes
};
Status read_pages(iff::tiff::Reader &reader, std::vector<ReadPage> &pages, iff::tiff::Error *error);
std::vector<ReadPage> read_memory(const std::vector<uint8_t> &file);

// The page as RGB bytes, as a viewer shows it.
std::vector<uint8_t> to_rgb(const PageInfo &info, const std::vector<uint8_t> &rows);

using test::read_file;

// A path under the test temp folder that no other test shares, even when
// ctest runs the suite's tests side by side: the test's name and the process.
std::string own_temp_path(const std::string &name);

} // namespace tifftest
