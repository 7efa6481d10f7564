#pragma once
// Machine-wide locks for the JACK tests, taken by processes, test interfaces and scripts (with flock(1)).
// jackOpenLockPath: one client opens at a time, as libjack's open socket is named by client only, so our
// fixed names ("RtApiJackCount", qv-mic, jack_lsp's "lsp") clash across servers and suites.
// jackServerLockPath: one server starts or stops at a time (that wipes dead servers' shared memory under
// closing clients), held by a test that kills a server from the kill until its clients of it are closed.
// Order: the server lock before the open lock. Any thread; no JACK calls inside.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

inline constexpr const char* jackOpenLockPath = "/dev/shm/quorvel-jack-open.lock";
inline constexpr const char* jackServerLockPath = "/dev/shm/quorvel-jack-server.lock";

class MachineLock {
public:
    // Waits up to `limit`; past that (a hung holder) goes on unlocked, risking only the rare clash.
    MachineLock(const char* path, std::chrono::milliseconds limit) {
        // Shared by every user of the machine: writable by all whatever the umask, and taken read-only where
        // another user made it.
        fd_ = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) fchmod(fd_, 0666);
        if (fd_ < 0) fd_ = open(path, O_RDONLY | O_CLOEXEC);
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
