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
};

// Options may stand anywhere, as "--name value" or "--name=value"; "--"
// ends them. Unknown or repeated options are usage errors.
ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionDef> &known);

// A decimal integer within [min, max] given to `option`, else a usage error.
int32_t parse_integer(const std::string &text, int32_t min, int32_t max, const std::string &option);

} // namespace pcxtool
