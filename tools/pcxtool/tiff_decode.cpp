#include "tiff_decode.h"

#include <vector>

#include "file_io.h"
#include "output_formats.h"
#include "output_names.h"
#include "pcx_pages.h"
#include "tool_error.h"

namespace pcxtool {

bool wants_tiff(const ParsedArgs &parsed, const std::string &out) {
    const bool tiff = parsed.has("--to") ? lower(parsed.options.at("--to")) == "tiff" : format_said_by(out) == "TIFF";
    if (!tiff && parsed.has("--compress")) {
        throw usage_error("--compress applies to TIFF output (--to tiff, or OUT named .tif or .tiff)");
    }
    if (tiff && parsed.has("--to")) {
        refuse_other_format(out, {"TIFF"}, "--to asks for TIFF");
    }
    return tiff;
}

uint32_t tiff_compression_option(const ParsedArgs &parsed) {
    if (!parsed.has("--compress")) {
        return IFFPCX_TIFF_DEFAULT;
    }
    const std::string &word = parsed.options.at("--compress");
    static const struct {
        const char *name;
        uint32_t value;
    } kNames[] = {
        {"none", IFFPCX_TIFF_NONE}, {"lzw", IFFPCX_TIFF_LZW}, {"deflate", IFFPCX_TIFF_DEFLATE}, {"g4", IFFPCX_TIFF_G4}};
    for (const auto &known : kNames) {
        if (lower(word) == known.name) {
            return known.value;
        }
    }
    throw usage_error("--compress takes none, lzw, deflate or g4, not '" + word + "'");
}

int decode_to_tiff(const ParsedArgs &parsed) {
    const std::string &in = parsed.positionals[0];
    const std::string &pattern = parsed.positionals[1];
    const uint32_t compression = tiff_compression_option(parsed);
    const bool one_page = parsed.has("--page");
    const int chosen = one_page ? parse_integer(parsed.options.at("--page"), 0, 65534, "--page") : 0;
    const bool to_stdout = is_standard_stream(pattern);
    std::string target = pattern;
    if (!to_stdout) {
        // A TIFF file holds every page: a page number in its name means one page.
        target = page_output_name(pattern, chosen, false);
        if (!one_page && target != page_output_name(pattern, chosen + 1, false)) {
            throw usage_error("'" + pattern +
                              "': a TIFF file holds every page; drop the page number (%d) or pick a page with --page");
        }
        check_output_target(target);
    }
    const bool keep_partial = parsed.has("--partial");
    PcxPages file(in, max_pixels_option(parsed), keep_partial);
    std::vector<uint32_t> pages;
    for (int page = one_page ? chosen : 0; page < (one_page ? chosen + 1 : file.page_count()); ++page) {
        file.check_page(page); // every page's header before anything is written
        pages.push_back(static_cast<uint32_t>(page));
    }
    OutputBatch batch;
    PendingFile &output = batch.add(target);
    iffpcx_error error{};
    const uint32_t flags = keep_partial ? IFFPCX_PARTIAL : 0;
    bool short_page = false;
    const iffpcx_status status = write_through_layer(
        output,
        [&](iffpcx_output *layer_output) {
            iffpcx_status decoded =
                iffpcx_decode_tiff(file.handle(), pages.data(), pages.size(), compression, flags, layer_output, &error);
            // A page kept with rows missing: the file is complete, and the run still fails.
            short_page = decoded == IFFPCX_ERR_TRUNCATED && keep_partial;
            return short_page ? IFFPCX_OK : decoded;
        },
        error);
    if (status != IFFPCX_OK) {
        throw_layer_error(error);
    }
    output.finish();
    batch.commit_all();
    report(parsed, output.target() + ": " + std::to_string(pages.size()) + (pages.size() == 1 ? " page" : " pages"));
    if (short_page) {
        std::fprintf(stderr, "pcxtool: decode: %s\n", error.message);
        return kExitBadInput;
    }
    return kExitOk;
}

} // namespace pcxtool
