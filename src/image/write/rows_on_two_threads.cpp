#include "write/rows_on_two_threads.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "base/two_threads.h"

namespace image {

namespace {

// Blocks the first thread may have waiting. Made blocks wait in a ring used
// over and over, as fresh memory costs about as much as numbering: a few
// keep the first thread busy while the second codes a block.
constexpr size_t kWaitingMade = 4;
constexpr size_t kWaitingRead = 2;
// Blocks the second thread may have coded ahead, each in a part whose memory
// is used again once the block is in the file. Rows read where they are keep
// the second thread coding most of the time, so more wait in memory.
constexpr size_t kPartsMade = 4;
constexpr size_t kPartsRead = 8;

enum BlockKind : uint8_t { kPut, kCoded };

// The first thread's end of the work: ends its counts on every way out, so
// that a second thread waiting for them goes on to its end.
class FirstThreadCounts {
  public:
    FirstThreadCounts(SharedCount &put, SharedCount &appended) : put_(put), appended_(appended) {}
    ~FirstThreadCounts() {
        put_.end();
        appended_.end();
    }
    FirstThreadCounts(const FirstThreadCounts &) = delete;
    FirstThreadCounts &operator=(const FirstThreadCounts &) = delete;

  private:
    SharedCount &put_;
    SharedCount &appended_;
};

} // namespace

TwoThreads put_rows_on_two_threads(LineOutput &file, BlockRows &rows, const uint8_t *first_rows, size_t width,
                                   size_t from, size_t height, size_t block_rows, const PcxLayout &layout,
                                   const std::string &target) {
    const size_t blocks = (height - from + block_rows - 1) / block_rows;
    const bool in_order = rows.made_in_order();
    const size_t block_bytes = block_rows * width;
    const size_t waiting = in_order ? kWaitingMade : kWaitingRead;
    const size_t part_count = in_order ? kPartsMade : kPartsRead;
    std::unique_ptr<uint8_t[]> ring;
    std::vector<BlockKind> kinds;
    std::vector<uint8_t> lines;
    try {
        // Uninitialised: every row is made before it is read.
        ring.reset(in_order ? new uint8_t[waiting * block_bytes] : nullptr);
        kinds.resize(blocks);
        lines.resize(2 * width);
    } catch (const std::bad_alloc &) {
        return TwoThreads::NotStarted; // the rows stay on one thread
    }

    std::vector<std::unique_ptr<CodedPart>> parts; // the second thread's, made there
    std::vector<uint8_t> own_block;
    SharedCount decided;  // blocks the second thread has made or coded, or left to the first
    SharedCount put;      // blocks the first thread has put
    SharedCount appended; // coded blocks the first thread has appended
    bool all_made = true;
    std::exception_ptr error;
    const int first_core = current_core();
    SecondThread second;
    const FirstThreadCounts counts(put, appended);
    const bool started = second.start([&](const std::atomic<bool> &stop) {
        leave_core(first_core);
        // The parts are made here, while the first thread puts its first rows.
        try {
            own_block.resize(in_order ? block_bytes : 0);
            for (size_t k = 0; k < part_count; ++k) {
                parts.push_back(std::make_unique<CodedPart>(static_cast<int32_t>(width), block_rows, layout, target));
            }
        } catch (const std::exception &) {
            parts.clear();
        }
        size_t to_put = 0;
        size_t coded = 0;
        uint8_t *line = lines.data() + width;
        try {
            for (size_t b = 0; b < blocks && !stop; ++b) {
                const size_t y = from + b * block_rows;
                const size_t count = std::min(block_rows, height - y);
                // Without parts this thread only makes blocks, and waits for room.
                if (parts.empty()) {
                    put.wait([&](size_t done) { return to_put - done < waiting; });
                    if (put.ended()) {
                        break;
                    }
                }
                // The first thread keeps a few blocks waiting; beyond them
                // this thread codes the newest block itself, which the first
                // reaches last.
                if (to_put - put.get() < waiting) {
                    if (in_order && !rows.make(y, count, ring.get() + (to_put % waiting) * block_bytes)) {
                        all_made = false;
                        break;
                    }
                    kinds[b] = kPut;
                    ++to_put;
                    decided.set(b + 1);
                    continue;
                }
                appended.wait([&](size_t done) { return coded - done < part_count; });
                if (appended.ended()) {
                    break;
                }
                if (in_order && !rows.make(y, count, own_block.data())) {
                    all_made = false;
                    break;
                }
                CodedPart &part = *parts[coded % part_count];
                part.restart();
                kinds[b] = kCoded;
                ++coded;
                try {
                    for (size_t k = 0; k < count; ++k) {
                        part.put(rows.row(y + k, in_order ? own_block.data() + width * k : nullptr, line), y + k);
                    }
                } catch (...) {
                    decided.set(b + 1); // the lines coded before the failure go out first
                    throw;
                }
                decided.set(b + 1);
            }
        } catch (...) {
            error = std::current_exception();
        }
        decided.end();
    });
    if (!started) {
        return TwoThreads::NotStarted;
    }

    for (size_t y = 0; y < from; ++y) {
        file.put(first_rows + width * y, y);
    }
    size_t to_put = 0;
    size_t coded = 0;
    for (size_t b = 0; b < blocks; ++b) {
        decided.wait([&](size_t done) { return done > b; });
        if (decided.get() <= b) {
            break; // the second thread stopped short
        }
        if (kinds[b] == kCoded) {
            file.append(*parts[coded % part_count]);
            appended.set(++coded);
            continue;
        }
        const size_t y = from + b * block_rows;
        const size_t count = std::min(block_rows, height - y);
        const uint8_t *made = in_order ? ring.get() + (to_put % waiting) * block_bytes : nullptr;
        for (size_t k = 0; k < count; ++k) {
            file.put(rows.row(y + k, made != nullptr ? made + width * k : nullptr, lines.data()), y + k);
        }
        put.set(++to_put);
    }
    second.join();
    if (error) {
        std::rethrow_exception(error);
    }
    return all_made ? TwoThreads::AllRows : TwoThreads::Stopped;
}

} // namespace image
