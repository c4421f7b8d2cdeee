#include "image/tiff/tiff_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace iff::tiff {

namespace {

// Appends text to the string in out, cut where the buffer ends: messages are
// for people, and a long path must not cost the reason.
void append(char *out, size_t size, const char *text) {
    const size_t used = std::strlen(out);
    if (used + 1 >= size) return;
    const size_t n = std::min(std::strlen(text), size - 1 - used);
    std::memcpy(out + used, text, n);
    out[used + n] = '\0';
}

int keep_message(TIFF *, void *user_data, const char *module, const char *format, va_list args, bool is_error) {
    auto &message = *static_cast<LibraryMessage *>(user_data);
    // The first error says what went wrong; later ones repeat its result.
    if (message.is_error || (!is_error && message.text[0] != '\0')) return 1;
    char text[sizeof message.text];
    std::vsnprintf(text, sizeof text, format, args);
    message.text[0] = '\0';
    if (module != nullptr && module[0] != '\0') {
        append(message.text, sizeof message.text, module);
        append(message.text, sizeof message.text, ": ");
    }
    append(message.text, sizeof message.text, text);
    message.is_error = is_error;
    return 1; // handled: nothing goes to the process's standard error
}

int keep_error(TIFF *tif, void *user_data, const char *module, const char *format, va_list args) {
    return keep_message(tif, user_data, module, format, args, true);
}

int keep_warning(TIFF *tif, void *user_data, const char *module, const char *format, va_list args) {
    return keep_message(tif, user_data, module, format, args, false);
}

} // namespace

const char *status_name(Status status) {
    switch (status) {
    case Status::ok: return "TIFF_OK";
    case Status::argument: return "TIFF_ERR_ARGUMENT";
    case Status::not_tiff: return "TIFF_ERR_NOT_TIFF";
    case Status::malformed: return "TIFF_ERR_MALFORMED";
    case Status::truncated: return "TIFF_ERR_TRUNCATED";
    case Status::unsupported: return "TIFF_ERR_UNSUPPORTED";
    case Status::limit: return "TIFF_ERR_LIMIT";
    case Status::memory: return "TIFF_ERR_MEMORY";
    case Status::read: return "TIFF_ERR_READ";
    case Status::write: return "TIFF_ERR_WRITE";
    case Status::colours: return "TIFF_ERR_COLOURS";
    case Status::callback: return "TIFF_ERR_CALLBACK";
    }
    return "TIFF_ERR_UNKNOWN";
}

TIFFOpenOptions *capturing_options(LibraryMessage &message) {
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, keep_error, &message);
    TIFFOpenOptionsSetWarningHandlerExtR(options, keep_warning, &message);
    return options;
}

Status report(Error *error, Status status, const Place &place, const LibraryMessage *library, const char *what, ...) {
    if (error == nullptr) return status;
    char reason[512];
    va_list args;
    va_start(args, what);
    std::vsnprintf(reason, sizeof reason, what, args);
    va_end(args);
    char where[64] = "";
    if (place.page >= 0 && place.line >= 0)
        std::snprintf(where, sizeof where, "page %d: line %d: ", int(place.page), int(place.line));
    else if (place.page >= 0)
        std::snprintf(where, sizeof where, "page %d: ", int(place.page));
    const bool from_library = library != nullptr && library->text[0] != '\0';
    error->message[0] = '\0';
    for (const char *part :
         {place.name != nullptr ? place.name : "TIFF", ": ", static_cast<const char *>(where),
          static_cast<const char *>(reason), from_library ? ": " : "", from_library ? library->text : ""})
        append(error->message, sizeof error->message, part);
    error->status = int32_t(status);
    error->page = place.page;
    error->line = place.line;
    return status;
}

} // namespace iff::tiff
