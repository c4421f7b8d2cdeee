// Decoding pages: into the caller's buffer, or a block of rows at a time to
// the caller's callback; a large page in two parts on two threads.
#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <thread>
#include <vector>

#include "api/file_object.h"
#include "api/guarded.h"
#include "read/page_forms.h"

namespace image {

namespace {

// A page worth two threads: rows of this many bytes in all (counted as a
// netpbm file holds them), or more.
constexpr uint64_t kPartsFromBytes = 4u << 20;

int32_t second_part_row(const PageInfo &page, uint32_t flags) {
    if ((flags & IFFPCX_ONE_THREAD) != 0 || std::thread::hardware_concurrency() < 2 || page.height < 2) {
        return 0;
    }
    const uint64_t samples = page.kind == IFFPCX_KIND_RGB || page.kind == IFFPCX_KIND_RGBA ? 4 : 3;
    if (uint64_t(page.width) * uint64_t(page.height) * samples < kPartsFromBytes) {
        return 0;
    }
    // The second part skips the first part's lines, which costs less than
    // decoding them, so it starts at three fifths of the page.
    return static_cast<int32_t>(int64_t{page.height} * 3 / 5);
}

// Hands the reader's rows on in the asked form, through a block of its own
// when they need converting. Each part of a page runs to its own end or
// failure, whatever the other's, so that the failure reported is the one
// that one thread would meet first.
class FormReceiver : public RowReceiver {
  public:
    FormReceiver(const PageInfo &page, uint32_t form, const FormPlan &plan, iffpcx_rows_fn callback, void *context,
                 const std::string &where)
        : page_(page), form_(form), plan_(plan), rows_(callback), context_(context), where_(where) {}

    void rows(int32_t y, const uint8_t *pixels, size_t count, size_t stride) override {
        const uint8_t *handed = pixels;
        size_t handed_stride = stride;
        if (plan_.convert) {
            if (block_.size() < count * plan_.row_bytes) {
                block_.resize(count * plan_.row_bytes); // the first block is the largest
            }
            convert_rows(page_, form_, pixels, stride, block_.data(), plan_.row_bytes, count);
            handed = block_.data();
            handed_stride = plan_.row_bytes;
        }
        if (rows_(context_, y, handed, count, handed_stride) != 0) {
            throw ImageError(IFFPCX_ERR_CALLBACK,
                             where_ + "the row callback stopped the decode at line " + std::to_string(y), page_.index,
                             y);
        }
    }

  private:
    const PageInfo &page_;
    uint32_t form_;
    const FormPlan &plan_;
    iffpcx_rows_fn rows_;
    void *context_;
    const std::string &where_;
    std::vector<uint8_t> block_;
};

// Decodes rows [first, end) of a page, the later part on a second thread
// with a reader of its own when `split` lies inside. Failures come as from
// one thread: the first part's first; with keep_partial the first missing
// line's failure is thrown once every row went out.
void decode(PcxFile &reader, int page, uint32_t form, uint32_t flags, RowRange range, iffpcx_rows_fn rows,
            void *context) {
    const PageInfo info = reader.check_page(page);
    const FormPlan plan = plan_form(info, form);
    const bool keep_partial = (flags & IFFPCX_PARTIAL) != 0;
    const std::string where = reader.where(page);
    const int32_t end = std::min(range.end, info.height);
    const int32_t first = std::clamp(range.first, 0, end);
    int32_t split = 0;
    if ((flags & IFFPCX_TWO_PARTS) != 0 && first == 0 && end == info.height) {
        split = second_part_row(info, flags);
    }
    std::optional<ImageError> later_shortfall;
    std::exception_ptr later_error;
    std::thread later;
    if (split > 0) {
        later = std::thread([&] {
            try {
                PcxFile second(reader.bytes(), reader.name(), reader.limits());
                FormReceiver receiver(info, form, plan, rows, context, where);
                later_shortfall = second.decode_page(page, plan.delivery, receiver, keep_partial, {split, end});
            } catch (...) {
                later_error = std::current_exception();
            }
        });
    }
    std::optional<ImageError> first_shortfall;
    std::exception_ptr first_error;
    try {
        FormReceiver receiver(info, form, plan, rows, context, where);
        first_shortfall =
            reader.decode_page(page, plan.delivery, receiver, keep_partial, {first, split > 0 ? split : end});
    } catch (...) {
        first_error = std::current_exception();
    }
    if (later.joinable()) {
        later.join();
    }
    if (first_error) {
        std::rethrow_exception(first_error);
    }
    if (later_error) {
        std::rethrow_exception(later_error);
    }
    // Data that end in the first part end there for the second too.
    if (first_shortfall) {
        throw *first_shortfall;
    }
    if (later_shortfall) {
        throw *later_shortfall;
    }
}

PcxFile &reader_of(iffpcx_file *file) {
    if (file == nullptr || !file->reader) {
        argument_error("no file was given");
    }
    return *file->reader;
}

int page_index(uint32_t page) {
    return static_cast<int>(std::min<uint32_t>(page, INT32_MAX));
}

struct Buffer {
    uint8_t *pixels;
    size_t stride;
    size_t row_bytes;
};

int into_buffer(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride) {
    const auto *buffer = static_cast<const Buffer *>(context);
    const size_t bytes = buffer->row_bytes;
    for (size_t k = 0; k < count; ++k) {
        std::memcpy(buffer->pixels + (static_cast<size_t>(y) + k) * buffer->stride, rows + k * stride, bytes);
    }
    return 0;
}

} // namespace

} // namespace image

