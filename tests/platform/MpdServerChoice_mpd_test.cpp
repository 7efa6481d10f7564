// Which server the music client reaches when neither MPD_HOST nor MPD_PORT names one: the system MPD's
// socket while it exists, else localhost:6600, as libmpdclient's own clients do.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "FakeMpd.h"
#include "JackLocks.h"
#include "PrivateMpd.h"
#include "TestHome.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

constexpr unsigned standardPort = 6600;

// Whether an MPD could listen on 127.0.0.1:port now (with SO_REUSEADDR, as MPD binds).
bool loopbackPortFree(unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

}  // namespace

TEST(MpdServerChoice, SystemSocketWhileItExistsElseLocalhost6600) {
    // The standard port is the machine's: test runs of other build folders wait for each other here, and
    // a server of the machine's own there leaves this test nothing to show.
    MachineLock standard("/dev/shm/quorvel-mpd-6600.lock", std::chrono::minutes(3));
    if (!loopbackPortFree(standardPort))
        GTEST_SKIP() << "127.0.0.1:6600 is in use by another program (an MPD of this machine?), so the "
                        "fallback on localhost:6600 cannot be shown with a private server";
    PrivateMpd onStandardPort(standardPort);  // the fixture's music

    ::unsetenv("MPD_HOST");
    ::unsetenv("MPD_PORT");
    MpdMusicClient::Options options = MpdMusicClient::fromEnvironment();
    EXPECT_EQ(options.host, "");
    EXPECT_EQ(options.port, standardPort);
    options.systemSocket = TestHome::freshDir("mpd-system") + "/socket";  // none there yet

    // No system socket: localhost:6600, and the private server there is the one reached.
    MpdMusicClient client(options);
    EXPECT_EQ(client.serverName(), "localhost:6600");
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    auto songs = client.searchCatalog("crowd", 1);
    ASSERT_TRUE(songs.ok()) << songs.error().description;
    EXPECT_EQ(songs->size(), 1u);

    // Once the system socket exists, the same client goes there, and its texts name it.
    FakeMpd system(FakeMpd::greets(), options.systemSocket);
    EXPECT_EQ(client.serverName(), options.systemSocket);
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    EXPECT_EQ(system.accepted(), 1);
}

}  // namespace quorvel
