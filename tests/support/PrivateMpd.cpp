#include "PrivateMpd.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "TestHome.h"
#include "Waits.h"
#include "platform/MpdMusicClient.h"

extern char** environ;

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// Generous: a loaded machine may take seconds where an idle one takes a fraction of one.
constexpr auto readyLimit = 60s;
constexpr auto stopGrace = 30s;  // SIGTERM ends MPD in under 2.5 s when idle

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An MPD that an interrupted run left behind, by the pid it recorded (not our child: polled).
void endLeftover(const std::string& pidFile) {
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    std::remove(pidFile.c_str());
    if (pid <= 0 || fileText("/proc/" + std::to_string(pid) + "/comm") != "mpd\n") return;
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);  // it may have been left frozen
    pollUntil([pid] { return kill(pid, 0) != 0; }, stopGrace);
    kill(pid, SIGKILL);
}

}  // namespace

PrivateMpd::PrivateMpd(unsigned port) {
    const char* fixture = std::getenv("QUORVEL_FIXTURE_DIR");
    const char* fixturePort = std::getenv("MPD_PORT");
    if (!fixture || !fixturePort) throw std::runtime_error("PrivateMpd needs the mpd fixture");
    port_ = port != 0 ? port : static_cast<unsigned>(std::atoi(fixturePort)) + 1;
    pidFile_ = std::string(fixture) + "/mpd-private.pid";
    endLeftover(pidFile_);

    std::string dir = TestHome::freshDir("mpd");
    std::string config = dir + "/mpd.conf";
    std::ofstream(config) << "music_directory \"" << fixture << "/mpd/music\"\n"
                          << "playlist_directory \"" << fixture << "/mpd/playlists\"\n"
                          << "db_file \"" << dir << "/db\"\nstate_file \"" << dir << "/state\"\n"
                          << "log_file \"" << dir << "/log\"\nbind_to_address \"127.0.0.1\"\n"
                          << "port \"" << port_ << "\"\nauto_update \"no\"\n"
                          << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n";
    const std::string output = dir + "/stdout";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const char* argv[] = {"mpd", "--no-daemon", config.c_str(), nullptr};
    const int spawned = posix_spawnp(&pid_, "mpd", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start mpd");
    }
    std::ofstream(pidFile_) << pid_ << "\n";

    MpdMusicClient probe({"127.0.0.1", port_, "", 2000});
    bool ready = false;
    pollUntil(
        [&] {
            if (waitpid(pid_, nullptr, WNOHANG) != 0) {  // it ended, e.g. on a port in use
                pid_ = -1;
                return true;
            }
            auto songs = probe.searchCatalog("crowd", 1);  // answers once the database is scanned
            return ready = songs.ok() && !songs->empty();
        },
        readyLimit, 50ms);
    if (ready) return;
    stop();
    throw std::runtime_error("mpd did not become ready:\n" + fileText(output) + fileText(dir + "/log"));
}

PrivateMpd::~PrivateMpd() { stop(); }

void PrivateMpd::freeze() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void PrivateMpd::thaw() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

void PrivateMpd::stop() {
    std::remove(pidFile_.c_str());
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a frozen server only sees the SIGTERM once it runs again
    if (!pollUntil([this] { return waitpid(pid_, nullptr, WNOHANG) != 0; }, stopGrace)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace quorvel
