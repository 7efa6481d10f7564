#pragma once
// A private PulseAudio server for a test that kills and restarts it: pulse-start.sh run in a fresh folder,
// with the fixture's sinks; points PULSE_SERVER at it and ends what it started by pid. Main thread.
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "TestHome.h"
#include "Waits.h"

namespace quorvel {

class PulseTestServer {
public:
    PulseTestServer() : dir_(TestHome::freshDir("pulse")) {
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
    }
    ~PulseTestServer() { kill(); }
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    // Starts the server; true once its sinks are listed.
    bool start() {
        const std::string command =
            std::string("bash ") + QUORVEL_PULSE_START + " '" + dir_ + "' >'" + dir_ + ".start.log' 2>&1";
        if (std::system(command.c_str()) != 0) return false;
        std::ifstream(dir_ + "/pid") >> pid_;
        return pid_ > 0;
    }
    // Ends the server at once, as a crash would, and waits until it is gone.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        pollUntil([this] { return !alive(pid_); }, std::chrono::seconds(10), std::chrono::milliseconds(10));
        pid_ = -1;
    }

    // Stops the server where it is (it neither answers nor goes away), or lets it go on.
    void freeze(bool frozen) {
        if (pid_ > 0) ::kill(pid_, frozen ? SIGSTOP : SIGCONT);
    }

    // Running, not a zombie waiting for a parent that may never reap it.
    static bool alive(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(") ");
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
    }

private:
    std::string dir_;
    pid_t pid_ = -1;  // not our child (the start script's): reaped by init
};

}  // namespace quorvel
