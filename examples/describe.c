/* A small host: opens each PCX or DCX file named on the command line and
 * prints the description of every page, pages numbered from 0. */
#include <stdio.h>

#include "iffpcx.h"

static const char *class_name(uint32_t color_class) {
    static const char *names[] = {"bilevel", "grayscale", "palette colour", "RGB"};
    return color_class < 4 ? names[color_class] : "unknown";
}

static const char *plural(long count) {
    return count == 1 ? "" : "s";
}

int main(int argc, char **argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        IFFImageInfo info = {0}; /* must outlive the handle: page selection fills it again */
        int32_t handle = IFFOpen(argv[i], IFF_MODE_READ, &info);
        if (handle < 0) {
            fprintf(stderr, "%s: cannot open (status %d)\n", argv[i], (int)-handle);
            ++failures;
            continue;
        }
        uint16_t pages = 1;
        IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &pages);
        printf("%s: %u page%s\n", argv[i], (unsigned)pages, plural(pages));
        for (int page = 0; page < pages; ++page) {
            if (page > 0 && IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, page, NULL) != IFF_OK) {
                fprintf(stderr, "%s: page %d cannot be read\n", argv[i], page);
                ++failures;
                break;
            }
            int32_t dpi[2] = {0, 0};
            IFFControl(handle, IFF_REQ_RESOLUTION, 3, 0, dpi);
            printf("  page %d: %d x %d, %s, %d bit%s, %d x %d dpi\n", page, (int)info.width, (int)info.height,
                   class_name(info.color_class), (int)info.bits, plural(info.bits), (int)dpi[0], (int)dpi[1]);
        }
        IFFClose(handle);
    }
    return failures ? 1 : 0;
}
