// Writes an output file's blocks on a thread of their own, so that the
// system's copying of a block into the file overlaps the work of making the
// next one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace pcxtool {

class WriteBehind {
  public:
    explicit WriteBehind(int fd);
    ~WriteBehind(); // waits for what was handed over; a failure then goes unreported
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;

    // Room for `size` bytes, which the next submit hands over (part of them,
    // or none); it waits while every block is still being written. 0, or the
    // errno of the first write that failed, after which nothing more is
    // written.
    int space(size_t size, uint8_t **room);
    void submit(size_t size);
    // Waits until every block handed over is written: 0, or the first errno.
    int drain();

  private:
    struct Block {
        std::vector<uint8_t> bytes;
        size_t size = 0; // handed over and not yet written, when non-zero
    };
    static constexpr size_t kBlocks = 3;

    void run();

    int fd_;
    std::mutex lock_;
    std::condition_variable changed_;
    Block blocks_[kBlocks];
    size_t next_fill_ = 0;  // the block space() hands out
    size_t next_write_ = 0; // the block the thread writes next
    size_t pending_ = 0;    // blocks handed over and not yet written
    int error_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace pcxtool
