// The image layer's decoding on any bytes: a file either is refused at open
// or lists pages; each page either is refused from its header or decodes in
// every form it can give, with the same status and the same pixels whether
// into a buffer or row by row, on one thread or two; a page kept partial
// fails with IFFPCX_ERR_TRUNCATED and a line inside the page.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "iffpcx_image.h"

namespace {

constexpr uint32_t kMaxPages = 4;

struct Rows {
    std::vector<uint8_t> *pixels;
    size_t stride;
};

int keep_rows(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride) {
    const auto *into = static_cast<Rows *>(context);
    for (size_t k = 0; k < count; ++k) {
        const size_t at = (size_t(y) + k) * into->stride;
        FUZZ_CHECK(at + into->stride <= into->pixels->size());
        std::memcpy(into->pixels->data() + at, rows + k * stride, into->stride);
    }
    return 0;
}

void check_page(iffpcx_file *file, uint32_t page) {
    iffpcx_page_info info;
    if (iffpcx_page_info_get(file, page, &info, nullptr) != IFFPCX_OK) return;
    if (iffpcx_page_check(file, page, nullptr) != IFFPCX_OK) return;
    for (int form = IFFPCX_FORM_DEFAULT; form <= IFFPCX_FORM_BOOL; ++form) {
        size_t stride = 0, size = 0;
        if (iffpcx_decoded_size(&info, iffpcx_form(form), &stride, &size) != IFFPCX_OK) continue;
        std::vector<uint8_t> whole(size), rows(size), partial(size);
        iffpcx_error error{};
        const iffpcx_status status = iffpcx_decode(file, page, iffpcx_form(form), 0, whole.data(), stride, &error);
        Rows into{&rows, stride};
        const iffpcx_status by_rows = iffpcx_decode_rows(file, page, iffpcx_form(form), IFFPCX_ONE_THREAD, 0, INT32_MAX,
                                                         keep_rows, &into, nullptr);
        FUZZ_CHECK(status == by_rows);
        if (status == IFFPCX_OK) FUZZ_CHECK(whole == rows);
        iffpcx_error kept{};
        const iffpcx_status partial_status =
            iffpcx_decode(file, page, iffpcx_form(form), IFFPCX_PARTIAL, partial.data(), stride, &kept);
        if (status == IFFPCX_ERR_TRUNCATED) {
            FUZZ_CHECK(partial_status == IFFPCX_ERR_TRUNCATED && kept.line >= 0 && kept.line < info.height);
        } else {
            FUZZ_CHECK(partial_status == status);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    iffpcx_limits limits = iffpcx_default_limits();
    limits.max_pixels = 1u << 22; // pages of up to 4 megapixels decode in every form
    iffpcx_file *file = nullptr;
    if (iffpcx_open_memory(data, size, "input", &limits, &file, nullptr) != IFFPCX_OK) {
        FUZZ_CHECK(file == nullptr);
        return 0;
    }
    const uint32_t pages = iffpcx_page_count(file);
    FUZZ_CHECK(pages >= 1);
    for (uint32_t page = 0; page < pages && page < kMaxPages; ++page) check_page(file, page);
    iffpcx_close(file);
    return 0;
}
