#include <cctype>
#include <cstdio>

#include "colour_reduction.h"
#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "iffpcx_image.h"
#include "input_list.h"
#include "output_formats.h"
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

// How an image's colours are reduced before encoding, if at all.
struct Reduction {
    bool quantize = false;
    int colours = 0; // with quantize: at most this many
    bool dither = false;
    int threshold = 0; // > 0: black below this luma, white elsewhere
};

struct EncodeSettings {
    int bits = 0; // from the colours
    WriteOptions write;
    Reduction reduction;
    uint64_t max_pixels = 0;
    bool dcx = false; // --to dcx
    bool to_given = false;
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

iffpcx_image layer_image(const RgbImage &image, const WriteOptions &options, const std::string &name) {
    iffpcx_image pixels{};
    pixels.width = image.width;
    pixels.height = image.height;
    pixels.form = IFFPCX_FORM_RGB;
    pixels.pixels = image.rgb.data();
    pixels.stride = 3 * static_cast<size_t>(image.width);
    pixels.dpi_x = options.dpi_x > 0 ? options.dpi_x : image.dpi_x;
    pixels.dpi_y = options.dpi_y > 0 ? options.dpi_y : image.dpi_y;
    pixels.name = name.c_str();
    return pixels;
}

iffpcx_encode_options layer_options(int bits, const WriteOptions &options) {
    iffpcx_encode_options encoding{};
    encoding.bits = bits;
    encoding.flags = options.align_palette ? IFFPCX_ALIGN_PALETTE : 0;
    return encoding;
}

// Colours that do not fit are refused, never changed unasked: the message
// names the options that would change them.
[[noreturn]] void throw_encode_error(const iffpcx_error &error, int bits) {
    if (error.status == IFFPCX_ERR_COLOURS) {
        throw input_error(std::string(error.message) +
                          (bits == 1 ? "; use --bits 4 or leave --bits out, or --threshold N for black and white"
                                     : "; --quantize reduces its colours to fit"));
    }
    throw_layer_error(error);
}

iffpcx_layout write_pcx(const RgbImage &image, int bits, const WriteOptions &options, PendingFile &file,
                        const std::string &name) {
    const iffpcx_image pixels = layer_image(image, options, name);
    const iffpcx_encode_options encoding = layer_options(bits, options);
    iffpcx_layout layout{};
    iffpcx_error error{};
    const iffpcx_status status = write_through_layer(
        file, [&](iffpcx_output *output) { return iffpcx_encode(&pixels, &encoding, output, &layout, &error); }, error);
    if (status != IFFPCX_OK) {
        throw_encode_error(error, bits);
    }
    return layout;
}

void write_dcx(const std::vector<RgbImage> &images, const std::vector<std::string> &names, int bits,
               const WriteOptions &options, PendingFile &file) {
    std::vector<iffpcx_image> pages;
    for (size_t i = 0; i < images.size(); ++i) {
        pages.push_back(layer_image(images[i], options, names[i]));
    }
    const iffpcx_encode_options encoding = layer_options(bits, options);
    iffpcx_error error{};
    const iffpcx_status status = write_through_layer(
        file,
        [&](iffpcx_output *output) { return iffpcx_encode_dcx(pages.data(), pages.size(), &encoding, output, &error); },
        error);
    if (status != IFFPCX_OK) {
        throw_encode_error(error, bits);
    }
}

RgbImage reduce(RgbImage image, const EncodeSettings &settings, const std::string &name) {
    const Reduction &reduction = settings.reduction;
    if (reduction.quantize) {
        return quantize_colours(image, reduction.colours, reduction.dither, settings.bits == 1, name);
    }
    if (reduction.threshold > 0) {
        return threshold_to_black_and_white(image, reduction.threshold);
    }
    return image;
}

EncodeSettings parse_settings(const ParsedArgs &parsed) {
    EncodeSettings settings;
    if (parsed.has("--to")) {
        std::string format = parsed.options.at("--to");
        for (char &c : format) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (format != "pcx" && format != "dcx") {
            throw usage_error("encode writes PCX or DCX: --to takes pcx or dcx, not '" + parsed.options.at("--to") +
                              "'");
        }
        settings.dcx = format == "dcx";
        settings.to_given = true;
    }
    if (parsed.has("--bits")) {
        settings.bits = parse_integer(parsed.options.at("--bits"), 1, 24, "--bits");
        const int bits = settings.bits;
        if (bits != 1 && bits != 2 && bits != 3 && bits != 4 && bits != 8 && bits != 24) {
            throw usage_error("--bits takes 1, 2, 3, 4, 8 or 24, not " + std::to_string(bits));
        }
    }
    if (parsed.has("--dpi")) {
        parse_dpi(parsed.options.at("--dpi"), settings.write);
    }
    settings.write.align_palette = parsed.has("--align-palette");
    settings.max_pixels = max_pixels_option(parsed);

    Reduction &reduction = settings.reduction;
    reduction.quantize = parsed.has("--quantize");
    reduction.dither = parsed.has("--dither");
    if (!reduction.quantize && (parsed.has("--colors") || reduction.dither)) {
        throw usage_error(std::string(parsed.has("--colors") ? "--colors" : "--dither") + " goes with --quantize");
    }
    if (parsed.has("--threshold")) {
        if (reduction.quantize) {
            throw usage_error("--threshold and --quantize are two ways to reduce colours: give one");
        }
        if (settings.bits != 0 && settings.bits != 1) {
            throw usage_error("--threshold makes 1-bit images: it goes with --bits 1 or none");
        }
        reduction.threshold = parse_integer(parsed.options.at("--threshold"), 1, 255, "--threshold");
        settings.bits = 1;
    }
    if (reduction.quantize) {
        if (settings.bits == 0) {
            settings.bits = 8;
        }
        if (settings.bits == 24) {
            throw usage_error("--quantize writes a palette: --bits takes 1, 2, 3, 4 or 8 with it, not 24");
        }
        const int most = 1 << settings.bits;
        reduction.colours =
            parsed.has("--colors") ? parse_integer(parsed.options.at("--colors"), 2, most, "--colors") : most;
        if (!quantizer_available()) {
            throw usage_error("--quantize is not available: pcxtool was built without libimagequant "
                              "(libimagequant-dev)");
        }
    }
    return settings;
}

// The images of one input: a PNG, or every image of a PNM stream.
std::vector<RgbImage> read_images(const InputFile &input, uint64_t max_pixels) {
    const ByteView bytes = input.bytes();
    std::vector<RgbImage> images;
    if (has_png_signature(bytes)) {
        images.push_back(read_png(bytes, input.name(), max_pixels));
    } else if (has_pnm_signature(bytes)) {
        images = read_pnm_images(bytes, input.name(), max_pixels);
    } else {
        throw input_error(input.name() + ": not a PNG or PNM image");
    }
    return images;
}

// Encodes one input into `output` (already added to the batch); returns
// the line -v prints.
std::string encode_one(const InputFile &input, const EncodeSettings &settings, bool dcx, PendingFile &output) {
    std::vector<RgbImage> images = read_images(input, settings.max_pixels);
    if (images.size() > 1 && !dcx) {
        throw usage_error(input.name() + " holds " + std::to_string(images.size()) +
                          " images and a PCX file holds one: name the output .dcx (or give --to dcx) to write "
                          "them as the pages of a DCX file");
    }
    for (RgbImage &image : images) {
        image = reduce(std::move(image), settings, input.name());
    }
    const std::string size = std::to_string(images[0].width) + " x " + std::to_string(images[0].height);
    if (dcx) {
        std::vector<std::string> names;
        for (size_t i = 0; i < images.size(); ++i) {
            names.push_back(images.size() == 1 ? input.name() : input.name() + ": image " + std::to_string(i));
        }
        write_dcx(images, names, settings.bits, settings.write, output);
        return output.target() + ": " + std::to_string(images.size()) + (images.size() == 1 ? " page" : " pages");
    }
    const iffpcx_layout layout = write_pcx(images[0], settings.bits, settings.write, output, input.name());
    return output.target() + ": " + size + ", " + describe_layout(layout);
}

} // namespace

