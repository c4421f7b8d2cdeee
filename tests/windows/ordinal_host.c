/* A host that knows the library only as a file to load and six entry points:
 * on Windows it resolves them by ordinal (2 to 7), elsewhere by name. It reads
 * every page of a DCX file in every sample layout, seeks, exports palettes,
 * reads the file again through its own stream callbacks, and writes each page
 * as a PCX file that it reads back. Everything it learns goes into
 * OUTDIR/report.txt and the written files, so two builds of the library can be
 * compared byte for byte.
 *
 * usage: ordinal_host LIBRARY INPUT.dcx OUTDIR     exit 0: every check held */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffpcx.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

typedef int32_t(IFF_CALL *OpenFn)(const void *, uint32_t, IFFImageInfo *);
typedef int32_t(IFF_CALL *CloseFn)(int32_t);
typedef int32_t(IFF_CALL *GetLineFn)(int32_t, uint32_t, void *);
typedef int32_t(IFF_CALL *PutLineFn)(int32_t, uint32_t, const void *);
typedef int32_t(IFF_CALL *SeekFn)(int32_t, int32_t);
typedef int32_t(IFF_CALL *ControlFn)(int32_t, uint32_t, uint32_t, int32_t, void *);

static OpenFn iff_open;
static CloseFn iff_close;
static GetLineFn iff_get_line;
static PutLineFn iff_put_line;
static SeekFn iff_seek;
static ControlFn iff_control;

static FILE *report;
static int failures;

static void note(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(report, format, args);
    va_end(args);
}

static void check(int ok, const char *what, int page) {
    if (ok) return;
    ++failures;
    note("FAILED page %d: %s\n", page, what);
    fprintf(stderr, "ordinal host: page %d: %s\n", page, what);
}

static uint32_t fnv1a(const uint8_t *bytes, size_t count, uint32_t hash) {
    for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}
static const uint32_t kFnvStart = 2166136261u;

/* ---- Loading ------------------------------------------------------------ */

#if defined(_WIN32)
static int load_library(const char *path) {
    HMODULE module = LoadLibraryA(path);
    if (module == NULL) return 0;
    /* By ordinal only: the names are not consulted. */
    iff_open = (OpenFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(2));
    iff_close = (CloseFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(3));
    iff_get_line = (GetLineFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(4));
    iff_put_line = (PutLineFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(5));
    iff_seek = (SeekFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(6));
    iff_control = (ControlFn)(void (*)(void))GetProcAddress(module, MAKEINTRESOURCEA(7));
    /* Ordinal 1 is not assigned. */
    if (GetProcAddress(module, MAKEINTRESOURCEA(1)) != NULL) return 0;
    return 1;
}
#else
static int load_library(const char *path) {
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) return 0;
    /* dlsym returns data pointers; copying the bits is how POSIX hosts take functions. */
    void *found[6];
    const char *names[6] = {"IFFOpen", "IFFClose", "IFFGetLine", "IFFPutLine", "IFFSeek", "IFFControl"};
    for (int i = 0; i < 6; ++i) found[i] = dlsym(module, names[i]);
    memcpy(&iff_open, &found[0], sizeof iff_open);
    memcpy(&iff_close, &found[1], sizeof iff_close);
    memcpy(&iff_get_line, &found[2], sizeof iff_get_line);
    memcpy(&iff_put_line, &found[3], sizeof iff_put_line);
    memcpy(&iff_seek, &found[4], sizeof iff_seek);
    memcpy(&iff_control, &found[5], sizeof iff_control);
    return 1;
}
#endif

#if defined(_WIN32) && defined(__i386__)
/* Calls entry with count 32-bit arguments pushed right to left, as any caller
 * does, and returns how many bytes the call left on the stack: 0 when the
 * entry point removed its own arguments, as __stdcall does. */
