#include <gtest/gtest.h>

#include "library/ReferencePlaylist.h"

namespace quorvel {

using Json = nlohmann::ordered_json;

namespace {
const char* uuid = "0D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5";

Json trackObject() {
    return Json::parse(
        std::string(R"({"id":")") + uuid +
        R"(","title":"Kick","filename":"X.wav","libraryMusic":false,"trimDB":-3,"cueIn":1.5,"cueOut":0,"loop":true})");
}

Result<QList<ReferencePlaylist>> decodeWith(const Json& track) {
    Json file = Json::array({{{"id", uuid}, {"name", "P"}, {"tracks", Json::array({track})}}});
    return ReferencePlaylist::decodeList(QByteArray::fromStdString(file.dump()));
}
}  // namespace

// Nulls and unknown keys are passed over; any bad track fails the whole file, saying where.
TEST(ReferencePlaylist, ReadingIgnoresNullsAndUnknownKeysButNoBadTrack) {
    Json track = trackObject();
    track["musicID"] = nullptr;
    track["rating"] = 5;
    auto read = decodeWith(track);
    ASSERT_TRUE(read.ok()) << read.error().description;
    EXPECT_FALSE((*read)[0].tracks[0].musicID.has_value());
    EXPECT_EQ((*read)[0].tracks[0].trimDB, -3.0);
    EXPECT_FALSE(ReferencePlaylist::encodeList(*read)->contains("rating"));
    EXPECT_TRUE(ReferencePlaylist::decodeList("[]")->isEmpty());

    auto changed = [](const char* key, std::optional<Json> value) {
        Json t = trackObject();
        if (value)
            t[key] = *value;
        else
            t.erase(key);
        return t;
    };
    for (const Json& bad : {changed("loop", std::nullopt), changed("trimDB", nullptr), changed("cueIn", "1"),
                            changed("libraryMusic", 0), changed("id", "not-a-uuid"),
                            changed("musicPayload", "YWI"), changed("musicPayload", "YW*=")}) {
        auto decoded = decodeWith(bad);
        ASSERT_FALSE(decoded.ok()) << bad.dump();
        EXPECT_EQ(decoded.error().description.rfind("playlist 1: track 1: ", 0), 0u)
            << decoded.error().description;
    }
    for (const char* text : {"", "{broken", "{}", "[1]", "[1e400]", R"([{"id":"x","name":"P","tracks":[]}])"})
        EXPECT_FALSE(ReferencePlaylist::decodeList(text).ok()) << text;
}

// The JSON library quotes the token it stopped at whole: the message keeps its first 60 characters.
TEST(ReferencePlaylist, AReadErrorQuotesAtMostSixtyCharactersOfAToken) {
    const auto error = [](const QByteArray& text) {
        return ReferencePlaylist::decodeList(text).error().description;
    };
    const std::string sixty(60, '9');
    EXPECT_EQ(error("[" + QByteArray(100000, '9') + "]"), "number overflow parsing '" + sixty + "\u2026'");
    const std::string control = error("[\"" + QByteArray(200, 'a') + "\x01\"]");
    EXPECT_TRUE(control.ends_with("; last read: '\"" + std::string(59, 'a') + "\u2026'")) << control;
    // Characters, not bytes: an "é" is never cut in two.
    QByteArray accents;
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
    const std::string cut = error("[\"" + accents);
    EXPECT_NE(cut.find("\xC3\xA9\u2026'"), std::string::npos) << cut;
    EXPECT_EQ(error("[1e400]"), "number overflow parsing '1e400'");
}

}  // namespace quorvel
