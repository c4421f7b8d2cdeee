// Every allocation that an open, a page selection, a palette replacement or a
// close makes, made to fail in turn: the step reports 5, nothing it took stays
// allocated, and the handle either still works or is cleanly gone.
#include <gtest/gtest.h>

#include <vector>

#include "driver/handle_table.h"
#include "iffpcx.h"
#include "platform/heap.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A page of width x 2 of 8-bit samples, all `fill`, with a 256-colour block
// whose entries are all `fill` too.
Bytes page(uint16_t width, uint8_t fill) {
    test::PcxLayout l;
    l.x_max = uint16_t(width - 1);
    l.y_max = 1;
    l.bytes_per_line = width;
    Bytes coded;
    for (int line = 0; line < 2; ++line) coded.insert(coded.end(), {uint8_t(0xC0 | width), fill});
    Bytes file = test::pcx_file(l, coded);
    test::append_tail_palette(file, Bytes(768, fill));
    return file;
}

Bytes two_pages() {
    return test::dcx_file({page(8, 1), page(40, 2)});
}

// Blocks the library holds, less those the handle table keeps for good.
int64_t live_blocks() {
    return int64_t(iff::heap_live_blocks()) - iff::handle_table_blocks();
}

struct Attempt {
    test::MemoryStream stream;
    IFFImageInfo info{};
    int32_t handle = 0;
    bool injected = false; // an allocation of the step was made to fail
};

int32_t open_status(int32_t handle) {
    return handle > 0 ? IFF_OK : -handle;
}
bool is_live(int32_t handle) {
    return IFFControl(handle, IFF_REQ_STATUS, 0, 0, nullptr) != IFF_ERR_HANDLE;
}

void open_read(Attempt &r, Bytes file, uint32_t mode = IFF_MODE_READ) {
    r.stream.data = std::move(file);
    r.handle = IFFOpen(r.stream.source(), mode | IFF_MODE_STREAMS, &r.info);
    ASSERT_GT(r.handle, 0);
}

void open_write(Attempt &r, uint32_t color_class) {
    r.info = IFFImageInfo{0, 4, 2, color_class, 8, 0, 0};
    r.handle = IFFOpen(r.stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &r.info);
    ASSERT_GT(r.handle, 0);
    const Bytes lines(8, 3);
    ASSERT_EQ(IFFPutLine(r.handle, 2, lines.data()), IFF_OK);
}

// The current page's first line is all `fill`, and so is its palette, unless
// the page opened without one because that allocation failed.
void expect_page(Attempt &r, uint8_t fill) {
    Bytes palette(768);
    EXPECT_EQ(IFFControl(r.handle, IFF_REQ_PALETTE, 0, 0, palette.data()), r.injected ? IFF_ERR_MEMORY : IFF_OK);
    if (!r.injected) {
        EXPECT_EQ(palette, Bytes(768, fill));
    }
    Bytes line(size_t(r.info.width), 0xEE);
    ASSERT_EQ(IFFSeek(r.handle, 0), IFF_OK);
    ASSERT_EQ(IFFGetLine(r.handle, 1, line.data()), IFF_OK);
    EXPECT_EQ(line, Bytes(line.size(), fill));
}

void close_read(Attempt &r) {
    EXPECT_EQ(IFFClose(r.handle), IFF_OK);
    r.handle = 0;
}

