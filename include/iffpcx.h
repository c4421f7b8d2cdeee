/*
 * iffpcx: PCX and multi-page DCX images, read and written line by line.
 *
 * A host opens an image with IFFOpen, reads or writes it one or more scan
 * lines at a time, asks and sets everything else through IFFControl and ends
 * with IFFClose. Every function returns a status code (IFF_OK is 0);
 * IFFOpen alone returns a positive handle, or a status code negated.
 */
#ifndef IFFPCX_H
#define IFFPCX_H

#include <stdint.h>

/* The library's version. The build takes its project version from these
 * lines, so they are the one place it is set. */
#define IFFPCX_VERSION_MAJOR 1
#define IFFPCX_VERSION_MINOR 1
#define IFFPCX_VERSION_PATCH 0
#define IFFPCX_VERSION_STRING "1.1.0"
/* One number that grows with every release: major * 10000 + minor * 100 + patch. */
#define IFFPCX_VERSION_NUMBER (IFFPCX_VERSION_MAJOR * 10000 + IFFPCX_VERSION_MINOR * 100 + IFFPCX_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions: on 32-bit Windows a host calls the six entry points as
 * __stdcall functions (IFF_CALL: every argument and result 32 bits, the callee
 * removes the arguments) and supplies its stream callbacks as __cdecl
 * functions (IFF_CALLBACK, the C default, as the C runtime's _close, _read,
 * _write and _lseek are). Elsewhere both are the platform's C convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define IFF_CALL __stdcall
#define IFF_CALLBACK __cdecl
#else
#define IFF_CALL
#define IFF_CALLBACK
#endif

/* iffpcx.dll's export table (names and ordinals 2 to 7) comes from its
 * module definition, so the declarations carry no export attribute there. */
#if defined(_WIN32)
#define IFF_API
#elif defined(__GNUC__)
#define IFF_API __attribute__((visibility("default")))
#else
#define IFF_API
#endif

/* ---- Status codes (IFFOpen returns them negated) ------------------------ */
enum {
    IFF_OK = 0,
    IFF_ERR_LINE = 1,        /* a scan line failed to decode: the data ended */
    IFF_ERR_HANDLE = 2,      /* unknown or closed handle; a description that makes no sense */
    IFF_ERR_UNSUPPORTED = 3, /* a layout, open mode or request this library does not have */
    IFF_ERR_REQUEST = 4,     /* a request not valid on this handle, or an argument out of range */
    IFF_ERR_MEMORY = 5,      /* an allocation failed */
    IFF_ERR_FORMAT = 7,      /* not a PCX file this library reads; a colour image closed without palette */
    IFF_ERR_OPEN = 8,        /* the stream could not be opened */
    IFF_ERR_CLOSE = 9,       /* the stream could not be closed */
    IFF_ERR_READ = 10,       /* the stream gave fewer bytes than a header or directory needs */
    IFF_ERR_WRITE = 11,      /* the stream took fewer bytes than were written */
    IFF_ERR_SEEK = 12        /* the stream could not be positioned */
};

/* ---- Open modes ----------------------------------------------------------- */
enum {
    IFF_MODE_READ = 0,       /* read: lines, seeking, pages, palette export */
    IFF_MODE_WRITE = 1,      /* create a PCX file from the description */
    IFF_MODE_READ_LINES = 3, /* read lines only; request 2 replaces the palette */
    IFF_MODE_STREAMS = 0x80  /* source points to the host's IFFStreamOps record */
};

/* ---- Sample layouts (IFFControl request IFF_REQ_PIXEL_FORMAT) ------------ */
enum {
    IFF_PIXELS_PACKED = 0,      /* the file's bytes, samples packed as in the file */
    IFF_PIXELS_INDEX = 1,       /* one byte per sample: the value (palette index) */
    IFF_PIXELS_LEFT = 2,        /* one byte per sample: the value in its top bits */
    IFF_PIXELS_SCALED = 3,      /* one byte per sample: the value scaled to 0..255 (default) */
    IFF_PIXELS_INTERLEAVED = 4, /* reading 8-bit lines of 3 or 4 planes: R, G, B (, A) a pixel */
    IFF_PIXELS_INVERT = 4096    /* added to a layout: complement the samples on reading */
};
/* Reading takes a layout value as follows: 4096 or more sets the inverted
 * polarity and 4096 is taken off once; what is left, if not 0..4, counts as 3.
 * 4 delivers every plane of a line of 8-bit samples in 4 planes, one byte of
 * each plane per pixel in plane order (red, green, blue, alpha): 4 * width
 * bytes, never complemented, like 24-bit lines, which come red, green, blue
 * in every layout. Other layouts deliver plane 0 of such lines, width bytes a
 * line apart; choosing 4 makes the line stride 4 * width, so ask for the stride
 * after choosing the layout. Every other line reads 4 as 3.
 * Writing ignores the polarity: 0 is packed, exactly 1 takes each sample from
 * the low bits of its byte, every other value from the top bits.
 *
 * Lines of 1-bit samples in several planes (pixel value: plane 0 is bit 0):
 * layout 0 packs the pixel values MSB first, `planes` bits each, continuously
 * across byte boundaries ((planes * width + 7) / 8 bytes, unused low bits of
 * the last byte zero); 1 gives the value, 2 and 3 the value in the top
 * `planes` bits of a byte. Inverted polarity complements each value. A line of
 * more than 8 planes delivers the value of its first 8 planes. */

