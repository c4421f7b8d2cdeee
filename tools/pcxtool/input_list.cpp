#include "input_list.h"

#include <sys/stat.h>

#include "file_io.h"
#include "output_names.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// "scans/a.page.pcx" -> "a.page"
std::string stem_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string extension = extension_of(base);
    return base.substr(0, base.size() - extension.size());
}

} // namespace

std::vector<InputOutput> inputs_and_outputs(const ParsedArgs &parsed, const std::string &command,
                                            const std::string &extension, bool as_pattern) {
    const std::vector<std::string> &names = parsed.positionals;
    std::vector<InputOutput> pairs;
    if (!parsed.has("--out-dir")) {
        if (names.size() != 2) {
            throw usage_error(command + " needs IN and OUT" +
                              (names.size() > 2 ? ", or several INs with --out-dir DIR" : std::string()));
        }
        pairs.push_back(InputOutput{names[0], names[1]});
        return pairs;
    }
    const std::string &folder = parsed.options.at("--out-dir");
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw usage_error("--out-dir " + folder + ": not a folder (pcxtool writes into one that exists)");
    }
    if (names.empty()) {
        throw usage_error(command + " --out-dir DIR takes one or more INs");
    }
    for (const std::string &input : names) {
        if (is_standard_stream(input)) {
            throw usage_error("--out-dir names its outputs after their inputs, and standard input ('-') has no name");
        }
        std::string output = stem_of(input) + "." + extension;
        if (as_pattern) {
            std::string escaped;
            for (char c : output) {
                escaped += c == '%' ? std::string("%%") : std::string(1, c);
            }
            output = escaped;
        }
        pairs.push_back(InputOutput{input, (folder.back() == '/' ? folder : folder + "/") + output});
    }
    return pairs;
}

} // namespace pcxtool
