/*
 * iffpcx_image: whole pages of PCX and DCX files, for hosts that want images
 * rather than scan lines. Built on the six entry points of iffpcx.h, as any
 * host is; callable from C99 and C++; nothing here throws.
 *
 * Reading:  iffpcx_open_path / _memory / _reader -> iffpcx_page_info ->
 *           iffpcx_decode (into your buffer) or iffpcx_decode_rows (a row
 *           callback, memory independent of the page's size) -> iffpcx_close.
 * Writing:  describe an image (iffpcx_image), pick an output (path, memory,
 *           your write callback, or your file that takes bytes at any
 *           offset) and call iffpcx_encode, then iffpcx_output_finish; DCX
 *           files are assembled from pages with iffpcx_encode_dcx or
 *           iffpcx_pack_dcx and split with iffpcx_page_spans.
 * Errors:   every function returns an iffpcx_status; when you pass an
 *           iffpcx_error, a failure also fills it with a message naming the
 *           file, the page, the line and the reason.
 *
 * One iffpcx_file or iffpcx_output is used by one thread at a time; separate
 * objects may be used from separate threads. Nothing is allocated per row.
 * Large pages are decoded and encoded on two threads where the machine has
 * two cores; IFFPCX_ONE_THREAD keeps a call on the caller's thread.
 */
#ifndef IFFPCX_IMAGE_H
#define IFFPCX_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "iffpcx.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define IFFPCX_IMAGE_API
#elif defined(__GNUC__)
#define IFFPCX_IMAGE_API __attribute__((visibility("default")))
#else
#define IFFPCX_IMAGE_API
#endif

/* ---- Status ------------------------------------------------------------- */
typedef enum iffpcx_status {
    IFFPCX_OK = 0,
    IFFPCX_ERR_ARGUMENT = 1,    /* a null pointer, a page out of range, a form the page cannot give */
    IFFPCX_ERR_NOT_PCX = 2,     /* neither a PCX nor a DCX file */
    IFFPCX_ERR_MALFORMED = 3,   /* a header or DCX directory that cannot be used */
    IFFPCX_ERR_TRUNCATED = 4,   /* the page's image data end before its last line */
    IFFPCX_ERR_UNSUPPORTED = 5, /* a layout this layer does not convert */
    IFFPCX_ERR_LIMIT = 6,       /* beyond a limit the caller set (pixels, file size, pages) */
    IFFPCX_ERR_MEMORY = 7,      /* an allocation failed */
    IFFPCX_ERR_READ = 8,        /* the input could not be opened or read */
    IFFPCX_ERR_WRITE = 9,       /* the output could not be created or written */
    IFFPCX_ERR_COLOURS = 10,    /* the image's colours do not fit the layout asked for */
    IFFPCX_ERR_CALLBACK = 11,   /* a callback of the caller's asked to stop */
    IFFPCX_ERR_LIBRARY = 12     /* the line library answered what it should not (a fault) */
} iffpcx_status;

/* A failure's details. Pass one to any function (or NULL); it is filled on
 * failure and left alone on success. */
typedef struct iffpcx_error {
    int32_t status;         /* an iffpcx_status */
    int32_t page;           /* the page (from 0), or -1 */
    int32_t line;           /* the line (from 0), or -1 */
    int32_t library_status; /* the iffpcx.h status behind it (IFF_ERR_...), or 0 */
    char message[1024];     /* "scan.dcx: page 2: decoding line 10 failed: ..." */
} iffpcx_error;

IFFPCX_IMAGE_API const char *iffpcx_status_name(int32_t status); /* "IFFPCX_ERR_TRUNCATED" */
IFFPCX_IMAGE_API const char *iffpcx_status_text(int32_t status); /* "the image data end early" */

/* The layer's version: the line library's (IFFPCX_VERSION_STRING). */
IFFPCX_IMAGE_API const char *iffpcx_image_version(void);

