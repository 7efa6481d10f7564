#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ReferencePlaylist.h"

using Json = nlohmann::ordered_json;

namespace {

const char* uuidA = "0D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5";

Json localTrackObject() {
    return Json::parse(std::string(R"({"id":")") + uuidA +
                       R"(","title":"Kick","filename":"X.wav","libraryMusic":false,"trimDB":-3,"cueIn":1.5,"cueOut":0,"loop":true})");
}

Result<QList<ReferencePlaylist>> decodeOne(const Json& track) {
    Json file = Json::array({{{"id", uuidA}, {"name", "P"}, {"tracks", Json::array({track})}}});
    return ReferencePlaylist::decodeList(QByteArray::fromStdString(file.dump()));
}

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

}  // namespace

TEST(ReferenceTrack, TitleSplitsOnlyAtSpacedEmDash) {
    struct Case {
        const char* title;
        const char* display;
        const char* artist;
    } cases[] = {
        {"Song \u2014 Artist", "Song", "Artist"},
        {"A \u2014 B \u2014 C", "A", "B \u2014 C"},
        {"A - B", "A - B", ""},
        {"A \u2013 B", "A \u2013 B", ""},      // en dash
        {"A\u2014B", "A\u2014B", ""},          // em dash without spaces
        {" \u2014 Artist", "", "Artist"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        ReferenceTrack track{.title = QString::fromUtf8(c.title)};
        EXPECT_EQ(track.displayTitle(), QString::fromUtf8(c.display)) << c.title;
        EXPECT_EQ(track.artist(), QString::fromUtf8(c.artist)) << c.title;
    }
}

TEST(ReferenceTrack, WritesKeysInOrderLeavingOutAbsentOptionals) {
    ReferenceTrack local{.title = "Kick", .filename = "F.wav"};
    auto object = local.toJson();
    ASSERT_TRUE(object.ok());
    EXPECT_EQ(keysOf(*object), (std::vector<std::string>{"id", "title", "filename", "libraryMusic", "trimDB", "cueIn", "cueOut", "loop"}));
    EXPECT_EQ((*object)["id"], local.id.toString());

    ReferenceTrack song{.title = "S \u2014 A", .musicID = "i.123", .libraryMusic = true, .musicPayload = QByteArray("ab")};
    object = song.toJson();
    ASSERT_TRUE(object.ok());
    EXPECT_EQ(keysOf(*object), (std::vector<std::string>{"id", "title", "musicID", "libraryMusic", "musicPayload", "trimDB", "cueIn", "cueOut", "loop"}));
    EXPECT_EQ((*object)["musicPayload"], "YWI=");  // padded standard Base64
}

TEST(ReferenceTrack, NonFiniteNumbersCannotBeWritten) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE((ReferenceTrack{.title = "t", .trimDB = bad}.toJson().ok()));
        EXPECT_FALSE((ReferenceTrack{.title = "t", .cueOut = -bad}.toJson().ok()));
        auto encoded = ReferencePlaylist::encodeList({ReferencePlaylist{.name = "P", .tracks = {ReferenceTrack{.title = "t", .cueIn = bad}}}});
        EXPECT_FALSE(encoded.ok());
    }
}

