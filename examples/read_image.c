/* Reads the first page of a PCX or DCX file into memory in one call and
 * prints its size and a checksum of its pixels, the same on every platform. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffpcx.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: read_image FILE\n");
        return 2;
    }
    IFFImageInfo info; /* must outlive the handle: page selection fills it again */
    memset(&info, 0, sizeof info);
    int32_t h = IFFOpen(argv[1], IFF_MODE_READ, &info);
    if (h < 0) {
        fprintf(stderr, "%s: cannot open (status %d)\n", argv[1], (int)-h);
        return 1;
    }
    /* One byte per pixel holding its palette index (RGB images: R, G, B bytes a pixel). */
    int32_t status = IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);

    /* The palette's size in bytes, then its RGB triples. */
    uint16_t palette_bytes = 0;
    uint8_t *palette = NULL;
    if (status == IFF_OK && info.color_class != 3)
        status = IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_bytes);
    if (status == IFF_OK && palette_bytes > 0) {
        palette = (uint8_t *)malloc(palette_bytes);
        status = palette ? IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette) : IFF_ERR_MEMORY;
    }

    /* Lines are placed one stride apart, and no line is longer than the stride:
     * count lines need count * stride bytes, whatever the image. */
    uint32_t stride = 0;
    if (status == IFF_OK) status = IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    uint8_t *pixels = NULL;
    if (status == IFF_OK) {
        pixels = (uint8_t *)malloc((size_t)stride * (size_t)info.height);
        status = pixels ? IFFGetLine(h, (uint32_t)info.height, pixels) : IFF_ERR_MEMORY;
    }
    if (status == IFF_OK) {
        /* Fixed-width arithmetic: unsigned long is 32 bits on Windows, 64 on Linux. */
        uint32_t sum = 0;
        for (size_t i = 0; i < (size_t)stride * (size_t)info.height; ++i)
            sum = (uint32_t)(((uint64_t)sum * 31u + pixels[i]) % 1000000007u);
        printf("%s: %d x %d, colour class %u, %d bit%s, %u palette bytes, checksum %lu\n", argv[1], (int)info.width,
               (int)info.height, (unsigned)info.color_class, (int)info.bits, info.bits == 1 ? "" : "s",
               (unsigned)palette_bytes, (unsigned long)sum);
    } else {
        fprintf(stderr, "%s: cannot read (status %d)\n", argv[1], (int)status);
    }
    free(pixels);
    free(palette);
    int32_t closed = IFFClose(h);
    if (status == IFF_OK && closed != IFF_OK) {
        fprintf(stderr, "%s: cannot close (status %d)\n", argv[1], (int)closed);
        status = closed;
    }
    return status == IFF_OK ? 0 : 1;
}
