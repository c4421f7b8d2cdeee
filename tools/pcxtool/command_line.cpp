#include "command_line.h"

#include <cctype>
#include <cstdio>

#include "pixel_limit.h"
#include "tool_error.h"

namespace pcxtool {

const OptionDef kVerbose = {"-v", false};
const OptionDef kVerboseLong = {"--verbose", false};

ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionDef> &known) {
    ParsedArgs parsed;
    bool options_ended = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            parsed.positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionDef *match = nullptr;
        for (const OptionDef &candidate : known) {
            if (name == candidate.name) {
                match = &candidate;
            }
        }
        if (match == nullptr) {
            throw usage_error("unknown option '" + name + "'");
        }
        if (parsed.has(name)) {
            throw usage_error("option " + name + " given twice");
        }
        std::string value;
        if (match->takes_value) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw usage_error("option " + name + " needs a value");
            }
        } else if (equals != std::string::npos) {
            throw usage_error("option " + name + " takes no value");
        }
        parsed.options[name] = value;
    }
    return parsed;
}

uint64_t parse_count(const std::string &text, uint64_t min, uint64_t max, const std::string &option) {
    uint64_t value = 0;
    bool valid = !text.empty() && text.size() <= 19;
    for (char c : text) {
        valid = valid && std::isdigit(static_cast<unsigned char>(c));
        if (valid) {
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
    }
    if (!valid || value < min || value > max) {
        throw usage_error(option + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                          ", not '" + text + "'");
    }
    return value;
}

int32_t parse_integer(const std::string &text, int32_t min, int32_t max, const std::string &option) {
    return static_cast<int32_t>(parse_count(text, static_cast<uint64_t>(min), static_cast<uint64_t>(max), option));
}

uint64_t max_pixels_option(const ParsedArgs &parsed) {
    if (!parsed.has("--max-pixels")) {
        return kDefaultMaxPixels;
    }
    // 0: no limit but the largest window a PCX header can describe.
    const uint64_t limit = parse_count(parsed.options.at("--max-pixels"), 0, kLargestPcxPixels, "--max-pixels");
    return limit == 0 ? kLargestPcxPixels : limit;
}

void report(const ParsedArgs &parsed, const std::string &line) {
    if (parsed.verbose()) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

} // namespace pcxtool
