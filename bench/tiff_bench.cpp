// Writing the pages of a 50-page fax DCX file as one Group 4 TIFF file, the
// job later compared with other programs doing the same. Rows split where the
// time goes: decoding the DCX into packed rows (1 = black), coding them as
// Group 4, and writing the file.
//
// The pages are those of IFFPCX_BENCH_FAX_DCX when it names a DCX file (the
// workload bench/compare_peers.sh makes: build/peers/inputs/fax50.dcx), else
// 50 synthetic text pages of 1728 x 2200 written by the library.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/pcx_format.h"
#include "iffpcx.h"
#include "image/base/memory_stream.h"
#include "image/tiff/tiff_writer.h"
#include "synthetic_images.h"

namespace {

using Bytes = std::vector<uint8_t>;
using iff::tiff::Compression;
using iff::tiff::Status;

constexpr int kPages = 50;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
    std::abort();
}

Bytes read_whole(const char *path) {
    Bytes bytes;
    if (std::FILE *f = std::fopen(path, "rb")) {
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

// 50 copies of a synthetic page as a DCX file: signature, offsets, 0, pages.
Bytes synthetic_dcx() {
    const bench::HostImage image = bench::text_page(1728, 2200);
    image::MemoryStream host;
    IFFImageInfo info = image.info;
    const int32_t handle = IFFOpen(host.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
    if (handle <= 0 || IFFPutLine(handle, uint32_t(info.height), image.pixels.data()) != IFF_OK ||
        IFFClose(handle) != IFF_OK)
        fail("encoding the fax page");
    const Bytes page = host.data;
    Bytes dcx;
    auto put32 = [&dcx](uint32_t v) {
        for (int i = 0; i < 4; ++i) dcx.push_back(uint8_t(v >> (8 * i)));
    };
    put32(pcx_format::kDcxSignature);
    for (int p = 0; p < kPages; ++p)
        put32(uint32_t(pcx_format::kDcxEntrySize * (kPages + 2) + size_t(p) * page.size()));
    put32(0);
    for (int p = 0; p < kPages; ++p) dcx.insert(dcx.end(), page.begin(), page.end());
    return dcx;
}

const Bytes &fax_dcx() {
    static const Bytes dcx = [] {
        const char *path = std::getenv("IFFPCX_BENCH_FAX_DCX");
        Bytes file = path != nullptr ? read_whole(path) : Bytes{};
        return file.empty() ? synthetic_dcx() : file;
    }();
    return dcx;
}

struct FaxPage {
    int32_t width = 0, height = 0, dpi_x = 0, dpi_y = 0;
    size_t stride = 0;
    Bytes rows; // packed, 1 = black
};

// Decodes the pages one after another into page (its rows reused), packed
// rows of 1 for black, as the whole-image layer hands them to the writer, and
// calls take(page) for each. A PCX bilevel page's bit 1 is white, so the
// packed rows are complemented.
template <typename Take> int32_t decode_pages(const Bytes &dcx, FaxPage &page, Take &&take) {
    image::MemoryStream host(image::ByteView(dcx.data(), dcx.size()));
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(host.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) return -handle;
    uint16_t count = 0;
    int32_t status = IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &count);
    for (uint16_t p = 0; status == IFF_OK && p < count; ++p) {
        if (p > 0) status = IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, p, nullptr);
        if (status == IFF_OK) status = IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_PACKED, 0, nullptr);
        uint32_t stride = 0;
        int32_t dpi[2] = {};
        if (status == IFF_OK) status = IFFControl(handle, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
        if (status == IFF_OK) status = IFFControl(handle, IFF_REQ_RESOLUTION, 3, 0, dpi);
        page.width = info.width;
        page.height = info.height;
        page.dpi_x = dpi[0];
        page.dpi_y = dpi[1];
        page.stride = stride;
        page.rows.resize(size_t(stride) * size_t(info.height));
        if (status == IFF_OK) status = IFFGetLine(handle, uint32_t(info.height), page.rows.data());
        for (uint8_t &b : page.rows) b = uint8_t(~b);
        if (status == IFF_OK && !take(page)) status = IFF_ERR_WRITE;
    }
    const int32_t closed = IFFClose(handle);
    return status != IFF_OK ? status : closed;
}

const std::vector<FaxPage> &fax_pages() {
    static const std::vector<FaxPage> pages = [] {
        std::vector<FaxPage> decoded;
        FaxPage page;
        if (decode_pages(fax_dcx(), page,
                         [&decoded](const FaxPage &p) {
                             decoded.push_back(p);
                             return true;
                         }) != IFF_OK ||
            decoded.empty())
            fail("decoding the fax DCX");
        return decoded;
    }();
    return pages;
}

bool write_page(iff::tiff::Writer &writer, const FaxPage &p) {
    iff::tiff::Page page;
    page.width = p.width;
    page.height = p.height;
    page.kind = iff::tiff::Kind::bilevel;
    page.dpi_x = p.dpi_x;
    page.dpi_y = p.dpi_y;
    return writer.begin_page(page, nullptr) == Status::ok &&
           writer.write_rows(p.rows.data(), size_t(p.height), p.stride, nullptr) == Status::ok;
}

Status write_pages(iff::tiff::Writer &writer, const std::vector<FaxPage> &pages) {
    for (const FaxPage &p : pages) {
        if (!write_page(writer, p)) return Status::write;
    }
    return writer.finish(nullptr);
}

void report(benchmark::State &state, uint64_t out_bytes) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(fax_pages().size()));
    state.counters["tiff_bytes"] = double(out_bytes);
    state.counters["dcx_bytes"] = double(fax_dcx().size());
}

