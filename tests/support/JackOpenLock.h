#pragma once
// One JACK client opens at a time on this machine, among the tests' processes, test interfaces and
// fixture scripts.
//
// While a client opens, libjack listens for its server on a socket whose path holds only the client's
// name (/dev/shm/jack_<client>_<uid>_0), not the server's: two clients of the same name opening at the
// same moment steal each other's socket, even on different servers, and one or both fail. Our fixed
// names meet that way (RtAudio's "RtApiJackCount", qv-mic on the fixture and on a private server,
// jack_lsp's "lsp"), e.g. when the optimised and sanitizer suites run side by side.
//
// The scripts take the same lock with flock(1) on jackOpenLockPath. Any thread; no JACK calls inside.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

inline constexpr const char* jackOpenLockPath = "/dev/shm/quorvel-jack-open.lock";

class JackOpenLock {
public:
    // Waits for the lock up to `limit`; past that (a holder that hangs) goes on without it, as an
    // unlocked open only risks the rare clash the lock is there for.
    explicit JackOpenLock(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        fd_ = open(jackOpenLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) fd_ = open(jackOpenLockPath, O_RDONLY | O_CLOEXEC);  // made by another user
        if (fd_ < 0) return;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > end) {
                close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~JackOpenLock() {
        if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
    }
    JackOpenLock(const JackOpenLock&) = delete;
    JackOpenLock& operator=(const JackOpenLock&) = delete;

private:
    int fd_ = -1;
};
