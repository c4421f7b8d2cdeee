/* A Windows host that loads iffpcx.dll itself (from beside the program) and
 * takes the entry points by ordinal: reads the first page of a file and prints
 * its size and the checksum read_image prints. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "iffpcx.h"

typedef int32_t(IFF_CALL *OpenFn)(const void *, uint32_t, IFFImageInfo *);
typedef int32_t(IFF_CALL *CloseFn)(int32_t);
typedef int32_t(IFF_CALL *GetLineFn)(int32_t, uint32_t, void *);
typedef int32_t(IFF_CALL *ControlFn)(int32_t, uint32_t, uint32_t, int32_t, void *);

static FARPROC entry(HMODULE dll, int ordinal) {
    return GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: load_by_ordinal FILE\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA("iffpcx.dll");
    if (dll == NULL) {
        fprintf(stderr, "cannot load iffpcx.dll\n");
        return 1;
    }
    OpenFn iff_open = (OpenFn)(void (*)(void))entry(dll, 2);
    CloseFn iff_close = (CloseFn)(void (*)(void))entry(dll, 3);
    GetLineFn iff_get_line = (GetLineFn)(void (*)(void))entry(dll, 4);
    ControlFn iff_control = (ControlFn)(void (*)(void))entry(dll, 7);

    IFFImageInfo info = {0}; /* must outlive the handle */
    int32_t h = iff_open(argv[1], IFF_MODE_READ, &info);
    int32_t status = h < 0 ? -h : iff_control(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);
    uint32_t stride = 0; /* bytes from one line to the next: the buffer's unit */
    if (status == IFF_OK) status = iff_control(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    uint8_t *pixels = NULL;
    if (status == IFF_OK) {
        pixels = (uint8_t *)malloc((size_t)stride * (size_t)info.height);
        status = pixels ? iff_get_line(h, (uint32_t)info.height, pixels) : IFF_ERR_MEMORY;
    }
    if (status == IFF_OK) {
        uint32_t sum = 0;
        for (size_t i = 0; i < (size_t)stride * (size_t)info.height; ++i)
            sum = (uint32_t)(((uint64_t)sum * 31u + pixels[i]) % 1000000007u);
        printf("%s: %d x %d, checksum %lu\n", argv[1], (int)info.width, (int)info.height, (unsigned long)sum);
    } else {
        fprintf(stderr, "%s: cannot read (status %d)\n", argv[1], (int)status);
    }
    free(pixels);
    if (h > 0) iff_close(h);
    FreeLibrary(dll);
    return status == IFF_OK ? 0 : 1;
}