/* ---- Limits: checked from the headers before anything is allocated ------ */
typedef struct iffpcx_limits {
    uint64_t max_pixels;     /* largest page, width * height; 0: no limit */
    uint64_t max_file_bytes; /* largest input; 0: the most a PCX or DCX file can be (2 GiB - 1) */
    uint32_t max_pages;      /* most pages of a DCX file; 0: no limit beyond the format's 65,535 */
} iffpcx_limits;

/* 16384 x 16384 pixels, 2 GiB - 1 bytes, 65,535 pages. */
IFFPCX_IMAGE_API iffpcx_limits iffpcx_default_limits(void);

/* ---- Reading ------------------------------------------------------------- */
typedef struct iffpcx_file iffpcx_file;

/* A caller's input: read up to size bytes into buffer, return how many (0 at
 * the end, negative on failure). The input is read to its end at open. */
typedef int64_t (*iffpcx_read_fn)(void *context, void *buffer, size_t size);

/* limits may be NULL (the defaults). name: how messages name the input (NULL:
 * "input"). A file larger than max_file_bytes, or a DCX file of more pages
 * than max_pages, is refused before its pages are read. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_open_path(const char *path, const iffpcx_limits *limits, iffpcx_file **file,
                                                iffpcx_error *error);
/* The bytes are not copied: they must stay as they are until iffpcx_close. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_open_memory(const void *data, size_t size, const char *name,
                                                  const iffpcx_limits *limits, iffpcx_file **file, iffpcx_error *error);
IFFPCX_IMAGE_API iffpcx_status iffpcx_open_reader(iffpcx_read_fn read, void *context, const char *name,
                                                  const iffpcx_limits *limits, iffpcx_file **file, iffpcx_error *error);
IFFPCX_IMAGE_API void iffpcx_close(iffpcx_file *file); /* NULL is fine */

IFFPCX_IMAGE_API int iffpcx_is_dcx(const iffpcx_file *file);
IFFPCX_IMAGE_API uint32_t iffpcx_page_count(const iffpcx_file *file);
/* How messages name the file: the path, or the name given at open. */
IFFPCX_IMAGE_API const char *iffpcx_file_name(const iffpcx_file *file);

/* What a page holds, as decoding gives it by default:
 *   BILEVEL  two colours, black and white
 *   GRAY     gray levels (a grayscale page whose palette holds only grays)
 *   INDEXED  indices into the page's palette
 *   RGB      24-bit colour, three 8-bit planes
 *   RGBA     four 8-bit planes: red, green, blue, alpha */
typedef enum iffpcx_kind {
    IFFPCX_KIND_BILEVEL = 0,
    IFFPCX_KIND_GRAY = 1,
    IFFPCX_KIND_INDEXED = 2,
    IFFPCX_KIND_RGB = 3,
    IFFPCX_KIND_RGBA = 4
} iffpcx_kind;

typedef struct iffpcx_page_info {
    uint32_t index;        /* the page, from 0 */
    int32_t width, height; /* pixels */
    uint32_t kind;         /* iffpcx_kind */
    uint32_t color_class;  /* IFF_CLASS_... as the line library describes the page */
    int32_t bits;          /* as the line library describes the page (8 for 24-bit RGB) */
    int32_t planes;        /* header fields */
    int32_t bits_per_plane;
    int32_t version;
    int32_t encoding;                   /* 1 run-length coded, 0 stored */
    int32_t bytes_per_line;             /* per plane line */
    int32_t palette_type;               /* the header's palette information field */
    int32_t x_min, y_min, x_max, y_max; /* the window */
    int32_t dpi_x, dpi_y;               /* 0 where the header gives none */
    uint32_t palette_entries;           /* 0 for pages of more than 8 bits */
    uint8_t palette[256 * 3];           /* palette_entries RGB triples */
    uint64_t offset;                    /* where the page's header lies in the file */
    uint64_t size;                      /* the page's bytes, to the next page or the file's end */
    uint32_t warnings;                  /* IFFPCX_WARN_... bits, known from the header and the page's tail */
} iffpcx_page_info;

