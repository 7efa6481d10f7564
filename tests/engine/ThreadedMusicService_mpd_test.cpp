// The shared music player through the asynchronous service, on the fixture's MPD.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "engine/ThreadedMusicService.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

template <typename T>
T await(std::function<void(std::function<void(T)>)> call) {
    std::optional<T> value;
    call([&](T v) { value.emplace(std::move(v)); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return value.has_value(); }, 30000));
    return std::move(*value);
}

struct ServiceTest : ::testing::Test {
    ThreadedMusicService service{std::make_shared<MpdMusicClient>(MpdMusicClient::fromEnvironment())};
    QObject context;

    Song song(const std::string& id) {
        auto found =
            await<Result<std::optional<Song>>>([&](auto done) { service.librarySong(&context, id, done); });
        EXPECT_TRUE(found.ok() && found->has_value());
        return found.ok() && found->has_value() ? **found : Song{};
    }
    PlayerState state() {
        auto s = await<Result<PlayerState>>([&](auto done) { service.playerState(&context, done); });
        EXPECT_TRUE(s.ok());
        return s.ok() ? *s : PlayerState{};
    }
};

}  // namespace

TEST_F(ServiceTest, PlayerCallsReachTheServerInOrder) {
    service.setQueue(song("songs/second-wind.wav"));
    bool prepared = false, played = false;
    service.prepareToPlay(&context, [&](Status s) { prepared = s.ok(); });
    service.play(&context, [&](Status s) { played = s.ok(); });
    // Fire-and-forget calls made after these wait for them.
    service.setPlaybackTime(7.25);
    service.pause();
    PlayerState paused = state();
    EXPECT_TRUE(prepared && played);
    EXPECT_EQ(paused.status, PlaybackStatus::paused);
    EXPECT_NEAR(paused.playbackTimeSeconds, 7.25, 0.3);

    // Reads asked for together all get an answer.
    int answers = 0;
    for (int i = 0; i < 5; ++i)
        service.playerState(&context, [&](Result<PlayerState> s) { answers += s.ok(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answers == 5; }, 30000));

    service.stop();
    EXPECT_EQ(state().status, PlaybackStatus::stopped);
}

TEST_F(ServiceTest, CompletionsForAGoneContextAreDropped) {
    bool called = false;
    auto gone = std::make_unique<QObject>();
    service.prepareToPlay(gone.get(), [&](Status) { called = true; });
    gone.reset();
    // Player calls complete in order: once the later one is back, the earlier one has been dropped.
    (void)await<Status>([&](auto done) { service.prepareToPlay(&context, done); });
    EXPECT_FALSE(called);
}

TEST_F(ServiceTest, ReadsAskedForAfterAPlayerCallSeeItsEffect) {
    service.setQueue(song("songs/second-wind.wav"));
    bool played = false;
    service.prepareToPlay(&context, [](Status) {});
    service.play(&context, [&](Status s) { played = s.ok(); });
    // The first read is queued behind the start; the second is asked for after a pause and must not share
    // the first one's answer.
    std::optional<Result<PlayerState>> before, after;
    service.playerState(&context, [&](Result<PlayerState> s) { before = s; });
    service.pause();
    service.playerState(&context, [&](Result<PlayerState> s) { after = s; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return before && after; }, 30000));
    EXPECT_TRUE(played);
    ASSERT_TRUE(before->ok() && after->ok());
    EXPECT_EQ((*before)->status, PlaybackStatus::playing);
    EXPECT_EQ((*after)->status, PlaybackStatus::paused);
    service.stop();
    EXPECT_EQ(state().status, PlaybackStatus::stopped);
}

}  // namespace quorvel