static uint32_t bytes_left_on_stack(void (*entry)(void), const uint32_t *args, uint32_t count) {
    uint32_t left;
    __asm__ volatile("movl %%esp, %%edi\n\t"
                     "1:\n\t"
                     "testl %%ecx, %%ecx\n\t"
                     "jz 2f\n\t"
                     "pushl -4(%%ebx,%%ecx,4)\n\t"
                     "decl %%ecx\n\t"
                     "jmp 1b\n\t"
                     "2:\n\t"
                     "call *%%esi\n\t"
                     "movl %%edi, %%edx\n\t"
                     "subl %%esp, %%edx\n\t"
                     "movl %%edi, %%esp\n\t"
                     : "=d"(left), "+c"(count)
                     : "b"(args), "S"(entry)
                     : "eax", "edi", "memory", "cc");
    return left;
}

static int32_t __cdecl caller_pops(int32_t value) {
    return value;
}

/* Every entry point, called on handle 0 (or, for IFFOpen, with an open mode
 * that is refused), cleans its own arguments off the stack. */
static int entry_points_are_stdcall(void) {
    IFFImageInfo info = {0};
    const uint32_t open_args[3] = {0, 2, (uint32_t)(uintptr_t)&info};
    const uint32_t handle_args[5] = {0, 0, 0, 0, 0};
    struct {
        void (*entry)(void);
        const uint32_t *args;
        uint32_t count;
    } calls[6];
    calls[0].entry = (void (*)(void))iff_open, calls[0].args = open_args, calls[0].count = 3;
    calls[1].entry = (void (*)(void))iff_close, calls[1].args = handle_args, calls[1].count = 1;
    calls[2].entry = (void (*)(void))iff_get_line, calls[2].args = handle_args, calls[2].count = 3;
    calls[3].entry = (void (*)(void))iff_put_line, calls[3].args = handle_args, calls[3].count = 3;
    calls[4].entry = (void (*)(void))iff_seek, calls[4].args = handle_args, calls[4].count = 2;
    calls[5].entry = (void (*)(void))iff_control, calls[5].args = handle_args, calls[5].count = 5;
    /* The probe itself tells the conventions apart. */
    if (bytes_left_on_stack((void (*)(void))caller_pops, handle_args, 1) != 4) return 0;
    for (int i = 0; i < 6; ++i)
        if (bytes_left_on_stack(calls[i].entry, calls[i].args, calls[i].count) != 0) return 0;
    return 1;
}
#else
static int entry_points_are_stdcall(void) {
    return 1;
} /* one C convention elsewhere */
#endif

/* ---- The host's own stream callbacks, over the C runtime's file calls ---- */

#if defined(_WIN32)
#define host_sys_open _open
#define host_sys_close _close
#define host_sys_read _read
#define host_sys_lseek _lseek
#define HOST_BINARY _O_BINARY
#else
#define host_sys_open open
#define host_sys_close close
#define host_sys_read read
#define host_sys_lseek lseek
#define HOST_BINARY 0
#endif

typedef struct HostStream {
    IFFStreamOps ops; /* first, as the library expects */
    const char *path;
    int opens;
} HostStream;

static int32_t IFF_CALLBACK host_open(const void *source, int32_t flags, int32_t permission) {
    HostStream *stream = (HostStream *)source; /* the record the host passed to IFFOpen */
    (void)permission;
    if (flags != 0x8000) return -1; /* this host only reads */
    ++stream->opens;
    return host_sys_open(stream->path, O_RDONLY | HOST_BINARY);
}
static int32_t IFF_CALLBACK host_close(int32_t fd) {
    return host_sys_close(fd);
}
static int32_t IFF_CALLBACK host_read(int32_t fd, void *buffer, int32_t count) {
    return (int32_t)host_sys_read(fd, buffer, (unsigned)count);
}
static int32_t IFF_CALLBACK host_write(int32_t fd, const void *buffer, int32_t count) {
    (void)fd, (void)buffer, (void)count;
    return -1;
}
static int32_t IFF_CALLBACK host_seek(int32_t fd, int32_t offset, int32_t origin) {
    return (int32_t)host_sys_lseek(fd, offset, origin);
}

