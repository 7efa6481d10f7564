#pragma once
// A second MPD on the fixture's music at MPD_PORT + 1 (or the port given), for tests that stop it
// mid-session (mpd fixture only); its pid file lets the next run (or mpd-stop.sh) end one an interrupted
// run left. Main thread.
#include <sys/types.h>

#include <string>

namespace quorvel {

class PrivateMpd {
public:
    explicit PrivateMpd(unsigned port = 0);  // starts it and waits until it answers
    ~PrivateMpd();                           // stops it if still running
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