// After a written file was closed: it opens and holds `palette`.
void expect_written_palette(Attempt &r, const Bytes &palette) {
    Attempt back;
    open_read(back, r.stream.data);
    IFFControl(back.handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    Bytes got(768);
    EXPECT_EQ(IFFControl(back.handle, IFF_REQ_PALETTE, 0, 0, got.data()), IFF_OK);
    EXPECT_EQ(got, palette);
    close_read(back);
}

Bytes ramp() {
    Bytes palette;
    for (int k = 0; k < 256; ++k) palette.insert(palette.end(), {uint8_t(k), uint8_t(k), uint8_t(k)});
    return palette;
}

struct Scenario {
    const char *name;
    void (*prepare)(Attempt &);
    int32_t (*step)(Attempt &); // the step whose allocations fail in turn: its status
    // Checks the outcome of the step (status 0 or 5) and closes everything.
    void (*finish)(Attempt &, int32_t status);
};

const Scenario kScenarios[] = {
    {"read open of a PCX file", [](Attempt &) {},
     [](Attempt &r) {
         r.stream.data = page(8, 1);
         r.handle = IFFOpen(r.stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &r.info);
         return open_status(r.handle);
     },
     [](Attempt &r, int32_t status) {
         if (status != IFF_OK) return;
         expect_page(r, 1);
         close_read(r);
     }},
    {"read open of a DCX file", [](Attempt &) {},
     [](Attempt &r) {
         r.stream.data = two_pages();
         r.handle = IFFOpen(r.stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &r.info);
         return open_status(r.handle);
     },
     [](Attempt &r, int32_t status) {
         if (status != IFF_OK) return;
         expect_page(r, 1);
         close_read(r);
     }},
    {"write open", [](Attempt &) {},
     [](Attempt &r) {
         r.info = IFFImageInfo{0, 4, 2, 2, 8, 0, 0};
         r.handle = IFFOpen(r.stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &r.info);
         return open_status(r.handle);
     },
     [](Attempt &r, int32_t status) {
         if (status != IFF_OK) return;
         Bytes palette(768, 9);
         EXPECT_EQ(IFFControl(r.handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
         EXPECT_EQ(IFFClose(r.handle), IFF_OK);
     }},
    {"page selection", [](Attempt &r) { open_read(r, two_pages()); },
     [](Attempt &r) { return IFFControl(r.handle, IFF_REQ_SELECT_PAGE, 0, 1, nullptr); },
     [](Attempt &r, int32_t status) {
         // A page that opened without its palette is still the selected page.
         if (status == IFF_OK) {
             expect_page(r, 2);
         } else {
             r.injected = false;
             ASSERT_EQ(IFFControl(r.handle, IFF_REQ_SELECT_PAGE, 0, 1, nullptr), IFF_OK);
             expect_page(r, 2);
         }
         r.injected = false;
         ASSERT_EQ(IFFControl(r.handle, IFF_REQ_SELECT_PAGE, 0, 0, nullptr), IFF_OK);
         expect_page(r, 1);
         close_read(r);
     }},
    {"palette replacement on a write handle", [](Attempt &r) { open_write(r, 2); },
     [](Attempt &r) { return IFFControl(r.handle, IFF_REQ_PALETTE, 0, 0, Bytes(768, 5).data()); },
     [](Attempt &r, int32_t status) {
         if (status != IFF_OK) {
             EXPECT_EQ(IFFClose(r.handle), IFF_ERR_FORMAT) << "no palette to store";
             ASSERT_TRUE(is_live(r.handle));
             ASSERT_EQ(IFFControl(r.handle, IFF_REQ_PALETTE, 0, 0, Bytes(768, 5).data()), IFF_OK);
         }
         ASSERT_EQ(IFFClose(r.handle), IFF_OK);
         expect_written_palette(r, Bytes(768, 5));
     }},
    {"palette replacement on a lines-only handle", [](Attempt &r) { open_read(r, page(8, 1), IFF_MODE_READ_LINES); },
     [](Attempt &r) { return IFFControl(r.handle, IFF_REQ_PALETTE, 0, 0, Bytes(768, 5).data()); },
     [](Attempt &r, int32_t) {
         Bytes line(8);
         EXPECT_EQ(IFFGetLine(r.handle, 1, line.data()), IFF_OK);
         EXPECT_EQ(line, Bytes(8, 1));
         close_read(r);
     }},
    {"close of a gray image without palette", [](Attempt &r) { open_write(r, 1); },
     [](Attempt &r) { return IFFClose(r.handle); },
     [](Attempt &r, int32_t status) {
         if (status != IFF_OK) {
             ASSERT_TRUE(is_live(r.handle)) << "a failed palette step keeps the handle";
             EXPECT_TRUE(r.stream.is_open());
             ASSERT_EQ(IFFClose(r.handle), IFF_OK);
         }
         expect_written_palette(r, ramp());
     }},
};

TEST(AllocationFailure, EveryAllocationOfAStepFailsCleanly) {
    for (const Scenario &s : kScenarios) {
        // The Nth allocation fails, for N = 1, 2, ... until the step makes
        // fewer than N and so runs clean.
        uint64_t n = 1;
        for (bool injected = true; injected; ++n) {
            const int64_t before = live_blocks();
            {
                Attempt r;
                s.prepare(r);
                iff::heap_fail_after(n);
                const int32_t status = s.step(r);
                injected = r.injected = iff::heap_fail_after(0) >= n;
                if (injected)
                    EXPECT_TRUE(status == IFF_OK || status == IFF_ERR_MEMORY) << s.name << ", allocation " << n;
                else
                    EXPECT_EQ(status, IFF_OK) << s.name;
                s.finish(r, status);
                EXPECT_FALSE(r.stream.is_open()) << s.name << ", allocation " << n;
            }
            EXPECT_EQ(live_blocks(), before) << s.name << ", allocation " << n << " left blocks behind";
            if (HasFatalFailure()) return;
        }
        EXPECT_GT(n, 2u) << s.name << ": the step allocates nothing";
    }
}

} // namespace