// The writer into memory: Group 4 coding (or, with none, only the rows'
// way through the writer and libtiff) without any I/O.
void WriteToMemory(benchmark::State &state, Compression compression) {
    const std::vector<FaxPage> &pages = fax_pages();
    uint64_t size = 0;
    for (auto _ : state) {
        std::unique_ptr<iff::tiff::Writer> writer;
        if (iff::tiff::Writer::to_memory(compression, writer, nullptr) != Status::ok ||
            write_pages(*writer, pages) != Status::ok) {
            state.SkipWithError("writing failed");
            break;
        }
        writer->bytes(reinterpret_cast<size_t &>(size));
    }
    report(state, size);
}

std::string output_path() {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/iffpcx_bench_fax50.tif";
}

// The same into a file: what I/O adds.
void WriteToFile(benchmark::State &state) {
    const std::vector<FaxPage> &pages = fax_pages();
    const std::string path = output_path();
    uint64_t size = 0;
    for (auto _ : state) {
        std::unique_ptr<iff::tiff::Writer> writer;
        if (iff::tiff::Writer::to_path(path.c_str(), Compression::g4, writer, nullptr) != Status::ok ||
            write_pages(*writer, pages) != Status::ok) {
            state.SkipWithError("writing failed");
            break;
        }
        size = writer->bytes_so_far();
    }
    std::remove(path.c_str());
    report(state, size);
}

// Decoding the DCX into packed rows of 1 = black, as the job needs before the writer.
void DecodeDcx(benchmark::State &state) {
    const Bytes &dcx = fax_dcx();
    FaxPage page;
    for (auto _ : state) {
        if (decode_pages(dcx, page, [](const FaxPage &p) {
                benchmark::DoNotOptimize(p.rows.data());
                return true;
            }) != IFF_OK) {
            state.SkipWithError("decoding failed");
            break;
        }
    }
    report(state, 0);
}

// The whole job in one process, a page at a time: DCX in memory to a Group 4
// TIFF file.
void DcxToFile(benchmark::State &state) {
    const Bytes &dcx = fax_dcx();
    const std::string path = output_path();
    FaxPage page;
    for (auto _ : state) {
        std::unique_ptr<iff::tiff::Writer> writer;
        if (iff::tiff::Writer::to_path(path.c_str(), Compression::g4, writer, nullptr) != Status::ok ||
            decode_pages(dcx, page, [&writer](const FaxPage &p) { return write_page(*writer, p); }) != IFF_OK ||
            writer->finish(nullptr) != Status::ok) {
            state.SkipWithError("the job failed");
            break;
        }
    }
    std::remove(path.c_str());
    report(state, 0);
}

BENCHMARK_CAPTURE(WriteToMemory, fax50_g4, Compression::g4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteToMemory, fax50_uncoded, Compression::none)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteToFile)->Name("WriteToFile/fax50_g4")->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeDcx)->Name("DecodeDcx/fax50_packed_black_is_1")->Unit(benchmark::kMillisecond);
BENCHMARK(DcxToFile)->Name("DcxToTiffFile/fax50_g4")->Unit(benchmark::kMillisecond);

} // namespace
