#pragma once
// A stand-in MPD for faults a real one will not show on demand (slow, endless, silent, refusing), one
// script thread per connection on a loopback port or socket; the destructor ends and joins them.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {

class FakeMpd {
public:
    // One accepted connection, as a script sees it.
    class Connection {
    public:
        Connection(FakeMpd& server, int fd) : server_(server), fd_(fd) {}
        // False once the client has gone or the server is closing.
        bool send(const std::string& text) const {
            for (std::size_t sent = 0; sent < text.size();) {
                const ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
                if (n <= 0 || server_.closing_) return false;
                sent += static_cast<std::size_t>(n);
            }
            return true;
        }
        // The client's next line without its line feed; empty once the client has gone.
        std::string readLine() const {
            std::string line;
            for (char c = 0; ::recv(fd_, &c, 1, 0) == 1;) {
                if (c == '\n') return line;
                line += c;
            }
            return {};
        }
        // False when the client goes or the server closes meanwhile.
        bool pause(std::chrono::milliseconds time) const {
            const auto end = std::chrono::steady_clock::now() + time;
            while (std::chrono::steady_clock::now() < end) {
                if (server_.closing_) return false;
                pollfd wait{fd_, POLLRDHUP, 0};
                if (::poll(&wait, 1, 50) == 1) return false;
            }
            return !server_.closing_;
        }
        // Returns once the client has closed its end.
        void awaitClose() const {
            for (char c = 0; ::recv(fd_, &c, 1, 0) > 0;) {
            }
        }

    private:
        FakeMpd& server_;
        int fd_;
    };
    using Script = std::function<void(Connection&)>;

    // The scripts the tests use.
    static Script greets() {
        return [](Connection& c) {
            c.send("OK MPD 0.23.5\n");
            c.awaitClose();
        };
    }
    static Script silent() {
        return [](Connection& c) { c.awaitClose(); };
    }
    static Script refusesPassword() {
        return [](Connection& c) {
            c.send("OK MPD 0.23.5\n");
            if (c.readLine().rfind("password ", 0) == 0) c.send("ACK [3@0] {password} incorrect password\n");
            c.awaitClose();
        };
    }
    // Greets, then answers the first command with `lines` of `line`, one every `every`, and OK.
    static Script slow(std::chrono::milliseconds every, int lines, std::string line) {
        return [=](Connection& c) {
            c.send("OK MPD 0.23.5\n");
            c.readLine();
            for (int i = 0; i < lines; ++i)
                if (!c.pause(every) || !c.send(line)) return;
            c.send("OK\n");
        };
    }
    // Greets, then answers the first command with `head` and `chunk` over and over, until the client goes.
    static Script endless(std::string head, std::string chunk) {
        return [=](Connection& c) {
            c.send("OK MPD 0.23.5\n");
            c.readLine();
            if (c.send(head))
                while (c.send(chunk)) {
                }
        };
    }

    // On a free loopback port, or on `socketPath` when one is given ("@name": an abstract socket).
    explicit FakeMpd(Script script, const std::string& socketPath = {}) : script_(std::move(script)) {
        if (socketPath.empty()) {
            listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof address;
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
                ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
                throw std::runtime_error("FakeMpd: no port");
            port_ = ntohs(address.sin_port);
        } else {
            listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
            socklen_t size = sizeof address;
            if (socketPath.front() == '@') {
                // An abstract name is exactly its bytes after the leading NUL: no terminator counts.
                address.sun_path[0] = '\0';
                size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath.size());
            } else {
                ::unlink(socketPath.c_str());
            }
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0)
                throw std::runtime_error("FakeMpd: cannot bind " + socketPath);
        }
        ::listen(listener_, 16);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~FakeMpd() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
        }
        acceptor_.join();
        for (auto& t : scripts_) t.join();
        for (int fd : connections_) ::close(fd);
        ::close(listener_);
    }

    unsigned port() const { return port_; }
    int accepted() const { return accepted_; }
    // Connections whose script has ended (for the scripts above: once the client closed its end).
    int finished() const { return finished_; }

    // A loopback port with nothing listening on it (free a moment ago).
    static unsigned unusedPort() {
        FakeMpd probe(silent());
        return probe.port();
    }

private:
    void acceptLoop() {
        while (!closing_) {
            pollfd wait{listener_, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(mutex_);
            if (closing_) {
                ::close(fd);
                break;
            }
            connections_.push_back(fd);
            ++accepted_;
            scripts_.emplace_back([this, fd] {
                Connection connection(*this, fd);
                script_(connection);
                ++finished_;
            });
        }
    }

    Script script_;
    int listener_ = -1;
    unsigned port_ = 0;
    std::mutex mutex_;
    std::atomic<bool> closing_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    std::vector<int> connections_;      // guarded by mutex_ until the acceptor ends
    std::vector<std::thread> scripts_;  // likewise
    std::thread acceptor_;
};

// Leaves a socket file at `path` that nothing listens on, as a stopped system MPD leaves its socket; false
// (errno set) when it cannot be made.
inline bool makeStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool made = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return made;
}

}  // namespace quorvel
