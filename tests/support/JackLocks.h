#pragma once
// Machine-wide locks for the JACK tests: their processes, test interfaces and fixture scripts take them
// (the scripts with flock(1) on the same paths), whichever build or checkout they belong to.
//
// jackOpenLockPath: one JACK client opens at a time. While a client opens, libjack listens for its server
// on a socket whose path holds only the client's name (/dev/shm/jack_<client>_<uid>_0), not the server's:
// two clients of the same name opening at the same moment steal each other's socket, even on different
// servers, and one or both fail. Our fixed names meet that way (RtAudio's "RtApiJackCount", qv-mic on the
// fixture and on a private server, jack_lsp's "lsp"), e.g. when two suites run side by side.
//
// jackServerLockPath: one server starts or stops at a time, and a test that kills a server holds it from
// start to end. A starting or stopping jackd destroys the shared memory of every server that died, while
// the clients of a killed server may still be closing in a test process: they then crash or hang, or a
// restarted server of that name is not found.
//
// Order: the server lock before the open lock. Any thread; no JACK calls inside.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

inline constexpr const char* jackOpenLockPath = "/dev/shm/quorvel-jack-open.lock";
inline constexpr const char* jackServerLockPath = "/dev/shm/quorvel-jack-server.lock";

class MachineLock {
public:
    // Waits for the lock up to `limit`; past that (a holder that hangs) goes on without it, as going on
    // unlocked only risks the rare clash the lock is there for.
    MachineLock(const char* path, std::chrono::milliseconds limit) {
        fd_ = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) fd_ = open(path, O_RDONLY | O_CLOEXEC);  // made by another user
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
    ~MachineLock() {
        if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

private:
    int fd_ = -1;
};
