#include <algorithm>
#include <cstdio>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "pcx_pages.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string plural(int count, const char *word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string describe_text(const PcxPages &file, const std::vector<iffpcx_page_info> &pages) {
    std::string text =
        file.path() + ": " + (file.is_dcx() ? "DCX" : "PCX") + ", " + plural(file.page_count(), "page") + "\n";
    for (const iffpcx_page_info &page : pages) {
        const std::string palette = page.palette_entries == 0 ? "no palette"
                                    : page.palette_entries == 1
                                        ? "1 palette entry"
                                        : std::to_string(page.palette_entries) + " palette entries";
        char line[512];
        std::snprintf(line, sizeof line, "  page %u: %d x %d, %s, %s (%s x %s), version %d, %d x %d dpi, %s\n",
                      page.index, page.width, page.height, page_kind_name(page),
                      plural(page.bits_per_plane * page.planes, "bit").c_str(), plural(page.planes, "plane").c_str(),
                      plural(page.bits_per_plane, "bit").c_str(), page.version, page.dpi_x, page.dpi_y,
                      palette.c_str());
        text += line;
    }
    return text;
}

std::string page_json(const iffpcx_page_info &page) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"page\": %u, \"offset\": %u, \"size\": %u, \"width\": %d, \"height\": %d, \"color_class\": %u, "
                  "\"color_class_name\": \"%s\", \"bits\": %d, \"depth\": %d, \"planes\": %d, "
                  "\"bits_per_plane\": %d, \"version\": %d, \"dpi\": [%d, %d], \"palette_entries\": %u}",
                  page.index, static_cast<unsigned>(page.offset), static_cast<unsigned>(page.size), page.width,
                  page.height, page.color_class, page_kind_name(page), page.bits, page.bits_per_plane * page.planes,
                  page.planes, page.bits_per_plane, page.version, page.dpi_x, page.dpi_y, page.palette_entries);
    return text;
}

} // namespace

int run_info(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--json", false}});
    if (parsed.help) {
        std::fputs(command_table()[0].usage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.empty()) {
        throw usage_error("info needs at least one FILE");
    }
    if (std::count_if(parsed.positionals.begin(), parsed.positionals.end(), is_standard_stream) > 1) {
        throw usage_error("standard input ('-') can be read only once");
    }
    const bool json = parsed.has("--json");
    int status = kExitOk;
    std::string out = json ? "[" : "";
    bool first = true;
    for (const std::string &path : parsed.positionals) {
        std::string text;
        try {
            PcxPages file(path, 0, false);
            std::vector<iffpcx_page_info> pages;
            for (int page = 0; page < file.page_count(); ++page) {
                pages.push_back(file.page_info(page));
            }
            if (!json) {
                text = describe_text(file, pages);
            } else {
                out += std::string(first ? "\n" : ",\n") + "  {\"file\": " + json_string(path) + ", \"format\": \"" +
                       (file.is_dcx() ? "dcx" : "pcx") + "\", \"page_count\": " + std::to_string(pages.size()) +
                       ", \"pages\": [";
                for (size_t i = 0; i < pages.size(); ++i) {
                    out += std::string(i == 0 ? "\n    " : ",\n    ") + page_json(pages[i]);
                }
                out += "\n  ]}";
            }
        } catch (const ToolError &error) {
            // One unreadable file does not hide the others.
            std::fprintf(stderr, "pcxtool: info: %s\n", error.what());
            status = kExitBadInput;
            if (json) {
                out += std::string(first ? "\n" : ",\n") + "  {\"file\": " + json_string(path) +
                       ", \"error\": " + json_string(error.what()) + "}";
            }
        }
        // Outside the try: a failed write ends the command, not one file.
        write_standard_output(text);
        first = false;
    }
    if (json) {
        write_standard_output(out + "\n]\n");
    }
    return status;
}

} // namespace pcxtool
