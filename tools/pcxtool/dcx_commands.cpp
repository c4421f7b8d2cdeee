#include <algorithm>
#include <cstdio>
#include <memory>

#include "command_line.h"
#include "commands.h"
#include "dcx_layout.h"
#include "file_io.h"
#include "iffpcx.h"
#include "memory_stream.h"
#include "status_names.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// A page goes into a DCX file only if the library opens it as a PCX file.
void check_pcx_page(ByteView page, const std::string &name) {
    MemoryStream stream(page);
    StreamSource source = make_stream_source(stream);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(&source, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) {
        throw input_error(name + ": not a PCX page: " + describe_status(-handle));
    }
    IFFClose(handle);
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
    if (std::count_if(parsed.positionals.begin() + 1, parsed.positionals.end(), is_standard_stream) > 1) {
        throw usage_error("standard input ('-') can be read only once");
    }
    std::vector<std::unique_ptr<InputFile>> inputs;
    std::vector<ByteView> pages;
    for (size_t i = 1; i < parsed.positionals.size(); ++i) {
        const std::string &in = parsed.positionals[i];
        inputs.push_back(std::make_unique<InputFile>(in, starts_like_pcx_or_dcx));
        const ByteView bytes = inputs.back()->bytes();
        const std::string &name = inputs.back()->name();
        // A DCX input contributes each of its pages.
        const bool dcx = has_dcx_signature(bytes);
        const std::vector<PageSpan> spans = page_spans(bytes, name);
        for (size_t page = 0; page < spans.size(); ++page) {
            const ByteView slice = bytes.slice(spans[page].offset, spans[page].end);
            check_pcx_page(slice, dcx ? name + ": page " + std::to_string(page) : name);
            pages.push_back(slice);
        }
    }
    std::vector<size_t> sizes;
    for (const ByteView &page : pages) {
        sizes.push_back(page.size());
    }
    const std::vector<uint8_t> directory = dcx_directory(sizes);
    OutputBatch batch;
    PendingFile &output = batch.add(out);
    output.write(directory.data(), directory.size());
    for (const ByteView &page : pages) {
        output.write(page.data(), page.size());
    }
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
    const InputFile input(in, has_dcx_signature);
    const ByteView bytes = input.bytes();
    if (!has_dcx_signature(bytes)) {
        throw input_error(input.name() + ": not a DCX file (it does not start with the DCX signature)");
    }
    const std::vector<PageSpan> spans = page_spans(bytes, input.name());
    std::vector<std::string> targets;
    for (size_t page = 0; page < spans.size(); ++page) {
        targets.push_back(prefix + std::to_string(page) + ".pcx");
        check_output_target(targets.back());
    }
    OutputBatch batch;
    for (size_t page = 0; page < spans.size(); ++page) {
        write_whole_file(batch, targets[page], bytes.slice(spans[page].offset, spans[page].end));
    }
    batch.commit_all();
    for (const std::string &name : targets) {
        report(parsed, name);
    }
    return kExitOk;
}

} // namespace pcxtool