int run_encode(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--bits", true},
                                                {"--dpi", true},
                                                {"--align-palette", false},
                                                {"--to", true},
                                                {"--max-pixels", true},
                                                {"--out-dir", true},
                                                {"--quantize", false},
                                                {"--colors", true},
                                                {"--dither", false},
                                                {"--threshold", true},
                                                kVerbose,
                                                kVerboseLong});
    if (parsed.help) {
        std::fputs(command_table()[2].usage, stdout);
        return kExitOk;
    }
    const EncodeSettings settings = parse_settings(parsed);
    const std::vector<InputOutput> pairs = inputs_and_outputs(parsed, "encode", settings.dcx ? "dcx" : "pcx");
    // Each output's format: --to, else its name (.dcx), else PCX.
    std::vector<bool> dcx;
    for (const InputOutput &pair : pairs) {
        const std::string said = format_said_by(pair.output);
        if (settings.to_given) {
            refuse_other_format(pair.output, {settings.dcx ? "DCX" : "PCX"},
                                std::string("--to asks for ") + (settings.dcx ? "DCX" : "PCX"));
        } else {
            refuse_other_format(pair.output, {"PCX", "DCX"},
                                "encode writes PCX (name it .pcx) or DCX (.dcx, for the images of a PNM stream)");
        }
        dcx.push_back(settings.to_given ? settings.dcx : said == "DCX");
    }
    std::vector<std::unique_ptr<InputFile>> inputs;
    for (const InputOutput &pair : pairs) {
        inputs.push_back(std::make_unique<InputFile>(
            pair.input, [](ByteView start) { return has_png_signature(start) || has_pnm_signature(start); }));
    }
    // Taken before the work, so that writing over an input is refused at once.
    OutputBatch batch;
    std::vector<PendingFile *> outputs;
    for (const InputOutput &pair : pairs) {
        outputs.push_back(&batch.add(pair.output));
    }
    std::vector<std::string> written;
    for (size_t i = 0; i < pairs.size(); ++i) {
        written.push_back(encode_one(*inputs[i], settings, dcx[i], *outputs[i]));
    }
    batch.commit_all();
    for (const std::string &line : written) {
        report(parsed, line);
    }
    return kExitOk;
}

} // namespace pcxtool
