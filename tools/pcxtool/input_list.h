// The inputs a converting command was given and the output each goes to:
// IN OUT, or several INs with --out-dir DIR.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace pcxtool {

struct InputOutput {
    std::string input;
    std::string output;
};

// Without --out-dir, exactly IN and OUT. With it, one or more INs (not
// standard input), each written into DIR under its own name with its
// extension made `extension` ("png"); with `as_pattern` a '%' of that name is
// written "%%", since decode reads page numbers from its output names. Bad
// counts and a DIR that is not a folder are usage errors.
std::vector<InputOutput> inputs_and_outputs(const ParsedArgs &parsed, const std::string &command,
                                            const std::string &extension, bool as_pattern = false);

} // namespace pcxtool
