#include "output_formats.h"

#include "output_names.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

struct Extension {
    const char *extension;
    const char *format;
};

// Every extension pcxtool recognises, whether or not it writes that format.
constexpr Extension kExtensions[] = {
    {".png", "PNG"},  {".pnm", "PNM"},   {".pbm", "PBM"}, {".pgm", "PGM"},  {".ppm", "PPM"},
    {".pam", "PAM"},  {".pcx", "PCX"},   {".dcx", "DCX"}, {".tif", "TIFF"}, {".tiff", "TIFF"},
    {".jpg", "JPEG"}, {".jpeg", "JPEG"}, {".gif", "GIF"}, {".bmp", "BMP"},  {".webp", "WebP"},
};

bool is_netpbm(const std::string &format) {
    return format == "PBM" || format == "PGM" || format == "PPM" || format == "PAM";
}

} // namespace

std::string format_said_by(const std::string &name) {
    const std::string extension = extension_of(name);
    for (const Extension &known : kExtensions) {
        if (extension == known.extension) {
            return known.format;
        }
    }
    return "";
}

void refuse_other_format(const std::string &name, const std::vector<std::string> &written, const std::string &what) {
    const std::string said = format_said_by(name);
    if (said.empty()) {
        return;
    }
    for (const std::string &format : written) {
        if (format == said || (said == "PNM" && is_netpbm(format))) {
            return;
        }
    }
    throw usage_error("'" + name + "' is named as a " + said + " file, but " + what);
}

} // namespace pcxtool
