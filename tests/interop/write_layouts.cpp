// Writes one PPM image as PCX files in every layout that can hold it, for
// other programs to read back. Prints one line per file written:
//   path layout width height gap
// where gap is the number of bytes between the end of the image data and the
// start of the 256-colour block (-1 for layouts without the block).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Layout {
    const char *name;
    int32_t bits;
    uint32_t color_class;
    int32_t depth;           // 24 for RGB
    bool after_data = false; // the 256-colour block right behind the data
};

uint32_t rgb_key(const uint8_t *p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// Colours in the order they first appear.
struct Colours {
    std::vector<uint32_t> list;
    std::map<uint32_t, uint8_t> index;
    bool gray = true;
    bool black_and_white = true;
};

Colours count_colours(const test::Image &image) {
    Colours c;
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        const uint8_t *p = &image.rgb[i];
        const uint32_t key = rgb_key(p);
        c.gray = c.gray && p[0] == p[1] && p[1] == p[2];
        c.black_and_white = c.black_and_white && (key == 0 || key == 0xFFFFFF);
        if (c.index.count(key) || c.list.size() > 256) continue;
        c.index[key] = uint8_t(c.list.size());
        c.list.push_back(key);
    }
    return c;
}

std::vector<Layout> layouts_for(const Colours &c) {
    std::vector<Layout> out;
    const size_t n = c.list.size();
    if (c.black_and_white) out.push_back({"bilevel", 1, 0, 1});
    if (n <= 4) out.push_back({"packed2", 2, 2, 2});
    if (n <= 8) out.push_back({"planes3", 3, 2, 3});
    if (n <= 16) out.push_back({"planes4", 4, 2, 4});
    if (n <= 256) out.push_back({"palette8", 8, 2, 8});
    if (n <= 256) out.push_back({"palette8_after", 8, 2, 8, true});
    if (c.gray) out.push_back({"gray8", 8, 1, 8});
    if (c.gray) out.push_back({"gray8_after", 8, 1, 8, true});
    out.push_back({"rgb24", 8, 3, 24});
    return out;
}

// The host's line for a layout: RGB bytes, or one value a byte (layout 1).
Bytes host_line(const test::Image &image, const Colours &c, const Layout &l, int y) {
    const uint8_t *row = &image.rgb[size_t(y) * size_t(image.width) * 3];
    if (l.depth == 24) return Bytes(row, row + size_t(image.width) * 3);
    Bytes line(size_t(image.width));
    for (size_t x = 0; x < line.size(); ++x) {
        const uint8_t *p = row + 3 * x;
        if (l.color_class == 0)
            line[x] = p[0] ? 1 : 0;
        else if (l.color_class == 1)
            line[x] = p[0];
        else
            line[x] = c.index.at(rgb_key(p));
    }
    return line;
}

bool write_layout(const test::Image &image, const Colours &c, const Layout &l, const std::string &path) {
    test::MemoryStream stream;
    IFFImageInfo info{};
    info.width = image.width;
    info.height = image.height;
    info.color_class = l.color_class;
    info.bits = l.bits;
    const int32_t handle = IFFOpen(stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
    if (handle <= 0) {
        std::fprintf(stderr, "%s: open for writing failed: %d\n", path.c_str(), handle);
        return false;
    }
    int32_t status = IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    if (status == 0 && l.after_data)
        status = IFFControl(handle, IFF_REQ_PALETTE_PLACEMENT, IFF_PALETTE_AFTER_DATA, 0, nullptr);
    if (status == 0 && l.color_class == 2) {
        Bytes palette(3u << l.depth, 0);
        for (size_t k = 0; k < c.list.size(); ++k) {
            palette[3 * k] = uint8_t(c.list[k] >> 16);
            palette[3 * k + 1] = uint8_t(c.list[k] >> 8);
            palette[3 * k + 2] = uint8_t(c.list[k]);
        }
        status = IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data());
    }
    for (int y = 0; y < image.height && status == 0; ++y) {
        const Bytes line = host_line(image, c, l, y);
        status = IFFPutLine(handle, 1, line.data());
    }
    const int64_t data_end = stream.position;
    const int32_t closed = IFFClose(handle);
    if (status != 0 || closed != 0) {
        std::fprintf(stderr, "%s: writing failed: %d, close %d\n", path.c_str(), status, closed);
        return false;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(stream.data.data()), std::streamsize(stream.data.size()));
    if (!out) {
        std::fprintf(stderr, "%s: cannot write the file\n", path.c_str());
        return false;
    }
    const int64_t gap = l.depth == 8 ? int64_t(stream.data.size()) - 769 - data_end : -1;
    std::printf("%s %s %d %d %lld\n", path.c_str(), l.name, image.width, image.height, static_cast<long long>(gap));
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE.ppm OUTPUT-DIR\n", argv[0]);
        return 2;
    }
    test::Image image;
    if (!test::read_ppm(argv[1], image)) {
        std::fprintf(stderr, "%s: not a binary PPM of maxval 255\n", argv[1]);
        return 2;
    }
    std::string stem = argv[1];
    stem = stem.substr(stem.find_last_of('/') + 1);
    stem = stem.substr(0, stem.rfind(".ppm"));
    const Colours colours = count_colours(image);
    bool ok = true;
    for (const Layout &l : layouts_for(colours))
        ok = write_layout(image, colours, l, std::string(argv[2]) + "/" + stem + "." + l.name + ".pcx") && ok;
    return ok ? 0 : 1;
}