/* ---- Control requests ----------------------------------------------------- */
enum {
    IFF_REQ_STATUS = 0,             /* data: int32 <- sticky status */
    IFF_REQ_LINE_SIZE = 1,          /* data: uint16 <- bytes of one host line (0: more than 65535);
                                       size buffers by IFF_REQ_LINE_STRIDE instead */
    IFF_REQ_PALETTE = 2,            /* data: RGB triples; export (mode 0) or replace (others) */
    IFF_REQ_PIXEL_FORMAT = 3,       /* flags: the sample layout, a signed 16-bit value */
    IFF_REQ_RESOLUTION = 7,         /* data: int32[2] dots per inch; flags bit 0 horizontal, bit 1 vertical */
    IFF_REQ_PAGE_COUNT = 10,        /* data: uint16 <- pages in the file */
    IFF_REQ_SELECT_PAGE = 11,       /* value: page index from 0 */
    IFF_REQ_LINE_STRIDE = 16,       /* data: uint32 <- bytes from one host line to the next (see IFFGetLine) */
    IFF_REQ_ABANDON = 17,           /* the next IFFClose ends the handle without completing the file */
    IFF_REQ_PALETTE_PLACEMENT = 18, /* writing, before close: flags IFF_PALETTE_*, where the
                                       256-colour palette block of an 8-bit file goes */
    IFF_REQ_SIZE_QUERY = 0x8000     /* with IFF_REQ_PALETTE: data: uint16 <- palette bytes (0: none fits) */
};

/* Where IFFClose puts the 256-colour block (a marker byte and 768 palette bytes)
 * of an 8-bit file (IFFControl request IFF_REQ_PALETTE_PLACEMENT, on a write
 * handle until the close has begun to write the block; other flags, other
 * handles and later requests are refused with IFF_ERR_REQUEST). Readers that
 * read a file front to back, as netpbm's does, look for the block right
 * behind the image data and refuse the default placement's gap. */
enum {
    IFF_PALETTE_ALIGNED = 0,   /* the default: the file ends on a multiple of 32 bytes, so the
                                  block starts 0 to 31 bytes after the image data */
    IFF_PALETTE_AFTER_DATA = 1 /* directly after the image data: every PCX reader finds it */
};

/* ---- Colour classes (IFFImageInfo.color_class) ---------------------------- */
enum {
    IFF_CLASS_BILEVEL = 0, /* 1 bit per pixel */
    IFF_CLASS_GRAY = 1,    /* gray levels (the header's palette information says grayscale) */
    IFF_CLASS_PALETTE = 2, /* indices into a palette */
    IFF_CLASS_RGB = 3      /* 24-bit red, green, blue in three 8-bit planes */
};

/* ---- Other plain numbers of the interface ---------------------------------- */
enum {
    IFF_KIND_READ = 2,            /* IFFImageInfo.kind as reading fills it; writing takes 0..2 */
    IFF_RESOLUTION_X = 1,         /* IFF_REQ_RESOLUTION flags: the horizontal value */
    IFF_RESOLUTION_Y = 2,         /* ... the vertical value (in the first slot without IFF_RESOLUTION_X) */
    IFF_STREAM_READ = 0x8000,     /* open callback flags: an existing stream, read only */
    IFF_STREAM_CREATE = 0x8302,   /* ... a new (created or truncated) stream, read and write */
    IFF_STREAM_PERMISSION = 0666, /* open callback permission of a created stream */
    IFF_SEEK_SET = 0,             /* seek callback origins: from the start, */
    IFF_SEEK_CUR = 1,             /* from the current position, */
    IFF_SEEK_END = 2              /* from the end */
};

/* ---- Records -------------------------------------------------------------- */

/* The host's description of an image. IFFOpen fills it on reading (and page
 * selection fills it again, so it must outlive the handle); on writing it
 * describes the file to create. */
typedef struct IFFImageInfo {
    uint32_t host_data;   /* belongs to the host; never read or written by the library */
    int32_t width;        /* pixels per line */
    int32_t height;       /* lines */
    uint32_t color_class; /* IFF_CLASS_...: 0 bilevel, 1 grayscale, 2 palette colour, 3 RGB */
    int32_t bits;         /* bits per pixel; 8 for RGB (bits per channel) */
    uint32_t kind;        /* 2 on reading; 0..2 accepted on writing */
    uint32_t reserved;    /* set to 0 by IFFOpen */
} IFFImageInfo;

/* Stream callbacks, in the shape of low-level unbuffered file functions.
 * With IFF_MODE_STREAMS the source passed to IFFOpen points to a host record
 * that begins with this table; the open callback receives that same pointer.
 * open: stream value, negative on failure (flags 0x8000 read, 0x8302 create).
 * read/write: bytes moved. seek: origin 0 start, 1 current, 2 end; returns the
 * new position, negative on failure. close: 0 on success. */
