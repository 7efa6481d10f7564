#pragma once
// A second MPD of the test's own, on the fixture's music folder and port MPD_PORT + 1, for tests that stop
// the server in mid-session. Only in tests that run under the "mpd" fixture. Its pid is kept under the
// fixture folder, so that one an interrupted run left holding the port is ended before the next starts
// (and by mpd-stop.sh at the end of the run). Main thread of the test.
#include <sys/types.h>

#include <string>

namespace quorvel {

class PrivateMpd {
public:
    PrivateMpd();   // starts it and waits until it answers
    ~PrivateMpd();  // stops it if still running
    void stop();
    // Stops / continues the server's process: while frozen it accepts connections but never answers.
    void freeze();
    void thaw();
    unsigned port() const { return port_; }

private:
    pid_t pid_ = -1;
    unsigned port_ = 0;
    std::string pidFile_;
};

}  // namespace quorvel