/* ---- Reading a page ------------------------------------------------------ */

typedef struct Page {
    IFFImageInfo info;
    uint16_t line_size; /* layout 1 (index) or RGB */
    uint8_t *lines;     /* every line in layout 1, one line stride apart */
    int32_t stride;
    uint16_t palette_size; /* bytes, layout 1 */
    uint8_t palette[768];
    int32_t dpi[2];
} Page;

static uint16_t line_size(int32_t h) {
    uint16_t size = 0;
    iff_control(h, IFF_REQ_LINE_SIZE, 0, 0, &size);
    return size;
}

/* Hash of every line of the page in one sample layout, read line by line from the top. */
static uint32_t hash_layout(int32_t h, const IFFImageInfo *info, uint32_t layout, int page) {
    check(iff_control(h, IFF_REQ_PIXEL_FORMAT, layout, 0, NULL) == IFF_OK, "set layout", page);
    check(iff_seek(h, 0) == IFF_OK, "rewind", page);
    const uint16_t size = line_size(h);
    uint8_t *line = malloc((size_t)size + 64);
    uint32_t hash = kFnvStart;
    for (int32_t y = 0; y < info->height; ++y) {
        if (iff_get_line(h, 1, line) != IFF_OK) {
            check(0, "line decode", page);
            break;
        }
        hash = fnv1a(line, size, hash);
    }
    free(line);
    note("  layout %u: line %u bytes, hash %08x\n", (unsigned)layout, (unsigned)size, (unsigned)hash);
    return hash;
}

static void read_page(int32_t h, Page *page, int index) {
    const IFFImageInfo *info = &page->info;
    note("page %d: %d x %d, class %u, bits %d, kind %u\n", index, (int)info->width, (int)info->height,
         (unsigned)info->color_class, (int)info->bits, (unsigned)info->kind);

    const uint32_t layouts[] = {IFF_PIXELS_PACKED, IFF_PIXELS_INDEX, IFF_PIXELS_LEFT, IFF_PIXELS_SCALED,
                                IFF_PIXELS_SCALED + IFF_PIXELS_INVERT};
    for (size_t i = 0; i < sizeof layouts / sizeof layouts[0]; ++i) hash_layout(h, info, layouts[i], index);

    /* Palettes: expanded to 256 entries with layout 3, native entries with
     * layout 1. An RGB page has none: the export refuses it. */
    const int has_palette = info->color_class != 3;
    uint16_t expanded_size = 0;
    uint8_t expanded[768] = {0};
    iff_control(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &expanded_size);
    check(expanded_size <= sizeof expanded, "expanded palette size", index);
    const int32_t expanded_status = iff_control(h, IFF_REQ_PALETTE, 0, 0, expanded);
    check((expanded_status == IFF_OK) == has_palette, "expanded palette export", index);
    iff_control(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);
    uint16_t native_size = 0;
    iff_control(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &native_size);
    check(native_size <= sizeof page->palette, "palette size", index);
    const int32_t native_status = iff_control(h, IFF_REQ_PALETTE, 0, 0, page->palette);
    check((native_status == IFF_OK) == has_palette, "palette export", index);
    page->palette_size = native_status == IFF_OK ? native_size : 0;
    note("  palette: status %d, %u bytes, hash %08x; expanded: status %d, %u bytes, hash %08x\n", (int)native_status,
         (unsigned)native_size, (unsigned)fnv1a(page->palette, page->palette_size, kFnvStart), (int)expanded_status,
         (unsigned)expanded_size, (unsigned)fnv1a(expanded, expanded_status == IFF_OK ? expanded_size : 0, kFnvStart));

    page->dpi[0] = page->dpi[1] = 0;
    check(iff_control(h, IFF_REQ_RESOLUTION, 3, 0, page->dpi) == IFF_OK, "resolution", index);
    note("  resolution: %d x %d dpi\n", (int)page->dpi[0], (int)page->dpi[1]);

    /* All lines at once in layout 1: they land one line stride apart. */
    page->line_size = line_size(h);
    page->stride = (int32_t)page->line_size;
    const size_t all = (size_t)page->stride * (size_t)info->height;
    page->lines = malloc(all + 64);
    check(iff_seek(h, 0) == IFF_OK, "rewind", index);
    check(iff_get_line(h, (uint32_t)info->height, page->lines) == IFF_OK, "all lines in one call", index);
    note("  all lines in one call: hash %08x\n", (unsigned)fnv1a(page->lines, all, kFnvStart));

    /* Seeks forward, backward and to the last line give the lines read in order. */
    uint8_t *line = malloc((size_t)page->line_size + 64);
    const int32_t targets[] = {info->height / 2, 1, info->height - 1, 0, info->height / 3};
    for (size_t i = 0; i < sizeof targets / sizeof targets[0]; ++i) {
        const int32_t y = targets[i];
        const int ok = iff_seek(h, y) == IFF_OK && iff_get_line(h, 1, line) == IFF_OK &&
                       memcmp(line, page->lines + (size_t)y * (size_t)page->stride, page->line_size) == 0;
        check(ok, "seek and read", index);
        note("  seek %d: %s\n", (int)y, ok ? "same line" : "DIFFERENT");
    }
    free(line);
    int32_t status = -1;
    iff_control(h, IFF_REQ_STATUS, 0, 0, &status);
    note("  status %d\n", (int)status);
}

