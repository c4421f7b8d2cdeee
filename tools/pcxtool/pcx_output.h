// Where the library writes a PCX file that pcxtool encodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "file_io.h"
#include "memory_stream.h"

namespace pcxtool {

class BlockFile;

// An output file takes the bytes in large blocks, each written at its place
// as the library moves about (it comes back to the header last), so the file
// is never held whole. Standard output, which may be a pipe or a file open
// for appending, gets the file in one piece from memory once it is complete.
class PcxOutput {
  public:
    // `extend_past_end`: a seek past the end moves there, and the gap it
    // leaves reads as zeros (the aligned 256-colour block); otherwise it
    // stops at the end.
    PcxOutput(PendingFile &file, bool extend_past_end);
    ~PcxOutput();
    PcxOutput(const PcxOutput &) = delete;
    PcxOutput &operator=(const PcxOutput &) = delete;

    // The record IFFOpen takes with IFF_MODE_STREAMS. Each open starts an
    // empty file.
    const void *source() const;
    // The most the coded image can take, so that memory never grows.
    void expect(size_t bytes);
    // After IFFClose: writes what is still held. Failures are input errors.
    void finish();
    // Throws the input error of a failed write to the file, if one failed.
    void check_writes() const;
    // Whether the output is a file, which takes the bytes as they are coded.
    bool is_file() const { return blocks_ != nullptr; }
    // Writes bytes where the library's next write would go, as that write
    // would, between its open and close; returns how many went: fewer when
    // the output fails or would grow past what a position can express.
    int32_t append(const uint8_t *bytes, int32_t count);

    // The record's form for a file: the callbacks, then the file.
    struct BlockSource {
        IFFStreamOps ops;
        BlockFile *file;
    };

  private:
    PendingFile &file_;
    std::unique_ptr<BlockFile> blocks_;    // for a file
    std::unique_ptr<MemoryStream> memory_; // for standard output
    BlockSource block_source_{};
    StreamSource memory_source_{};
};

} // namespace pcxtool
