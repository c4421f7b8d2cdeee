/*
 * iffpcx_check: judges PCX and DCX files as archives do, and repairs them.
 * Callable from C99 and C++; nothing here throws.
 *
 * Checking: iffpcx_check_memory / _path -> an iffpcx_report (format, header
 *           version, format identifier, verdict, pages and findings) ->
 *           iffpcx_report_json if wanted -> iffpcx_report_free.
 * Repair:   iffpcx_repair_memory / _path: a file that checks valid and
 *           decodes to the same pixels, palette and resolution, or a refusal
 *           that says why. docs/check.md lists every finding and what repair
 *           changes.
 * Errors:   every function returns an iffpcx_status; pass an iffpcx_error to
 *           learn the reason of a failure. A file that breaks rules is not a
 *           failure of check: its report says so.
 */
#ifndef IFFPCX_CHECK_H
#define IFFPCX_CHECK_H

#include <stddef.h>
#include <stdint.h>

#include "iffpcx_image.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define IFFPCX_CHECK_API
#elif defined(__GNUC__)
#define IFFPCX_CHECK_API __attribute__((visibility("default")))
#else
#define IFFPCX_CHECK_API
#endif

/* ---- Reports --------------------------------------------------------------- */

/* warning: most readers accept it (valid, unless strict); error: the image
 * reads, but the file breaks a rule (not-valid); fatal: it cannot be read
 * completely (not-well-formed). */
typedef enum iffpcx_severity {
    IFFPCX_SEVERITY_WARNING = 0,
    IFFPCX_SEVERITY_ERROR = 1,
    IFFPCX_SEVERITY_FATAL = 2
} iffpcx_severity;

typedef enum iffpcx_verdict { IFFPCX_VALID = 0, IFFPCX_NOT_VALID = 1, IFFPCX_NOT_WELL_FORMED = 2 } iffpcx_verdict;

typedef struct iffpcx_finding {
    const char *id;      /* stable: "PCX-BPL-ODD" */
    uint32_t severity;   /* iffpcx_severity */
    int32_t page;        /* from 0; -1 for the file as a whole */
    uint64_t offset;     /* the byte of the file it concerns */
    const char *message; /* in words */
} iffpcx_finding;

typedef struct iffpcx_page_summary {
    uint32_t index;
    uint64_t offset, size; /* where the page lies; size reaches the next page or the file's end */
    uint64_t data_end;     /* where its image data end (0 when they do not) */
    int32_t version;
    int32_t width, height;
    int32_t planes, bits_per_plane;
    int32_t bytes_per_line;
    uint32_t verdict; /* this page's own findings */
} iffpcx_page_summary;

typedef struct iffpcx_report {
    const char *file;      /* the name the file was checked under */
    const char *format;    /* "pcx", "dcx", or "unknown" */
    const char *format_id; /* "fmt/86".."fmt/90" for PCX versions 0, 2, 3, 4, 5; "x-fmt/348" for DCX; "" */
    int32_t version;       /* a PCX file's header version (a DCX file's first page's), or -1 */
    uint32_t verdict;      /* iffpcx_verdict */
    uint32_t strict;       /* warnings counted as errors */
    uint32_t page_count;
    const iffpcx_page_summary *pages;
    size_t finding_count;
    const iffpcx_finding *findings; /* in file order, page by page */
    uint32_t warnings, errors, fatals;
} iffpcx_report;

typedef struct iffpcx_check_options {
    uint32_t flags;       /* IFFPCX_CHECK_STRICT */
    iffpcx_limits limits; /* as iffpcx_image.h; no options: 16384 x 16384 pixels */
} iffpcx_check_options;
enum { IFFPCX_CHECK_STRICT = 1 };

/* Checks size bytes (not copied; name: how messages and JSON name them).
 * options may be NULL. Fails only on bad arguments, memory, or a file beyond
 * the limits; a broken file succeeds with a report that says so. */
IFFPCX_CHECK_API iffpcx_status iffpcx_check_memory(const void *data, size_t size, const char *name,
                                                   const iffpcx_check_options *options, iffpcx_report **report,
                                                   iffpcx_error *error);
IFFPCX_CHECK_API iffpcx_status iffpcx_check_path(const char *path, const iffpcx_check_options *options,
                                                 iffpcx_report **report, iffpcx_error *error);
IFFPCX_CHECK_API void iffpcx_report_free(iffpcx_report *report); /* NULL is fine */

/* "valid", "not-valid", "not-well-formed"; "warning", "error", "fatal". */
IFFPCX_CHECK_API const char *iffpcx_verdict_name(uint32_t verdict);
IFFPCX_CHECK_API const char *iffpcx_severity_name(uint32_t severity);

/* The report as one JSON object {"file", "format", "format_id", "verdict",
 * "pages": [...], "findings": [...]}, written into buffer like snprintf:
 * returns the length it needs (without the closing zero), writes at most
 * capacity bytes and always ends them with a zero when capacity > 0. */
IFFPCX_CHECK_API size_t iffpcx_report_json(const iffpcx_report *report, char *buffer, size_t capacity);

/* ---- Repair ---------------------------------------------------------------- */

typedef struct iffpcx_repaired {
    const uint8_t *data; /* the repaired file */
    size_t size;
    size_t change_count; /* what repair changed, a sentence each */
    const char *const *changes;
    const iffpcx_report *before; /* the input's report */
} iffpcx_repaired;

/* Repairs a file: on success result holds a file that checks valid (strict
 * too) and decodes through the line library to the same pixels, palette and
 * resolution; a DCX file stays DCX with its pages in order. A file that is not
 * well-formed, or whose breaks cannot be mended without changing the image,
 * fails with IFFPCX_ERR_MALFORMED (or _TRUNCATED, _NOT_PCX, _UNSUPPORTED) and
 * error's message says why. */
IFFPCX_CHECK_API iffpcx_status iffpcx_repair_memory(const void *data, size_t size, const char *name,
                                                    const iffpcx_check_options *options, iffpcx_repaired **result,
                                                    iffpcx_error *error);
/* The same from a file to a file, which appears only once complete; result
 * may be NULL. */
IFFPCX_CHECK_API iffpcx_status iffpcx_repair_path(const char *in_path, const char *out_path,
                                                  const iffpcx_check_options *options, iffpcx_repaired **result,
                                                  iffpcx_error *error);
IFFPCX_CHECK_API void iffpcx_repaired_free(iffpcx_repaired *result); /* NULL is fine */

#ifdef __cplusplus
}
#endif

#endif /* IFFPCX_CHECK_H */
