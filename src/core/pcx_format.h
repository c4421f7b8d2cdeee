// The facts of the PCX and DCX file formats, stated once for the library, the
// image layer, the checker, the tests and the fuzz targets. Plain constants,
// no dependencies.
#pragma once

#include <cstdint>

namespace pcx_format {

// ---- The 128-byte page header; multi-byte fields are little-endian --------
constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kManufacturerAt = 0; // 1 byte
constexpr uint32_t kVersionAt = 1;      // 1 byte
constexpr uint32_t kEncodingAt = 2;     // 1 byte
constexpr uint32_t kBitsPerPixelAt = 3; // 1 byte, bits of one plane's pixel
constexpr uint32_t kXMinAt = 4;         // the window, 2 bytes each, inclusive
constexpr uint32_t kYMinAt = 6;
constexpr uint32_t kXMaxAt = 8;
constexpr uint32_t kYMaxAt = 10;
constexpr uint32_t kHorizontalDpiAt = 12; // 2 bytes each
constexpr uint32_t kVerticalDpiAt = 14;
constexpr uint32_t kColourMapAt = 16; // 16 RGB triples
constexpr uint32_t kColourMapBytes = 48;
constexpr uint32_t kReservedAt = 64;     // 1 byte, zero
constexpr uint32_t kPlanesAt = 65;       // 1 byte
constexpr uint32_t kBytesPerLineAt = 66; // 2 bytes, of one plane's line
constexpr uint32_t kPaletteInfoAt = 68;  // 2 bytes
constexpr uint32_t kFillerAt = 70;       // zeros to the header's end
constexpr uint32_t kFillerBytes = kHeaderSize - kFillerAt;

constexpr uint8_t kManufacturer = 10;
// Header versions: 0 (no palette), 2 (with palette), 3 (without), 4, 5.
constexpr uint8_t kVersionNoPalette = 0;
constexpr uint8_t kVersionLatest = 5;
constexpr uint8_t kEncodingStored = 0; // lines stored as they are
constexpr uint8_t kEncodingRuns = 1;   // run-length coded
constexpr uint16_t kPaletteInfoColour = 1;
constexpr uint16_t kPaletteInfoGray = 2;

// ---- Run-length coding ----------------------------------------------------
// A byte with both top bits set is a count (its low six bits) and the next
// byte the value to repeat; any other byte is itself.
constexpr uint8_t kRunMark = 0xC0;
constexpr uint8_t kRunCountMask = 0x3F;
constexpr uint32_t kLongestRun = 63;

// ---- The 256-colour block at the end of a page ----------------------------
constexpr uint8_t kPaletteBlockMarker = 12;
constexpr uint32_t kPaletteBlockSize = 769; // the marker and 256 RGB triples
constexpr uint32_t kHeaderColours = 16;

// ---- DCX ------------------------------------------------------------------
constexpr uint32_t kDcxSignature = 987654321;  // bytes B1 68 DE 3A
constexpr uint32_t kDcxEntrySize = 4;          // 32-bit page offsets after the signature, then 0
constexpr uint32_t kDcxReaderPageLimit = 1023; // most entries readers expect before the zero
constexpr uint32_t kDcxMostPages = 65535;      // most a 16-bit page count holds

} // namespace pcx_format
