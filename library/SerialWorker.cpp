#include "library/SerialWorker.h"

#include <utility>

namespace quorvel {

SerialWorker::~SerialWorker() { waitIdle(); }

SerialWorker& SerialWorker::files() {
    static SerialWorker worker;
    return worker;
}

void SerialWorker::post(std::function<void()> job) {
    std::thread ended;
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(std::move(job));
        if (running_) return;
        running_ = true;
        ended = std::exchange(thread_, std::thread(&SerialWorker::run, this));
    }
    // A thread that ran out of work has left its loop: this join does not wait for any job.
    if (ended.joinable()) ended.join();
}

void SerialWorker::waitIdle() {
    std::thread ended;
    {
        std::unique_lock<std::mutex> hold(lock_);
        idle_.wait(hold, [this] { return !running_; });
        ended = std::move(thread_);
    }
    if (ended.joinable()) ended.join();
}

void SerialWorker::run() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!jobs_.empty()) {
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        hold.unlock();
        job();
        job = nullptr;  // what the job holds goes before the worker counts as idle
        hold.lock();
    }
    running_ = false;
    idle_.notify_all();
}

}  // namespace quorvel
