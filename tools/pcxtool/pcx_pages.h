// pcxtool's side of the whole-image layer (iffpcx_image.h): PCX and DCX files
// read through it for a command, and its failures worded as pcxtool words
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_view.h"
#include "file_io.h"
#include "iffpcx_image.h"
#include "page_image.h"

namespace pcxtool {

bool has_dcx_signature(ByteView file);
// A DCX signature, or the first byte of every PCX header.
bool starts_like_pcx_or_dcx(ByteView file);

// A failure of the layer as a pcxtool input error: pcxtool names itself
// where the layer refuses a layout, and names the option that lifts a limit.
[[noreturn]] void throw_layer_error(const iffpcx_error &error);

// Where the pages of a PCX or DCX file lie: page k is [offsets[k], offsets[k + 1]).
std::vector<uint64_t> page_offsets(ByteView bytes, const std::string &name);

// Runs `produce` with an output of the layer that writes `file`: at their
// place as the layer codes them, or for standard output, which may be a
// pipe, in one piece once complete. Returns the layer's status, with `error`
// filled on failure; a failed write to `file` is thrown as pcxtool words it.
iffpcx_status write_through_layer(PendingFile &file, const std::function<iffpcx_status(iffpcx_output *)> &produce,
                                  iffpcx_error &error);

// The page's kind as pcxtool names it: the colour class, or "rgba".
const char *page_kind_name(const iffpcx_page_info &page);

class PcxPages {
  public:
    // Reads the file ("-": standard input) and opens it; every failure is an
    // input error that names the file. Pages of more than `max_pixels` are
    // refused; with keep_partial a page whose data end early is kept.
    PcxPages(const std::string &path, uint64_t max_pixels, bool keep_partial);
    // Opens bytes the caller keeps alive, named `name` in messages.
    PcxPages(ByteView bytes, const std::string &name, uint64_t max_pixels, bool keep_partial);
    ~PcxPages();
    PcxPages(const PcxPages &) = delete;
    PcxPages &operator=(const PcxPages &) = delete;

    // The path, or "standard input".
    const std::string &path() const { return path_; }
    bool is_dcx() const;
    int page_count() const;

    iffpcx_page_info page_info(int page);
    // page_info, refusing a page that decoding would refuse from its header.
    iffpcx_page_info check_page(int page);
    // Decodes a page into `sink`, or with `later` given the rows from
    // `split` on into it, on a second thread. Warnings go to stderr, or are
    // appended to *warnings when given. Returns "" once every row went to the
    // sink; a page kept with lines missing returns its failure instead.
    std::string decode_page(int page, RowSink &sink, std::string *warnings = nullptr, RowSink *later = nullptr,
                            int32_t split = 0);

    // The layer's file, for calls pcxtool makes on it directly.
    iffpcx_file *handle() const { return file_; }

    // A reader of the same bytes with the same settings, for another thread.
    std::unique_ptr<PcxPages> another_reader() const;

  private:
    void open(ByteView bytes);
    std::string where(int page) const;

    std::unique_ptr<InputFile> input_; // when the bytes come from a file
    std::string path_;
    uint64_t max_pixels_;
    bool keep_partial_;
    ByteView bytes_;
    iffpcx_file *file_ = nullptr;
};

} // namespace pcxtool
