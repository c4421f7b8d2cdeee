#include <cctype>
#include <cstdio>
#include <optional>

#include "command_line.h"
#include "commands.h"
#include "encode_layout.h"
#include "file_io.h"
#include "pcx_reader.h"
#include "pcx_writer.h"
#include "png_io.h"
#include "pnm_io.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

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

std::string describe_layout(const PcxLayout &layout) {
    switch (layout.color_class) {
    case 0: return "1-bit bilevel";
    case 1: return std::to_string(layout.bits) + "-bit grayscale";
    case 2: return std::to_string(layout.bits) + "-bit palette, " + std::to_string(layout.palette.size()) + " colours";
    default: return "24-bit RGB";
    }
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
    std::optional<int> bits;
    if (parsed.has("--bits")) {
        bits = parse_integer(parsed.options.at("--bits"), 1, 24, "--bits");
        if (*bits != 1 && *bits != 2 && *bits != 3 && *bits != 4 && *bits != 8 && *bits != 24) {
            throw usage_error("--bits takes 1, 2, 3, 4, 8 or 24, not " + std::to_string(*bits));
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
    const PcxLayout layout = write_pcx(image, bits, options, output, input.name());
    batch.commit_all();
    report(parsed, output.target() + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) + ", " +
                       describe_layout(layout));
    return kExitOk;
}

} // namespace pcxtool
