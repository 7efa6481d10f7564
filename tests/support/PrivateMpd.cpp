#include "PrivateMpd.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "MpdMusicClient.h"
#include "TestHome.h"

extern char** environ;

PrivateMpd::PrivateMpd() {
    const char* fixture = std::getenv("QUORVEL_FIXTURE_DIR");
    const char* fixturePort = std::getenv("MPD_PORT");
    if (!fixture || !fixturePort) throw std::runtime_error("PrivateMpd needs the mpd fixture");
    port_ = static_cast<unsigned>(std::atoi(fixturePort)) + 1;
    std::string dir = TestHome::freshDir("mpd");
    std::string config = dir + "/mpd.conf";
    std::ofstream(config) << "music_directory \"" << fixture << "/mpd/music\"\n"
                          << "playlist_directory \"" << fixture << "/mpd/playlists\"\n"
                          << "db_file \"" << dir << "/db\"\nstate_file \"" << dir << "/state\"\n"
                          << "log_file \"" << dir << "/log\"\nbind_to_address \"127.0.0.1\"\n"
                          << "port \"" << port_ << "\"\nauto_update \"no\"\n"
                          << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n";
    const char* argv[] = {"mpd", "--no-daemon", config.c_str(), nullptr};
    if (posix_spawnp(&pid_, "mpd", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        throw std::runtime_error("cannot start mpd");
    MpdMusicClient probe({"127.0.0.1", port_, "", 500});
    for (int i = 0; i < 200; ++i) {
        auto songs = probe.searchCatalog("crowd", 1);  // answers once the database is scanned
        if (songs.ok() && !songs->empty()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    throw std::runtime_error("mpd did not become ready");
}

PrivateMpd::~PrivateMpd() { stop(); }

void PrivateMpd::freeze() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void PrivateMpd::thaw() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

void PrivateMpd::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a frozen server only sees the SIGTERM once it runs again
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}
