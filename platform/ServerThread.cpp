#include "platform/ServerThread.h"

#include <thread>

#include "platform/Log.h"

namespace quorvel {

namespace {

long millisecondsSince(ServerThread::Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(ServerThread::Clock::now() - t).count());
}

}  // namespace

void ServerThread::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return !calls_.empty(); });
        std::function<void()> next = std::move(calls_.front());
        calls_.pop_front();
        lock.unlock();
        next();
        next = nullptr;
        lock.lock();
    }
}

std::shared_ptr<ServerThread::Call> ServerThread::post(const char* what, bool skippable, Body body) {
    if (!serving_) {
        std::thread([this] { serve(); }).detach();
        serving_ = true;
    }
    auto call = std::make_shared<Call>(Call{what, Clock::now(), skippable});
    calls_.push_back([this, call, body = std::move(body)] {
        std::unique_lock lock(mutex_);
        if (!call->abandoned || !call->skippable) {
            call->started = true;
            lock.unlock();
            body(*call, lock);
        }
        call->done = true;
        bool answersAgain = false;
        if (call->abandoned) {
            answersAgain = --overdue_ == 0;
            Log::info(Log::Area::audio, server_ + ": the server answered (" + call->what + ") after " +
                                            std::to_string(millisecondsSince(call->asked)) + " ms");
        }
        changed_.notify_all();
        if (answersAgain) {
            lock.unlock();
            std::lock_guard notifying(noticeMutex_);
            for (const auto& [handle, notice] : notices_) notice();
        }
    });
    work_.notify_one();
    return call;
}

bool ServerThread::await(std::unique_lock<std::mutex>& lock, Call& call, Clock::time_point deadline) {
    changed_.wait_until(lock, deadline, [&] { return call.done || (!call.started && overdue_ > 0); });
    if (call.done) return true;
    call.abandoned = true;
    ++overdue_;
    changed_.notify_all();  // calls queued behind it give up too
    Log::warning(Log::Area::audio, server_ + ": the server did not answer (" + call.what + ") within " +
                                       std::to_string(millisecondsSince(call.asked)) +
                                       " ms; nothing more is asked of it until it does");
    return false;
}

bool ServerThread::ask(std::unique_lock<std::mutex>& lock, const char* what, Clock::time_point deadline,
                       Body body) {
    if (!answering()) {
        Log::debug(Log::Area::audio, server_ + ": not asked (" + what + "): the server is not responding");
        return false;
    }
    const auto call = post(what, true, std::move(body));
    return await(lock, *call, deadline);
}

bool ServerThread::run(const char* what, Clock::time_point deadline, std::function<void()> work,
                       std::function<void()> abandoned) {
    std::unique_lock lock(mutex_);
    return ask(lock, what, deadline,
               [work = std::move(work), abandoned = std::move(abandoned)](
                   const Call& call, std::unique_lock<std::mutex>& settle) {
                   work();
                   settle.lock();
                   if (call.abandoned && abandoned) {
                       settle.unlock();
                       abandoned();
                       settle.lock();
                   }
               });
}

void ServerThread::missed(const char* what, std::function<void()> probe) {
    const auto call =
        post(what, false, [probe = std::move(probe)](const Call&, std::unique_lock<std::mutex>& settle) {
            probe();
            settle.lock();
        });
    call->abandoned = true;
    ++overdue_;
    changed_.notify_all();
    Log::warning(Log::Area::audio, server_ + ": the server did not answer (" + what +
                                       "); nothing more is asked of it until it does");
}

bool ServerThread::runEventually(const char* what, Clock::time_point deadline, std::function<void()> work) {
    std::unique_lock lock(mutex_);
    const auto call =
        post(what, false, [work = std::move(work)](const Call&, std::unique_lock<std::mutex>& settle) {
            work();
            settle.lock();
        });
    return answering() && await(lock, *call, deadline);
}

int ServerThread::watch(std::function<void()> notice) {
    std::lock_guard lock(noticeMutex_);
    notices_.emplace_back(++lastHandle_, std::move(notice));
    return lastHandle_;
}

void ServerThread::unwatch(int handle) {
    std::lock_guard lock(noticeMutex_);
    std::erase_if(notices_, [&](const auto& n) { return n.first == handle; });
}

}  // namespace quorvel