enum {
    IFFPCX_WARN_NO_PALETTE_BLOCK = 1 /* a 256-colour page without its block: colours from the header */
};

IFFPCX_IMAGE_API iffpcx_status iffpcx_page_info_get(iffpcx_file *file, uint32_t page, iffpcx_page_info *info,
                                                    iffpcx_error *error);

/* Whether decoding would refuse the page from its header alone: a layout
 * this layer does not convert, an empty window, plane lines too short for
 * the width, more pixels than the limit. Nothing is allocated for the page.
 * A host that writes several outputs checks every page first. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_page_check(iffpcx_file *file, uint32_t page, iffpcx_error *error);

/* The forms a page can be decoded into. Rows lie stride bytes apart.
 *   INDEX  a byte a pixel: the palette index (pages of up to 8 bits)
 *   GRAY   a byte a pixel: the gray level (colours by luma, 0.299 R + 0.587 G + 0.114 B)
 *   RGB    three bytes a pixel; RGBA four (alpha 255 where the page has none)
 *   BITS   packed 1-bit rows, first pixel in the top bit, 1 for black (as PBM
 *          and fax images), the last byte's unused bits 0 (bilevel pages)
 *   BOOL   a byte a pixel: 1 for white, 0 for black (bilevel pages) */
typedef enum iffpcx_form {
    IFFPCX_FORM_DEFAULT = 0, /* the page's kind: BILEVEL as BOOL, GRAY, INDEXED as INDEX, RGB, RGBA */
    IFFPCX_FORM_INDEX = 1,
    IFFPCX_FORM_GRAY = 2,
    IFFPCX_FORM_RGB = 3,
    IFFPCX_FORM_RGBA = 4,
    IFFPCX_FORM_BITS = 5,
    IFFPCX_FORM_BOOL = 6
} iffpcx_form;

/* Flags for decoding and encoding. */
enum {
    IFFPCX_ONE_THREAD = 1, /* never start a second thread */
    IFFPCX_PARTIAL = 2     /* decoding: a page whose data end early is delivered with its missing
                              rows zero, and the call still fails with IFFPCX_ERR_TRUNCATED */
};

/* The smallest stride and the bytes a whole page needs in a form. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_decoded_size(const iffpcx_page_info *info, iffpcx_form form, size_t *stride,
                                                   size_t *size);

/* Decodes a page into pixels (height rows, stride bytes apart). A large page
 * may be decoded in two parts on two threads (not with IFFPCX_ONE_THREAD). */
IFFPCX_IMAGE_API iffpcx_status iffpcx_decode(iffpcx_file *file, uint32_t page, iffpcx_form form, uint32_t flags,
                                             void *pixels, size_t stride, iffpcx_error *error);

/* Receives count rows from row y on, stride bytes apart (BITS rows are
 * shorter than their stride); nonzero stops the decode with
 * IFFPCX_ERR_CALLBACK. The rows are valid during the call only. */
typedef int (*iffpcx_rows_fn)(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride);

/* Decodes rows [first_row, end_row) of a page (end_row beyond the height
 * means the height) a block of about 256 KiB at a time, in order.
 *
 * With IFFPCX_TWO_PARTS, a large page is decoded as two parts side by side:
 * the rows from iffpcx_second_part(info, flags) on come from a second
 * thread, so the callback may be called from two threads at once for the
 * two ranges, each in order. A failure in the first part is the one
 * reported. */
enum { IFFPCX_TWO_PARTS = 4 };
IFFPCX_IMAGE_API iffpcx_status iffpcx_decode_rows(iffpcx_file *file, uint32_t page, iffpcx_form form, uint32_t flags,
                                                  int32_t first_row, int32_t end_row, iffpcx_rows_fn rows,
                                                  void *context, iffpcx_error *error);

/* The first row a second thread decodes for a whole page with these flags,
 * or 0 when the page goes on one thread (a small page, one core, or
 * IFFPCX_ONE_THREAD). */
