// encode(): images as a PCX file or pages as a DCX file, to a path or into
// bytes, without the GIL.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "extension.h"

namespace pyiffpcx {

namespace {

// One image's pixels, held while it is encoded, and its palette.
struct HeldImage {
    HeldBuffer pixels;
    uint8_t palette[3 * 256];
};

// The bytes of a whole image in a form the encoder takes, as a decoded page
// of the kind that gives the form has them; false for any other form.
bool image_bytes(uint32_t form, int32_t width, int32_t height, size_t *row, size_t *size) {
    iffpcx_page_info page{};
    page.width = width;
    page.height = height;
    page.planes = 1;
    page.bits_per_plane = 1;
    switch (form) {
    case IFFPCX_FORM_BITS:
    case IFFPCX_FORM_BOOL: page.kind = IFFPCX_KIND_BILEVEL; break;
    case IFFPCX_FORM_INDEX:
    case IFFPCX_FORM_GRAY: page.kind = IFFPCX_KIND_INDEXED; break;
    case IFFPCX_FORM_RGB: page.kind = IFFPCX_KIND_RGB; break;
    case IFFPCX_FORM_RGBA: page.kind = IFFPCX_KIND_RGBA; break;
    default: return false;
    }
    return iffpcx_decoded_size(&page, static_cast<iffpcx_form>(form), row, size) == IFFPCX_OK;
}

// Fills image from (pixels, width, height, form, palette, dpi_x, dpi_y).
// Pixels must be exactly the rows, back to back: the encoder reads
// height rows of the form's bytes.
bool image_from(PyObject *item, HeldImage &held, iffpcx_image &image) {
    PyObject *pixels = nullptr;
    PyObject *palette = nullptr;
    unsigned int form = 0;
    if (!PyArg_ParseTuple(item, "OiiIOii;an image is (pixels, width, height, form, palette, dpi_x, dpi_y)", &pixels,
                          &image.width, &image.height, &form, &palette, &image.dpi_x, &image.dpi_y)) {
        return false;
    }
    image.form = form;
    // The header holds 16 bits a resolution; the line library would keep the
    // low ones of a larger value.
    if (image.dpi_x < 0 || image.dpi_x > 65535 || image.dpi_y < 0 || image.dpi_y > 65535) {
        PyErr_Format(PyExc_ValueError, "a resolution is 1 to 65535 dots per inch (0: the default), not %d x %d",
                     image.dpi_x, image.dpi_y);
        return false;
    }
    if (!held.pixels.hold(pixels, PyBUF_C_CONTIGUOUS)) {
        return false;
    }
    // Sizes and forms the encoder would refuse are left to it, which says why.
    const bool sized = image.width >= 1 && image.width <= 65535 && image.height >= 1 && image.height <= 65535;
    size_t row = 0;
    size_t size = 0;
    if (sized && image_bytes(form, image.width, image.height, &row, &size) && held.pixels.size() != size) {
        PyErr_Format(PyExc_ValueError, "%d x %d pixels in form %u take %zu bytes, not %zu", image.width, image.height,
                     form, size, held.pixels.size());
        return false;
    }
    image.pixels = held.pixels.data();
    image.stride = row;
    if (palette != Py_None) {
        HeldBuffer colours;
        if (!colours.hold(palette, PyBUF_SIMPLE)) {
            return false;
        }
        const size_t bytes = colours.size();
        if (bytes == 0 || bytes % 3 != 0 || bytes > sizeof held.palette) {
            PyErr_Format(PyExc_ValueError, "a palette is 1 to 256 RGB triples, not %zu bytes", bytes);
            return false;
        }
        std::memcpy(held.palette, colours.data(), bytes); // the encoder reads its own copy
        image.palette = held.palette;
        image.palette_entries = static_cast<uint32_t>(bytes / 3);
    }
    return true;
}

// Encodes into output, then completes it; the status of the first failure.
iffpcx_status encode_into(iffpcx_output *output, const std::vector<iffpcx_image> &images, bool dcx,
                          const iffpcx_encode_options &options, iffpcx_error &error) {
    const iffpcx_status status = dcx ? iffpcx_encode_dcx(images.data(), images.size(), &options, output, &error)
                                     : iffpcx_encode(images.data(), &options, output, nullptr, &error);
    return status != IFFPCX_OK ? status : iffpcx_output_finish(output, &error);
}

PyObject *encode_held(PyObject *list, int bits, unsigned int flags, bool dcx, PyObject *path) {
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(list);
    if (count == 0 || (!dcx && count != 1)) {
        PyErr_SetString(PyExc_ValueError, dcx ? "a DCX file needs at least one page" : "a PCX file holds one image");
        return nullptr;
    }
    std::unique_ptr<HeldImage[]> held(new HeldImage[static_cast<size_t>(count)]);
    std::vector<iffpcx_image> images(static_cast<size_t>(count), iffpcx_image{});
    std::vector<std::string> names;
    for (Py_ssize_t k = 0; k < count; ++k) {
        if (!image_from(PySequence_Fast_GET_ITEM(list, k), held[static_cast<size_t>(k)],
                        images[static_cast<size_t>(k)])) {
            return nullptr;
        }
        if (dcx) {
            names.push_back("page " + std::to_string(k));
        }
    }
    for (size_t k = 0; k < names.size(); ++k) {
        images[k].name = names[k].c_str();
    }
    PyObject *path_name = nullptr;
    if (path != Py_None && (path_name = path_bytes(path)) == nullptr) {
        return nullptr;
    }
    const iffpcx_encode_options options{bits, flags & (IFFPCX_ONE_THREAD | IFFPCX_ALIGN_PALETTE)};
    iffpcx_error error;
    iffpcx_output *output = nullptr;
    iffpcx_status status = IFFPCX_OK;
    {
        WithoutGil encoding;
        status = path_name != nullptr ? iffpcx_output_path(PyBytes_AS_STRING(path_name), &output, &error)
                                      : iffpcx_output_memory(&output, &error);
        if (status == IFFPCX_OK) {
            status = encode_into(output, images, dcx, options, error);
        }
    }
    Py_XDECREF(path_name);
    PyObject *result = nullptr;
    if (status != IFFPCX_OK) {
        raise_failure(status, error);
    } else if (path != Py_None) {
        result = Py_NewRef(Py_None);
    } else {
        size_t size = 0;
        const uint8_t *bytes = iffpcx_output_bytes(output, &size);
        result = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(bytes), static_cast<Py_ssize_t>(size));
    }
    iffpcx_output_free(output);
    return result;
}

} // namespace

// encode(images, bits, flags, dcx, path): images a sequence of
// (pixels, width, height, form, palette, dpi_x, dpi_y); path a str, or
// None for the file's bytes as the result.
PyObject *encode(PyObject *, PyObject *args) {
    PyObject *images = nullptr;
    int bits = 0;
    unsigned int flags = 0;
    int dcx = 0;
    PyObject *path = nullptr;
    if (!PyArg_ParseTuple(args, "OiIpO:encode", &images, &bits, &flags, &dcx, &path)) {
        return nullptr;
    }
    PyObject *list = PySequence_Fast(images, "images must be a sequence");
    if (list == nullptr) {
        return nullptr;
    }
    PyObject *result = nullptr;
    try {
        result = encode_held(list, bits, flags, dcx != 0, path);
    } catch (const std::bad_alloc &) {
        result = PyErr_NoMemory();
    }
    Py_DECREF(list);
    return result;
}

} // namespace pyiffpcx
