#pragma once
// A private server of the kind under test (JackServers.h) that a test stops where it is and lets go on, as
// a hung driver or a server stuck in a kernel call would: jackd with the 2 × 2 loopback "qv-loop", or
// PipeWire (its pipewire process), whose sink "qv-stereo" stands in with its monitor as inputs. Clients of
// the process find it (JACK_DEFAULT_SERVER, or PIPEWIRE_RUNTIME_DIR through PipeWire's libjack). A server
// left frozen for a minute is let go on, so that a test that hangs on it fails instead of hanging its
// server and its process; so does the destructor. While it is frozen, the process opens its clients without
// the machine-wide open lock (JackOpenLocked::lockOpens), which a blocked open would hold from every other
// JACK test. Main thread.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "JackOpenLocked.h"
#include "JackServers.h"
#include "JackTestServer.h"
#include "PipeWireTestServer.h"
#include "Waits.h"

namespace quorvel {

class JackFreezableServer {
public:
    JackFreezableServer() {
        if (JackServers::pipewire())
            pipewire_.emplace();
        else
            jackd_.emplace(JackTestServer::privateName("frozen"));
    }
    ~JackFreezableServer() { freeze(false); }
    JackFreezableServer(const JackFreezableServer&) = delete;
    JackFreezableServer& operator=(const JackFreezableServer&) = delete;

    // Starts the server; true once device()'s ports are there.
    bool start() {
        if (jackd_)
            return jackd_->start() &&
                   jackd_->startInterface(QUORVEL_JACK_INTERFACE,
                                          {"--name", "qv-loop", "--capture", "2", "--playback", "2"},
                                          "qv-loop:capture_2");
        if (!pipewire_->start()) return false;
        // A sink's JACK ports come once the session manager has set it up, after it is listed.
        const std::string command = std::string("flock -w 30 ") + jackOpenLockPath +
                                    " jack_lsp 2>/dev/null | grep -qx 'qv-stereo:monitor_FR'";
        return pollUntil([&] { return std::system(command.c_str()) == 0; }, std::chrono::seconds(60),
                         std::chrono::milliseconds(50));
    }
    // A device of the server with two inputs and two outputs.
    std::string device() const { return jackd_ ? "qv-loop" : "qv-stereo"; }

    void freeze(bool frozen) {
        if (watchdog_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                thawed_ = true;
            }
            wake_.notify_all();
            watchdog_.join();
        }
        if (!frozen) {
            send(false);
            JackOpenLocked::lockOpens(true);
            return;
        }
        thawed_ = false;
        JackOpenLocked::lockOpens(false);
        send(true);
        watchdog_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, std::chrono::minutes(1), [this] { return thawed_; })) {
                std::fprintf(stderr, "JackFreezableServer: let go on after a minute frozen\n");
                send(false);
            }
        });
    }

private:
    void send(bool frozen) {
        if (jackd_) jackd_->freeze(frozen);
        if (pipewire_) pipewire_->freeze(frozen);
    }

    std::optional<JackTestServer> jackd_;
    std::optional<PipeWireTestServer> pipewire_;
    std::thread watchdog_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool thawed_ = false;  // under mutex_
};

}  // namespace quorvel
