#include "platform/MusicItems.h"

#include <cmath>

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;

Error codingError(std::string description) { return Error{"SongCoding", 1, std::move(description)}; }

// A required text member; nullptr when missing or not a string.
const Json* textMember(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return nullptr;
    return &*it;
}

// An optional member: absent when missing or null.
const Json* optionalMember(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace

namespace SongCoding {

Result<std::string> encode(const Song& song) {
    if (song.durationSeconds && !std::isfinite(*song.durationSeconds))
        return codingError("The song's duration is not a finite number.");
    Json object = Json::object();
    object["id"] = song.id;
    object["title"] = song.title;
    object["artistName"] = song.artistName;
    if (song.durationSeconds) object["duration"] = *song.durationSeconds;
    if (song.isrc) object["isrc"] = *song.isrc;
    if (song.playParameters) object["playParameters"] = *song.playParameters;
    try {
        return object.dump();  // strict: invalid UTF-8 throws
    } catch (const Json::exception& e) {
        return codingError(e.what());
    }
}

Result<Song> decode(const std::string& bytes) {
    Json object;
    try {
        object = Json::parse(bytes);
    } catch (const Json::exception& e) {
        return codingError(e.what());
    }
    if (!object.is_object()) return codingError("A song is not a JSON object.");
    const Json* id = textMember(object, "id");
    const Json* title = textMember(object, "title");
    const Json* artist = textMember(object, "artistName");
    if (!id || !title || !artist) return codingError("A song lacks its id, title or artist name.");
    Song song;
    song.id = id->get<std::string>();
    if (song.id.empty()) return codingError("A song has an empty id.");
    song.title = title->get<std::string>();
    song.artistName = artist->get<std::string>();
    if (const Json* duration = optionalMember(object, "duration")) {
        if (!duration->is_number()) return codingError("A song's duration is not a number.");
        double seconds = duration->get<double>();
        if (!std::isfinite(seconds) || seconds < 0) return codingError("A song's duration is out of range.");
        song.durationSeconds = seconds;
    }
    if (const Json* isrc = optionalMember(object, "isrc")) {
        if (!isrc->is_string()) return codingError("A song's ISRC is not text.");
        song.isrc = isrc->get<std::string>();
    }
    if (const Json* parameters = optionalMember(object, "playParameters")) {
        if (!parameters->is_object()) return codingError("A song's play parameters are not an object.");
        song.playParameters = *parameters;
    }
    return song;
}

}  // namespace SongCoding

}  // namespace quorvel
