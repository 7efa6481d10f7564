#pragma once
// A private JACK server (dummy, 48 kHz, 1024 frames) for a test that kills it, or, unnamed, test interfaces
// on the process's server; ends what it started by pid. Named with privateName(), it starts and stops its
// server under the machine-wide server lock, and holds the lock from kill() until release(): the process's
// clients of the killed server still use its shared memory until they are closed, and a server starting
// anywhere meanwhile would clean that memory up under them. Between restarts other servers may start.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "JackLocks.h"
#include "Waits.h"

extern char** environ;

namespace quorvel {

class JackTestServer {
public:
    JackTestServer() = default;
    explicit JackTestServer(std::string name) : name_(std::move(name)) {
        (void)fixtureServer();  // remember the fixture's name before pointing the process elsewhere
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        if (const char* fixture = std::getenv("QUORVEL_FIXTURE_DIR")) {
            std::filesystem::create_directories(std::string(fixture) + "/jack");
            pidFile_ = std::string(fixture) + "/jack/private-" + name_ + ".pid";
            log_ = std::string(fixture) + "/jack/private-" + name_ + ".log";
            lock();
            endLeftover();
            release();
        }
    }
    ~JackTestServer() {
        endAll(clients_, SIGTERM, clientGrace);
        lock();
        stopServer();
        // Start the name once more to free a killed server's registry slot; drop its clients' semaphores.
        if (slotLeft_ && startServer()) stopServer();
        if (!killed_) return;
        const std::string prefix = "jack_sem." + std::to_string(getuid()) + "_" + name_ + "_";
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec))
            if (entry.path().filename().string().starts_with(prefix))
                std::filesystem::remove(entry.path(), ec);
    }
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    // A server name for test `label` of this build folder.
    static std::string privateName(const std::string& label) { return fixtureServer() + "-" + label; }

    // Starts jackd; true once a client can see its ports. Under the server lock (held on if it was).
    bool start() {
        const bool held = serverLock_.has_value();
        lock();
        const bool up = startServer();
        if (!held) release();
        return up;
    }
    // Ends the server at once, as a crash would (clients are left running), and holds the server lock
    // until release().
    void kill() {
        lock();
        if (server_ <= 0) return;
        endAll({server_}, SIGKILL, std::chrono::seconds(0));
        server_ = -1;
        killed_ = slotLeft_ = true;
    }
    // Once the process has closed its clients of a killed server: other servers may start again.
    void release() { serverLock_.reset(); }
    // Stops the server where it is (it neither runs nor goes away), or lets it go on.
    void freeze(bool frozen) {
        if (server_ > 0) ::kill(server_, frozen ? SIGSTOP : SIGCONT);
    }
    // Starts a test interface; true once its port `lastPort` exists (retried twice if its client failed).
    // Its output goes to `log` (nowhere when empty).
    bool startInterface(const std::string& program, const std::vector<std::string>& args,
                        const std::string& lastPort, const std::string& log = "") {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        for (int attempt = 0; attempt < 3; ++attempt) {
            const pid_t pid = spawn(argv, log);
            if (pid <= 0) return false;
            clients_.push_back(pid);
            if (waitFor(lastPort, pid)) return true;
            if (running(pid)) return false;  // alive, yet its ports never came
            clients_.pop_back();
        }
        return false;
    }
    // The most recently started interface's process, or -1.
    pid_t lastInterface() const { return clients_.empty() ? -1 : clients_.back(); }
    // Ends the most recently started interface.
    void stopLastInterface() {
        if (clients_.empty()) return;
        endAll({clients_.back()}, SIGTERM, clientGrace);
        clients_.pop_back();
    }

    const std::string& name() const { return name_; }

    // Whether the server lists `port` now (jack_lsp, under the open lock).
    static bool listed(const std::string& port) {
        const std::string command = std::string("flock -w 30 ") + jackOpenLockPath +
                                    " jack_lsp 2>/dev/null | grep -qx '" + port + "'";
        return std::system(command.c_str()) == 0;
    }

