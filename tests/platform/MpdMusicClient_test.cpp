#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "MpdMusicClient.h"

namespace {

// A loopback socket that listens but never answers: the kernel completes the connection, and the client
// then waits for a greeting that never comes, like a hung server.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 8);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { close(fd_); }
    unsigned port() const { return port_; }

private:
    int fd_ = -1;
    unsigned port_ = 0;
};

// A port on which nothing listens: bound once and released.
unsigned closedPort() {
    SilentServer taken;
    return taken.port();
}

MpdMusicClient clientOn(unsigned port) {
    return MpdMusicClient({"127.0.0.1", port, "", 300});
}

}  // namespace

TEST(MpdMusicClient, NoServerMeansNotAuthorisedAndEveryCallFails) {
    auto client = clientOn(closedPort());
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::denied);
    auto playlists = client.libraryPlaylists(100);
    ASSERT_FALSE(playlists.ok());
    EXPECT_FALSE(playlists.error().description.empty());
    EXPECT_FALSE(client.searchCatalog("x", 25).ok());
    EXPECT_FALSE(client.play().ok());
    EXPECT_FALSE(client.playerState().ok());
}

TEST(MpdMusicClient, HungServerTimesOut) {
    SilentServer server;
    auto client = clientOn(server.port());
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::denied);
    auto subscription = client.currentSubscription();
    ASSERT_FALSE(subscription.ok());
    EXPECT_EQ(subscription.error().domain, "libmpdclient");
}

TEST(MpdMusicClient, ChoosesTheServerAsMpdClientsDo) {
    setenv("MPD_HOST", "secret@example.invalid", 1);
    setenv("MPD_PORT", "6611", 1);
    unsetenv("MPD_TIMEOUT");
    auto options = MpdMusicClient::fromEnvironment();
    EXPECT_EQ(options.host, "example.invalid");
    EXPECT_EQ(options.port, 6611u);
    EXPECT_EQ(options.password, "secret");
    EXPECT_EQ(options.timeoutMS, 5000u);

    unsetenv("MPD_HOST");
    unsetenv("MPD_PORT");
    setenv("MPD_TIMEOUT", "2", 1);
    options = MpdMusicClient::fromEnvironment();
    EXPECT_EQ(options.port, 6600u);
    EXPECT_TRUE(options.password.empty());
    EXPECT_EQ(options.timeoutMS, 2000u);
}
