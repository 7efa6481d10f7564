// Apple Music playback through the player controller on a real MPD: the fixture's server (as the
// application reaches it, through MPD_HOST and MPD_PORT), and private servers that stop or hang in
// mid-session.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <vector>

#include "AudioController.h"
#include "MpdMusicClient.h"
#include "PrivateMpd.h"
#include "ThreadedMusicService.h"

namespace {

// songs/first-light.wav: 30 s, "First Light" by "Quorvel Test".
ReferenceTrack firstLight() {
    return ReferenceTrack{.title = "First Light \u2014 Quorvel Test", .musicID = "songs/first-light.wav",
                          .libraryMusic = true};
}

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

// The slope of the least-squares line through (x, y).
double slope(const std::vector<std::pair<double, double>>& points) {
    double mx = 0, my = 0;
    for (auto [x, y] : points) mx += x, my += y;
    mx /= static_cast<double>(points.size());
    my /= static_cast<double>(points.size());
    double sxy = 0, sxx = 0;
    for (auto [x, y] : points) sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx);
    return sxy / sxx;
}

PlayerState serverState(const MpdMusicClient::Options& options) {
    auto state = MpdMusicClient(options).playerState();
    return state.ok() ? *state : PlayerState{PlaybackStatus::playing, -1};
}

// The client of a private server, with a short timeout so that a hung server answers soon.
std::shared_ptr<MpdMusicClient> clientOf(const PrivateMpd& server) {
    return std::make_shared<MpdMusicClient>(MpdMusicClient::Options{"127.0.0.1", server.port(), "", 1500});
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

    // The poll follows the server's clock (its null output plays in real time): the slope of the
    // published position against the wall clock over three seconds.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<double, double>> samples;
    QObject::connect(&controller, &AudioController::currentTimeChanged, &controller,
                     [&] { samples.emplace_back(clock.elapsed() / 1000.0, controller.currentTime()); });
    QTest::qWait(3000);
    ASSERT_GE(samples.size(), 6u);
    const double rate = slope(samples);
    std::printf("music position advances %.3f s per second over %zu polls\n", rate, samples.size());
    EXPECT_GT(rate, 0.8);
    EXPECT_LT(rate, 1.2);

    // Pause holds the position, and no poll shows the song playing again.
    std::vector<bool> playingSeen;
    QObject::connect(&controller, &AudioController::playingChanged, &controller,
                     [&] { playingSeen.push_back(controller.playing()); });
    controller.togglePlayback();
    EXPECT_FALSE(controller.playing());
    EXPECT_TRUE(waitFor([&] { return serverState(MpdMusicClient::fromEnvironment()).status == PlaybackStatus::paused; }));
    QTest::qWait(600);
    const double held = controller.currentTime();
    QTest::qWait(1000);
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
    EXPECT_TRUE(waitFor([&] { return serverState(MpdMusicClient::fromEnvironment()).status == PlaybackStatus::stopped; }));
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
    EXPECT_EQ(controller.status(), "Apple Music access was not granted");
    EXPECT_FALSE(controller.hasPlayback());
    controller.stop();
}

TEST(AudioControllerMusicServer, HungServerNeverHoldsTheTransport) {
    PrivateMpd server;
    ThreadedMusicService service(clientOf(server));
    AudioController controller(AudioController::Setup{.music = &service});
    const MpdMusicClient::Options options{"127.0.0.1", server.port(), "", 1500};
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
    EXPECT_EQ(controller.status(), "Apple Music access was not granted");
}
