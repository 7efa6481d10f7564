#pragma once
// A private PipeWire for a test that kills and restarts it or adds nodes, the equivalent of
// PulseTestServer.h: pipewire-start.sh run in a fresh folder, with the fixture's sinks; points PULSE_SERVER
// at its PulseAudio side and PIPEWIRE_RUNTIME_DIR at its folder (JACK clients through pw-jack find it there),
// and ends what it started by pid. Main thread.
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "PulseTestServer.h"
#include "TestHome.h"
#include "Waits.h"

namespace quorvel {

class PipeWireTestServer {
public:
    PipeWireTestServer() : dir_(TestHome::freshDir("pipewire")) {
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/run/pulse/native").c_str(), 1);
        setenv("PIPEWIRE_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);  // for its JACK side
    }
    ~PipeWireTestServer() { kill(); }
    PipeWireTestServer(const PipeWireTestServer&) = delete;
    PipeWireTestServer& operator=(const PipeWireTestServer&) = delete;

    // Starts the session (bus, pipewire, wireplumber, pipewire-pulse); true once its sinks are listed.
    bool start() {
        const std::string command =
            std::string("bash ") + QUORVEL_PIPEWIRE_START + " '" + dir_ + "' >'" + dir_ + ".start.log' 2>&1";
        if (std::system(command.c_str()) != 0) return false;
        std::ifstream recorded(dir_ + "/pids");
        std::string name;
        pid_t pid = 0;
        while (recorded >> name >> pid) {
            pids_.push_back(pid);
            if (name == "pipewire") pipewire_ = pid;
            if (name == "pipewire-pulse") pulse_ = pid;
        }
        return pids_.size() == 4;
    }
    // Stops the pipewire process where it is (it neither runs nor goes away), or lets it go on.
    void freeze(bool frozen) {
        if (pipewire_ > 0) ::kill(pipewire_, frozen ? SIGSTOP : SIGCONT);
    }
    // The same for its PulseAudio side, the pipewire-pulse process.
    void freezePulse(bool frozen) {
        if (pulse_ > 0) ::kill(pulse_, frozen ? SIGSTOP : SIGCONT);
    }
    // Ends the whole session at once, as a crash would, and waits until it is gone.
    void kill() {
        for (pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (pid_t pid : pids_)
            pollUntil([pid] { return !PulseTestServer::alive(pid); }, std::chrono::seconds(10),
                      std::chrono::milliseconds(10));
        pids_.clear();
        pipewire_ = -1;
        pulse_ = -1;
    }

private:
    std::string dir_;
    std::vector<pid_t> pids_;  // not our children (the start script's): reaped by init
    pid_t pipewire_ = -1;      // among them
    pid_t pulse_ = -1;
};

}  // namespace quorvel
