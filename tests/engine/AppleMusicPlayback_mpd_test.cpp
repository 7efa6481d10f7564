// Music playback on a real MPD: the fixture's server, and a private one stopped in mid-session.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include "MpdMusicClient.h"
#include "MusicTestController.h"
#include "PrivateMpd.h"
#include "ThreadedMusicService.h"

namespace {

MusicTrackRequest firstLight() {
    MusicTrackRequest track;
    track.musicID = "songs/first-light.wav";
    track.libraryMusic = true;
    track.displayTitle = "First Light";
    return track;
}

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

}  // namespace

TEST(AppleMusicPlaybackServer, PlaysPollsPausesAndStops) {
    TestController controller(MusicService::shared());
    controller.playMusic(firstLight());
    EXPECT_EQ(controller.status, "Loading First Light…");
    ASSERT_TRUE(waitFor([&] { return !controller.busy; }));
    ASSERT_EQ(controller.status, "First Light") << controller.errorDetail.value_or("").toStdString();
    EXPECT_TRUE(controller.playing);
    EXPECT_DOUBLE_EQ(controller.duration, 30.0);

    // The poll follows the server's clock: about one second per second (the null output plays in real time).
    ASSERT_TRUE(waitFor([&] { return controller.currentTime > 0.2; }));
    QElapsedTimer clock;
    clock.start();
    const double startTime = controller.currentTime;
    QTest::qWait(2000);
    const double rate = (controller.currentTime - startTime) / (clock.elapsed() / 1000.0);
    EXPECT_GT(rate, 0.6);
    EXPECT_LT(rate, 1.4);

    controller.togglePlayback();
    QTest::qWait(600);  // let the poll see the pause
    const double held = controller.currentTime;
    QTest::qWait(1000);
    EXPECT_FALSE(controller.playing);
    EXPECT_DOUBLE_EQ(controller.currentTime, held);
    controller.togglePlayback();
    ASSERT_TRUE(waitFor([&] { return controller.playing && controller.currentTime > held; }));

    // Stop all leaves the server stopped.
    controller.stop();
    MpdMusicClient server(MpdMusicClient::fromEnvironment());
    EXPECT_TRUE(waitFor([&] {
        auto state = server.playerState();
        return state.ok() && state->status == PlaybackStatus::stopped;
    }));
}

TEST(AppleMusicPlaybackServer, ServerStoppedMidSessionGivesTheFailureTexts) {
    PrivateMpd server;
    ThreadedMusicService service(
        std::make_shared<MpdMusicClient>(MpdMusicClient::Options{"127.0.0.1", server.port(), "", 2000}));
    TestController controller(service);
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy; }));
    ASSERT_EQ(controller.status, "First Light");

    server.stop();
    // The poll finds no player: not playing any more; the song stays the source.
    ASSERT_TRUE(waitFor([&] { return !controller.playing; }));
    EXPECT_EQ(controller.status, "First Light");

    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy; }));
    EXPECT_EQ(controller.status, "Apple Music access was not granted");
    controller.stop();
}
