#include "pcx_pages.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "core/pcx_format.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

uint32_t load_u32(ByteView bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The layer names itself where it refuses a layout; pcxtool names itself.
const char kLayerRefusal[] = "iffpcx_image does not convert pages of ";
const char kToolRefusal[] = "pcxtool does not convert pages of ";

std::string tool_message(const iffpcx_error &error) {
    std::string message = error.message;
    const size_t refusal = message.find(kLayerRefusal);
    if (refusal != std::string::npos) {
        message.replace(refusal, std::strlen(kLayerRefusal), kToolRefusal);
    }
    if (error.status == IFFPCX_ERR_LIMIT && message.find(" pixels, more than the limit of ") != std::string::npos) {
        message += " (--max-pixels N raises it)";
    }
    return message;
}

// The rows the layer hands over, to the sink of their part; a sink's failure
// is kept to be thrown once the layer has returned.
struct SinkRows {
    RowSink *first;
    RowSink *later;
    int32_t split;
    std::exception_ptr first_error;
    std::exception_ptr later_error;
};

int to_sinks(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride) {
    auto *sinks = static_cast<SinkRows *>(context);
    const bool later = sinks->later != nullptr && y >= sinks->split;
    try {
        (later ? sinks->later : sinks->first)->rows(rows, count, stride);
        return 0;
    } catch (...) {
        (later ? sinks->later_error : sinks->first_error) = std::current_exception();
        return 1;
    }
}

// A failed write is kept to be thrown once the layer has returned.
struct PlacedOutput {
    PendingFile &file;
    std::exception_ptr error;
};

int write_placed(void *context, uint64_t offset, const void *data, size_t size) {
    auto *output = static_cast<PlacedOutput *>(context);
    try {
        output->file.write_at(offset, static_cast<const uint8_t *>(data), size);
        return 0;
    } catch (...) {
        output->error = std::current_exception();
        return 1;
    }
}

int resize_placed(void *context, uint64_t size) {
    auto *output = static_cast<PlacedOutput *>(context);
    try {
        output->file.truncate(size);
        return 0;
    } catch (...) {
        output->error = std::current_exception();
        return 1;
    }
}

} // namespace

iffpcx_status write_through_layer(PendingFile &file, const std::function<iffpcx_status(iffpcx_output *)> &produce,
                                  iffpcx_error &error) {
    PlacedOutput placed{file, nullptr};
    const bool to_stdout = file.in_one_pass();
    iffpcx_output *output = nullptr;
    iffpcx_status status =
        to_stdout ? iffpcx_output_memory(&output, &error)
                  : iffpcx_output_placed(write_placed, resize_placed, &placed, file.target().c_str(), &output, &error);
    if (status == IFFPCX_OK) {
        status = produce(output);
    }
    if (status == IFFPCX_OK) {
        status = iffpcx_output_finish(output, &error);
    }
    if (status == IFFPCX_OK && to_stdout) {
        size_t size = 0;
        const uint8_t *bytes = iffpcx_output_bytes(output, &size);
        try {
            file.write(bytes, size);
        } catch (...) {
            iffpcx_output_free(output);
            throw;
        }
    }
    iffpcx_output_free(output);
    if (status == IFFPCX_ERR_WRITE && placed.error) {
        std::rethrow_exception(placed.error);
    }
    return status;
}

bool has_dcx_signature(ByteView file) {
    return file.size() >= pcx_format::kDcxEntrySize && load_u32(file) == pcx_format::kDcxSignature;
}

bool starts_like_pcx_or_dcx(ByteView file) {
    return has_dcx_signature(file) || (!file.empty() && file[0] == pcx_format::kManufacturer);
}

void throw_layer_error(const iffpcx_error &error) {
    throw input_error(tool_message(error));
}

