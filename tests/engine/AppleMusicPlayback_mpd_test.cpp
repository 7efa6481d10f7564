// Music playback on a real MPD: the fixture's server, and a private one stopped in mid-session.
#include <gtest/gtest.h>

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

    // The poll shows the server's clock: a time read after one read of the server's own is no later than
    // the next read, and it moves on with the server (the null output plays in real time). Bracketing by
    // the server's reads, not by a wall clock, holds however late a loaded machine answers.
    MpdMusicClient server(MpdMusicClient::fromEnvironment());
    auto serverTime = [&] {
        auto state = server.playerState();
        return state.ok() ? state->playbackTimeSeconds : -1.0;
    };
    const double before = serverTime();
    ASSERT_GE(before, 0.0);
    ASSERT_TRUE(waitFor([&] { return controller.currentTime > before; }));
    const double shown = controller.currentTime;
    EXPECT_LE(shown, serverTime());
    ASSERT_TRUE(waitFor([&] { return controller.currentTime > shown + 1.0; }));

    // Paused, the server holds its time; once a poll has brought that time, it stays.
    controller.togglePlayback();
    EXPECT_FALSE(controller.playing);
    double held = -1;
    ASSERT_TRUE(waitFor([&] {
        auto state = server.playerState();
        if (!state.ok() || state->status != PlaybackStatus::paused) return false;
        held = state->playbackTimeSeconds;
        return true;
    }));
    ASSERT_TRUE(waitFor([&] { return controller.currentTime == held; }));
    QTest::qWait(1000);  // four polls
    EXPECT_FALSE(controller.playing);
    EXPECT_DOUBLE_EQ(controller.currentTime, held);
    controller.togglePlayback();
    ASSERT_TRUE(waitFor([&] { return controller.playing && controller.currentTime > held; }));

    // Stop all leaves the server stopped.
    controller.stop();
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
