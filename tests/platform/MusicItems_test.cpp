#include "platform/MusicItems.h"

#include <gtest/gtest.h>

namespace quorvel {

namespace {
Song fullSong() {
    Song song;
    song.id = "songs/first light.wav";
    song.title = "First \"Light\"";
    song.artistName = "Zoë";
    song.durationSeconds = 30.5;
    song.isrc = "GBAYE0601498";
    song.playParameters = nlohmann::ordered_json{{"id", song.id}, {"kind", "song"}, {"catalogId", song.id}};
    return song;
}
}  // namespace

TEST(SongCoding, RoundTripsWithAndWithoutOptionalFields) {
    Song full = fullSong();
    auto bytes = SongCoding::encode(full);
    ASSERT_TRUE(bytes.ok());
    auto back = SongCoding::decode(*bytes);
    ASSERT_TRUE(back.ok()) << back.error().description;
    EXPECT_EQ(*back, full);

    Song bare;
    bare.id = "a.wav";
    bare.title = "A";
    auto bareBytes = SongCoding::encode(bare);
    ASSERT_TRUE(bareBytes.ok());
    // Absent fields are left out, not written as null.
    EXPECT_EQ(*bareBytes, R"({"id":"a.wav","title":"A","artistName":""})");
    auto bareBack = SongCoding::decode(*bareBytes);
    ASSERT_TRUE(bareBack.ok());
    EXPECT_EQ(*bareBack, bare);
}

// Corrupt payloads fail to decode, and songs JSON cannot hold fail to encode.
TEST(SongCoding, CorruptPayloadsFailToDecode) {
    for (const char* bad : {
             "", "not json", "[]", R"({"id":"x","title":"T"})", R"({"id":"","title":"T","artistName":"A"})",
             R"({"id":"x","title":"T","artistName":"A","duration":-1})",
             R"({"id":"x","title":"T","artistName":"A","duration":1e999})",
             R"({"id":"x","title":"T","artistName":"A","playParameters":"x"})",
             "{\"id\":\"x\",\"title\":\"T\",\"artistName\":\"A\"",  // cut short
         }) {
        EXPECT_FALSE(SongCoding::decode(bad).ok()) << bad;
    }
    Song song = fullSong();
    song.title = std::string("bad \xff byte");
    EXPECT_FALSE(SongCoding::encode(song).ok());
    song = fullSong();
    song.durationSeconds = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(SongCoding::encode(song).ok());
}

}  // namespace quorvel