TEST(ReferencePlaylist, FileRoundTripsCompactly) {
    QByteArray payload("\x00\x01\xFEpayload", 10);
    QList<ReferencePlaylist> list{
        ReferencePlaylist{.name = "Main", .tracks = {ReferenceTrack{.title = "Kick", .filename = "F.MP3", .trimDB = -2.5, .cueIn = 1, .cueOut = 30.25, .loop = true},
                                                     ReferenceTrack{.title = "S \u2014 A", .musicID = "1", .libraryMusic = true, .musicPayload = payload}}},
        ReferencePlaylist{.name = "Empty"},
    };
    auto bytes = ReferencePlaylist::encodeList(list);
    ASSERT_TRUE(bytes.ok());
    EXPECT_FALSE(bytes->contains('\n'));
    EXPECT_FALSE(bytes->contains(": "));
    EXPECT_TRUE(bytes->startsWith("[{\"id\":\""));

    auto back = ReferencePlaylist::decodeList(*bytes);
    ASSERT_TRUE(back.ok()) << back.error().description;
    ASSERT_EQ(back->size(), 2);
    EXPECT_EQ((*back)[0].id, list[0].id);
    EXPECT_EQ((*back)[1].name, "Empty");
    const ReferenceTrack& kick = (*back)[0].tracks[0];
    EXPECT_EQ(kick.id, list[0].tracks[0].id);
    EXPECT_EQ(kick.filename, QString("F.MP3"));
    EXPECT_FALSE(kick.musicID.has_value());
    EXPECT_EQ(kick.trimDB, -2.5);
    EXPECT_EQ(kick.cueOut, 30.25);
    EXPECT_TRUE(kick.loop);
    const ReferenceTrack& song = (*back)[0].tracks[1];
    EXPECT_EQ(song.musicPayload, payload);
    EXPECT_TRUE(song.libraryMusic);
    EXPECT_FALSE(song.filename.has_value());
    EXPECT_EQ(*ReferencePlaylist::encodeList(*back), *bytes);
}

TEST(ReferencePlaylist, ReadingIsLenientAboutOrderNullsAndExtras) {
    Json track = localTrackObject();
    track["musicID"] = nullptr;
    track["musicPayload"] = nullptr;
    track["rating"] = 5;  // unknown: ignored, and gone on the next write
    Json reordered = Json::object();
    for (auto it = track.rbegin(); it != track.rend(); ++it) reordered[it.key()] = it.value();

    auto read = decodeOne(reordered);
    ASSERT_TRUE(read.ok()) << read.error().description;
    const ReferenceTrack& t = (*read)[0].tracks[0];
    EXPECT_FALSE(t.musicID.has_value());
    EXPECT_FALSE(t.musicPayload.has_value());
    EXPECT_EQ(t.trimDB, -3.0);  // integers read as doubles
    EXPECT_EQ(t.id.toString(), uuidA);
    EXPECT_FALSE(ReferencePlaylist::encodeList(*read)->contains("rating"));

    Json lower = localTrackObject();
    lower["id"] = QString(uuidA).toLower().toStdString();
    ASSERT_TRUE(decodeOne(lower).ok());
    auto empty = ReferencePlaylist::decodeList("[]");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->isEmpty());
}

TEST(ReferencePlaylist, AnyBadTrackFailsTheWholeFile) {
    auto without = [](const char* key) {
        Json t = localTrackObject();
        t.erase(key);
        return t;
    };
    auto with = [](const char* key, Json value) {
        Json t = localTrackObject();
        t[key] = std::move(value);
        return t;
    };
    struct Case {
        const char* what;
        Json track;
    } cases[] = {
        {"missing loop", without("loop")},
        {"null trimDB", with("trimDB", nullptr)},
        {"number as text", with("cueIn", "1")},
        {"boolean as number", with("libraryMusic", 0)},
        {"bad UUID", with("id", "not-a-uuid")},
        {"unpadded Base64", with("musicPayload", "YWI")},
        {"Base64 with line break", with("musicPayload", "YWJj\nZGVm")},
        {"Base64 stray characters", with("musicPayload", "YW*=")},
        {"filename not text", with("filename", 3)},
    };
    for (const Case& c : cases) {
        auto read = decodeOne(c.track);
        ASSERT_FALSE(read.ok()) << c.what;
        EXPECT_NE(read.error().description.find("playlist 1: track 1: "), std::string::npos) << read.error().description;
    }
    for (const char* text : {"", "{broken", "{}", "[1]", "[{\"id\":\"x\"}]", "[1e400]", "[] trailing"})
        EXPECT_FALSE(ReferencePlaylist::decodeList(text).ok()) << text;
}
