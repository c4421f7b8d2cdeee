// pcxtool check and repair: the validator of iffpcx_check.h on the command
// line.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "iffpcx_check.h"
#include "output_formats.h"
#include "pcx_pages.h"
#include "tool_error.h"

namespace pcxtool {

const char kCheckUsage[] = "usage: pcxtool check [--json] [--strict] FILE...\n"
                           "\n"
                           "Judges each PCX or DCX file as archives do: its format (PCX with its header\n"
                           "version, or DCX with its pages), the format identifier registries use, a\n"
                           "verdict, and a line for each finding (identifier, severity, page, byte\n"
                           "offset, reason). Verdicts: valid (every rule met; warnings allowed),\n"
                           "not-valid (the image reads completely, but the file breaks rules),\n"
                           "not-well-formed (it cannot be read completely). docs/check.md lists the\n"
                           "findings. Exit status 0 when every file is valid, 1 when any is not.\n"
                           "\n"
                           "  --json     one JSON array with an object per file\n"
                           "  --strict   warnings make a file not-valid too\n";

const char kRepairUsage[] = "usage: pcxtool repair [-v] IN OUT\n"
                            "\n"
                            "Writes a file that 'check' finds valid and that decodes to the same pixels,\n"
                            "palette and resolution; a DCX file stays DCX, its pages in order. A file\n"
                            "that cannot be mended so (one that is not well-formed) is refused, with the\n"
                            "reason, and nothing is written.\n"
                            "\n"
                            "  -v, --verbose   list what was changed on stderr\n";

namespace {

struct ReportDeleter {
    void operator()(iffpcx_report *report) const { iffpcx_report_free(report); }
};
using ReportPtr = std::unique_ptr<iffpcx_report, ReportDeleter>;

std::string plural(uint32_t count, const char *word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

void print_text(const iffpcx_report &report) {
    std::string format = report.format;
    if (report.format_id[0] != '\0') format += std::string(" ") + report.format_id;
    if (std::string(report.format) == "pcx") format += ", version " + std::to_string(report.version);
    if (std::string(report.format) == "dcx") format += ", " + plural(report.page_count, "page");
    std::printf("%s: %s: %s (%u fatal, %s, %s)\n", report.file, format.c_str(), iffpcx_verdict_name(report.verdict),
                report.fatals, plural(report.errors, "error").c_str(), plural(report.warnings, "warning").c_str());
    for (size_t i = 0; i < report.finding_count; ++i) {
        const iffpcx_finding &finding = report.findings[i];
        const std::string page = finding.page >= 0 ? "page " + std::to_string(finding.page) + ", " : "";
        std::printf("  %sbyte %llu: %s %s: %s\n", page.c_str(), static_cast<unsigned long long>(finding.offset),
                    iffpcx_severity_name(finding.severity), finding.id, finding.message);
    }
}

std::string json_of(const iffpcx_report &report) {
    const size_t size = iffpcx_report_json(&report, nullptr, 0);
    std::string json(size + 1, '\0');
    iffpcx_report_json(&report, &json[0], json.size());
    json.resize(size);
    return json;
}

// A JSON string; the library escapes its own, these are pcxtool's messages.
std::string json_text(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out + "\"";
}

} // namespace

int run_check(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--json", false}, {"--strict", false}});
    if (parsed.help) {
        std::fputs(kCheckUsage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.empty()) throw usage_error("check needs at least one FILE");
    if (std::count_if(parsed.positionals.begin(), parsed.positionals.end(), is_standard_stream) > 1)
        throw usage_error("standard input ('-') can be read only once");
    const bool json = parsed.has("--json");
    iffpcx_check_options options{};
    options.flags = parsed.has("--strict") ? IFFPCX_CHECK_STRICT : 0;
    int status = kExitOk;
    std::string out = json ? "[" : "";
    for (size_t i = 0; i < parsed.positionals.size(); ++i) {
        const std::string &path = parsed.positionals[i];
        const std::string separator = i == 0 ? "\n  " : ",\n  ";
        try {
            const InputFile input(path);
            iffpcx_report *raw = nullptr;
            iffpcx_error error{};
            if (iffpcx_check_memory(input.bytes().data(), input.bytes().size(), input.name().c_str(), &options, &raw,
                                    &error) != IFFPCX_OK)
                throw input_error(error.message);
            const ReportPtr report(raw);
            if (report->verdict != IFFPCX_VALID) status = kExitBadInput;
            if (json) {
                out += separator + json_of(*report);
            } else {
                print_text(*report);
            }
        } catch (const ToolError &error) {
            // One unreadable file does not hide the others.
            std::fprintf(stderr, "pcxtool: check: %s\n", error.what());
            status = kExitBadInput;
            if (json)
                out += separator + "{\"file\": " + json_text(path) + ", \"error\": " + json_text(error.what()) + "}";
        }
    }
    if (json) std::printf("%s\n]\n", out.c_str());
    return status;
}

int run_repair(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {kVerbose, kVerboseLong});
    if (parsed.help) {
        std::fputs(kRepairUsage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) throw usage_error("repair needs IN and OUT");
    const InputFile input(parsed.positionals[0]);
    const bool dcx = has_dcx_signature(input.bytes());
    refuse_other_format(parsed.positionals[1], {dcx ? "DCX" : "PCX"},
                        std::string("repair keeps the input's format, ") +
                            (dcx ? "DCX: name it .dcx" : "PCX: name it .pcx"));
    iffpcx_repaired *raw = nullptr;
    iffpcx_error error{};
    if (iffpcx_repair_memory(input.bytes().data(), input.bytes().size(), input.name().c_str(), nullptr, &raw, &error) !=
        IFFPCX_OK)
        throw input_error(error.message);
    const std::unique_ptr<iffpcx_repaired, void (*)(iffpcx_repaired *)> repaired(raw, iffpcx_repaired_free);
    OutputBatch batch;
    PendingFile &output = batch.add(parsed.positionals[1]);
    output.write(repaired->data, repaired->size);
    output.finish();
    batch.commit_all();
    if (repaired->change_count == 0) report(parsed, output.target() + ": nothing to change");
    for (size_t i = 0; i < repaired->change_count; ++i) report(parsed, output.target() + ": " + repaired->changes[i]);
    return kExitOk;
}

} // namespace pcxtool
