// The asynchronous music service on the fixture's MPD: calls keep their order, reads see earlier calls.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "engine/ThreadedMusicService.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

TEST(ServiceTest, PlayerCallsReachTheServerInOrder) {
    ThreadedMusicService service{std::make_shared<MpdMusicClient>(MpdMusicClient::fromEnvironment())};
    QObject context;
    std::optional<Result<std::optional<Song>>> song;
    service.librarySong(&context, "songs/second-wind.wav", [&](auto s) { song = s; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return song.has_value(); }, 30000));
    ASSERT_TRUE(*song && **song);
    service.setQueue(***song);
    bool prepared = false, played = false;
    service.prepareToPlay(&context, [&](Status s) { prepared = s.ok(); });
    service.play(&context, [&](Status s) { played = s.ok(); });
    // Fire-and-forget calls made after these wait for them.
    service.setPlaybackTime(7.25);
    service.pause();
    const auto state = [&] {
        std::optional<Result<PlayerState>> s;
        service.playerState(&context, [&](Result<PlayerState> r) { s = r; });
        return QTest::qWaitFor([&] { return s.has_value(); }, 30000) && s->ok() ? **s : PlayerState{};
    };
    const PlayerState paused = state();
    EXPECT_TRUE(prepared && played);
    EXPECT_EQ(paused.status, PlaybackStatus::paused);
    EXPECT_NEAR(paused.playbackTimeSeconds, 7.25, 0.3);

    // Reads asked for together all get an answer; one asked for after a player call sees its effect.
    std::optional<Result<PlayerState>> before, after;
    int answers = 0;
    service.play(&context, [](Status) {});
    for (int i = 0; i < 5; ++i)
        service.playerState(&context, [&](Result<PlayerState> s) {
            answers += s.ok();
            before = s;
        });
    service.pause();
    service.playerState(&context, [&](Result<PlayerState> s) { after = s; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers == 5 && after; }, 30000));
    ASSERT_TRUE(before->ok() && after->ok());
    EXPECT_EQ((*before)->status, PlaybackStatus::playing);
    EXPECT_EQ((*after)->status, PlaybackStatus::paused);

    // A completion for a gone context is dropped; calls complete in order, so the later one implies it.
    bool called = false;
    auto gone = std::make_unique<QObject>();
    service.prepareToPlay(gone.get(), [&](Status) { called = true; });
    gone.reset();
    service.stop();
    EXPECT_EQ(state().status, PlaybackStatus::stopped);
    EXPECT_FALSE(called);
}

}  // namespace quorvel
