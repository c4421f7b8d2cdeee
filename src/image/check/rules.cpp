#include "rules.h"

namespace iffpcx_check {
namespace {

constexpr iffpcx_severity kWarning = IFFPCX_SEVERITY_WARNING;
constexpr iffpcx_severity kError = IFFPCX_SEVERITY_ERROR;
constexpr iffpcx_severity kFatal = IFFPCX_SEVERITY_FATAL;

const RuleInfo kRules[] = {
    {Rule::FileNotPcx, "FILE-NOT-PCX", kFatal, "neither a PCX file nor a DCX file"},
    {Rule::HeaderShort, "PCX-HEADER-SHORT", kFatal, "the file ends inside a page's 128-byte header"},
    {Rule::Version, "PCX-VERSION", kFatal, "a header version other than 0, 2, 3, 4 or 5"},
    {Rule::VersionZero, "PCX-VERSION-0", kWarning, "version 0, which several readers do not open"},
    {Rule::Encoding, "PCX-ENCODING", kError, "an encoding byte other than 1 (or 0); decoded as runs"},
    {Rule::Stored, "PCX-STORED", kError, "encoding 0: lines stored without run-length coding"},
    {Rule::Layout, "PCX-LAYOUT", kFatal, "a combination of bits per pixel and planes no reader knows"},
    {Rule::Window, "PCX-WINDOW", kFatal, "a window whose maximum lies below its minimum"},
    {Rule::BytesPerLineShort, "PCX-BPL-SHORT", kFatal, "bytes per line too few for the width"},
    {Rule::BytesPerLineOdd, "PCX-BPL-ODD", kWarning, "an odd number of bytes per line"},
    {Rule::PaletteInfo, "PCX-PALETTE-INFO", kWarning, "palette information other than 1 (colour) or 2 (gray)"},
    {Rule::Reserved, "PCX-RESERVED", kWarning, "the reserved byte is not zero"},
    {Rule::Filler, "PCX-FILLER", kWarning, "the header's filler is not zero"},
    {Rule::Resolution, "PCX-RESOLUTION", kWarning, "a resolution of zero dots per inch"},
    {Rule::DataShort, "PCX-DATA-SHORT", kFatal, "the image data end before the last line"},
    {Rule::RunCrossesLine, "PCX-RUN-CROSSES-LINE", kError, "a run that crosses the end of a scan line"},
    {Rule::RunCrossesPlane, "PCX-RUN-CROSSES-PLANE", kWarning, "a run that crosses the end of a plane's line"},
    {Rule::RunEmpty, "PCX-RUN-EMPTY", kWarning, "a run of count 0"},
    {Rule::TrailingBytes, "PCX-TRAILING-BYTES", kWarning, "bytes after the image data (and palette)"},
    {Rule::PaletteMissing, "PCX-PALETTE-MISSING", kError, "an 8-bit page without its 256-colour block"},
    {Rule::PaletteMarker, "PCX-PALETTE-MARKER", kError, "a 769-byte block after the data whose marker is not 12"},
    {Rule::PaletteGap, "PCX-PALETTE-GAP", kError, "bytes between the image data and the 256-colour block"},
    {Rule::PaletteNotAtEnd, "PCX-PALETTE-NOT-AT-END", kError, "a 256-colour block that does not end the page"},
    {Rule::PaletteVersion, "PCX-PALETTE-VERSION", kWarning, "a 256-colour block in a page of version below 5"},
    {Rule::MapEmpty, "PCX-MAP-EMPTY", kError, "a 4- to 16-colour page whose header colour map is all zero"},
    {Rule::MapBilevel, "PCX-MAP-BILEVEL", kWarning, "a 1-bit page whose colour map is not black and white"},
    {Rule::DcxDirectoryShort, "DCX-DIRECTORY-SHORT", kFatal, "the file ends inside the DCX directory"},
    {Rule::DcxEmpty, "DCX-EMPTY", kFatal, "a DCX directory without pages"},
    {Rule::DcxNoTerminator, "DCX-NO-TERMINATOR", kError, "the directory runs into the pages without its zero"},
    {Rule::DcxTooManyPages, "DCX-TOO-MANY-PAGES", kError, "more than 1,023 pages"},
    {Rule::DcxPageLimit, "DCX-PAGE-LIMIT", kFatal, "more than 65,535 pages"},
    {Rule::DcxOffsetOutside, "DCX-OFFSET-OUTSIDE", kFatal, "a page offset inside the directory or past the end"},
    {Rule::DcxOffsetOrder, "DCX-OFFSET-ORDER", kError, "page offsets not in ascending order"},
    {Rule::DcxPageOverlap, "DCX-PAGE-OVERLAP", kError, "a page's image data run into the next page"},
};

static_assert(sizeof kRules / sizeof kRules[0] == size_t(Rule::DcxPageOverlap) + 1, "one row per rule");

} // namespace

const RuleInfo &rule_info(Rule rule) {
    return kRules[size_t(rule)];
}

const RuleInfo *rule_table(size_t *count) {
    *count = sizeof kRules / sizeof kRules[0];
    return kRules;
}

} // namespace iffpcx_check
