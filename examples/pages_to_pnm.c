/* pages_to_pnm IN OUT_PREFIX: every page of a PCX or DCX file as a netpbm
 * image, OUT_PREFIX0.pnm, OUT_PREFIX1.pnm, ...: PBM for bilevel pages, PGM
 * for gray pages, PAM for pages with alpha, PPM for the others. */
#include <stdio.h>
#include <stdlib.h>

#include "iffpcx_image.h"

static int fail(const iffpcx_error *error) {
    fprintf(stderr, "pages_to_pnm: %s\n", error->message);
    return 1;
}

static int write_page(iffpcx_file *file, uint32_t page, const char *prefix) {
    iffpcx_error error;
    iffpcx_page_info info;
    if (iffpcx_page_info_get(file, page, &info, &error) != IFFPCX_OK) return fail(&error);

    /* The form each kind of page goes to netpbm in, and its header. */
    iffpcx_form form = IFFPCX_FORM_RGB;
    char header[128];
    if (info.kind == IFFPCX_KIND_BILEVEL) {
        form = IFFPCX_FORM_BITS;
        sprintf(header, "P4\n%d %d\n", (int)info.width, (int)info.height);
    } else if (info.kind == IFFPCX_KIND_GRAY) {
        form = IFFPCX_FORM_GRAY;
        sprintf(header, "P5\n%d %d\n255\n", (int)info.width, (int)info.height);
    } else if (info.kind == IFFPCX_KIND_RGBA) {
        form = IFFPCX_FORM_RGBA;
        sprintf(header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", (int)info.width,
                (int)info.height);
    } else {
        sprintf(header, "P6\n%d %d\n255\n", (int)info.width, (int)info.height);
    }

    size_t stride = 0, size = 0;
    if (iffpcx_decoded_size(&info, form, &stride, &size) != IFFPCX_OK) {
        fprintf(stderr, "pages_to_pnm: page %u: cannot be decoded\n", (unsigned)page);
        return 1;
    }
    unsigned char *pixels = malloc(size > 0 ? size : 1);
    if (pixels == NULL) {
        fprintf(stderr, "pages_to_pnm: out of memory\n");
        return 1;
    }
    if (iffpcx_decode(file, page, form, 0, pixels, stride, &error) != IFFPCX_OK) {
        free(pixels);
        return fail(&error);
    }

    char name[4096];
    snprintf(name, sizeof name, "%s%u.pnm", prefix, (unsigned)page);
    FILE *out = fopen(name, "wb");
    int written = out != NULL && fputs(header, out) >= 0 && fwrite(pixels, 1, size, out) == size;
    if (out != NULL && fclose(out) != 0) written = 0;
    free(pixels);
    if (!written) {
        fprintf(stderr, "pages_to_pnm: cannot write %s\n", name);
        return 1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: pages_to_pnm IN OUT_PREFIX\n");
        return 2;
    }
    iffpcx_error error;
    iffpcx_file *file = NULL;
    if (iffpcx_open_path(argv[1], NULL, &file, &error) != IFFPCX_OK) return fail(&error);
    int status = 0;
    for (uint32_t page = 0; page < iffpcx_page_count(file) && status == 0; ++page) {
        status = write_page(file, page, argv[2]);
    }
    iffpcx_close(file);
    return status;
}
