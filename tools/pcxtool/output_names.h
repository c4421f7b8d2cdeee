// Output names for decoded pages, and the image format an output name asks for.
#pragma once

#include <string>

namespace pcxtool {

enum class ImageFormat { Png, Pnm, Pbm, Pgm, Ppm, Pam };

// From the name's extension, in any letter case; others are usage errors.
ImageFormat format_from_name(const std::string &name);

// From a format's name (png, pnm, pbm, pgm, ppm or pam, any letter case)
// given to `option`; others are usage errors.
ImageFormat format_from_word(const std::string &word, const std::string &option);

// The format's name as --to takes it and as its files end: "png", "pam".
const char *format_word(ImageFormat format);

// The text in small letters.
std::string lower(std::string text);

// The name's extension in small letters with its dot (".png"), or "".
std::string extension_of(const std::string &name);

// The name for one page. In `pattern`, "%d" (or "%0Nd", zero-padded to N
// digits) stands for the page number and "%%" for "%". Without "%d", a file
// of several pages gets ".p<N>" before the extension (out.png: out.p0.png,
// out.p1.png, ...), and a single page the name as it is. A bad pattern is a
// usage error.
std::string page_output_name(const std::string &pattern, int page, bool several_pages);

} // namespace pcxtool
