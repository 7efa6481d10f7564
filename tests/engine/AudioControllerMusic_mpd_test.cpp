// Music playback through the player controller on a real MPD: the fixture's server (as the
// application reaches it, through MPD_HOST and MPD_PORT), and private servers that stop or hang in
// mid-session.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <vector>

#include "PrivateMpd.h"
#include "engine/AudioController.h"
#include "engine/ThreadedMusicService.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

// songs/first-light.wav: 30 s, "First Light" by "Quorvel Test".
MusicTrackRequest firstLight() {
    return MusicTrackRequest{.id = Uuid::generate(),
                             .musicID = "songs/first-light.wav",
                             .libraryMusic = true,
                             .displayTitle = "First Light"};
}

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

PlayerState serverState(const MpdMusicClient::Options& options) {
    auto state = MpdMusicClient(options).playerState();
    return state.ok() ? *state : PlayerState{PlaybackStatus::playing, -1};
}

// The client of a private server, with a short timeout so that a hung server answers soon, yet long
// enough that a stall the test means to be shorter stays shorter on a loaded machine (with 1.5 s, one
// of 400 ms was seen to outlast it).
constexpr unsigned clientTimeoutMS = 4000;
std::shared_ptr<MpdMusicClient> clientOf(const PrivateMpd& server) {
    return std::make_shared<MpdMusicClient>(
        MpdMusicClient::Options{"127.0.0.1", server.port(), "", clientTimeoutMS});
}

}  // namespace

TEST(AudioControllerMusicServer, PlaysFollowsPausesSeeksAndStops) {
    AudioController controller;  // the music server of the environment, as the application has it
    controller.playMusic(firstLight());
    EXPECT_EQ(controller.status(), "Loading First Light\u2026");
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    ASSERT_EQ(controller.status(), "First Light") << controller.errorDetail().value_or("").toStdString();
    EXPECT_TRUE(controller.playing());
    EXPECT_TRUE(controller.isMusicSource());
    EXPECT_DOUBLE_EQ(controller.duration(), 30.0);

    // The poll shows the server's clock: a position published after one read of the server's own is no
    // later than the next read, and it moves on with the server (the null output plays in real time).
    // Bracketing by the server's reads rather than timing against a wall clock holds however late a
    // loaded machine answers.
    auto serverTime = [] { return serverState(MpdMusicClient::fromEnvironment()).playbackTimeSeconds; };
    const double before = serverTime();
    ASSERT_GE(before, 0.0);
    ASSERT_TRUE(waitFor([&] { return controller.currentTime() > before; }));
    const double shown = controller.currentTime();
    EXPECT_LE(shown, serverTime());
    ASSERT_TRUE(waitFor([&] { return controller.currentTime() > shown + 1.0; }));

    // Pause holds the position, and no poll shows the song playing again.
    std::vector<bool> playingSeen;
    QObject::connect(&controller, &AudioController::playingChanged, &controller,
                     [&] { playingSeen.push_back(controller.playing()); });
    controller.togglePlayback();
    EXPECT_FALSE(controller.playing());
    double held = -1;
    ASSERT_TRUE(waitFor([&] {
        const PlayerState state = serverState(MpdMusicClient::fromEnvironment());
        held = state.playbackTimeSeconds;
        return state.status == PlaybackStatus::paused;
    }));
    ASSERT_TRUE(waitFor([&] { return controller.currentTime() == held; }));  // a poll since the pause
    QTest::qWait(1000);                                                      // four more polls
    EXPECT_DOUBLE_EQ(controller.currentTime(), held);
    EXPECT_EQ(playingSeen, std::vector<bool>{false});
    controller.togglePlayback();
    ASSERT_TRUE(waitFor([&] { return controller.playing() && controller.currentTime() > held; }));

    // A seek moves the song on the server.
    controller.seek(20);
    EXPECT_DOUBLE_EQ(controller.currentTime(), 20);
    ASSERT_TRUE(waitFor([&] { return controller.currentTime() > 20; }));
    EXPECT_LT(controller.currentTime(), 25);

    // Stop all leaves the server stopped.
    controller.stop();
    EXPECT_EQ(controller.status(), "Stopped");
    EXPECT_TRUE(waitFor(
        [&] { return serverState(MpdMusicClient::fromEnvironment()).status == PlaybackStatus::stopped; }));
}

TEST(AudioControllerMusicServer, ServerStoppedMidSessionGivesTheFailureTexts) {
    PrivateMpd server;
    ThreadedMusicService service(clientOf(server));
    AudioController controller(AudioController::Setup{.music = &service});
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    ASSERT_EQ(controller.status(), "First Light");

    server.stop();
    // The poll finds no player: not playing any more; the song stays the source.
    ASSERT_TRUE(waitFor([&] { return !controller.playing(); }));
    EXPECT_EQ(controller.status(), "First Light");
    EXPECT_TRUE(controller.hasPlayback());

    controller.togglePlayback();
    ASSERT_TRUE(waitFor([&] { return controller.status() != "First Light"; }));
    EXPECT_EQ(controller.status(), "Couldn't resume playback");
    EXPECT_EQ(controller.errorDetail(), "Connection refused");
    EXPECT_FALSE(controller.playing());

    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(), "The music server could not be reached");
    EXPECT_FALSE(controller.hasPlayback());
    controller.stop();
}

TEST(AudioControllerMusicServer, HungServerNeverHoldsTheTransport) {
    PrivateMpd server;
    ThreadedMusicService service(clientOf(server));
    AudioController controller(AudioController::Setup{.music = &service});
    const MpdMusicClient::Options options{"127.0.0.1", server.port(), "", clientTimeoutMS};
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    ASSERT_EQ(controller.status(), "First Light");
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);

    // The server stalls for less than the client's timeout: pause, stop and a new request all show at
    // once, and reach the server in order when it answers again.
    server.freeze();
    controller.togglePlayback();
    EXPECT_FALSE(controller.playing());
    controller.stop();
    EXPECT_EQ(controller.status(), "Stopped");
    controller.playMusic(firstLight());
    EXPECT_EQ(controller.status(), "Loading First Light…");
    QTest::qWait(400);
    EXPECT_GT(ticks, 5);
    server.thaw();
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(), "First Light");
    EXPECT_EQ(serverState(options).status, PlaybackStatus::playing);

    // The server hangs for good: the request ends after the client's timeout, with the window alive all
    // the while; a server that does not answer counts as no access.
    server.freeze();
    ticks = 0;
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_GT(ticks, 5);
    EXPECT_EQ(controller.status(), "The music server could not be reached");
}

}  // namespace quorvel
