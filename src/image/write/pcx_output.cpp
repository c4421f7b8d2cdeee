#include "pcx_output.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "base/image_error.h"

namespace image {

// Bytes written at their place in a file, gathered into blocks.
class BlockFile {
  public:
    explicit BlockFile(PlacedFile &file) : file_(file), block_(kBlockBytes) {}

    // Empties the file, for a library open.
    void reset() {
        block_start_ = 0;
        block_used_ = 0;
        position_ = 0;
        if (size_ > 0 && failure_.empty() && !file_.truncate(0)) {
            failure_ = file_.why();
        }
        size_ = 0;
    }

    int32_t write(const void *buffer, int32_t count) {
        if (count < 0 || (buffer == nullptr && count > 0)) {
            return -1;
        }
        // As in memory, a file never grows past what a position can express:
        // the library sees the short count and reports a failed write.
        const size_t moved = position_ >= kMaxSize ? 0 : std::min(static_cast<size_t>(count), kMaxSize - position_);
        if (moved == 0 || !failure_.empty()) {
            return 0;
        }
        // A block holds consecutive bytes; a write elsewhere, or one that
        // does not fit, sends the block out first.
        if (position_ != block_start_ + block_used_ || block_used_ + moved > block_.size()) {
            if (!flush()) {
                return 0;
            }
            block_start_ = position_;
        }
        const auto *bytes = static_cast<const uint8_t *>(buffer);
        if (moved >= block_.size()) {
            if (!put(bytes, moved, position_)) {
                return 0;
            }
            block_start_ = position_ + moved;
        } else {
            std::memcpy(block_.data() + block_used_, bytes, moved);
            block_used_ += moved;
        }
        position_ += moved;
        size_ = std::max(size_, position_);
        return static_cast<int32_t>(moved);
    }

    int32_t seek(int32_t offset, int32_t origin) {
        int64_t base = 0;
        switch (origin) {
        case 0: base = 0; break;
        case 1: base = static_cast<int64_t>(position_); break;
        case 2: base = static_cast<int64_t>(size_); break;
        default: return -1;
        }
        int64_t target = base + offset;
        if (target < 0 || target > static_cast<int64_t>(kMaxSize)) {
            return -1;
        }
        position_ = static_cast<size_t>(target); // a write there leaves a hole, which reads as zeros
        return static_cast<int32_t>(target);
    }

    bool flush() {
        if (block_used_ == 0) {
            return failure_.empty();
        }
        const bool written = put(block_.data(), block_used_, block_start_);
        block_start_ += block_used_;
        block_used_ = 0;
        return written;
    }

    // Why a write failed; empty while none has.
    const std::string &failure() const { return failure_; }

  private:
    static constexpr size_t kBlockBytes = size_t{1} << 18;
    static constexpr size_t kMaxSize = static_cast<size_t>(std::numeric_limits<int32_t>::max());

    bool put(const uint8_t *bytes, size_t count, size_t at) {
        if (failure_.empty() && !file_.write_at(at, bytes, count)) {
            failure_ = file_.why();
        }
        return failure_.empty();
    }

    PlacedFile &file_;
    std::vector<uint8_t> block_;
    size_t block_start_ = 0; // the file offset of block_[0]
    size_t block_used_ = 0;
    size_t position_ = 0;
    size_t size_ = 0; // the file's length, blocks still held included
    std::string failure_;
};

namespace {

// The library refers to a stream by a small integer; the table maps it back.
// Each output being encoded holds a slot while its handle is open.
constexpr int32_t kFileSlots = 1024;
BlockFile *g_files[kFileSlots] = {};
std::mutex g_files_lock;

// Create-file flags that the library passes when writing (0x0200 truncate).
constexpr int32_t kOpenTruncate = 0x0200;

// Runs one of the file's operations for the stream the library names, or
// fails as for a closed stream.
template <typename... Params, typename... Args>
int32_t on_file(int32_t id, int32_t (BlockFile::*operation)(Params...), Args... args) {
    BlockFile *file = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_files_lock);
        file = id >= 0 && id < kFileSlots ? g_files[id] : nullptr;
    }
    return file != nullptr ? (file->*operation)(args...) : -1;
}

// A free slot given to `file`; -1 when every slot is taken.
int32_t take_slot(BlockFile *file) {
    std::lock_guard<std::mutex> guard(g_files_lock);
    BlockFile **free_slot = std::find(g_files, g_files + kFileSlots, nullptr);
    if (free_slot == g_files + kFileSlots) {
        return -1;
    }
    *free_slot = file;
    return static_cast<int32_t>(free_slot - g_files);
}

int32_t IFF_CALLBACK file_open(const void *source, int32_t flags, int32_t /*permission*/) {
    const auto *record = static_cast<const PcxOutput::BlockSource *>(source);
    const int32_t id = record != nullptr && record->file != nullptr ? take_slot(record->file) : -1;
    if (id >= 0 && (flags & kOpenTruncate) != 0) {
        record->file->reset();
    }
    return id;
}

int32_t IFF_CALLBACK file_close(int32_t id) {
    std::lock_guard<std::mutex> guard(g_files_lock);
    if (id < 0 || id >= kFileSlots || g_files[id] == nullptr) {
        return -1;
    }
    g_files[id] = nullptr;
    return 0;
}

int32_t IFF_CALLBACK file_read(int32_t /*id*/, void * /*buffer*/, int32_t /*count*/) {
    return -1; // written only
}

int32_t IFF_CALLBACK file_write(int32_t id, const void *buffer, int32_t count) {
    return on_file(id, &BlockFile::write, buffer, count);
}

int32_t IFF_CALLBACK file_seek(int32_t id, int32_t offset, int32_t origin) {
    return on_file(id, &BlockFile::seek, offset, origin);
}

} // namespace

PcxOutput::PcxOutput(std::string name) : name_(std::move(name)), memory_(std::make_unique<MemoryStream>()) {}

PcxOutput::PcxOutput(std::string name, PlacedFile &file)
    : name_(std::move(name)), blocks_(std::make_unique<BlockFile>(file)) {
    block_source_.ops.open = file_open;
    block_source_.ops.close = file_close;
    block_source_.ops.read = file_read;
    block_source_.ops.write = file_write;
    block_source_.ops.seek = file_seek;
    block_source_.file = blocks_.get();
}

PcxOutput::~PcxOutput() = default;

const void *PcxOutput::source() const {
    return memory_ ? memory_->source() : static_cast<const void *>(&block_source_);
}

void PcxOutput::expect(size_t bytes) {
    if (memory_) {
        memory_->data.reserve(bytes); // pages are touched only as they are written
    }
}

void PcxOutput::finish() {
    if (blocks_) {
        blocks_->flush();
        check_writes();
    }
}

int32_t PcxOutput::append(const uint8_t *bytes, int32_t count) {
    return memory_ ? memory_->write(bytes, count) : blocks_->write(bytes, count);
}

void PcxOutput::check_writes() const {
    if (blocks_ && !blocks_->failure().empty()) {
        throw ImageError(IFFPCX_ERR_WRITE, name_ + ": cannot write: " + blocks_->failure());
    }
}

} // namespace image
