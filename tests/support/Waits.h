#pragma once
// Polling against a generous deadline, for waits with no event loop to run. Any thread.
#include <chrono>
#include <thread>

namespace quorvel {

// Polls `done` every `step` until it holds or `limit` has passed; its last answer.
template <typename Done>
bool pollUntil(Done&& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(step);
    }
    return true;
}

// How long `run` takes.
template <typename Run>
std::chrono::milliseconds timeOf(Run&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace quorvel