using namespace image;

extern "C" {

iffpcx_status iffpcx_decoded_size(const iffpcx_page_info *info, iffpcx_form form, size_t *stride, size_t *size) {
    iffpcx_error ignored;
    return guarded(&ignored, [&] {
        if (info == nullptr || stride == nullptr || size == nullptr) {
            argument_error("no description or no place for the sizes was given");
        }
        PageInfo page;
        page.index = static_cast<int>(info->index);
        page.width = info->width;
        page.kind = info->kind;
        page.header.bits_per_plane = info->bits_per_plane;
        page.header.planes = info->planes;
        const FormPlan plan = plan_form(page, form);
        const uint64_t rows = static_cast<uint64_t>(info->height > 0 ? info->height : 0);
        if (rows != 0 && plan.row_bytes > SIZE_MAX / rows) {
            throw ImageError(IFFPCX_ERR_LIMIT, "the page does not fit this machine's memory");
        }
        *stride = plan.row_bytes;
        *size = plan.row_bytes * static_cast<size_t>(rows);
    });
}

int32_t iffpcx_second_part(const iffpcx_page_info *info, uint32_t flags) {
    if (info == nullptr) {
        return 0;
    }
    PageInfo page;
    page.width = info->width;
    page.height = info->height;
    page.kind = info->kind;
    return second_part_row(page, flags);
}

iffpcx_status iffpcx_decode(iffpcx_file *file, uint32_t page, iffpcx_form form, uint32_t flags, void *pixels,
                            size_t stride, iffpcx_error *error) {
    return guarded(error, [&] {
        PcxFile &reader = reader_of(file);
        const PageInfo info = reader.check_page(page_index(page));
        const FormPlan plan = plan_form(info, form);
        if (pixels == nullptr || stride < plan.row_bytes) {
            argument_error(reader.where(page_index(page)) + "no buffer, or a stride shorter than a row's " +
                           std::to_string(plan.row_bytes) + " bytes");
        }
        Buffer buffer{static_cast<uint8_t *>(pixels), stride, plan.row_bytes};
        decode(reader, page_index(page), form, flags | IFFPCX_TWO_PARTS, {}, into_buffer, &buffer);
    });
}

iffpcx_status iffpcx_decode_rows(iffpcx_file *file, uint32_t page, iffpcx_form form, uint32_t flags, int32_t first_row,
                                 int32_t end_row, iffpcx_rows_fn rows, void *context, iffpcx_error *error) {
    return guarded(error, [&] {
        PcxFile &reader = reader_of(file);
        if (rows == nullptr) {
            argument_error("no row callback was given");
        }
        decode(reader, page_index(page), form, flags, {first_row, end_row}, rows, context);
    });
}

} // extern "C"
