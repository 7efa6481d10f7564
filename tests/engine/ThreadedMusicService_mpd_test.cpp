// The asynchronous music service on the fixture's MPD: every call runs on a worker and answers on the
// main thread; player calls keep their order.
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
    if (!QTest::qWaitFor([&] { return value.has_value(); }, 30000)) throw std::runtime_error("no answer");
    return std::move(*value);
}

struct ServiceTest : ::testing::Test {
    ThreadedMusicService service{std::make_shared<MpdMusicClient>(MpdMusicClient::fromEnvironment())};
    QObject context;

    PlayerState state() {
        auto s = await<Result<PlayerState>>([&](auto done) { service.playerState(&context, done); });
        EXPECT_TRUE(s.ok());
        return s.ok() ? *s : PlayerState{};
    }
};

}  // namespace

TEST_F(ServiceTest, ReadsAnswerWithTheServersData) {
    EXPECT_EQ(
        await<MusicAuthorizationStatus>([&](auto done) { service.requestAuthorization(&context, done); }),
        MusicAuthorizationStatus::authorized);
    EXPECT_TRUE(
        await<Result<MusicSubscription>>([&](auto done) { service.currentSubscription(&context, done); }));
    // 250 stored playlists, in batches of 100.
    const auto first =
        await<Result<PlaylistBatch>>([&](auto done) { service.libraryPlaylists(&context, 100, done); });
    ASSERT_TRUE(first);
    EXPECT_EQ(first->items.size(), 100u);
    const auto next = await<Result<std::optional<PlaylistBatch>>>(
        [&](auto done) { service.nextPlaylistBatch(&context, *first, 100, done); });
    ASSERT_TRUE(next && *next);
    EXPECT_EQ((*next)->nextOffset, 200u);
    const auto tracks = await<Result<std::optional<TrackBatch>>>([&](auto done) {
        service.playlistTracks(&context, Playlist{"Alpha", "Alpha"}, done);
    });
    ASSERT_TRUE(tracks && *tracks);
    EXPECT_EQ((*tracks)->items.size(), 2u);
    EXPECT_TRUE(await<Result<std::optional<TrackBatch>>>(
        [&](auto done) { service.nextTrackBatch(&context, **tracks, done); }));
    const auto found = await<Result<std::vector<Song>>>(
        [&](auto done) { service.searchCatalog(&context, "crowd", 5, done); });
    EXPECT_EQ(found ? found->size() : 0u, 5u);
    const auto song = await<Result<std::optional<Song>>>(
        [&](auto done) { service.catalogSong(&context, "songs/yesterday.wav", done); });
    EXPECT_EQ(song && *song ? (*song)->title : "", "Yesterday");
}

TEST_F(ServiceTest, PlayerCallsReachTheServerInOrder) {
    const auto song = await<Result<std::optional<Song>>>(
        [&](auto done) { service.librarySong(&context, "songs/second-wind.wav", done); });
    ASSERT_TRUE(song && *song);
    service.setQueue(**song);
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

    // A completion for a context that has gone is dropped; player calls complete in order, so once a
    // later one is back the earlier one has been.
    bool called = false;
    auto gone = std::make_unique<QObject>();
    service.prepareToPlay(gone.get(), [&](Status) { called = true; });
    gone.reset();
    service.stop();
    EXPECT_EQ(state().status, PlaybackStatus::stopped);
    EXPECT_FALSE(called);
}

}  // namespace quorvel
