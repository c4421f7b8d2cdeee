// Option parsing shared by the commands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pcxtool {

struct OptionDef {
    const char *name; // with its dashes: "--page"
    bool takes_value;
};

struct ParsedArgs {
    std::map<std::string, std::string> options; // flags map to ""
    std::vector<std::string> positionals;
    bool help = false;
    bool has(const std::string &name) const { return options.count(name) != 0; }
    bool verbose() const { return has("-v") || has("--verbose"); }
};

// Options every command takes: -v and --verbose print a line for each output.
extern const OptionDef kVerbose;
extern const OptionDef kVerboseLong;

// Options may stand anywhere, as "--name value" or "--name=value"; "--"
// ends them. Unknown or repeated options are usage errors.
ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionDef> &known);

// A decimal integer within [min, max] given to `option`, else a usage error.
int32_t parse_integer(const std::string &text, int32_t min, int32_t max, const std::string &option);
// The same for counts beyond 32 bits.
uint64_t parse_count(const std::string &text, uint64_t min, uint64_t max, const std::string &option);

// --max-pixels N, else the default limit.
uint64_t max_pixels_option(const ParsedArgs &parsed);

// A line about a completed output: on stderr, since stdout may carry an
// image, and only when -v asked for it.
void report(const ParsedArgs &parsed, const std::string &line);

} // namespace pcxtool
