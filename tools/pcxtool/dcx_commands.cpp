#include <algorithm>
#include <cstdio>
#include <memory>

#include "command_line.h"
#include "commands.h"
#include "core/pcx_format.h"
#include "file_io.h"
#include "iffpcx_image.h"
#include "output_formats.h"
#include "output_names.h"
#include "pcx_pages.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// Pages go into a DCX file only if the layer opens each as a PCX file; with
// no output it checks them only.
void pack_pages(const std::vector<iffpcx_bytes> &pages, iffpcx_output *output) {
    iffpcx_error error{};
    if (iffpcx_pack_dcx(pages.data(), pages.size(), output, &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
}

void write_dcx(const std::vector<iffpcx_bytes> &pages, PendingFile &file) {
    iffpcx_error error{};
    if (write_through_layer(
            file, [&](iffpcx_output *output) { return iffpcx_pack_dcx(pages.data(), pages.size(), output, &error); },
            error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
}

} // namespace

int run_pack(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {kVerbose, kVerboseLong});
    if (parsed.help) {
        std::fputs(command_table()[3].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() < 2) {
        throw usage_error("pack needs OUT.dcx and at least one IN.pcx");
    }
    const std::string &out = parsed.positionals[0];
    refuse_other_format(out, {"DCX"}, "pack writes DCX: name it .dcx");
    if (std::count_if(parsed.positionals.begin() + 1, parsed.positionals.end(), is_standard_stream) > 1) {
        throw usage_error("standard input ('-') can be read only once");
    }
    std::vector<std::unique_ptr<InputFile>> inputs;
    std::vector<std::string> names; // the pages' names, for messages
    std::vector<iffpcx_bytes> pages;
    for (size_t i = 1; i < parsed.positionals.size(); ++i) {
        const std::string &in = parsed.positionals[i];
        inputs.push_back(std::make_unique<InputFile>(in, starts_like_pcx_or_dcx));
        const ByteView bytes = inputs.back()->bytes();
        const std::string &name = inputs.back()->name();
        // A DCX input contributes each of its pages.
        const bool dcx = has_dcx_signature(bytes);
        const std::vector<uint64_t> offsets = page_offsets(bytes, name);
        std::vector<iffpcx_bytes> own;
        for (size_t page = 0; page + 1 < offsets.size(); ++page) {
            names.push_back(dcx ? name + ": page " + std::to_string(page) : name);
            own.push_back(iffpcx_bytes{bytes.data() + offsets[page], offsets[page + 1] - offsets[page], nullptr});
        }
        for (size_t page = 0; page < own.size(); ++page) {
            own[page].name = names[names.size() - own.size() + page].c_str();
        }
        pack_pages(own, nullptr);
        pages.insert(pages.end(), own.begin(), own.end());
    }
    if (pages.size() > pcx_format::kDcxMostPages) {
        throw usage_error("a DCX file holds 1 to " + std::to_string(pcx_format::kDcxMostPages) + " pages");
    }
    for (size_t page = 0; page < pages.size(); ++page) {
        pages[page].name = names[page].c_str(); // the names may have moved as they grew
    }
    OutputBatch batch;
    PendingFile &output = batch.add(out);
    write_dcx(pages, output);
    batch.commit_all();
    report(parsed, output.target() + ": " + std::to_string(pages.size()) + (pages.size() == 1 ? " page" : " pages"));
    return kExitOk;
}

int run_unpack(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {kVerbose, kVerboseLong});
    if (parsed.help) {
        std::fputs(command_table()[4].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) {
        throw usage_error("unpack needs IN.dcx and PREFIX");
    }
    const std::string &in = parsed.positionals[0];
    const std::string &prefix = parsed.positionals[1];
    if (is_standard_stream(prefix)) {
        throw usage_error("unpack writes one file per page, PREFIX<N>.pcx; '-' cannot stand for them");
    }
    // A PREFIX with a '%' is a template of names, as decode takes them.
    const bool is_template = prefix.find('%') != std::string::npos;
    if (is_template) {
        refuse_other_format(prefix, {"PCX"}, "unpack writes PCX pages: name them .pcx");
        if (page_output_name(prefix, 0, false) == page_output_name(prefix, 1, false)) {
            throw usage_error("'" + prefix + "': a template of page names holds %d (or %0Nd) for the page number");
        }
    }
    const InputFile input(in, has_dcx_signature);
    const ByteView bytes = input.bytes();
    if (!has_dcx_signature(bytes)) {
        throw input_error(input.name() + ": not a DCX file (it does not start with the DCX signature)");
    }
    const std::vector<uint64_t> offsets = page_offsets(bytes, input.name());
    std::vector<std::string> targets;
    for (size_t page = 0; page + 1 < offsets.size(); ++page) {
        targets.push_back(is_template ? page_output_name(prefix, static_cast<int>(page), false)
                                      : prefix + std::to_string(page) + ".pcx");
        check_output_target(targets.back());
    }
    OutputBatch batch;
    for (size_t page = 0; page < targets.size(); ++page) {
        write_whole_file(batch, targets[page], bytes.slice(offsets[page], offsets[page + 1]));
    }
    batch.commit_all();
    for (const std::string &name : targets) {
        report(parsed, name);
    }
    return kExitOk;
}

} // namespace pcxtool
