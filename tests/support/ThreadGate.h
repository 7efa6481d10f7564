#pragma once
// Holds a worker thread at a chosen point until the test lets it go; the test can wait until the worker
// has got there. Dropping the gate opens it, so a failed test never leaves a thread stuck.
#include <condition_variable>
#include <mutex>

class ThreadGate {
public:
    ThreadGate() = default;
    ThreadGate(const ThreadGate&) = delete;
    ThreadGate& operator=(const ThreadGate&) = delete;
    ~ThreadGate() { open(); }

    // Worker side: reports arrival, then waits until the gate is open (at once if it already is).
    void enterAndWait() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    // Test side.
    void waitEntered() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return entered_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};
