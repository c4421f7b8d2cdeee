// Every rule the checker tests, with its stable identifier and severity. The
// table in rules.cpp is the one place they are stated; docs/check.md lists the
// same identifiers, and a test holds the two together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "iffpcx_check.h"

namespace iffpcx_check {

enum class Rule : uint8_t {
    FileNotPcx,
    HeaderShort,
    Version,
    VersionZero,
    Encoding,
    Stored,
    Layout,
    Window,
    BytesPerLineShort,
    BytesPerLineOdd,
    PaletteInfo,
    Reserved,
    Filler,
    Resolution,
    DataShort,
    RunCrossesLine,
    RunCrossesPlane,
    RunEmpty,
    TrailingBytes,
    PaletteMissing,
    PaletteMarker,
    PaletteGap,
    PaletteNotAtEnd,
    PaletteVersion,
    MapEmpty,
    MapBilevel,
    DcxDirectoryShort,
    DcxEmpty,
    DcxNoTerminator,
    DcxTooManyPages,
    DcxPageLimit,
    DcxOffsetOutside,
    DcxOffsetOrder,
    DcxPageOverlap,
};

struct RuleInfo {
    Rule rule;
    const char *id;
    iffpcx_severity severity;
    const char *meaning; // what breaking it means, in a few words
};

const RuleInfo &rule_info(Rule rule);
// The whole table, in the order of the enumeration.
const RuleInfo *rule_table(size_t *count);

} // namespace iffpcx_check
