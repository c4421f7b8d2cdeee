// What every entry point of iffpcx_image.h does around its work: no
// exception leaves it, and a failure fills the caller's iffpcx_error.
#pragma once

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "base/image_error.h"
#include "iffpcx_image.h"

namespace image {

inline iffpcx_status report(iffpcx_error *error, const ImageError &failure) {
    if (error != nullptr) {
        error->status = failure.status();
        error->page = failure.page();
        error->line = failure.line();
        error->library_status = failure.library_status();
        std::snprintf(error->message, sizeof error->message, "%s", failure.what());
    }
    return static_cast<iffpcx_status>(failure.status());
}

// Runs work(), which returns nothing or throws, and answers its status.
template <typename Work> iffpcx_status guarded(iffpcx_error *error, Work work) {
    try {
        work();
        return IFFPCX_OK;
    } catch (const ImageError &failure) {
        return report(error, failure);
    } catch (const std::bad_alloc &) {
        return report(error, ImageError(IFFPCX_ERR_MEMORY, "out of memory"));
    } catch (const std::exception &failure) {
        return report(error, ImageError(IFFPCX_ERR_LIBRARY, failure.what()));
    } catch (...) {
        return report(error, ImageError(IFFPCX_ERR_LIBRARY, "an unknown failure"));
    }
}

[[noreturn]] inline void argument_error(const std::string &message) {
    throw ImageError(IFFPCX_ERR_ARGUMENT, message);
}

inline std::string name_or(const char *name, const char *fallback) {
    return name != nullptr ? std::string(name) : std::string(fallback);
}

} // namespace image
