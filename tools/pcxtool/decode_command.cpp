#include <cstdio>
#include <memory>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "output_names.h"
#include "pcx_reader.h"
#include "png_io.h"
#include "pnm_io.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

std::unique_ptr<RowSink> make_sink(ImageFormat format, PendingFile &file) {
    switch (format) {
    case ImageFormat::Png: return make_png_sink(file);
    case ImageFormat::Pnm: return make_pnm_sink(file, PnmType::Any);
    case ImageFormat::Pbm: return make_pnm_sink(file, PnmType::Pbm);
    case ImageFormat::Pgm: return make_pnm_sink(file, PnmType::Pgm);
    case ImageFormat::Ppm: return make_pnm_sink(file, PnmType::Ppm);
    }
    return nullptr;
}

} // namespace

int run_decode(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--page", true}});
    if (parsed.help) {
        std::fputs(command_table()[1].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) {
        throw usage_error("decode needs IN and OUT");
    }
    const std::string &in = parsed.positionals[0];
    const std::string &pattern = parsed.positionals[1];
    const ImageFormat format = format_from_name(pattern);
    page_output_name(pattern, 0, true); // a bad pattern is a usage error before any work
    const bool one_page = parsed.has("--page");
    const int chosen = one_page ? parse_integer(parsed.options.at("--page"), 0, 65534, "--page") : 0;

    PcxFile file(in);
    std::vector<int> pages;
    if (one_page) {
        pages.push_back(chosen);
    } else {
        for (int page = 0; page < file.page_count(); ++page) {
            pages.push_back(page);
        }
    }
    OutputBatch batch;
    std::vector<std::string> written;
    for (int page : pages) {
        const std::string target = page_output_name(pattern, page, !one_page && file.page_count() > 1);
        PendingFile &output = batch.add(target);
        std::unique_ptr<RowSink> sink = make_sink(format, output);
        file.decode_page(page, *sink);
        output.finish(); // a file of many pages must not hold a descriptor per page
        written.push_back(target + ": page " + std::to_string(page));
    }
    batch.commit_all();
    for (const std::string &line : written) {
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

} // namespace pcxtool
