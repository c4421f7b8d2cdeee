// Where a TIFF being written goes: a file by name, which appears under that
// name only once complete (written beside it and renamed); memory; or the
// caller's write callback, which receives the bytes in order, once, at the
// end (the file is held in an unnamed temporary file until then, because
// libtiff comes back to earlier directories as it links pages).
#pragma once

#include <cstdio>
#include <string>

#include <tiffio.h>

#include "image/tiff/tiff_error.h"
#include "image/tiff/tiff_streams.h"
#include "image/tiff/tiff_types.h"

namespace iff::tiff {

class Output {
  public:
    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    ~Output() { abandon(); }

    // Each opens the TIFF for writing; on failure error is filled.
    Status open_path(const char *path, Error *error);
    Status open_memory(Error *error);
    Status open_writer(WriteFn write, void *context, const char *name, Error *error);

    TIFF *tiff() const { return tiff_; }
    const char *name() const { return name_.c_str(); }
    LibraryMessage &message() { return message_; }

    // What a failed libtiff call on this output amounts to.
    Status failure_status() const { return memory_.out_of_memory ? Status::memory : Status::write; }

    // Closes the TIFF and delivers the file: renamed into place, or sent to
    // the callback. The output is closed afterwards, whatever the result.
    Status complete(Error *error);

    // Closes without delivering: a partial file is removed.
    void abandon();

    // A memory output's bytes, valid while the output lives.
    const uint8_t *bytes(size_t &size) const {
        size = size_t(memory_.size);
        return memory_.data;
    }
    // Bytes that have left for the file, memory or temporary file so far.
    uint64_t bytes_so_far() const { return to_file_ ? file_.size : memory_.size; }

  private:
    Status open_tiff(Error *error);
    Status send_to_writer(Error *error);
    Status close_file(Error *error);

    std::string name_;
    std::string path_;      // the final name, for path outputs
    std::string temporary_; // the name written under until complete
    WriteFn write_ = nullptr;
    void *write_context_ = nullptr;
    FileStream file_;
    MemoryStream memory_;
    LibraryMessage message_;
    TIFF *tiff_ = nullptr;
    bool to_file_ = false;
};

} // namespace iff::tiff
