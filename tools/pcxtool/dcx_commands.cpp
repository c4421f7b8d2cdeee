#include <cstdio>

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
void check_pcx_page(const std::vector<uint8_t> &page, const std::string &name) {
    MemoryStream stream{std::vector<uint8_t>(page)};
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
    const ParsedArgs parsed = parse_args(args, {});
    if (parsed.help) {
        std::fputs(command_table()[3].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() < 2) {
        throw usage_error("pack needs OUT.dcx and at least one IN.pcx");
    }
    const std::string &out = parsed.positionals[0];
    std::vector<std::vector<uint8_t>> pages;
    for (size_t i = 1; i < parsed.positionals.size(); ++i) {
        const std::string &in = parsed.positionals[i];
        const std::vector<uint8_t> bytes = read_whole_file(in);
        // A DCX input contributes each of its pages.
        const bool dcx = has_dcx_signature(bytes);
        const std::vector<PageSpan> spans = page_spans(bytes, in);
        for (size_t page = 0; page < spans.size(); ++page) {
            std::vector<uint8_t> slice(bytes.begin() + spans[page].offset, bytes.begin() + spans[page].end);
            check_pcx_page(slice, dcx ? in + ": page " + std::to_string(page) : in);
            pages.push_back(std::move(slice));
        }
    }
    OutputBatch batch;
    write_whole_file(batch, out, build_dcx(pages));
    batch.commit_all();
    std::printf("%s: %zu page%s\n", out.c_str(), pages.size(), pages.size() == 1 ? "" : "s");
    return kExitOk;
}

int run_unpack(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {});
    if (parsed.help) {
        std::fputs(command_table()[4].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) {
        throw usage_error("unpack needs IN.dcx and PREFIX");
    }
    const std::string &in = parsed.positionals[0];
    const std::string &prefix = parsed.positionals[1];
    const std::vector<uint8_t> bytes = read_whole_file(in);
    if (!has_dcx_signature(bytes)) {
        throw input_error(in + ": not a DCX file (it does not start with the DCX signature)");
    }
    const std::vector<PageSpan> spans = page_spans(bytes, in);
    OutputBatch batch;
    std::vector<std::string> written;
    for (size_t page = 0; page < spans.size(); ++page) {
        const std::string target = prefix + std::to_string(page) + ".pcx";
        write_whole_file(batch, target,
                         std::vector<uint8_t>(bytes.begin() + spans[page].offset, bytes.begin() + spans[page].end));
        written.push_back(target);
    }
    batch.commit_all();
    for (const std::string &name : written) {
        std::printf("%s\n", name.c_str());
    }
    return kExitOk;
}

} // namespace pcxtool
