// Where the line library writes a PCX file: memory, or a file (a path's, or a
// caller's that takes bytes at any offset) written in large blocks, each at
// its place as the library moves about (it comes back to the header last),
// so that a file is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/memory_stream.h"
#include "iffpcx.h"

namespace image {

// A file that takes bytes at any offset. Failures are kept, not thrown: the
// library sees a short write and says which line failed.
class PlacedFile {
  public:
    virtual ~PlacedFile() = default;
    // False, with why() set, when the bytes did not all go.
    virtual bool write_at(uint64_t offset, const uint8_t *data, size_t size) = 0;
    // The file ends at `size` (0 when a new file starts).
    virtual bool truncate(uint64_t size) = 0;
    virtual std::string why() const = 0;
};

class BlockFile;

class PcxOutput {
  public:
    // Into memory. Either output behaves as a file: a seek past the end
    // moves there, and the gap it leaves reads as zeros (the aligned
    // 256-colour block).
    explicit PcxOutput(std::string name);
    // Into a file, which must outlive this.
    PcxOutput(std::string name, PlacedFile &file);
    ~PcxOutput();
    PcxOutput(const PcxOutput &) = delete;
    PcxOutput &operator=(const PcxOutput &) = delete;

    const std::string &name() const { return name_; }
    // The record IFFOpen takes with IFF_MODE_STREAMS. Each open starts an
    // empty file.
    const void *source() const;
    // The most the coded image can take, so that memory never grows.
    void expect(size_t bytes);
    // After IFFClose: writes what is still held. Failures are thrown.
    void finish();
    // Throws the failure of a write to the file, if one failed.
    void check_writes() const;
    // Whether the output is a file, which takes the bytes as they are coded.
    bool is_file() const { return blocks_ != nullptr; }
    // Writes bytes where the library's next write would go, as that write
    // would, between its open and close; returns how many went: fewer when
    // the output fails or would grow past what a position can express.
    int32_t append(const uint8_t *bytes, int32_t count);
    // The bytes of a memory output.
    ByteView contents() const { return memory_ ? memory_->contents() : ByteView(); }

    // The record's form for a file: the callbacks, then the file.
    struct BlockSource {
        IFFStreamOps ops;
        BlockFile *file;
    };

  private:
    std::string name_;
    std::unique_ptr<BlockFile> blocks_;    // for a file
    std::unique_ptr<MemoryStream> memory_; // for memory
    BlockSource block_source_{};
};

} // namespace image
