#pragma once
// Waiting for the device menus' listings (engine/AudioHardware.h), which run on the global thread pool and
// answer on the main thread; an answer or a change notice may start another. Main thread.
#include <QCoreApplication>
#include <QThreadPool>

namespace quorvel {

// Lets the listings under way, and those they start, come back.
inline void settleListings() {
    for (int round = 0; round < 3; ++round) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
}

}  // namespace quorvel
