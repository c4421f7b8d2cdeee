// What an output's name says it holds, so that no command writes one format
// under another's name.
#pragma once

#include <string>
#include <vector>

namespace pcxtool {

// The format a name's extension says ("PNG", "PCX", "TIFF", ...), or "" when
// it says none that pcxtool knows (no extension, ".out", "-").
std::string format_said_by(const std::string &name);

// Refuses, as a usage error that names both, a name whose extension says a
// format other than `written` ("PCX", "DCX"; a ".pnm" name stands for any of
// PBM, PGM, PPM and PAM). `what` says what is written instead, and how to
// name it: "encode writes PCX: name it .pcx".
void refuse_other_format(const std::string &name, const std::vector<std::string> &written, const std::string &what);

} // namespace pcxtool
