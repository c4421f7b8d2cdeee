/* A C99 host built against the public header and the shared library: reads a
 * 24-bit file line by line and compares it with the binary PPM of its image. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffpcx.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    IFFImageInfo info = {0};
    info.host_data = 0xC0FFEEu;
    int32_t handle = IFFOpen(argv[1], IFF_MODE_READ, &info);
    if (handle <= 0) {
        fprintf(stderr, "open failed: %d\n", (int)handle);
        return 1;
    }
    if (info.host_data != 0xC0FFEEu || info.kind != 2 || info.color_class != 3 || info.bits != 8) {
        fprintf(stderr, "unexpected description\n");
        return 1;
    }
    FILE *ppm = fopen(argv[2], "rb");
    int w = 0, h = 0, maxval = 0;
    if (!ppm || fscanf(ppm, "P6 %d %d %d", &w, &h, &maxval) != 3 || fgetc(ppm) == EOF) return 1;
    if (w != info.width || h != info.height) return 1;
    size_t row_bytes = (size_t)w * 3;
    unsigned char *expected = malloc(row_bytes), *line = malloc(row_bytes);
    int status = 0;
    for (int y = 0; y < h && status == 0; ++y) {
        if (fread(expected, 1, row_bytes, ppm) != row_bytes)
            status = 1;
        else if (IFFGetLine(handle, 1, line) != IFF_OK)
            status = 1;
        else if (memcmp(line, expected, row_bytes) != 0)
            status = 1;
    }
    if (IFFClose(handle) != IFF_OK) status = 1;
    if (IFFClose(handle) != IFF_ERR_HANDLE) status = 1;
    free(expected);
    free(line);
    fclose(ppm);
    puts(status == 0 ? "c host: image read exactly" : "c host: mismatch");
    return status;
}
