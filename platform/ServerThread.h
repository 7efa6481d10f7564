#pragma once
// One sound server's calls (a JACK server, a PulseAudio server, ALSA through its plugins), made one at a
// time on a thread of their own, each waited for only until a deadline.
//
// A server that stops answering (stopped, or stuck in its driver or a kernel call) blocks its client
// library with no time limit, and libpulse, libjack and ALSA's PulseAudio plugin have no time-out of their
// own for it. So a call past its deadline stays with the thread, and until it returns the server is not
// responding: later calls are not made and fail at once, and calls queued behind it give up too. Its return
// is the server's answer: from then on the server is asked again, and the notice given to
// setAnsweringAgain() runs. A wait of a caller's own (on a connection with its own loop) that passes its
// deadline counts the same way through missed(), whose probe waits on the thread for the server to answer.
//
// A call's body settles its results under mutex() as it ends (it returns with `settle` locked), so its
// caller either sees all of what it did or has given up before any of it. The object's owner may keep
// bookkeeping of its own under mutex(), and wait on changed() for it; no lock is held across a call to the
// server.
//
// Threads: any. An object lives as long as the process: its thread is never stopped.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

class ServerThread {
public:
    using Clock = std::chrono::steady_clock;

    // A call on the thread; under mutex().
    struct Call {
        const char* what = "";
        Clock::time_point asked;
        bool skippable = true;  // not run at all when its caller gave up before it started
        bool started = false;
        bool abandoned = false;  // its caller gave up waiting
        bool done = false;
    };
    // What a call runs: it starts with `settle` (of mutex()) unlocked and returns with it locked.
    using Body = std::function<void(const Call& call, std::unique_lock<std::mutex>& settle)>;

    // `server` names it in the log: "JACK", "PulseAudio", "ALSA".
    explicit ServerThread(std::string server) : server_(std::move(server)) {}
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    std::mutex& mutex() { return mutex_; }
    // Notified whenever a call ends or is given up on, and for the owner's own changes.
    std::condition_variable& changed() { return changed_; }

    // Under mutex(): no call is past its deadline.
    bool answering() const { return overdue_ == 0; }

    // Runs `body` on the thread and waits for it until `deadline`; false at once while the server is not
    // answering, and false when the call has not returned by then. Under mutex() (`lock`).
    bool ask(std::unique_lock<std::mutex>& lock, const char* what, Clock::time_point deadline, Body body);
    // The same for work that needs no lock: `work` runs unlocked; when its caller has given up by the time
    // it returns, `abandoned` runs after it on the thread (to let go of what it made). Takes mutex() itself.
    bool run(const char* what, Clock::time_point deadline, std::function<void()> work,
             std::function<void()> abandoned = nullptr);

    // Queues `body`, for a caller that waits with await(). Under mutex().
    std::shared_ptr<Call> post(const char* what, bool skippable, Body body);
    // Waits for `call` until `deadline`, or until a call before it is given up on; false when it has not
    // returned by then: the server is taken as not answering until it does. Under mutex() (`lock`).
    bool await(std::unique_lock<std::mutex>& lock, Call& call, Clock::time_point deadline);

    // A wait of the caller's own on the server passed its deadline: the server is not answering until
    // `probe`, which returns once the server answers or is gone, has returned on the thread. Under mutex().
    void missed(const char* what, std::function<void()> probe);

    // Queues `work` even while the server is not answering, for what must be done whenever the server lets
    // it (closing what was opened), and waits for it until `deadline` while the server answers; false when
    // it has not been done by then. Takes mutex() itself.
    bool runEventually(const char* what, Clock::time_point deadline, std::function<void()> work);

    // `notice` runs on the thread, with no lock held, each time the server answers after it had not, until
    // unwatch(); it must return at once and must not call this object. Returns its handle.
    int watch(std::function<void()> notice);
    // No notice of `handle` runs once this has returned.
    void unwatch(int handle);

private:
    [[noreturn]] void serve();

    const std::string server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_.
    std::deque<std::function<void()>> calls_;
    std::condition_variable work_;
    bool serving_ = false;
    int overdue_ = 0;  // calls whose callers gave up and that have not returned
    // The notices, under noticeMutex_, which is held while they run.
    std::mutex noticeMutex_;
    std::vector<std::pair<int, std::function<void()>>> notices_;
    int lastHandle_ = 0;
};

}  // namespace quorvel
