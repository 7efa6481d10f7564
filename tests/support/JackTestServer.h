#pragma once
// A private JACK server for one test (dummy driver, 48 kHz, 1024-frame periods), for tests that kill or
// restart a server and so cannot use the shared fixture server. It also starts test interfaces
// (qv_jack_interface) on it. Everything it started is ended by pid when it goes, clients first.
//
// The test process must talk to this server: the constructor points JACK_DEFAULT_SERVER at it. Made
// without a name, it only starts interfaces on the server the process already uses.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class JackTestServer {
public:
    JackTestServer() = default;
    explicit JackTestServer(std::string name) : name_(std::move(name)) {
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    }
    ~JackTestServer() {
        for (pid_t pid : clients_) end(pid, SIGTERM);
        if (server_ > 0) end(server_, SIGTERM);
        // A killed server leaves its slot in JACK's shared registry, which holds only a few servers and
        // reclaims a dead slot only for the same name: start that name once more and end it cleanly.
        if (killed_ && server_ <= 0 && !name_.empty() && start()) end(server_, SIGTERM);
    }
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    // Starts jackd; true once a client can see its ports.
    bool start() {
        server_ = spawn({"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "1024", "-C", "2", "-P", "2"});
        return server_ > 0 && waitFor("system:playback_1");
    }
    // Ends the server at once, as a crash would (clients are left running).
    void kill() {
        if (server_ > 0) end(server_, SIGKILL);
        server_ = -1;
        killed_ = true;
    }
    // Starts a test interface; true once its port `lastPort` exists.
    bool startInterface(const std::string& program, const std::vector<std::string>& args, const std::string& lastPort) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = spawn(argv);
        if (pid <= 0) return false;
        clients_.push_back(pid);
        return waitFor(lastPort);
    }
    // Ends the most recently started interface.
    void stopLastInterface() {
        if (clients_.empty()) return;
        end(clients_.back(), SIGTERM);
        clients_.pop_back();
    }

    const std::string& name() const { return name_; }

private:
    static pid_t spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    static void end(pid_t pid, int signal) {
        ::kill(pid, signal);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    // Polls jack_lsp for a port; the server and clients need a moment to come up.
    bool waitFor(const std::string& port) const {
        const std::string command = "jack_lsp 2>/dev/null | grep -qx '" + port + "'";
        for (int i = 0; i < 100; ++i) {
            if (std::system(command.c_str()) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string name_;
    pid_t server_ = -1;
    bool killed_ = false;
    std::vector<pid_t> clients_;
};
