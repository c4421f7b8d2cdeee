#include "status_names.h"

#include "iffpcx.h"

namespace pcxtool {

namespace {

struct StatusName {
    int32_t code;
    const char *name;
    const char *meaning;
};

const StatusName kStatusNames[] = {
    {IFF_OK, "IFF_OK", "success"},
    {IFF_ERR_LINE, "IFF_ERR_LINE", "a scan line failed to decode: the image data ended early"},
    {IFF_ERR_HANDLE, "IFF_ERR_HANDLE", "unknown handle or an image description that makes no sense"},
    {IFF_ERR_UNSUPPORTED, "IFF_ERR_UNSUPPORTED", "a layout, open mode or request the library does not have"},
    {IFF_ERR_REQUEST, "IFF_ERR_REQUEST", "a request not valid here, or an argument out of range"},
    {IFF_ERR_MEMORY, "IFF_ERR_MEMORY", "out of memory"},
    {IFF_ERR_FORMAT, "IFF_ERR_FORMAT", "not a PCX file of a supported version, or a colour image without palette"},
    {IFF_ERR_OPEN, "IFF_ERR_OPEN", "the file could not be opened"},
    {IFF_ERR_CLOSE, "IFF_ERR_CLOSE", "the file could not be closed"},
    {IFF_ERR_READ, "IFF_ERR_READ", "the file is shorter than its header or page directory needs"},
    {IFF_ERR_WRITE, "IFF_ERR_WRITE", "the file took fewer bytes than were written"},
    {IFF_ERR_SEEK, "IFF_ERR_SEEK", "the file could not be positioned"},
};

} // namespace

std::string describe_status(int32_t status) {
    for (const StatusName &entry : kStatusNames) {
        if (entry.code == status) {
            return std::string(entry.name) + " (" + entry.meaning + ")";
        }
    }
    return "status " + std::to_string(status) + " (not a status the library documents)";
}

} // namespace pcxtool
