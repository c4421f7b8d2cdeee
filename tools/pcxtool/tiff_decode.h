// decode's TIFF output: every page (or the one --page picks) in one
// multi-page TIFF file, written by the whole-image layer.
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"

namespace pcxtool {

// Whether decode writes TIFF: --to tiff, or an output named .tif or .tiff
// (any letter case). --compress with another format is a usage error.
bool wants_tiff(const ParsedArgs &parsed, const std::string &out);

// IFFPCX_TIFF_... from --compress (none, lzw, deflate or g4), else the default.
uint32_t tiff_compression_option(const ParsedArgs &parsed);

// Runs decode for TIFF output; returns the exit status.
int decode_to_tiff(const ParsedArgs &parsed);

} // namespace pcxtool
