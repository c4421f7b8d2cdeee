// What two threads that share the work on one file use to hand it over.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

namespace image {

// The core the calling thread runs on, or -1 where that cannot be told.
inline int current_core() {
#ifdef __linux__
    return sched_getcpu();
#else
    return -1;
#endif
}

// Whether the process may run two threads side by side: a second core that
// its affinity allows.
inline bool two_cores() {
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return CPU_COUNT(&allowed) > 1;
    }
#endif
    return std::thread::hardware_concurrency() > 1;
}

// Moves the calling thread off `core`, where the thread that started it
// runs. A new thread often starts on its creator's core, and two threads
// that keep a core busy are seldom parted: they would share it to the end.
// Moved once, the thread stays where it is; its affinity is left as it was.
inline void leave_core(int core) {
#ifdef __linux__
    cpu_set_t allowed;
    if (core < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0 || !CPU_ISSET(core, &allowed)) {
        return;
    }
    cpu_set_t others = allowed;
    CPU_CLR(core, &others);
    if (CPU_COUNT(&others) > 0 && sched_setaffinity(0, sizeof others, &others) == 0) {
        sched_setaffinity(0, sizeof allowed, &allowed);
    }
#else
    (void)core;
#endif
}

// A count that one thread raises and the other waits on. A wait spins for a
// while before it sleeps: the other thread hands over work every few tens of
// microseconds, and waking a sleeping thread can take longer than that.
class SharedCount {
  public:
    size_t get() const { return value_.load(); }
    void set(size_t value) {
        value_.store(value);
        wake();
    }
    // No more changes come; waits return.
    void end() {
        ended_.store(true);
        wake();
    }
    bool ended() const { return ended_.load(); }

    // Waits until done(count) holds or the count has ended.
    template <typename Done> void wait(Done done) {
        const auto ready = [&] { return done(value_.load()) || ended_.load(); };
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > give_up) {
                std::unique_lock<std::mutex> guard(lock_);
                ++sleepers_;
                changed_.wait(guard, ready);
                --sleepers_;
                return;
            }
            std::this_thread::yield();
        }
    }

  private:
    void wake() {
        // A sleeper counts itself under the lock before it looks at the
        // count for the last time, so it either sees the change or is woken.
        if (sleepers_.load() > 0) {
            const std::lock_guard<std::mutex> guard(lock_);
            changed_.notify_all();
        }
    }

    std::atomic<size_t> value_{0};
    std::atomic<bool> ended_{false};
    std::atomic<int> sleepers_{0};
    std::mutex lock_;
    std::condition_variable changed_;
};

// A second thread, told to stop and joined on every way out of the scope
// that holds it; declare it after everything its work uses.
class SecondThread {
  public:
    SecondThread() = default;
    ~SecondThread() {
        stop_ = true;
        join();
    }
    SecondThread(const SecondThread &) = delete;
    SecondThread &operator=(const SecondThread &) = delete;

    // Runs work(stop) on the thread, `stop` being set when the scope is left
    // early; false when no thread can be had.
    template <typename Work> bool start(Work work) {
        try {
            thread_ = std::thread([this, work]() mutable { work(stop_); });
            return true;
        } catch (const std::system_error &) {
            return false;
        }
    }
    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace image
