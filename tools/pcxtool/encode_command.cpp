#include <cctype>
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "iffpcx_image.h"
#include "pcx_pages.h"
#include "png_io.h"
#include "pnm_io.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

struct WriteOptions {
    int32_t dpi_x = 0; // 0: the image's own resolution, else the library's default
    int32_t dpi_y = 0;
    bool align_palette = false;
};

// "300" for both directions, or "300x150" for horizontal and vertical.
void parse_dpi(const std::string &text, WriteOptions &options) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos) {
        options.dpi_x = options.dpi_y = parse_integer(text, 1, 65535, "--dpi");
    } else {
        options.dpi_x = parse_integer(text.substr(0, cross), 1, 65535, "--dpi");
        options.dpi_y = parse_integer(text.substr(cross + 1), 1, 65535, "--dpi");
    }
}

std::string describe_layout(const iffpcx_layout &layout) {
    switch (layout.color_class) {
    case IFF_CLASS_BILEVEL: return "1-bit bilevel";
    case IFF_CLASS_GRAY: return std::to_string(layout.bits) + "-bit grayscale";
    case IFF_CLASS_PALETTE:
        return std::to_string(layout.bits) + "-bit palette, " + std::to_string(layout.palette_entries) + " colours";
    default: return "24-bit RGB";
    }
}

iffpcx_layout write_pcx(const RgbImage &image, int bits, const WriteOptions &options, PendingFile &file,
                        const std::string &name) {
    iffpcx_image pixels{};
    pixels.width = image.width;
    pixels.height = image.height;
    pixels.form = IFFPCX_FORM_RGB;
    pixels.pixels = image.rgb.data();
    pixels.stride = 3 * static_cast<size_t>(image.width);
    pixels.dpi_x = options.dpi_x > 0 ? options.dpi_x : image.dpi_x;
    pixels.dpi_y = options.dpi_y > 0 ? options.dpi_y : image.dpi_y;
    pixels.name = name.c_str();
    iffpcx_encode_options encoding{};
    encoding.bits = bits;
    encoding.flags = options.align_palette ? IFFPCX_ALIGN_PALETTE : 0;

    iffpcx_layout layout{};
    iffpcx_error error{};
    const iffpcx_status status = write_through_layer(
        file, [&](iffpcx_output *output) { return iffpcx_encode(&pixels, &encoding, output, &layout, &error); }, error);
    if (status == IFFPCX_ERR_COLOURS && bits == 1) {
        throw input_error(std::string(error.message) + "; use --bits 4 or leave --bits out");
    }
    if (status != IFFPCX_OK) {
        throw_layer_error(error);
    }
    return layout;
}

} // namespace

int run_encode(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--bits", true},
                                                {"--dpi", true},
                                                {"--align-palette", false},
                                                {"--to", true},
                                                {"--max-pixels", true},
                                                kVerbose,
                                                kVerboseLong});
    if (parsed.help) {
        std::fputs(command_table()[2].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) {
        throw usage_error("encode needs IN and OUT");
    }
    const std::string &in = parsed.positionals[0];
    const std::string &out = parsed.positionals[1];
    if (parsed.has("--to")) {
        std::string format = parsed.options.at("--to");
        for (char &c : format) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (format != "pcx") {
            throw usage_error("encode writes PCX only: --to takes pcx, not '" + parsed.options.at("--to") + "'");
        }
    }
    int bits = 0; // from the colours
    if (parsed.has("--bits")) {
        bits = parse_integer(parsed.options.at("--bits"), 1, 24, "--bits");
        if (bits != 1 && bits != 2 && bits != 3 && bits != 4 && bits != 8 && bits != 24) {
            throw usage_error("--bits takes 1, 2, 3, 4, 8 or 24, not " + std::to_string(bits));
        }
    }
    WriteOptions options;
    if (parsed.has("--dpi")) {
        parse_dpi(parsed.options.at("--dpi"), options);
    }
    options.align_palette = parsed.has("--align-palette");
    const uint64_t max_pixels = max_pixels_option(parsed);

    const InputFile input(in, [](ByteView start) { return has_png_signature(start) || has_pnm_signature(start); });
    // Taken before the work, so that writing over the input is refused at once.
    OutputBatch batch;
    PendingFile &output = batch.add(out);
    const ByteView bytes = input.bytes();
    RgbImage image;
    if (has_png_signature(bytes)) {
        image = read_png(bytes, input.name(), max_pixels);
    } else if (has_pnm_signature(bytes)) {
        image = read_pnm(bytes, input.name(), max_pixels);
    } else {
        throw input_error(input.name() + ": not a PNG or PNM image");
    }
    const iffpcx_layout layout = write_pcx(image, bits, options, output, input.name());
    batch.commit_all();
    report(parsed, output.target() + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) + ", " +
                       describe_layout(layout));
    return kExitOk;
}

} // namespace pcxtool
