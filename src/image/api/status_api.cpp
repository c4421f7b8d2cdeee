// Status names and texts, the version and the default limits.
#include "iffpcx_image.h"

extern "C" {

const char *iffpcx_status_name(int32_t status) {
    switch (status) {
    case IFFPCX_OK: return "IFFPCX_OK";
    case IFFPCX_ERR_ARGUMENT: return "IFFPCX_ERR_ARGUMENT";
    case IFFPCX_ERR_NOT_PCX: return "IFFPCX_ERR_NOT_PCX";
    case IFFPCX_ERR_MALFORMED: return "IFFPCX_ERR_MALFORMED";
    case IFFPCX_ERR_TRUNCATED: return "IFFPCX_ERR_TRUNCATED";
    case IFFPCX_ERR_UNSUPPORTED: return "IFFPCX_ERR_UNSUPPORTED";
    case IFFPCX_ERR_LIMIT: return "IFFPCX_ERR_LIMIT";
    case IFFPCX_ERR_MEMORY: return "IFFPCX_ERR_MEMORY";
    case IFFPCX_ERR_READ: return "IFFPCX_ERR_READ";
    case IFFPCX_ERR_WRITE: return "IFFPCX_ERR_WRITE";
    case IFFPCX_ERR_COLOURS: return "IFFPCX_ERR_COLOURS";
    case IFFPCX_ERR_CALLBACK: return "IFFPCX_ERR_CALLBACK";
    case IFFPCX_ERR_LIBRARY: return "IFFPCX_ERR_LIBRARY";
    default: return "IFFPCX_ERR_UNKNOWN";
    }
}

const char *iffpcx_status_text(int32_t status) {
    switch (status) {
    case IFFPCX_OK: return "success";
    case IFFPCX_ERR_ARGUMENT: return "a null pointer, a page out of range or a form the page cannot give";
    case IFFPCX_ERR_NOT_PCX: return "neither a PCX nor a DCX file";
    case IFFPCX_ERR_MALFORMED: return "a header or DCX directory that cannot be used";
    case IFFPCX_ERR_TRUNCATED: return "the image data end early";
    case IFFPCX_ERR_UNSUPPORTED: return "a layout this layer does not convert";
    case IFFPCX_ERR_LIMIT: return "beyond a limit the caller set";
    case IFFPCX_ERR_MEMORY: return "out of memory";
    case IFFPCX_ERR_READ: return "the input could not be opened or read";
    case IFFPCX_ERR_WRITE: return "the output could not be created or written";
    case IFFPCX_ERR_COLOURS: return "the image's colours do not fit the layout asked for";
    case IFFPCX_ERR_CALLBACK: return "a callback asked to stop";
    case IFFPCX_ERR_LIBRARY: return "the line library answered what it should not";
    default: return "not a status this layer documents";
    }
}

const char *iffpcx_image_version(void) {
    return IFFPCX_VERSION_STRING;
}

iffpcx_limits iffpcx_default_limits(void) {
    iffpcx_limits limits;
    limits.max_pixels = uint64_t{16384} * 16384;
    limits.max_file_bytes = 0x7FFFFFFF;
    limits.max_pages = 65535;
    return limits;
}

} // extern "C"
