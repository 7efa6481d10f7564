#pragma once
// A start of a sound model on its way, as the main thread and the start's worker share it. Binding, the
// formats and an engine's start() may wait on a sound server, so a model does them on a worker and takes
// the result back on the main thread, where its token decides whether the result is still wanted. The
// main thread gives the start up (a stop, or a newer start) at once; the worker then starts nothing, and
// stops again what it started while that happened, so a start given up never goes on sounding until its
// result has come back.
//
// Threads: giveUp() on the main thread, the rest on any thread. Copies share one start.
#include <atomic>
#include <memory>

#include "platform/Result.h"

namespace quorvel {

class PendingStart {
public:
    void giveUp() const { givenUp_->store(true, std::memory_order_relaxed); }
    bool givenUp() const { return givenUp_->load(std::memory_order_relaxed); }

    // Worker: `start()` unless the start has been given up (an error nobody shows then, as the main thread
    // drops the result), and `stop()` if it was given up while `start()` ran.
    template <typename Start, typename Stop>
    Status start(Start&& start, Stop&& stop) const {
        if (givenUp()) return Error{"Quorvel", 0, "The start was given up"};
        Status started = start();
        if (started && givenUp()) stop();
        return started;
    }

private:
    std::shared_ptr<std::atomic<bool>> givenUp_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace quorvel
