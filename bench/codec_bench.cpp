// Whole images of about 2000 x 2000 pixels decoded and encoded through the
// entry points. Bytes per second count the host's side: decoded output for
// decoding, host image bytes taken in for encoding.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "image/base/memory_stream.h"
#include "synthetic_images.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kWidth = 2000;
constexpr int32_t kHeight = 2000;

enum Kind { kGray8, kRgb24, kBilevel, kFlat8, kKinds };

[[noreturn]] void fail(const char *what, int32_t status) {
    std::fprintf(stderr, "benchmark set-up failed: %s (%d)\n", what, status);
    std::abort();
}

// Host bytes of one line in a sample layout: packed 1-bit lines are shorter
// than the one byte a pixel of the other layouts, though they lie as far apart.
int32_t host_line_bytes(const bench::HostImage &image, int32_t format) {
    if (image.info.bits == 1 && format == IFF_PIXELS_PACKED) return (image.info.width + 7) / 8;
    return image.line_bytes;
}

// The packed form of a 1-bit image, each line at the start of its stride.
Bytes pack_lines(const bench::HostImage &image) {
    Bytes packed(image.pixels.size(), 0);
    const size_t stride = size_t(image.line_bytes);
    for (size_t at = 0; at < image.pixels.size(); ++at) {
        const size_t x = at % stride;
        if (image.pixels[at] & 0x80) packed[at - x + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    return packed;
}

int32_t encode(const bench::HostImage &image, const uint8_t *lines, int32_t format, Bytes &out) {
    // The output's room is kept from run to run: the stream writes into it.
    image::MemoryStream host;
    host.data.swap(out);
    IFFImageInfo info = image.info;
    const int32_t handle = IFFOpen(host.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
    int32_t status = handle <= 0 ? -handle : IFFControl(handle, IFF_REQ_PIXEL_FORMAT, uint32_t(format), 0, nullptr);
    if (handle > 0 && status == 0) status = IFFPutLine(handle, uint32_t(info.height), lines);
    const int32_t closed = handle > 0 ? IFFClose(handle) : 0;
    out.swap(host.data);
    return status ? status : closed;
}

int32_t decode(const Bytes &file, int32_t format, uint8_t *lines, int32_t height) {
    image::MemoryStream host(image::ByteView(file.data(), file.size()));
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(host.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) return -handle;
    int32_t status = IFFControl(handle, IFF_REQ_PIXEL_FORMAT, uint32_t(format), 0, nullptr);
    if (status == 0) status = IFFGetLine(handle, uint32_t(height), lines);
    const int32_t closed = IFFClose(handle);
    return status ? status : closed;
}

struct Fixture {
    bench::HostImage image;
    Bytes packed; // 1-bit only
    Bytes file;   // the image as the library writes it
};

const Fixture &fixture(Kind kind) {
    static Fixture *fixtures[kKinds];
    if (fixtures[kind]) return *fixtures[kind];
    auto *f = new Fixture{kind == kGray8   ? bench::shaded_gray(kWidth, kHeight)
                          : kind == kRgb24 ? bench::shaded_rgb(kWidth, kHeight)
                          : kind == kFlat8 ? bench::flat_gray(kWidth, kHeight)
                                           : bench::text_page(kWidth, kHeight),
                          {},
                          {}};
    if (kind == kBilevel) f->packed = pack_lines(f->image);
    if (int32_t status = encode(f->image, f->image.pixels.data(), IFF_PIXELS_SCALED, f->file))
        fail("encoding the image", status);
    // The benchmark is only worth its figures if the image comes back.
    Bytes back(f->image.pixels.size());
    if (int32_t status = decode(f->file, IFF_PIXELS_SCALED, back.data(), kHeight)) fail("decoding the image", status);
    if (back != f->image.pixels) fail("the image did not read back", 0);
    fixtures[kind] = f;
    return *f;
}

void report(benchmark::State &state, const Fixture &f, int32_t format) {
    const int64_t bytes = int64_t(host_line_bytes(f.image, format)) * f.image.info.height;
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * f.image.info.width * f.image.info.height);
    state.counters["coded_bytes"] = double(f.file.size());
}

void Decode(benchmark::State &state, Kind kind, int32_t format) {
    const Fixture &f = fixture(kind);
    Bytes lines(f.image.pixels.size());
    for (auto _ : state) {
        if (int32_t status = decode(f.file, format, lines.data(), f.image.info.height)) {
            state.SkipWithError("decoding failed");
            (void)status;
            break;
        }
        benchmark::DoNotOptimize(lines.data());
        benchmark::ClobberMemory();
    }
    report(state, f, format);
}

void Encode(benchmark::State &state, Kind kind, int32_t format) {
    const Fixture &f = fixture(kind);
    const uint8_t *lines = kind == kBilevel && format == IFF_PIXELS_PACKED ? f.packed.data() : f.image.pixels.data();
    Bytes out;
    out.reserve(2 * f.file.size());
    for (auto _ : state) {
        if (encode(f.image, lines, format, out)) {
            state.SkipWithError("encoding failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, f, format);
}

// Files named in IFFPCX_BENCH_FILES (separated by ':') decode too, in the
// layout pcxtool asks for: a byte per pixel, three for RGB.
void DecodeFile(benchmark::State &state, std::string path) {
    Bytes file;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) file.insert(file.end(), chunk, chunk + n);
        std::fclose(f);
    }
    image::MemoryStream probe(image::ByteView(file.data(), file.size()));
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(probe.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) {
        state.SkipWithError("cannot open the file");
        return;
    }
    IFFClose(handle);
    const size_t line = size_t(info.width) * (info.color_class == 3 ? 3 : 1);
    Bytes lines(line * size_t(info.height));
    for (auto _ : state) {
        if (decode(file, IFF_PIXELS_INDEX, lines.data(), info.height)) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(lines.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(lines.size()));
    state.counters["coded_bytes"] = double(file.size());
}

const bool kFilesRegistered = [] {
    const char *list = std::getenv("IFFPCX_BENCH_FILES");
    for (std::string rest = list ? list : ""; !rest.empty();) {
        const size_t colon = rest.find(':');
        const std::string path = rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        if (!path.empty())
            benchmark::RegisterBenchmark(("DecodeFile/" + path.substr(path.find_last_of('/') + 1)).c_str(), DecodeFile,
                                         path)
                ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

BENCHMARK_CAPTURE(Decode, gray8_few_runs, kGray8, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, rgb24, kRgb24, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, flat8_runs, kFlat8, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, bilevel_text_byte_per_pixel, kBilevel, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, bilevel_text_packed, kBilevel, IFF_PIXELS_PACKED)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(Encode, gray8_few_runs, kGray8, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, rgb24, kRgb24, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, bilevel_text_byte_per_pixel, kBilevel, IFF_PIXELS_SCALED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, bilevel_text_packed, kBilevel, IFF_PIXELS_PACKED)->Unit(benchmark::kMillisecond);

} // namespace