IFFPCX_IMAGE_API int32_t iffpcx_second_part(const iffpcx_page_info *info, uint32_t flags);

/* The bytes of one page as they lie in the file (for splitting a DCX file);
 * valid until iffpcx_close. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_page_bytes(iffpcx_file *file, uint32_t page, const uint8_t **data, size_t *size,
                                                 iffpcx_error *error);

/* Where the pages of a PCX or DCX file's bytes lie, by the DCX directory
 * alone (the pages are not opened): page k is [offsets[k], offsets[k + 1]).
 * offsets may be NULL to learn the count; else it has room for count + 1
 * entries, count being given as that room less one. A PCX file is one page. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_page_spans(const void *data, size_t size, const char *name, uint64_t *offsets,
                                                 uint32_t *count, iffpcx_error *error);

/* ---- Outputs ------------------------------------------------------------- */
typedef struct iffpcx_output iffpcx_output;

/* A caller's output: take size bytes; return 0, or nonzero on failure. Bytes
 * come in order, once: the layer holds the file in memory until
 * iffpcx_output_finish, as it comes back to the header last. */
typedef int (*iffpcx_write_fn)(void *context, const void *data, size_t size);

/* A caller's file that takes bytes at any offset (a gap between reads as
 * zeros), in blocks of up to 256 KiB, and is cut to `size` by resize (0 when
 * an encode starts over). Return 0, or nonzero on failure. Nothing is held
 * whole; a large image is then coded on two threads too. */
typedef int (*iffpcx_write_at_fn)(void *context, uint64_t offset, const void *data, size_t size);
typedef int (*iffpcx_resize_fn)(void *context, uint64_t size);

/* A path's file appears under its name only once complete (written beside it
 * and renamed by iffpcx_output_finish); nothing is left behind on failure. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_output_path(const char *path, iffpcx_output **output, iffpcx_error *error);
IFFPCX_IMAGE_API iffpcx_status iffpcx_output_memory(iffpcx_output **output, iffpcx_error *error);
IFFPCX_IMAGE_API iffpcx_status iffpcx_output_writer(iffpcx_write_fn write, void *context, const char *name,
                                                    iffpcx_output **output, iffpcx_error *error);
IFFPCX_IMAGE_API iffpcx_status iffpcx_output_placed(iffpcx_write_at_fn write_at, iffpcx_resize_fn resize, void *context,
                                                    const char *name, iffpcx_output **output, iffpcx_error *error);
/* Completes the output (a path: renamed into place). */
IFFPCX_IMAGE_API iffpcx_status iffpcx_output_finish(iffpcx_output *output, iffpcx_error *error);
/* A memory output's bytes, valid until iffpcx_output_free. */
IFFPCX_IMAGE_API const uint8_t *iffpcx_output_bytes(const iffpcx_output *output, size_t *size);
/* Frees the output; an unfinished path output is removed. */
IFFPCX_IMAGE_API void iffpcx_output_free(iffpcx_output *output);

/* ---- Writing ------------------------------------------------------------- */

/* An image to encode: rows in one of the forms above (not DEFAULT), either
 * all in memory (pixels, stride) or from a callback that gives row y. */
typedef const uint8_t *(*iffpcx_row_fn)(void *context, int32_t y);
typedef struct iffpcx_image {
    int32_t width, height;
    uint32_t form;      /* iffpcx_form */
    const void *pixels; /* or NULL and row below */
    size_t stride;
    iffpcx_row_fn row; /* may be called more than once for a row */
    void *row_context;
    const uint8_t *palette; /* FORM_INDEX: palette_entries RGB triples */
    uint32_t palette_entries;
    int32_t dpi_x, dpi_y; /* 0 (either): the line library's default, 100 dpi */
    const char *name;     /* how messages name the image, or NULL ("image") */
} iffpcx_image;

