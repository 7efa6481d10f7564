#include "engine/MusicSongs.h"

#include <gtest/gtest.h>

#include "FakeMusicService.h"

namespace quorvel {

namespace {

using Found = Result<std::optional<Song>>;
using Songs = Result<std::vector<Song>>;

struct SongsTest : ::testing::Test {
    FakeMusicService service;
    QObject context;
    std::optional<Found> result;

    MusicSongs::SongCompletion keep() {
        return [this](Found found) { result = std::move(found); };
    }
    std::string resultID() const {
        return result && result->ok() && result->value() ? result->value()->id : std::string("<none>");
    }
};

QByteArray payloadOf(const Song& song) { return QByteArray::fromStdString(*SongCoding::encode(song)); }

}  // namespace

TEST_F(SongsTest, APayloadThatDecodesNeedsNoLookup) {
    Song stored = makeSong("songs/a.wav", "A", "Artist");
    MusicSongs::obtainSong(service, &context, "songs/a.wav", true, payloadOf(stored), keep());
    ASSERT_TRUE(result && result->ok());
    EXPECT_EQ(result->value(), stored);
    EXPECT_TRUE(service.log.empty());
}

TEST_F(SongsTest, AbsentOrCorruptPayloadsFallBackToTheLookup) {
    MusicSongs::obtainSong(service, &context, "lib.wav", true, QByteArray("{corrupt"), keep());
    MusicSongs::obtainSong(service, &context, "cat.wav", false, std::nullopt, keep());
    EXPECT_EQ(service.log, (std::vector<std::string>{"librarySong lib.wav", "catalogSong cat.wav"}));
    EXPECT_FALSE(result);
    service.release("librarySong", Found(std::optional<Song>()));
    ASSERT_TRUE(result && result->ok());
    EXPECT_FALSE(result->value());
    service.release("catalogSong", Found(serviceError("No database", 50)));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error().description, "No database");
}

TEST_F(SongsTest, CatalogueIdFromThePlayParametersComesFirst) {
    Song library = makeSong("lib.wav", "Song", "Artist");  // play parameters carry "c-lib.wav"
    MusicSongs::catalogEquivalent(service, &context, library, keep());
    EXPECT_EQ(service.pendingCall("catalogSong").argument, "c-lib.wav");
    service.release("catalogSong", Found(std::optional<Song>(makeSong("c-lib.wav", "Song", "Artist"))));
    EXPECT_EQ(resultID(), "c-lib.wav");
    EXPECT_EQ(service.pendingCount("search"), 0);

    // A request by id that fails ends the search for an equivalent with its error.
    result.reset();
    MusicSongs::catalogEquivalent(service, &context, library, keep());
    service.release("catalogSong", Found(serviceError("Timeout", 3)));
    ASSERT_TRUE(result && !result->ok());
    EXPECT_EQ(result->error().description, "Timeout");
    EXPECT_EQ(service.pendingCount("search"), 0);
}

TEST_F(SongsTest, SearchPicksTheSameRecording) {
    Song library = makeSong("lib.wav", "Song", "Artist", "ISRC-1");
    MusicSongs::catalogEquivalent(service, &context, library, keep());
    service.release("catalogSong", Found(std::optional<Song>()));  // the id finds nothing: search
    EXPECT_EQ(service.pendingCall("search").argument, "Song Artist 25");
    // An ISRC match beats an earlier title match; candidates without an ISRC are passed over.
    service.release("search", Songs(std::vector<Song>{makeSong("title.wav", "Song", "Artist"),
                                                      makeSong("other.wav", "Other", "X", "isrc-1"),
                                                      makeSong("isrc.wav", "Live", "Someone", "ISRC-1")}));
    EXPECT_EQ(resultID(), "isrc.wav");

    // With no ISRC on the library song, title and artist decide, ignoring case only.
    Song bare = makeSong("lib.wav", "Song", "Artist");
    bare.playParameters.reset();  // no catalogue id: straight to the search
    MusicSongs::catalogEquivalent(service, &context, bare, keep());
    service.release("search", Songs(std::vector<Song>{makeSong("near.wav", "Song ", "Artist"),
                                                      makeSong("case.wav", "SONG", "artist", "ISRC-9")}));
    EXPECT_EQ(resultID(), "case.wav");

    // No candidate matches: absent. A search that fails: its error.
    MusicSongs::catalogEquivalent(service, &context, bare, keep());
    service.release("search", Songs(std::vector<Song>{makeSong("x.wav", "Else", "Artist")}));
    ASSERT_TRUE(result && result->ok());
    EXPECT_FALSE(result->value());
    MusicSongs::catalogEquivalent(service, &context, bare, keep());
    service.release("search", Songs(serviceError("Connection closed by the server")));
    EXPECT_FALSE(result->ok());
}

TEST(MusicErrorDetail, HasItsExactForm) {
    Error error{"mpd", 50, "No such song", "ACK [50@1] No such song"};
    EXPECT_EQ(MusicSongs::errorDetail(error), "No such song\n\nmpd · 50\nACK [50@1] No such song");
    // Without a debug description the text ends with the line feed; negative codes keep their sign.
    EXPECT_EQ(MusicSongs::errorDetail(Error{"libmpdclient", -7, "Timeout", {}}),
              "Timeout\n\nlibmpdclient · -7\n");
}

}  // namespace quorvel
