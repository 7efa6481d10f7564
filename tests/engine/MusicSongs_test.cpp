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
    // The id of the song found, "<none>" for none, or the error's description.
    std::string outcome() const {
        if (!result) return "<pending>";
        if (!result->ok()) return result->error().description;
        return result->value() ? result->value()->id : "<none>";
    }
};

}  // namespace

TEST_F(SongsTest, APayloadThatDecodesNeedsNoLookupAndAnyOtherIsLookedUp) {
    const Song stored = makeSong("songs/a.wav", "A", "Artist");
    MusicSongs::obtainSong(service, &context, "songs/a.wav", true,
                           QByteArray::fromStdString(*SongCoding::encode(stored)), keep());
    ASSERT_TRUE(result && result->ok());
    EXPECT_EQ(result->value(), stored);
    EXPECT_TRUE(service.log.empty());

    result.reset();
    MusicSongs::obtainSong(service, &context, "lib.wav", true, QByteArray("{corrupt"), keep());
    MusicSongs::obtainSong(service, &context, "cat.wav", false, std::nullopt, keep());
    EXPECT_EQ(service.log, (std::vector<std::string>{"librarySong lib.wav", "catalogSong cat.wav"}));
    EXPECT_EQ(outcome(), "<pending>");
    service.release("librarySong", Found(std::optional<Song>()));
    EXPECT_EQ(outcome(), "<none>");
    service.release("catalogSong", Found(serviceError("No database", 50)));
    EXPECT_EQ(outcome(), "No database");
}

// The catalogue id of the play parameters comes first; when it finds nothing, a search for title and
// artist: an ISRC match beats an earlier title match (candidates without an ISRC are passed over), and
// without an ISRC title and artist decide, ignoring case only.
TEST_F(SongsTest, TheCatalogueEquivalentIsTheSameRecording) {
    const Song withISRC = makeSong("lib.wav", "Song", "Artist", "ISRC-1");  // play parameters: "c-lib.wav"
    Song bare = makeSong("lib.wav", "Song", "Artist");
    bare.playParameters.reset();
    struct Case {
        const Song& song;
        std::optional<Found> byID;  // the answer to the request by id, when one is made
        Songs candidates;
        std::string outcome;
    };
    for (const Case& c : {
             Case{withISRC, Found(std::optional<Song>(makeSong("c-lib.wav", "Song", "Artist"))),
                  Songs(serviceError("unused")), "c-lib.wav"},
             Case{withISRC, Found(serviceError("Timeout", 3)), Songs(serviceError("unused")), "Timeout"},
             Case{withISRC, Found(std::optional<Song>()),
                  std::vector<Song>{makeSong("title.wav", "Song", "Artist"),
                                    makeSong("other.wav", "Other", "X", "isrc-1"),
                                    makeSong("isrc.wav", "Live", "Someone", "ISRC-1")},
                  "isrc.wav"},
             Case{bare, std::nullopt,
                  std::vector<Song>{makeSong("near.wav", "Song ", "Artist"),
                                    makeSong("case.wav", "SONG", "artist", "ISRC-9")},
                  "case.wav"},
             Case{bare, std::nullopt, std::vector<Song>{makeSong("x.wav", "Else", "Artist")}, "<none>"},
             Case{bare, std::nullopt, Songs(serviceError("Connection closed by the server")),
                  "Connection closed by the server"},
         }) {
        result.reset();
        MusicSongs::catalogEquivalent(service, &context, c.song, keep());
        if (c.byID) {
            EXPECT_EQ(service.pendingCall("catalogSong").argument, "c-lib.wav");
            service.release("catalogSong", *c.byID);
        }
        if (service.pendingCount("search")) {
            EXPECT_EQ(service.pendingCall("search").argument, "Song Artist 25");
            service.release("search", c.candidates);
        }
        EXPECT_EQ(outcome(), c.outcome);
    }
}

TEST(MusicErrorDetail, HasItsExactForm) {
    Error error{"mpd", 50, "No such song", "ACK [50@1] No such song"};
    EXPECT_EQ(MusicSongs::errorDetail(error), "No such song\n\nmpd · 50\nACK [50@1] No such song");
    // Without a debug description the text ends with the line feed; negative codes keep their sign.
    EXPECT_EQ(MusicSongs::errorDetail(Error{"libmpdclient", -7, "Timeout", {}}),
              "Timeout\n\nlibmpdclient · -7\n");
}

}  // namespace quorvel
