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

}  // namespace quorvel
