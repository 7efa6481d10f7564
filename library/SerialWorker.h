#pragma once
// A background thread that runs jobs one at a time, in the order they were posted. The thread exists only
// while there is work: an idle worker holds no thread (so an idle process may fork, and nothing is left
// running at exit).
//
// post() from any thread; waitIdle() from any thread but the worker's own.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvel {

class SerialWorker {
public:
    SerialWorker() = default;
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;
    // Waits for every posted job.
    ~SerialWorker();

    // The worker shared by the stores for their file work, so that a load never overtakes a save that
    // was asked for earlier in the process.
    static SerialWorker& files();

    void post(std::function<void()> job);
    // Blocks until every job posted so far has run.
    void waitIdle();

private:
    void run();

    std::mutex lock_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    std::thread thread_;
    bool running_ = false;  // the thread is taking jobs; once false it is about to end
};

}  // namespace quorvel
