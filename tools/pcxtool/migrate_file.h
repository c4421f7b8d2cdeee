// One file of a migration: recognised by its content, converted, verified
// and placed under its mirrored name, never over a file that stands there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "migrate_manifest.h"

namespace pcxtool {

struct MigrateSettings {
    bool png = false;              // PNG pages instead of one TIFF file
    uint32_t tiff_compression = 0; // IFFPCX_TIFF_...
    uint64_t max_pixels = 0;
};

// What became of one file. `record` is written to the manifest unless
// `resumed`: an earlier run converted (or skipped) the same bytes.
struct MigrateOutcome {
    MigrateRecord record;
    bool resumed = false;
};

// Converts `source` into outputs named from `output_base` (the mirrored
// path, to which .tif, or .png and .pN.png, is added). Never throws: every
// failure is the record's.
MigrateOutcome migrate_file(const std::string &source, const std::string &output_base, const MigrateSettings &settings,
                            const ConvertedFiles &converted, std::vector<uint8_t> &buffer);

} // namespace pcxtool
