// Against the private MPD of the test fixture: 35 songs, 250 stored playlists (see mpd-start.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "MpdMusicClient.h"

namespace {

MpdMusicClient fixtureClient() { return MpdMusicClient(MpdMusicClient::fromEnvironment()); }

void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

PlayerState stateOf(MpdMusicClient& client) {
    auto state = client.playerState();
    EXPECT_TRUE(state.ok());
    return state.ok() ? *state : PlayerState{};
}

}  // namespace

TEST(MpdMusicClientServer, AuthorisesAndHasACatalogue) {
    auto client = fixtureClient();
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    auto subscription = client.currentSubscription();
    ASSERT_TRUE(subscription.ok());
    EXPECT_TRUE(subscription->canPlayCatalogContent);
}

TEST(MpdMusicClientServer, PlaylistsArriveInBatchesOf100) {
    auto client = fixtureClient();
    auto first = client.libraryPlaylists(100);
    ASSERT_TRUE(first.ok()) << first.error().description;
    std::vector<std::size_t> sizes{first->items.size()};
    std::set<std::string> names;
    for (const auto& p : first->items) names.insert(p.name);
    PlaylistBatch batch = *first;
    while (batch.hasNextBatch()) {
        auto next = client.nextPlaylistBatch(batch, 100);
        ASSERT_TRUE(next.ok());
        if (!next->has_value()) break;
        batch = **next;
        sizes.push_back(batch.items.size());
        for (const auto& p : batch.items) {
            EXPECT_EQ(p.id, p.name);
            names.insert(p.name);
        }
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{100, 100, 50}));
    EXPECT_EQ(names.size(), 250u);
    EXPECT_TRUE(names.count("mix 2") && names.count("Mix 10") && names.count("Alpha"));
}

TEST(MpdMusicClientServer, PlaylistEntriesSkipNothingButMarkStreams) {
    auto client = fixtureClient();
    auto tracks = client.playlistTracks(Playlist{"Show", "Show"});
    ASSERT_TRUE(tracks.ok());
    ASSERT_TRUE(tracks->has_value());
    const auto& items = (*tracks)->items;
    ASSERT_EQ(items.size(), 4u);
    EXPECT_FALSE((*tracks)->hasNextBatch());
    ASSERT_TRUE(items[0].song);
    EXPECT_EQ(items[0].song->id, "songs/first-light.wav");
    EXPECT_EQ(items[0].song->title, "First Light");
    EXPECT_EQ(items[0].song->artistName, "Quorvel Test");
    EXPECT_DOUBLE_EQ(items[0].song->durationSeconds.value_or(0), 30.0);
    EXPECT_FALSE(items[0].song->isrc);
    EXPECT_EQ(items[0].song->playParameters->at("catalogId"), "songs/first-light.wav");
    EXPECT_FALSE(items[1].song);  // the radio stream
    ASSERT_TRUE(items[3].song);
    EXPECT_EQ(items[3].song->title, "Café Ünïcode");
    EXPECT_EQ(items[3].song->artistName, "Zoë");

    // A playlist that has gone gives no entry collection at all, which is not a transport failure.
    auto gone = client.playlistTracks(Playlist{"No such list", "No such list"});
    ASSERT_TRUE(gone.ok());
    EXPECT_FALSE(gone->has_value());
}

TEST(MpdMusicClientServer, SongsByIdAndSearch) {
    auto client = fixtureClient();
    auto found = client.librarySong("songs/yesterday.wav");
    ASSERT_TRUE(found.ok());
    ASSERT_TRUE(found->has_value());
    EXPECT_EQ((*found)->title, "Yesterday");
    auto untagged = client.catalogSong("songs/untagged.wav");
    ASSERT_TRUE(untagged.ok() && untagged->has_value());
    EXPECT_EQ((*untagged)->title, "untagged");  // the file name stands in for a missing title
    EXPECT_EQ((*untagged)->artistName, "");
    auto missing = client.catalogSong("songs/nothing.wav");
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->has_value());

    auto crowd = client.searchCatalog("CROWD", 25);
    ASSERT_TRUE(crowd.ok());
    EXPECT_EQ(crowd->size(), 25u);  // 30 match; the first 25 only
    // Every word must match some tag: title and artist together find the one recording.
    auto both = client.searchCatalog("yesterday  the band", 25);
    ASSERT_TRUE(both.ok());
    ASSERT_EQ(both->size(), 1u);
    EXPECT_EQ(both->front().id, "songs/yesterday.wav");
    auto none = client.searchCatalog("yesterday crowd", 25);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
    // Quotes and backslashes in a term reach the server as text.
    auto odd = client.searchCatalog("\"\\ 'x", 25);
    ASSERT_TRUE(odd.ok()) << odd.error().description;
    EXPECT_TRUE(odd->empty());
}

TEST(MpdMusicClientServer, PlayerPlaysPausesSeeksAndStops) {
    auto client = fixtureClient();
    auto song = client.librarySong("songs/first-light.wav");
    ASSERT_TRUE(song.ok() && song->has_value());
    ASSERT_TRUE(client.prepareToPlay(**song).ok());
    ASSERT_TRUE(client.play().ok());
    EXPECT_EQ(stateOf(client).status, PlaybackStatus::playing);
    sleepSeconds(1.0);
    double playing = stateOf(client).playbackTimeSeconds;
    EXPECT_GT(playing, 0.5);

    ASSERT_TRUE(client.pause().ok());
    PlayerState paused = stateOf(client);
    EXPECT_EQ(paused.status, PlaybackStatus::paused);
    sleepSeconds(0.5);
    EXPECT_DOUBLE_EQ(stateOf(client).playbackTimeSeconds, paused.playbackTimeSeconds);

    ASSERT_TRUE(client.setPlaybackTime(12.5).ok());
    EXPECT_NEAR(stateOf(client).playbackTimeSeconds, 12.5, 0.01);
    ASSERT_TRUE(client.play().ok());  // resumes where it was
    PlayerState resumed = stateOf(client);
    EXPECT_EQ(resumed.status, PlaybackStatus::playing);
    EXPECT_GE(resumed.playbackTimeSeconds, 12.4);

    ASSERT_TRUE(client.stop().ok());
    EXPECT_EQ(stateOf(client).status, PlaybackStatus::stopped);
    EXPECT_FALSE(client.setPlaybackTime(3).ok());  // nothing to seek in

    // A song the server does not know cannot be prepared.
    Song unknown = **song;
    unknown.id = "songs/nothing.wav";
    auto refused = client.prepareToPlay(unknown);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().domain, "mpd");
}
