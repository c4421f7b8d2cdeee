#include "write_behind.h"

#include <cerrno>
#include <unistd.h>

namespace pcxtool {

WriteBehind::WriteBehind(int fd) : fd_(fd), thread_([this] { run(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int WriteBehind::space(size_t size, uint8_t **room) {
    std::unique_lock<std::mutex> guard(lock_);
    // The block to fill is free once fewer than all of them wait.
    changed_.wait(guard, [this] { return pending_ < kBlocks || error_ != 0; });
    if (error_ != 0) {
        return error_;
    }
    Block &block = blocks_[next_fill_];
    guard.unlock();
    if (block.bytes.size() < size) {
        block.bytes.resize(size); // blocks keep their size, so this happens a few times a file
    }
    *room = block.bytes.data();
    return 0;
}

void WriteBehind::submit(size_t size) {
    if (size == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        blocks_[next_fill_].size = size;
        next_fill_ = (next_fill_ + 1) % kBlocks;
        ++pending_;
    }
    changed_.notify_all();
}

int WriteBehind::drain() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return pending_ == 0 || error_ != 0; });
    return error_;
}

void WriteBehind::run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return pending_ > 0 || stopping_; });
        if (pending_ == 0) {
            return; // stopping, with everything written
        }
        Block &block = blocks_[next_write_];
        int failure = error_; // after a failure, blocks are dropped unwritten
        guard.unlock();
        for (size_t done = 0; done < block.size && failure == 0;) {
            const ssize_t n = ::write(fd_, block.bytes.data() + done, block.size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EINTR) {
                failure = errno;
            } else if (n == 0) {
                failure = EIO;
            }
        }
        guard.lock();
        block.size = 0;
        next_write_ = (next_write_ + 1) % kBlocks;
        --pending_;
        if (failure != 0 && error_ == 0) {
            error_ = failure;
        }
        if (error_ != 0) {
            // Nothing after a failed block is written; what waits is dropped.
            for (Block &b : blocks_) {
                b.size = 0;
            }
            pending_ = 0;
            next_write_ = next_fill_;
        }
        changed_.notify_all();
    }
}

} // namespace pcxtool
