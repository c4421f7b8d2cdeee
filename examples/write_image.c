/* Writes a WIDTH x HEIGHT image of diagonal bands to a PCX file, one line at
 * a time: 8-bit palette colour, or 24-bit RGB when the last argument is rgb. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffpcx.h"

/* Ends a handle whose file cannot be completed: abandoned, the close writes
 * nothing more and releases everything. The partial file is removed. */
static int give_up(int32_t h, const char *path, const char *step, int32_t status) {
    fprintf(stderr, "%s: cannot %s (status %d)\n", path, step, (int)status);
    if (IFFControl(h, IFF_REQ_ABANDON, 0, 0, NULL) != IFF_OK || IFFClose(h) != IFF_OK)
        fprintf(stderr, "%s: cannot release the handle\n", path);
    remove(path);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 5 || (strcmp(argv[4], "palette") != 0 && strcmp(argv[4], "rgb") != 0)) {
        fprintf(stderr, "usage: write_image OUT.pcx WIDTH HEIGHT palette|rgb\n");
        return 2;
    }
    IFFImageInfo info;
    memset(&info, 0, sizeof info);
    info.width = atoi(argv[2]);
    info.height = atoi(argv[3]);
    const int rgb = strcmp(argv[4], "rgb") == 0;
    info.color_class = rgb ? 3 : 2; /* RGB, or palette colour */
    info.bits = 8;                  /* bits per channel for RGB */
    int32_t h = IFFOpen(argv[1], IFF_MODE_WRITE, &info);
    if (h < 0) {
        fprintf(stderr, "%s: cannot create (status %d)\n", argv[1], (int)-h);
        return 1;
    }
    /* A palette image takes one index a byte and a palette of 256 RGB triples. */
    uint8_t palette[3 * 256];
    for (int k = 0; k < 256; ++k) {
        palette[3 * k] = (uint8_t)k;
        palette[3 * k + 1] = (uint8_t)(255 - k);
        palette[3 * k + 2] = (uint8_t)(k * 3);
    }
    int32_t status = IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);
    if (status == IFF_OK && !rgb) status = IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette);
    /* The palette block right behind the image data, where every PCX reader
     * looks for it (by default the file ends on a multiple of 32 bytes). */
    if (status == IFF_OK) status = IFFControl(h, IFF_REQ_PALETTE_PLACEMENT, IFF_PALETTE_AFTER_DATA, 0, NULL);

    uint32_t stride = 0; /* bytes IFFPutLine takes from each line: 3 * width for RGB */
    if (status == IFF_OK) status = IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    uint8_t *line = NULL;
    if (status == IFF_OK) {
        line = (uint8_t *)malloc(stride);
        if (line == NULL) status = IFF_ERR_MEMORY;
    }
    for (int32_t y = 0; status == IFF_OK && y < info.height; ++y) {
        for (uint32_t x = 0; x < stride; ++x) line[x] = (uint8_t)((x + (uint32_t)y) / 4);
        status = IFFPutLine(h, 1, line);
    }
    free(line);
    if (status != IFF_OK) return give_up(h, argv[1], "write", status);
    /* Close stores the palette and the final header; after a failure here
     * the handle is still open. */
    status = IFFClose(h);
    if (status != IFF_OK) return give_up(h, argv[1], "complete", status);
    printf("%s: %d x %d written\n", argv[1], (int)info.width, (int)info.height);
    return 0;
}
