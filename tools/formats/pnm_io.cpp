#include "pnm_io.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "format_error.h"
#include "palette_rows.h"

namespace pcxtool {

namespace {

// The formats' whitespace: blanks, tabs, carriage returns and line feeds
// (not the vertical tab and form feed that isspace counts too).
bool is_pnm_space(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class PnmParser {
  public:
    PnmParser(ByteView bytes, const std::string &name) : bytes_(bytes), name_(name) {}

    // A header number: whitespace and '#' comments may precede it.
    uint32_t number(const char *what) {
        skip_space_and_comments();
        if (at_ >= bytes_.size() || !std::isdigit(bytes_[at_])) {
            fail(std::string("expected the ") + what);
        }
        uint64_t value = 0;
        while (at_ < bytes_.size() && std::isdigit(bytes_[at_])) {
            value = value * 10 + static_cast<uint64_t>(bytes_[at_++] - '0');
            if (value > 0xFFFFFFFFu) {
                fail(std::string("the ") + what + " is too large");
            }
        }
        return static_cast<uint32_t>(value);
    }

    // Plain PBM bits need no separators: each is one character.
    uint32_t plain_bit() {
        skip_space_and_comments();
        if (at_ >= bytes_.size() || (bytes_[at_] != '0' && bytes_[at_] != '1')) {
            fail("the pixel data end early or hold something other than 0 and 1");
        }
        return bytes_[at_++] == '1' ? 1u : 0u;
    }

    // The single whitespace byte between a raw header and its data.
    void end_of_header() {
        if (at_ >= bytes_.size() || !is_pnm_space(bytes_[at_])) {
            fail("the header does not end in whitespace");
        }
        ++at_;
    }

    const uint8_t *raw(size_t count) {
        if (bytes_.size() - at_ < count) {
            fail("the pixel data end early");
        }
        const uint8_t *data = bytes_.data() + at_;
        at_ += count;
        return data;
    }

    size_t remaining() const { return bytes_.size() - at_; }
    size_t position() const { return at_; }

    // A PAM header word: letters, digits and underscores.
    std::string word() {
        skip_space_and_comments();
        std::string text;
        while (at_ < bytes_.size() && !is_pnm_space(bytes_[at_]) && text.size() < 64) {
            text += static_cast<char>(bytes_[at_++]);
        }
        return text;
    }

    [[noreturn]] void fail(const std::string &why) const {
        throw format_error(name_ + ": not a valid PNM image: " + why);
    }

  private:
    void skip_space_and_comments() {
        while (at_ < bytes_.size()) {
            if (is_pnm_space(bytes_[at_])) {
                ++at_;
            } else if (bytes_[at_] == '#') {
                while (at_ < bytes_.size() && bytes_[at_] != '\n' && bytes_[at_] != '\r') {
                    ++at_;
                }
            } else {
                break;
            }
        }
    }

    ByteView bytes_;
    const std::string &name_;
    size_t at_ = 2;
};

// byte b of a PBM row (1 black) as 8 gray bytes, or 24 RGB bytes.
template <size_t BytesPerPixel> struct BitsToPixels { uint8_t bytes[256][8 * BytesPerPixel]; };

template <size_t BytesPerPixel> constexpr BitsToPixels<BytesPerPixel> make_bits_to_pixels() {
    BitsToPixels<BytesPerPixel> table{};
    for (size_t b = 0; b < 256; ++b) {
        for (size_t k = 0; k < 8; ++k) {
            const uint8_t level = (b >> (7 - k)) & 1 ? 0 : 255;
            for (size_t c = 0; c < BytesPerPixel; ++c) {
                table.bytes[b][k * BytesPerPixel + c] = level;
            }
        }
    }
    return table;
}

constexpr BitsToPixels<1> kBitsToGray = make_bits_to_pixels<1>();
constexpr BitsToPixels<3> kBitsToRgb = make_bits_to_pixels<3>();

class PnmSink : public RowSink {
  public:
    PnmSink(ByteOutput &file, PnmType type, int32_t first_row = 0) : file_(file), asked_(type), first_row_(first_row) {}

    void begin(const PageImage &image) override {
        image_ = image;
        type_ = asked_;
        if (image.kind == PageKind::Rgba) {
            begin_pam(image);
            return;
        }
        const PnmType natural = image.kind == PageKind::Bilevel ? PnmType::Pbm
                                : image.kind == PageKind::Gray  ? PnmType::Pgm
                                                                : PnmType::Ppm;
        if (type_ == PnmType::Any) {
            type_ = natural;
        }
        if ((type_ == PnmType::Pbm && natural != PnmType::Pbm) || (type_ == PnmType::Pgm && natural == PnmType::Ppm)) {
            static const char *const kKinds[] = {"bilevel", "grayscale", "palette colour", "RGB"};
            throw format_error(file_.target() + ": a " + (type_ == PnmType::Pbm ? "PBM" : "PGM") +
                               " file cannot hold this " + kKinds[static_cast<int>(image.kind)] +
                               " page; name the output .ppm or .pnm");
        }
        std::string header;
        if (type_ == PnmType::Pam) {
            // Rows as PGM or PPM rows, or for a bilevel page a byte a pixel,
            // 1 white (type_ stays Pam for those).
            header = natural == PnmType::Pbm   ? pam_header(image, 1, 1, "BLACKANDWHITE")
                     : natural == PnmType::Pgm ? pam_header(image, 1, 255, "GRAYSCALE")
                                               : pam_header(image, 3, 255, "RGB");
            type_ = natural == PnmType::Pbm ? PnmType::Pam : natural;
        } else {
            const char *magic = type_ == PnmType::Pbm ? "P4" : type_ == PnmType::Pgm ? "P5" : "P6";
            header = std::string(magic) + "\n" + std::to_string(image.width) + " " + std::to_string(image.height) +
                     "\n" + (type_ == PnmType::Pbm ? "" : "255\n");
        }
        if (first_row_ == 0) {
            file_.write(reinterpret_cast<const uint8_t *>(header.data()), header.size());
        } else {
            // A later part: its rows start behind the header and the rows before.
            const size_t width = static_cast<size_t>(image.width);
            const size_t row_bytes = type_ == PnmType::Pbm                            ? (width + 7) / 8
                                     : type_ == PnmType::Pgm || type_ == PnmType::Pam ? width
                                                                                      : 3 * width;
            place_ = header.size() + static_cast<uint64_t>(first_row_) * row_bytes;
        }
        out_.clear();
        // What each byte of a one-byte-per-pixel row stands for.
        uint8_t triples[256][3];
        for (size_t value = 0; value < 256; ++value) {
            Rgb colour{};
            const auto v = static_cast<uint8_t>(value);
            switch (image.kind) {
            case PageKind::Bilevel: colour = v ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; break;
            case PageKind::Gray: colour = Rgb{v, v, v}; break;
            case PageKind::Indexed: colour = value < image.palette.size() ? image.palette[value] : Rgb{0, 0, 0}; break;
            case PageKind::Rgb:
            case PageKind::Rgba: break;
            }
            colours_[value] = Rgbx{{colour.r, colour.g, colour.b, 0}};
            triples[value][0] = colour.r;
            triples[value][1] = colour.g;
            triples[value][2] = colour.b;
        }
        palette_rows_ = std::make_unique<PaletteRows>(triples);
    }

    void row(const uint8_t *pixels) override { rows(pixels, 1, 0); }

    bool takes_packed_bilevel() const override { return true; }

    void rows(const uint8_t *pixels, size_t count, size_t stride) override {
        const size_t width = static_cast<size_t>(image_.width);
        if (image_.kind == PageKind::Rgba) {
            // red, green, blue, alpha as delivered
            for (size_t k = 0; k < count; ++k) {
                put(pixels + k * stride, 4 * width);
            }
            return;
        }
        const size_t out_bytes = type_ == PnmType::Pbm                            ? (width + 7) / 8
                                 : type_ == PnmType::Pgm || type_ == PnmType::Pam ? width
                                                                                  : 3 * width;
        // Rows already in the file's form go out as they are.
        const bool as_they_are =
            (image_.kind == PageKind::Bilevel && image_.packed_bilevel && type_ == PnmType::Pbm) ||
            (image_.kind == PageKind::Bilevel && !image_.packed_bilevel && type_ == PnmType::Pam) ||
            (image_.kind == PageKind::Gray && type_ == PnmType::Pgm) ||
            (image_.kind == PageKind::Rgb && type_ == PnmType::Ppm);
        if (as_they_are && (stride == out_bytes || count == 1)) {
            put(pixels, count * out_bytes);
            return;
        }
        if (out_.size() < count * out_bytes) {
            out_.resize(count * out_bytes);
        }
        for (size_t k = 0; k < count; ++k) {
            convert_row(pixels + k * stride, out_.data() + k * out_bytes, width);
        }
        put(out_.data(), count * out_bytes);
    }

    void finish() override {}

  private:
    // Rows go out in order, or at their place for a later part.
    void put(const uint8_t *data, size_t size) {
        if (first_row_ == 0) {
            file_.write(data, size);
        } else {
            file_.write_at(place_, data, size);
            place_ += size;
        }
    }

    void convert_row(const uint8_t *pixels, uint8_t *out, size_t width) const {
        if (image_.kind == PageKind::Bilevel && image_.packed_bilevel) {
            // Eight pixels of a PBM byte (1 black) to eight PGM or PPM pixels.
            const size_t whole = width / 8;
            const size_t bytes_per_pixel = type_ == PnmType::Pbm ? 0 : type_ == PnmType::Pgm ? 1 : 3;
            if (bytes_per_pixel == 0) {
                std::memcpy(out, pixels, (width + 7) / 8);
                return;
            }
            if (type_ == PnmType::Pam) { // BLACKANDWHITE: 1 white, where PBM marks black
                for (size_t x = 0; x < width; ++x) {
                    out[x] = static_cast<uint8_t>(((pixels[x / 8] >> (7 - x % 8)) & 1) ^ 1);
                }
                return;
            }
            const uint8_t *table = bytes_per_pixel == 1 ? kBitsToGray.bytes[0] : kBitsToRgb.bytes[0];
            const size_t group = 8 * bytes_per_pixel;
            for (size_t i = 0; i < whole; ++i) {
                std::memcpy(out + i * group, table + pixels[i] * group, group);
            }
            if (width % 8 != 0) {
                std::memcpy(out + whole * group, table + pixels[whole] * group, (width % 8) * bytes_per_pixel);
            }
            return;
        }
        if (type_ == PnmType::Pam) {
            std::memcpy(out, pixels, width); // a bilevel row, 1 white
            return;
        }
        if (type_ == PnmType::Pbm) {
            std::memset(out, 0, (width + 7) / 8);
            for (size_t x = 0; x < width; ++x) {
                if (pixels[x] == 0) { // PBM marks black pixels
                    out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                }
            }
            return;
        }
        if (type_ == PnmType::Ppm && image_.kind == PageKind::Rgb) {
            std::memcpy(out, pixels, 3 * width);
        } else if (type_ == PnmType::Ppm) {
            palette_rows_->expand(pixels, width, out);
        } else {
            for (size_t x = 0; x < width; ++x) {
                out[x] = colours_[pixels[x]].rgbx[0];
            }
        }
    }

    // Only PAM holds alpha: a page with it goes there, or nowhere.
    void begin_pam(const PageImage &image) {
        if (type_ != PnmType::Any && type_ != PnmType::Pam) {
            const char *asked = type_ == PnmType::Pbm ? "PBM" : type_ == PnmType::Pgm ? "PGM" : "PPM";
            throw format_error(file_.target() + ": a " + asked +
                               " file cannot hold the alpha of this RGBA page; name the output .pnm (PAM) or .png");
        }
        const std::string header = pam_header(image, 4, 255, "RGB_ALPHA");
        if (first_row_ == 0) {
            file_.write(reinterpret_cast<const uint8_t *>(header.data()), header.size());
        } else {
            place_ = header.size() + static_cast<uint64_t>(first_row_) * 4 * static_cast<uint64_t>(image.width);
        }
    }

    static std::string pam_header(const PageImage &image, int depth, int maxval, const char *tuple_type) {
        return "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " + std::to_string(image.height) + "\nDEPTH " +
               std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) + "\nTUPLTYPE " + tuple_type + "\nENDHDR\n";
    }

    ByteOutput &file_;
    PnmType asked_;
    int32_t first_row_;
    uint64_t place_ = 0; // where a later part's next rows go
    PnmType type_ = PnmType::Any;
    PageImage image_;
    struct Rgbx {
        uint8_t rgbx[4];
    };
    std::array<Rgbx, 256> colours_{};
    std::unique_ptr<PaletteRows> palette_rows_; // the same colours, for PPM rows
    std::vector<uint8_t> out_;
};

} // namespace

bool has_pnm_signature(ByteView bytes) {
    return bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7';
}

namespace {

// What every header must say before any pixel memory is taken.
void check_header(const PnmParser &parser, uint32_t width, uint32_t height, uint32_t maxval, uint64_t max_pixels,
                  const std::string &name) {
    if (width == 0 || height == 0) {
        parser.fail("the image is empty");
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        parser.fail(std::to_string(width) + " x " + std::to_string(height) +
                    " pixels is larger than a PCX image can be");
    }
    if (maxval == 0 || maxval > 65535) {
        parser.fail("the maximum value must be 1 to 65535");
    }
    check_pixel_limit(width, height, max_pixels, name + ": ");
}

// A PAM image (P7): its header's fields in any order, then raw tuples.
RgbImage read_pam(PnmParser &parser, uint64_t max_pixels, const std::string &name, size_t &end) {
    uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    for (;;) {
        const std::string key = parser.word();
        if (key == "ENDHDR") {
            break;
        }
        if (key == "WIDTH") {
            width = parser.number("width");
        } else if (key == "HEIGHT") {
            height = parser.number("height");
        } else if (key == "DEPTH") {
            depth = parser.number("depth");
        } else if (key == "MAXVAL") {
            maxval = parser.number("maximum value");
        } else if (key == "TUPLTYPE") {
            parser.word(); // the depth says what the tuples hold
        } else {
            parser.fail(key.empty() ? "the header ends before ENDHDR" : "unknown header field '" + key + "'");
        }
    }
    parser.end_of_header();
    if (depth == 0 || depth > 4) {
        parser.fail("a depth of " + std::to_string(depth) +
                    "; pcxtool reads gray (1), gray and alpha (2), RGB (3) and RGB and alpha (4)");
    }
    check_header(parser, width, height, maxval, max_pixels, name);
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t sample_bytes = maxval > 255 ? 2 : 1;
    if (pixels * depth * sample_bytes > parser.remaining()) {
        parser.fail("the pixel data end early");
    }
    const uint8_t *data = parser.raw(pixels * depth * sample_bytes);
    end = parser.position();
    RgbImage image;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    uint8_t *const rgb = image.allocate(3 * pixels);
    const bool colour = depth >= 3;
    const bool alpha = depth == 2 || depth == 4;
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t tuple[4];
        for (size_t c = 0; c < depth; ++c) {
            const uint8_t *sample = data + (i * depth + c) * sample_bytes;
            const uint32_t value = sample_bytes == 2 ? static_cast<uint32_t>(sample[0] << 8 | sample[1]) : sample[0];
            if (value > maxval) {
                parser.fail("a sample exceeds the maximum value " + std::to_string(maxval));
            }
            tuple[c] = static_cast<uint8_t>((value * 255u + maxval / 2) / maxval);
        }
        for (size_t c = 0; c < 3; ++c) {
            const uint8_t value = tuple[colour ? c : 0];
            rgb[3 * i + c] = alpha ? blend_onto_white(value, tuple[depth - 1]) : value;
        }
    }
    return image;
}

RgbImage read_one(ByteView bytes, const std::string &name, uint64_t max_pixels, size_t &end) {
    if (!has_pnm_signature(bytes)) {
        throw format_error(name + ": not a PNM image");
    }
    if (bytes[1] == '7') {
        PnmParser parser(bytes, name);
        return read_pam(parser, max_pixels, name, end);
    }
    const int format = bytes[1] - '0';
    const bool bitmap = format == 1 || format == 4;
    const bool colour = format == 3 || format == 6;
    const bool plain = format <= 3;
    PnmParser parser(bytes, name);
    const uint32_t width = parser.number("width");
    const uint32_t height = parser.number("height");
    const uint32_t maxval = bitmap ? 1 : parser.number("maximum value");
    check_header(parser, width, height, maxval, max_pixels, name);
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t channels = colour ? 3 : 1;
    const size_t sample_bytes = maxval > 255 ? 2 : 1;
    if (!plain) {
        parser.end_of_header();
    }
    // The least the pixel data can take: raw rows exactly, a plain PBM pixel
    // one character, a plain sample a digit and a separator (but the last).
    // A header that claims more than the file holds is refused here, before
    // the image is allocated.
    const size_t least = format == 4   ? (width + 7) / 8 * height
                         : !plain      ? pixels * channels * sample_bytes
                         : format == 1 ? pixels
                                       : 2 * pixels * channels - 1;
    if (least > parser.remaining()) {
        parser.fail("the pixel data end early");
    }

    RgbImage image;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    auto scaled = [&](uint32_t value) {
        if (value > maxval) {
            parser.fail("a sample exceeds the maximum value " + std::to_string(maxval));
        }
        return static_cast<uint8_t>((value * 255u + maxval / 2) / maxval);
    };
    if (!plain && maxval == 255 && format != 4) {
        // Samples of 0..255 stand as they are: raw PPM pixels are the image's
        // own, used where they lie rather than copied.
        const uint8_t *data = parser.raw(pixels * channels);
        if (colour) {
            image.rgb = ByteView(data, 3 * pixels);
        } else {
            uint8_t *rgb = image.allocate(3 * pixels);
            for (size_t i = 0; i < pixels; ++i) {
                rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = data[i];
            }
        }
        end = parser.position();
        return image;
    }
    uint8_t *const rgb = image.allocate(3 * pixels);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t *packed_row = format == 4 ? parser.raw((width + 7) / 8) : nullptr;
        const uint8_t *raw_row = format == 5 || format == 6 ? parser.raw(width * channels * sample_bytes) : nullptr;
        for (size_t x = 0; x < width; ++x) {
            uint8_t *pixel = rgb + 3 * (y * width + x);
            if (bitmap) {
                const uint32_t black = format == 1 ? parser.plain_bit() : (packed_row[x / 8] >> (7 - x % 8)) & 1u;
                pixel[0] = pixel[1] = pixel[2] = black ? 0 : 255;
                continue;
            }
            for (size_t c = 0; c < channels; ++c) {
                uint32_t value = 0;
                if (plain) {
                    value = parser.number("sample");
                } else {
                    const uint8_t *sample = raw_row + (x * channels + c) * sample_bytes;
                    value = sample_bytes == 2 ? static_cast<uint32_t>(sample[0] << 8 | sample[1]) : sample[0];
                }
                pixel[c] = scaled(value);
            }
            if (!colour) {
                pixel[1] = pixel[2] = pixel[0];
            }
        }
    }
    end = parser.position();
    return image;
}

} // namespace

RgbImage read_pnm(ByteView bytes, const std::string &name, uint64_t max_pixels) {
    size_t end = 0;
    return read_one(bytes, name, max_pixels, end);
}

std::vector<RgbImage> read_pnm_images(ByteView bytes, const std::string &name, uint64_t max_pixels) {
    std::vector<RgbImage> images;
    size_t at = 0;
    for (;;) {
        size_t end = 0;
        const std::string which = images.empty() ? name : name + ": image " + std::to_string(images.size());
        images.push_back(read_one(bytes.slice(at, bytes.size()), which, max_pixels, end));
        at += end;
        while (at < bytes.size() && is_pnm_space(bytes[at])) {
            ++at;
        }
        if (!has_pnm_signature(bytes.slice(at, bytes.size()))) {
            return images;
        }
    }
}

std::unique_ptr<RowSink> make_pnm_sink(ByteOutput &file, PnmType type) {
    return std::make_unique<PnmSink>(file, type);
}

std::unique_ptr<RowSink> make_pnm_part_sink(ByteOutput &file, PnmType type, int32_t first_row) {
    return std::make_unique<PnmSink>(file, type, first_row);
}

} // namespace pcxtool