/* ---- Writing a page and reading it back ---------------------------------- */

static void write_page(const Page *page, const char *path, const char *name, int index) {
    IFFImageInfo info = {0};
    info.width = page->info.width;
    info.height = page->info.height;
    info.color_class = page->info.color_class;
    info.bits = page->info.bits;
    const int32_t w = iff_open(path, IFF_MODE_WRITE, &info);
    if (w <= 0) {
        check(0, "write open", index);
        return;
    }
    check(iff_control(w, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL) == IFF_OK, "write layout", index);
    if (page->palette_size > 0)
        check(iff_control(w, IFF_REQ_PALETTE, 0, 0, (void *)page->palette) == IFF_OK, "set palette", index);
    int32_t dpi[2] = {page->dpi[0], page->dpi[1]};
    check(iff_control(w, IFF_REQ_RESOLUTION, 3, 0, dpi) == IFF_OK, "set resolution", index);
    check(iff_put_line(w, (uint32_t)info.height, page->lines) == IFF_OK, "put lines", index);
    check(iff_close(w) == IFF_OK, "close written file", index);

    /* Read back: the same description, palette and lines. */
    IFFImageInfo back = {0};
    const int32_t r = iff_open(path, IFF_MODE_READ, &back);
    if (r <= 0) {
        check(0, "reopen written file", index);
        return;
    }
    check(back.width == info.width && back.height == info.height && back.color_class == info.color_class &&
              back.bits == info.bits,
          "written description", index);
    iff_control(r, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);
    uint8_t palette[768];
    uint16_t palette_size = 0;
    iff_control(r, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size);
    check(palette_size == page->palette_size, "written palette size", index);
    if (palette_size > 0 && palette_size == page->palette_size) {
        iff_control(r, IFF_REQ_PALETTE, 0, 0, palette);
        check(memcmp(palette, page->palette, palette_size) == 0, "written palette", index);
    }
    const size_t all = (size_t)page->stride * (size_t)back.height;
    uint8_t *lines = malloc(all + 64);
    check(iff_get_line(r, (uint32_t)back.height, lines) == IFF_OK, "read written lines", index);
    check(memcmp(lines, page->lines, all) == 0, "written lines", index);
    free(lines);
    check(iff_close(r) == IFF_OK, "close read-back", index);
    note("  written and read back: %s\n", name);
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: ordinal_host LIBRARY INPUT.dcx OUTDIR\n");
        return 2;
    }
    if (!load_library(argv[1]) || !iff_open || !iff_close || !iff_get_line || !iff_put_line || !iff_seek ||
        !iff_control) {
        fprintf(stderr, "ordinal host: cannot load %s and its six entry points\n", argv[1]);
        return 1;
    }
    if (!entry_points_are_stdcall()) {
        fprintf(stderr, "ordinal host: an entry point left its arguments on the stack\n");
        return 1;
    }
    char path[1024];
    snprintf(path, sizeof path, "%s/report.txt", argv[3]);
    report = fopen(path, "wb"); /* the same bytes on every platform */
    if (report == NULL) return 1;

    IFFImageInfo info = {0};
    info.host_data = 0xC0FFEEu;
    const int32_t h = iff_open(argv[2], IFF_MODE_READ, &info);
    if (h <= 0) {
        fprintf(stderr, "ordinal host: open %s: %d\n", argv[2], (int)h);
        return 1;
    }
    check(info.host_data == 0xC0FFEEu && info.reserved == 0, "host field and reserved", 0);
    uint16_t pages = 0;
    check(iff_control(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages) == IFF_OK && pages > 0, "page count", 0);
    note("pages: %u\n", (unsigned)pages);

    uint32_t *page_hashes = calloc(pages, sizeof *page_hashes);
    for (int p = 0; p < (int)pages; ++p) {
        Page page;
        memset(&page, 0, sizeof page);
        check(iff_control(h, IFF_REQ_SELECT_PAGE, 0, p, NULL) == IFF_OK, "select page", p);
        page.info = info; /* page selection describes the page into the same record */
        read_page(h, &page, p);
        page_hashes[p] = fnv1a(page.lines, (size_t)page.stride * (size_t)page.info.height, kFnvStart);
        char name[32];
        snprintf(name, sizeof name, "page-%d.pcx", p);
        snprintf(path, sizeof path, "%s/%s", argv[3], name);
        write_page(&page, path, name, p);
        free(page.lines);
    }
    /* Back to the first page after the last. */
    check(pages < 2 || iff_control(h, IFF_REQ_SELECT_PAGE, 0, 0, NULL) == IFF_OK, "select first page again", 0);
    check(iff_close(h) == IFF_OK, "close", 0);
    check(iff_close(h) == IFF_ERR_HANDLE, "closed handle refused", 0);

    /* The same file through the host's own callbacks, pages in reverse order. */
    HostStream stream = {{host_open, host_close, host_read, host_write, host_seek}, argv[2], 0};
    IFFImageInfo via = {0};
    const int32_t s = iff_open(&stream, IFF_MODE_READ | IFF_MODE_STREAMS, &via);
    check(s > 0 && stream.opens == 1, "open through host callbacks", 0);
    if (s > 0) {
        for (int p = (int)pages - 1; p >= 0; --p) {
            check(iff_control(s, IFF_REQ_SELECT_PAGE, 0, p, NULL) == IFF_OK, "select page (callbacks)", p);
            iff_control(s, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, NULL);
            const size_t all = (size_t)line_size(s) * (size_t)via.height;
            uint8_t *lines = malloc(all + 64);
            check(iff_get_line(s, (uint32_t)via.height, lines) == IFF_OK, "lines (callbacks)", p);
            check(fnv1a(lines, all, kFnvStart) == page_hashes[p], "same lines through host callbacks", p);
            free(lines);
        }
        check(iff_close(s) == IFF_OK, "close (callbacks)", 0);
    }
    note("host callbacks: every page the same\n");
    free(page_hashes);

    if (failures == 0)
        note("all checks held\n");
    else
        note("%d checks failed\n", failures);
    fclose(report);
    printf("ordinal host: %d pages, %s\n", (int)pages, failures == 0 ? "all checks held" : "checks failed");
    return failures == 0 ? 0 : 1;
}
