/* A program built against an installed iffpcx: reads every line of the file
 * it is given and prints the image's size and the library's version. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iffpcx.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    IFFImageInfo info;
    memset(&info, 0, sizeof info);
    int32_t h = IFFOpen(argv[1], IFF_MODE_READ, &info);
    if (h < 0) return 1;
    uint32_t stride = 0;
    int32_t status = IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    uint8_t *pixels = status == IFF_OK ? (uint8_t *)malloc((size_t)stride * (size_t)info.height) : NULL;
    if (pixels == NULL) status = IFF_ERR_MEMORY;
    if (status == IFF_OK) status = IFFGetLine(h, (uint32_t)info.height, pixels);
    free(pixels);
    if (IFFClose(h) != IFF_OK || status != IFF_OK) return 1;
    printf("%d x %d, iffpcx %s\n", (int)info.width, (int)info.height, IFFPCX_VERSION_STRING);
    return 0;
}