typedef struct IFFStreamOps {
    int32_t(IFF_CALLBACK *open)(const void *source, int32_t flags, int32_t permission);
    int32_t(IFF_CALLBACK *close)(int32_t stream);
    int32_t(IFF_CALLBACK *read)(int32_t stream, void *buffer, int32_t count);
    int32_t(IFF_CALLBACK *write)(int32_t stream, const void *buffer, int32_t count);
    int32_t(IFF_CALLBACK *seek)(int32_t stream, int32_t offset, int32_t origin);
} IFFStreamOps;

/* ---- Entry points --------------------------------------------------------- */

/* Opens source (a file name, or the host's stream record with
 * IFF_MODE_STREAMS) for reading (mode 0 or 3) or writing (mode 1). */
IFF_API int32_t IFF_CALL IFFOpen(const void *source, uint32_t mode, IFFImageInfo *info);

/* Completes a written file (palette, final header) and releases the handle.
 * A failed palette step returns its status and leaves the handle open, so the
 * host can hand over a palette (or let the stream recover) and close again.
 * A host that gives up on the file sends IFF_REQ_ABANDON and closes again:
 * that close writes nothing more, closes the stream and releases everything
 * (the file stays as far as it was written; removing it is the host's call). */
IFF_API int32_t IFF_CALL IFFClose(int32_t handle);

/* Decodes count lines into lines, each in the current sample layout. Line k
 * starts k * stride bytes after lines, where stride is what IFF_REQ_LINE_STRIDE
 * answers (fixed at open and at page selection; for 32-bit pages by the
 * sample layout too, see IFF_PIXELS_INTERLEAVED), so the area must hold
 * count * stride bytes. One line never takes more than stride bytes, in any
 * sample layout; it may take fewer (IFF_REQ_LINE_SIZE gives the exact count,
 * but answers 0 for a line over 65535 bytes, so it cannot size a buffer). */
IFF_API int32_t IFF_CALL IFFGetLine(int32_t handle, uint32_t count, void *lines);

/* Encodes and writes count host lines (mode 1), read like IFFGetLine's:
 * line k starts k * stride bytes after lines. */
IFF_API int32_t IFF_CALL IFFPutLine(int32_t handle, uint32_t count, const void *lines);

/* Moves the read position to line (from 0) of the current page (mode 0). */
IFF_API int32_t IFF_CALL IFFSeek(int32_t handle, int32_t line);

/* Everything else: see the request numbers above. */
IFF_API int32_t IFF_CALL IFFControl(int32_t handle, uint32_t request, uint32_t flags, int32_t value, void *data);

/* ---- Status names and texts, for messages ------------------------------- */
/* Inline, so that a host gets them without the library exporting more than
 * its six entry points. Unknown codes give "IFF_ERR_UNKNOWN" and a text that
 * says so. */
static inline const char *IFFStatusName(int32_t status) {
    switch (status) {
    case IFF_OK: return "IFF_OK";
    case IFF_ERR_LINE: return "IFF_ERR_LINE";
    case IFF_ERR_HANDLE: return "IFF_ERR_HANDLE";
    case IFF_ERR_UNSUPPORTED: return "IFF_ERR_UNSUPPORTED";
    case IFF_ERR_REQUEST: return "IFF_ERR_REQUEST";
    case IFF_ERR_MEMORY: return "IFF_ERR_MEMORY";
    case IFF_ERR_FORMAT: return "IFF_ERR_FORMAT";
    case IFF_ERR_OPEN: return "IFF_ERR_OPEN";
    case IFF_ERR_CLOSE: return "IFF_ERR_CLOSE";
    case IFF_ERR_READ: return "IFF_ERR_READ";
    case IFF_ERR_WRITE: return "IFF_ERR_WRITE";
    case IFF_ERR_SEEK: return "IFF_ERR_SEEK";
    default: return "IFF_ERR_UNKNOWN";
    }
}

static inline const char *IFFStatusText(int32_t status) {
    switch (status) {
    case IFF_OK: return "success";
    case IFF_ERR_LINE: return "a scan line failed to decode: the image data ended early";
    case IFF_ERR_HANDLE: return "unknown handle or an image description that makes no sense";
    case IFF_ERR_UNSUPPORTED: return "a layout, open mode or request the library does not have";
    case IFF_ERR_REQUEST: return "a request not valid here, or an argument out of range";
    case IFF_ERR_MEMORY: return "out of memory";
    case IFF_ERR_FORMAT: return "not a PCX file of a supported version, or a colour image without palette";
    case IFF_ERR_OPEN: return "the file could not be opened";
    case IFF_ERR_CLOSE: return "the file could not be closed";
    case IFF_ERR_READ: return "the file is shorter than its header or page directory needs";
    case IFF_ERR_WRITE: return "the file took fewer bytes than were written";
    case IFF_ERR_SEEK: return "the file could not be positioned";
    default: return "not a status the library documents";
    }
}

#ifdef __cplusplus
}
#endif

#endif /* IFFPCX_H */
