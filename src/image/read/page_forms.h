// The forms a page can be decoded into (iffpcx_form): what the reader
// delivers for each, and the conversion of its rows into the form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "read/pcx_reader.h"

namespace image {

struct FormPlan {
    Delivery delivery = Delivery::Kind;
    bool convert = false;   // rows go through convert_rows
    size_t row_bytes = 0;   // of a row in the form
    size_t pixel_bytes = 0; // 0 for packed bits
};

// How `page` gives `form`; a form the page cannot give is an argument
// failure.
FormPlan plan_form(const PageInfo &page, uint32_t form);

// Rows as delivered into the form: `count` rows, `in_stride` and
// `out_stride` apart.
void convert_rows(const PageInfo &page, uint32_t form, const uint8_t *in, size_t in_stride, uint8_t *out,
                  size_t out_stride, size_t count);

} // namespace image
