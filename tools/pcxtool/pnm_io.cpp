#include "pnm_io.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "tool_error.h"

namespace pcxtool {

namespace {

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
        if (at_ >= bytes_.size() || !std::isspace(bytes_[at_])) {
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

    [[noreturn]] void fail(const std::string &why) const {
        throw input_error(name_ + ": not a valid PNM image: " + why);
    }

  private:
    void skip_space_and_comments() {
        while (at_ < bytes_.size()) {
            if (std::isspace(bytes_[at_])) {
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

class PnmSink : public RowSink {
  public:
    PnmSink(PendingFile &file, PnmType type) : file_(file), asked_(type) {}

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
            throw input_error(file_.target() + ": a " + (type_ == PnmType::Pbm ? "PBM" : "PGM") +
                              " file cannot hold this " + kKinds[static_cast<int>(image.kind)] +
                              " page; name the output .ppm or .pnm");
        }
        const char *magic = type_ == PnmType::Pbm ? "P4" : type_ == PnmType::Pgm ? "P5" : "P6";
        std::string header = std::string(magic) + "\n" + std::to_string(image.width) + " " +
                             std::to_string(image.height) + "\n" + (type_ == PnmType::Pbm ? "" : "255\n");
        file_.write(reinterpret_cast<const uint8_t *>(header.data()), header.size());
        const size_t width = static_cast<size_t>(image.width);
        out_.assign(type_ == PnmType::Pbm ? (width + 7) / 8 : type_ == PnmType::Pgm ? width : 3 * width, 0);
    }

    void row(const uint8_t *pixels) override {
        const size_t width = static_cast<size_t>(image_.width);
        if (image_.kind == PageKind::Rgba) {
            file_.write(pixels, 4 * width); // red, green, blue, alpha as delivered
            return;
        }
        if (type_ == PnmType::Pbm) {
            std::fill(out_.begin(), out_.end(), 0);
            for (size_t x = 0; x < width; ++x) {
                if (pixels[x] == 0) { // PBM marks black pixels
                    out_[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                }
            }
        } else {
            for (size_t x = 0; x < width; ++x) {
                Rgb colour{};
                switch (image_.kind) {
                case PageKind::Bilevel: {
                    const auto level = static_cast<uint8_t>(pixels[x] ? 255 : 0);
                    colour = Rgb{level, level, level};
                    break;
                }
                case PageKind::Gray: colour = Rgb{pixels[x], pixels[x], pixels[x]}; break;
                case PageKind::Indexed: colour = image_.palette[pixels[x]]; break;
                case PageKind::Rgb: colour = Rgb{pixels[3 * x], pixels[3 * x + 1], pixels[3 * x + 2]}; break;
                case PageKind::Rgba: break; // written as PAM above
                }
                if (type_ == PnmType::Pgm) {
                    out_[x] = colour.r;
                } else {
                    out_[3 * x] = colour.r;
                    out_[3 * x + 1] = colour.g;
                    out_[3 * x + 2] = colour.b;
                }
            }
        }
        file_.write(out_.data(), out_.size());
    }

    void finish() override {}

  private:
    // Only PAM holds alpha: a page with it goes there, or nowhere.
    void begin_pam(const PageImage &image) {
        if (type_ != PnmType::Any) {
            const char *asked = type_ == PnmType::Pbm ? "PBM" : type_ == PnmType::Pgm ? "PGM" : "PPM";
            throw input_error(file_.target() + ": a " + asked +
                              " file cannot hold the alpha of this RGBA page; name the output .pnm (PAM) or .png");
        }
        const std::string header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                                   std::to_string(image.height) + "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        file_.write(reinterpret_cast<const uint8_t *>(header.data()), header.size());
    }

    PendingFile &file_;
    PnmType asked_;
    PnmType type_ = PnmType::Any;
    PageImage image_;
    std::vector<uint8_t> out_;
};

} // namespace

bool has_pnm_signature(ByteView bytes) {
    return bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6';
}

RgbImage read_pnm(ByteView bytes, const std::string &name, uint64_t max_pixels) {
    if (!has_pnm_signature(bytes)) {
        throw input_error(name + ": not a PNM image");
    }
    const int format = bytes[1] - '0';
    const bool bitmap = format == 1 || format == 4;
    const bool colour = format == 3 || format == 6;
    const bool plain = format <= 3;
    PnmParser parser(bytes, name);
    const uint32_t width = parser.number("width");
    const uint32_t height = parser.number("height");
    const uint32_t maxval = bitmap ? 1 : parser.number("maximum value");
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
    image.rgb.resize(3 * pixels);
    auto scaled = [&](uint32_t value) {
        if (value > maxval) {
            parser.fail("a sample exceeds the maximum value " + std::to_string(maxval));
        }
        return static_cast<uint8_t>((value * 255u + maxval / 2) / maxval);
    };
    for (size_t y = 0; y < height; ++y) {
        const uint8_t *packed_row = format == 4 ? parser.raw((width + 7) / 8) : nullptr;
        const uint8_t *raw_row = format == 5 || format == 6 ? parser.raw(width * channels * sample_bytes) : nullptr;
        for (size_t x = 0; x < width; ++x) {
            uint8_t *pixel = &image.rgb[3 * (y * width + x)];
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
    return image;
}

std::unique_ptr<RowSink> make_pnm_sink(PendingFile &file, PnmType type) {
    return std::make_unique<PnmSink>(file, type);
}

} // namespace pcxtool
