// The MPD client against fake servers that misbehave as a real one will not on demand.
#include "platform/MpdMusicClient.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "FakeMpd.h"
#include "TestHome.h"
#include "platform/Log.h"

namespace quorvel {

namespace {

MpdMusicClient::Options on(unsigned port, unsigned timeoutMS = 5000, std::string password = {}) {
    return MpdMusicClient::Options{"127.0.0.1", port, std::move(password), timeoutMS};
}

std::string at(unsigned port) { return "127.0.0.1:" + std::to_string(port); }

// Whether a music warning was logged while this sink was installed.
bool g_musicWarned = false;
void noteWarning(Log::Area area, Log::Level level, std::string_view) {
    g_musicWarned = g_musicWarned || (area == Log::Area::music && level == Log::Level::warning);
}

}  // namespace

TEST(MpdMusicClientFaults, AccessFailuresSayWhatWentWrong) {
    FakeMpd silent(FakeMpd::silent());
    FakeMpd refusing(FakeMpd::refusesPassword());
    FakeMpd greeting(FakeMpd::greets());
    const std::string socketPath = TestHome::freshDir("mpd-socket") + "/socket";
    FakeMpd onSocket(FakeMpd::greets(), socketPath);
    const std::string abstractName = "@quorvel-fake-mpd-" + std::to_string(::getpid());
    FakeMpd onAbstract(FakeMpd::greets(), abstractName);
    // A server that hangs is worth a warning; one that is down or refuses is routine.
    struct Row {
        MpdMusicClient::Options options;
        MusicAuthorizationStatus status;
        bool warned;
    };
    const Row rows[] = {
        {on(FakeMpd::unusedPort()), MusicAuthorizationStatus::unreachable, false},
        {on(silent.port(), 1000), MusicAuthorizationStatus::notAnswering, true},
        {on(refusing.port(), 5000, "wrong"), MusicAuthorizationStatus::passwordRefused, false},
        {on(greeting.port()), MusicAuthorizationStatus::authorized, false},
        {MpdMusicClient::Options{socketPath, 0, "", 5000}, MusicAuthorizationStatus::authorized, false},
        {MpdMusicClient::Options{abstractName, 0, "", 5000}, MusicAuthorizationStatus::authorized, false},
    };
    Log::setSink(&noteWarning);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.host + " " + std::to_string(row.options.port));
        g_musicWarned = false;
        EXPECT_EQ(MpdMusicClient(row.options).requestAuthorization(), row.status);
        EXPECT_EQ(g_musicWarned, row.warned);
    }
    Log::setSink(nullptr);

    // Any call to a server that takes the connection and says nothing fails as not answering.
    auto state = MpdMusicClient(on(silent.port(), 1000)).playerState();
    ASSERT_FALSE(state.ok());
    EXPECT_EQ(state.error().description, "The music server at " + at(silent.port()) + " does not answer.");

    EXPECT_EQ(MpdMusicClient({"::1", 6600, "", 5000}).serverName(), "[::1]:6600");
    EXPECT_EQ(MpdMusicClient({socketPath, 6600, "", 5000}).serverName(), socketPath);
}

// With no host named, each call tries the system socket and goes on to localhost (at the port) only when
// nothing takes the connection there, as libmpdclient does; the client names the server it reached.
TEST(MpdServerFallback, TheSystemSocketWhenSomethingListensThereElseLocalhost) {
    FakeMpd local(FakeMpd::greets());
    const std::string socketPath = TestHome::freshDir("mpd-system") + "/socket";
    const std::string localName = "localhost:" + std::to_string(local.port());
    MpdMusicClient client(MpdMusicClient::Options{"", local.port(), "", 5000, socketPath});
    EXPECT_EQ(client.serverName(), socketPath + " or " + localName);  // nothing reached yet

    // A socket file that a stopped server left behind: localhost.
    ASSERT_TRUE(makeStaleSocket(socketPath));
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    EXPECT_EQ(client.serverName(), localName);

    // A server on the socket is the one reached, also when it refuses the password or does not answer:
    // localhost is not tried then.
    {
        FakeMpd refusing(FakeMpd::refusesPassword(), socketPath);
        MpdMusicClient withPassword({"", local.port(), "wrong", 5000, socketPath});
        EXPECT_EQ(withPassword.requestAuthorization(), MusicAuthorizationStatus::passwordRefused);
        EXPECT_EQ(withPassword.serverName(), socketPath);
    }
    {
        FakeMpd silent(FakeMpd::silent(), socketPath);
        auto state = MpdMusicClient({"", local.port(), "", 1000, socketPath}).playerState();
        ASSERT_FALSE(state.ok());
        EXPECT_EQ(state.error().description, "The music server at " + socketPath + " does not answer.");
    }
    EXPECT_EQ(local.accepted(), 1);

    // Nothing at either: both are named.
    const unsigned nothing = FakeMpd::unusedPort();
    MpdMusicClient nowhere({"", nothing, "", 5000, socketPath});
    EXPECT_EQ(nowhere.requestAuthorization(), MusicAuthorizationStatus::unreachable);
    EXPECT_EQ(nowhere.serverName(), socketPath + " or localhost:" + std::to_string(nothing));
}

TEST(MpdMusicClientFaults, ACallHasOneDeadlineHoweverSlowlyTheReplyComes) {
    // A line a second, the whole reply 10 s: only one deadline for the whole call ends it at 2.5 s.
    using namespace std::chrono_literals;
    FakeMpd slow(FakeMpd::slow(1s, 10, "playlist: slow\n"));
    auto playlists = MpdMusicClient(on(slow.port(), 2500)).libraryPlaylists(100);
    ASSERT_FALSE(playlists.ok());
    EXPECT_EQ(playlists.error().description, "The music server at " + at(slow.port()) + " does not answer.");
}

TEST(MpdMusicClientFaults, AnEndlessReplyFailsPastTheCaps) {
    // The deadline is far off: only the caps on one reply can end these.
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "playlist: p\n";
    FakeMpd playlists(FakeMpd::endless("", lines));
    FakeMpd tags(FakeMpd::endless("file: a.wav\n", "X-Filler: " + std::string(1000, 'x') + "\n"));

    auto listed = MpdMusicClient(on(playlists.port(), 600000)).libraryPlaylists(100);
    ASSERT_FALSE(listed.ok());
    EXPECT_EQ(listed.error().description,
              "The music server at " + at(playlists.port()) + " sent more than 200000 entries in one reply.");

    auto found = MpdMusicClient(on(tags.port(), 600000)).searchCatalog("a", 25);
    ASSERT_FALSE(found.ok());
    EXPECT_EQ(found.error().description,
              "The music server at " + at(tags.port()) + " sent more than 64 MiB in one reply.");
}

// MPD_TIMEOUT gives the deadline in seconds, under an hour; anything else leaves the 5 s.
TEST(MpdMusicClientFaults, TimeoutFromTheEnvironmentIsTakenOnlyWhenSensible) {
    for (const auto& [text, ms] : {std::pair{"2.5", 2500u},
                                   {"3599", 3599000u},
                                   {"3600", 5000u},
                                   {"0", 5000u},
                                   {"-3", 5000u},
                                   {"soon", 5000u}}) {
        ::setenv("MPD_TIMEOUT", text, 1);
        EXPECT_EQ(MpdMusicClient::fromEnvironment().timeoutMS, ms) << text;
    }
    ::unsetenv("MPD_TIMEOUT");
    EXPECT_EQ(MpdMusicClient::fromEnvironment().timeoutMS, 5000u);
}

}  // namespace quorvel
