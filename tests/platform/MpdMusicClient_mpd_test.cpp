// Against the private MPD of the test fixture: 35 songs, 250 stored playlists (see mpd-start.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "platform/MpdMusicClient.h"

namespace quorvel {

TEST(MpdMusicClientServer, PlaylistsArriveInBatchesOf100WithTheirSongs) {
    MpdMusicClient client(MpdMusicClient::fromEnvironment());
    auto subscription = client.currentSubscription();
    ASSERT_TRUE(subscription.ok());
    EXPECT_TRUE(subscription->canPlayCatalogContent);  // the server has a database
    auto first = client.libraryPlaylists(100);
    ASSERT_TRUE(first.ok()) << first.error().description;
    std::vector<std::size_t> sizes{first->items.size()};
    std::set<std::string> names;
    for (PlaylistBatch batch = *first;;) {
        for (const auto& p : batch.items) {
            EXPECT_EQ(p.id, p.name);
            names.insert(p.name);
        }
        auto next = client.nextPlaylistBatch(batch, 100);
        ASSERT_TRUE(next.ok());
        if (!next->has_value()) break;
        batch = **next;
        sizes.push_back(batch.items.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{100, 100, 50}));
    EXPECT_EQ(names.size(), 250u);
    EXPECT_TRUE(names.count("mix 2") && names.count("Mix 10") && names.count("Alpha"));

    // A radio stream in a playlist is an entry without a song; a playlist that is gone has no entries.
    auto show = client.playlistTracks(Playlist{"Show", "Show"});
    ASSERT_TRUE(show.ok()) << show.error().description;
    ASSERT_TRUE(show->has_value());
    EXPECT_EQ((*show)->playlistID, "Show");
    std::vector<std::string> titles;
    for (const Track& t : (*show)->items) titles.push_back(t.song ? t.song->title : "-");
    EXPECT_EQ(titles, (std::vector<std::string>{"First Light", "-", "Yesterday", "Café Ünïcode"}));
    EXPECT_FALSE((*show)->hasNextBatch());
    auto gone = client.playlistTracks(Playlist{"Gone", "Gone"});
    ASSERT_TRUE(gone.ok()) << gone.error().description;
    EXPECT_FALSE(gone->has_value());
}

TEST(MpdMusicClientServer, SongsByIdAndSearch) {
    MpdMusicClient client(MpdMusicClient::fromEnvironment());
    auto found = client.librarySong("songs/yesterday.wav");
    ASSERT_TRUE(found.ok() && found->has_value());
    EXPECT_EQ((*found)->title, "Yesterday");
    EXPECT_EQ((*found)->artistName, "The Band");
    EXPECT_EQ((*found)->durationSeconds, 5.0);
    auto untagged = client.catalogSong("songs/untagged.wav");
    ASSERT_TRUE(untagged.ok() && untagged->has_value());
    EXPECT_EQ((*untagged)->title, "untagged");  // the file name stands in for a missing title
    EXPECT_EQ((*untagged)->artistName, "");
    auto missing = client.catalogSong("songs/nothing.wav");
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->has_value());
    // A song from another server is refused as one this server does not hold (MPD's own words are "No
    // such directory"), naming the server.
    Song elsewhere = **found;
    elsewhere.id = "elsewhere/yesterday.wav";
    Status refused = client.prepareToPlay(elsewhere);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().domain, MusicErrors::domain);
    EXPECT_EQ(refused.error().code, MusicErrors::notOnServer);
    EXPECT_EQ(refused.error().description, "The music server at " + client.serverName() +
                                               " does not have the song elsewhere/yesterday.wav.");
    EXPECT_EQ(client.serverName(), std::string("127.0.0.1:") + std::getenv("MPD_PORT"));
    EXPECT_EQ(refused.error().debugDescription, "ACK [50@1] No such directory");  // what the server said

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

// The transport as the player drives it; the server ends stopped, as the other tests expect it.
TEST(MpdMusicClientServer, TransportPlaysPausesResumesSeeksAndStops) {
    MpdMusicClient client(MpdMusicClient::fromEnvironment());
    auto song = client.librarySong("songs/first-light.wav");  // 30 s
    ASSERT_TRUE(song.ok() && song->has_value());
    ASSERT_TRUE(client.prepareToPlay(**song).ok());
    const auto state = [&] {
        auto s = client.playerState();
        EXPECT_TRUE(s.ok()) << s.error().description;
        return s.ok() ? *s : PlayerState{PlaybackStatus::stopped, -1};
    };
    ASSERT_TRUE(client.play().ok());
    EXPECT_EQ(state().status, PlaybackStatus::playing);
    ASSERT_TRUE(client.pause().ok());
    EXPECT_EQ(state().status, PlaybackStatus::paused);
    ASSERT_TRUE(client.setPlaybackTime(20).ok());
    EXPECT_NEAR(state().playbackTimeSeconds, 20, 0.5);
    // Play on a paused song resumes where it holds.
    ASSERT_TRUE(client.play().ok());
    const PlayerState resumed = state();
    EXPECT_EQ(resumed.status, PlaybackStatus::playing);
    EXPECT_GE(resumed.playbackTimeSeconds, 19.5);
    ASSERT_TRUE(client.stop().ok());
    EXPECT_EQ(state().status, PlaybackStatus::stopped);
}

}  // namespace quorvel
