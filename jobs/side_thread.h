#pragma once
// One piece of work at a time on a second thread while the caller does another, so digests over
// the same buffer share the machine's cores. Used by the digest engines.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace jobs::detail {

class SideThread {
public:
    explicit SideThread(std::function<void(const char*, int64_t)> work)
        : work_(std::move(work)), thread_([this] { loop(); }) {}
    ~SideThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    void post(const char* data, int64_t size) {
        {
            std::lock_guard lock(mutex_);
            data_ = data;
            size_ = size;
            posted_ = true;
        }
        changed_.notify_all();
    }
    // Waits for the posted work; what it threw is thrown here.
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !posted_; });
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return posted_ || quit_; });
            if (quit_) return;
            lock.unlock();
            std::exception_ptr error;
            try {
                work_(data_, size_);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            error_ = error;
            posted_ = false;
            changed_.notify_all();
        }
    }

    std::function<void(const char*, int64_t)> work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const char* data_ = nullptr;
    int64_t size_ = 0;
    bool posted_ = false;
    bool quit_ = false;
    std::exception_ptr error_;
    std::thread thread_; // last: started once everything it uses exists
};

} // namespace jobs::detail
