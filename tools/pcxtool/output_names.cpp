#include "output_names.h"

#include <cctype>

#include "output_formats.h"
#include "tool_error.h"

namespace pcxtool {

std::string lower(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

namespace {

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

std::string extension_of(const std::string &name) {
    const size_t dot = extension_dot(name);
    return dot == std::string::npos ? "" : lower(name.substr(dot));
}

namespace {

// What decode writes, by --to word and extension: the one list of them.
struct FormatWord {
    const char *word;
    ImageFormat format;
};
constexpr FormatWord kDecodeFormats[] = {
    {"png", ImageFormat::Png}, {"pnm", ImageFormat::Pnm}, {"pbm", ImageFormat::Pbm},
    {"pgm", ImageFormat::Pgm}, {"ppm", ImageFormat::Ppm}, {"pam", ImageFormat::Pam},
};

// "png, pnm, ... or pam", with `prefix` before each.
std::string format_list(const char *prefix) {
    std::string list;
    const size_t count = sizeof kDecodeFormats / sizeof kDecodeFormats[0];
    for (size_t i = 0; i < count; ++i) {
        list += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(prefix) + kDecodeFormats[i].word;
    }
    return list;
}

} // namespace

const char *format_word(ImageFormat format) {
    for (const FormatWord &known : kDecodeFormats) {
        if (known.format == format) {
            return known.word;
        }
    }
    return "";
}

ImageFormat format_from_name(const std::string &name) {
    const std::string extension = extension_of(name);
    for (const FormatWord &known : kDecodeFormats) {
        if (extension == std::string(".") + known.word) {
            return known.format;
        }
    }
    refuse_other_format(name, {}, "decode writes " + format_list(".") + " files (or what --to FORMAT names)");
    throw usage_error("'" + name + "': the output name must end in " + format_list(".") + " (or give --to FORMAT)");
}

ImageFormat format_from_word(const std::string &word, const std::string &option) {
    const std::string name = lower(word);
    for (const FormatWord &known : kDecodeFormats) {
        if (name == known.word) {
            return known.format;
        }
    }
    throw usage_error(option + " takes " + format_list("") + ", not '" + word + "'");
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