typedef struct iffpcx_encode_options {
    int32_t bits;   /* 0: from the colours; or 1, 2, 3 (bit planes), 4, 8, 24 */
    uint32_t flags; /* IFFPCX_ONE_THREAD, IFFPCX_ALIGN_PALETTE */
} iffpcx_encode_options;
enum { IFFPCX_ALIGN_PALETTE = 8 }; /* the 256-colour block at a multiple of 32 bytes, as the line library's default */

/* The layout an image will be written in, from its colours (or the bits asked for):
 *   only black and white  1 bit, one plane
 *   only grays            8-bit grayscale
 *   up to 16 colours      4 bit planes, colours in the header
 *   up to 256 colours     8 bits, 256-colour block
 *   more                  24-bit RGB
 * Translucent pixels (RGBA) are blended onto white. */
typedef struct iffpcx_layout {
    uint32_t color_class;     /* IFF_CLASS_... */
    int32_t bits;             /* 1, 2, 3, 4, 8 or 24 as --bits takes it */
    uint32_t palette_entries; /* the colours, in order of first appearance */
    uint8_t palette[256 * 3];
} iffpcx_layout;

/* Encodes image as a PCX file into output (which is then finished by the
 * caller; an output takes one file); layout, if not NULL, receives the
 * layout chosen. options may be NULL. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_encode(const iffpcx_image *image, const iffpcx_encode_options *options,
                                             iffpcx_output *output, iffpcx_layout *layout, iffpcx_error *error);

/* A DCX file of count images, each encoded as iffpcx_encode would. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_encode_dcx(const iffpcx_image *images, size_t count,
                                                 const iffpcx_encode_options *options, iffpcx_output *output,
                                                 iffpcx_error *error);

/* A DCX file of pages given as PCX files' bytes (each must open as PCX,
 * which is checked for every page before anything is written). With output
 * NULL the pages are only checked. */
typedef struct iffpcx_bytes {
    const uint8_t *data;
    size_t size;
    const char *name; /* how messages name the page, or NULL ("page N") */
} iffpcx_bytes;
IFFPCX_IMAGE_API iffpcx_status iffpcx_pack_dcx(const iffpcx_bytes *pages, size_t count, iffpcx_output *output,
                                               iffpcx_error *error);

/* ---- TIFF --------------------------------------------------------------- */

/* How iffpcx_decode_tiff compresses pages. DEFAULT: CCITT Group 4 for
 * bilevel pages, Deflate for the others (with the horizontal predictor for
 * gray and colour). G4 applies to bilevel pages and leaves the others at
 * their default. */
typedef enum iffpcx_tiff_compression {
    IFFPCX_TIFF_DEFAULT = 0,
    IFFPCX_TIFF_NONE = 1,
    IFFPCX_TIFF_LZW = 2,
    IFFPCX_TIFF_DEFLATE = 3,
    IFFPCX_TIFF_G4 = 4
} iffpcx_tiff_compression;

/* Decodes pages of a file into one multi-page TIFF file written to output
 * (finished by the caller, as after iffpcx_encode): the count pages listed
 * in pages, or every page when pages is NULL. Bilevel pages are 1-bit
 * (black as 1, WhiteIsZero), gray pages 8-bit gray, palette pages palette
 * TIFF with their colour map, RGB pages RGB, RGBA pages RGB with an
 * unassociated alpha sample; each page keeps its resolution in dots per inch,
 * X and Y apart. The TIFF file is held in memory until it is complete.
 * flags: IFFPCX_ONE_THREAD; IFFPCX_PARTIAL writes a page whose data end
 * early with its missing rows zero, completes the file and then returns
 * IFFPCX_ERR_TRUNCATED (the output may still be finished). A library built
 * without libtiff returns IFFPCX_ERR_UNSUPPORTED. */
IFFPCX_IMAGE_API iffpcx_status iffpcx_decode_tiff(iffpcx_file *file, const uint32_t *pages, size_t count,
                                                  uint32_t compression, uint32_t flags, iffpcx_output *output,
                                                  iffpcx_error *error);

#ifdef __cplusplus
}
#endif

#endif /* IFFPCX_IMAGE_H */