std::vector<uint64_t> page_offsets(ByteView bytes, const std::string &name) {
    iffpcx_error error{};
    uint32_t count = 0;
    if (iffpcx_page_spans(bytes.data(), bytes.size(), name.c_str(), nullptr, &count, &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
    std::vector<uint64_t> offsets(size_t{count} + 1);
    if (iffpcx_page_spans(bytes.data(), bytes.size(), name.c_str(), offsets.data(), &count, &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
    return offsets;
}

const char *page_kind_name(const iffpcx_page_info &page) {
    if (page.kind == IFFPCX_KIND_RGBA) {
        return "rgba";
    }
    switch (page.color_class) {
    case IFF_CLASS_BILEVEL: return "bilevel";
    case IFF_CLASS_GRAY: return "grayscale";
    case IFF_CLASS_PALETTE: return "palette";
    case IFF_CLASS_RGB: return "rgb";
    default: return "unknown";
    }
}

PcxPages::PcxPages(const std::string &path, uint64_t max_pixels, bool keep_partial)
    : input_(std::make_unique<InputFile>(path, starts_like_pcx_or_dcx)), path_(input_->name()), max_pixels_(max_pixels),
      keep_partial_(keep_partial) {
    open(input_->bytes());
}

PcxPages::PcxPages(ByteView bytes, const std::string &name, uint64_t max_pixels, bool keep_partial)
    : path_(name), max_pixels_(max_pixels), keep_partial_(keep_partial) {
    open(bytes);
}

void PcxPages::open(ByteView bytes) {
    bytes_ = bytes;
    iffpcx_limits limits = iffpcx_default_limits();
    limits.max_pixels = max_pixels_;
    iffpcx_error error{};
    if (iffpcx_open_memory(bytes.data(), bytes.size(), path_.c_str(), &limits, &file_, &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
}

PcxPages::~PcxPages() {
    iffpcx_close(file_);
}

bool PcxPages::is_dcx() const {
    return iffpcx_is_dcx(file_) != 0;
}

int PcxPages::page_count() const {
    return static_cast<int>(iffpcx_page_count(file_));
}

std::string PcxPages::where(int page) const {
    std::string text = path_ + ": ";
    if (page >= 0 && (is_dcx() || page > 0)) {
        text += "page " + std::to_string(page) + ": ";
    }
    return text;
}

iffpcx_page_info PcxPages::page_info(int page) {
    iffpcx_page_info info;
    iffpcx_error error{};
    if (iffpcx_page_info_get(file_, static_cast<uint32_t>(page), &info, &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
    return info;
}

iffpcx_page_info PcxPages::check_page(int page) {
    iffpcx_error error{};
    if (iffpcx_page_check(file_, static_cast<uint32_t>(page), &error) != IFFPCX_OK) {
        throw_layer_error(error);
    }
    return page_info(page);
}

std::string PcxPages::decode_page(int page, RowSink &sink, std::string *warnings, RowSink *later, int32_t split) {
    const iffpcx_page_info info = check_page(page);
    PageImage image;
    image.kind = static_cast<PageKind>(info.kind);
    image.width = info.width;
    image.height = info.height;
    image.dpi_x = info.dpi_x;
    image.dpi_y = info.dpi_y;
    if (info.kind == IFFPCX_KIND_INDEXED) {
        for (uint32_t k = 0; k < (1u << (info.bits_per_plane * info.planes)); ++k) {
            image.palette.push_back(Rgb{info.palette[3 * k], info.palette[3 * k + 1], info.palette[3 * k + 2]});
        }
    }
    // Bilevel pages for a sink that takes packed rows come packed, as PBM rows.
    image.packed_bilevel =
        image.kind == PageKind::Bilevel && sink.takes_packed_bilevel() && info.bits_per_plane * info.planes == 1;
    const iffpcx_form form = image.packed_bilevel ? IFFPCX_FORM_BITS : IFFPCX_FORM_DEFAULT;
    sink.begin(image);
    if (later != nullptr) {
        later->begin(image);
    }
    SinkRows sinks{&sink, later, split, nullptr, nullptr};
    const uint32_t flags = (keep_partial_ ? IFFPCX_PARTIAL : 0) | (later != nullptr ? IFFPCX_TWO_PARTS : 0);
    iffpcx_error error{};
    const iffpcx_status status =
        iffpcx_decode_rows(file_, static_cast<uint32_t>(page), form, flags, 0, INT32_MAX, to_sinks, &sinks, &error);
    if (status == IFFPCX_ERR_CALLBACK && (sinks.first_error || sinks.later_error)) {
        std::rethrow_exception(sinks.first_error ? sinks.first_error : sinks.later_error);
    }
    const bool kept = status == IFFPCX_ERR_TRUNCATED && keep_partial_ && error.line >= 0;
    if (status != IFFPCX_OK && !kept) {
        throw_layer_error(error);
    }
    if ((info.warnings & IFFPCX_WARN_NO_PALETTE_BLOCK) != 0) {
        const std::string warning =
            "pcxtool: warning: " + where(page) + "has no 256-colour palette block; its colours may be wrong\n";
        if (warnings != nullptr) {
            *warnings += warning;
        } else {
            std::fputs(warning.c_str(), stderr);
        }
    }
    if (later != nullptr) {
        later->finish();
    }
    sink.finish();
    if (!kept) {
        return "";
    }
    const std::string last = std::to_string(info.height - 1);
    return tool_message(error) + "; kept with " +
           (error.line + 1 == info.height ? "line " + last : "lines " + std::to_string(error.line) + " to " + last) +
           " as zeros (--partial)";
}

std::unique_ptr<PcxPages> PcxPages::another_reader() const {
    return std::make_unique<PcxPages>(bytes_, path_, max_pixels_, keep_partial_);
}

} // namespace pcxtool
