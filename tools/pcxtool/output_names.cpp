#include "output_names.h"

#include <cctype>

#include "tool_error.h"

namespace pcxtool {

namespace {

std::string lower(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Position of the extension's dot in the last path component, or npos.
size_t extension_dot(const std::string &name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        return std::string::npos;
    }
    return dot;
}

} // namespace

ImageFormat format_from_name(const std::string &name) {
    const size_t dot = extension_dot(name);
    const std::string extension = dot == std::string::npos ? "" : lower(name.substr(dot));
    if (extension == ".png") return ImageFormat::Png;
    if (extension == ".pnm") return ImageFormat::Pnm;
    if (extension == ".pbm") return ImageFormat::Pbm;
    if (extension == ".pgm") return ImageFormat::Pgm;
    if (extension == ".ppm") return ImageFormat::Ppm;
    throw usage_error("'" + name +
                      "': the output name must end in .png, .pnm, .pbm, .pgm or .ppm (or give --to FORMAT)");
}

ImageFormat format_from_word(const std::string &word, const std::string &option) {
    const std::string name = lower(word);
    for (const char *known : {"png", "pnm", "pbm", "pgm", "ppm"}) {
        if (name == known) {
            return format_from_name("image." + name);
        }
    }
    throw usage_error(option + " takes png, pnm, pbm, pgm or ppm, not '" + word + "'");
}

std::string page_output_name(const std::string &pattern, int page, bool several_pages) {
    std::string name;
    int substitutions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            name += pattern[i];
            continue;
        }
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            name += '%';
            i = j;
            continue;
        }
        size_t width = 0;
        if (j < pattern.size() && pattern[j] == '0') {
            for (++j; j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])); ++j) {
                width = width * 10 + static_cast<size_t>(pattern[j] - '0');
                if (width > 9) {
                    throw usage_error("'" + pattern + "': a page number is padded to at most 9 digits");
                }
            }
        }
        if (j >= pattern.size() || pattern[j] != 'd') {
            throw usage_error("'" + pattern + "': only %d, %0Nd and %% may follow a '%' in an output name");
        }
        std::string number = std::to_string(page);
        if (number.size() < width) {
            number.insert(0, width - number.size(), '0');
        }
        name += number;
        ++substitutions;
        i = j;
    }
    if (substitutions > 1) {
        throw usage_error("'" + pattern + "': holds more than one page number (%d)");
    }
    if (substitutions == 0 && several_pages) {
        const size_t dot = extension_dot(name);
        const std::string suffix = ".p" + std::to_string(page);
        name.insert(dot == std::string::npos ? name.size() : dot, suffix);
    }
    return name;
}

} // namespace pcxtool