private:
    // Clients may take seconds to leave on a loaded machine; a killed jackd keeps its registry slot.
    static constexpr std::chrono::seconds clientGrace{20};
    static constexpr std::chrono::seconds serverGrace{30};

    static const std::string& fixtureServer() {
        static const std::string name = [] {
            const char* fixture = std::getenv("JACK_DEFAULT_SERVER");
            return std::string(fixture && *fixture ? fixture : "qv-private");
        }();
        return name;
    }

    // Starts `args` with its output in `log` (nowhere when empty). With a `pidFile` (a server), the new
    // process writes its pid there itself before it becomes `args`, and is sent SIGTERM when this
    // process dies: a crash of another thread may end us at any moment, even inside posix_spawn, and the
    // server must not outlive us unfound. (The signal follows the thread that spawned it: the test's.)
    static pid_t spawn(std::vector<std::string> args, const std::string& log,
                       const std::string& pidFile = "") {
        if (!pidFile.empty())
            args.insert(args.begin(),
                        {"sh", "-c", "echo $$ >\"$0\" && exec setpriv --pdeathsig TERM \"$@\"", pidFile});
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.empty() ? "/dev/null" : log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // Whether our child `pid` still runs (reaps it when not).
    static bool running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }
    // Sends `signal` to our children and reaps them; kills those left after `grace`.
    static void endAll(const std::vector<pid_t>& pids, int signal, std::chrono::seconds grace) {
        for (pid_t pid : pids) ::kill(pid, signal);
        pollUntil([&] { return std::none_of(pids.begin(), pids.end(), running); }, grace);
        for (pid_t pid : pids)
            if (running(pid)) {
                ::kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
    }

    void lock() {
        if (!serverLock_ && !name_.empty()) serverLock_.emplace(jackServerLockPath, std::chrono::minutes(2));
    }

    // A server that exits at once is started again for a while: the name may still be registered by a
    // server that is going away (one whose test process has just crashed).
    bool startServer() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            server_ = spawn({"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p",
                             "1024", "-C", "2", "-P", "2"},
                            log_, pidFile_);
            if (server_ <= 0) return false;
            if (waitFor("system:playback_1", server_)) {
                slotLeft_ = false;
                return true;
            }
        } while (!running(server_) && std::chrono::steady_clock::now() < end);
        std::fprintf(stderr, "JackTestServer: jackd -n %s did not come up (log: %s)\n", name_.c_str(),
                     log_.c_str());
        return false;
    }

    // A server of this name that a crashed run of the test left running would take the new one's place.
    void endLeftover() {
        pid_t pid = 0;
        std::ifstream(pidFile_) >> pid;
        std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
        const std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (pid <= 0 || args.find(std::string("jackd\0-n\0", 9) + name_ + '\0') == std::string::npos) return;
        ::kill(pid, SIGTERM);
        if (!pollUntil([pid] { return ::kill(pid, 0) != 0; }, serverGrace)) ::kill(pid, SIGKILL);
        std::remove(pidFile_.c_str());
        killed_ = true;  // its clients' semaphore files are left
    }
    void stopServer() {
        if (server_ <= 0) return;
        endAll({server_}, SIGTERM, serverGrace);
        server_ = -1;
        if (!pidFile_.empty()) std::remove(pidFile_.c_str());
    }

    // Polls until `port` is listed or `process` has ended.
    static bool waitFor(const std::string& port, pid_t process) {
        bool seen = false;
        pollUntil([&] { return (seen = listed(port)) || !running(process); }, std::chrono::seconds(60),
                  std::chrono::milliseconds(50));
        return seen;
    }

    std::optional<MachineLock> serverLock_;  // first: released after everything else
    std::string name_;
    std::string pidFile_;
    std::string log_;
    pid_t server_ = -1;
    bool killed_ = false;    // some run of this name was killed
    bool slotLeft_ = false;  // and no server of the name has registered since
    std::vector<pid_t> clients_;
};

}  // namespace quorvel
