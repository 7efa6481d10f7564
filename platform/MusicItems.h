#pragma once
// The values of the music service: songs, library playlists, a playlist's entries, and the batches in
// which long lists arrive. Plain values; any thread.
//
// On the MPD server that stands in for the music service, a song's id is its file URI in the server's
// database, and a playlist's id is the stored playlist's name. The server's database serves as both the
// user's library and the catalogue.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace quorvel {

// A music item identifier, as its raw text.
using MusicItemID = std::string;

struct Song {
    MusicItemID id;
    std::string title;
    std::string artistName;
    std::optional<double> durationSeconds;  // absent when the server does not know it
    std::optional<std::string> isrc;        // absent when the server has no such tag (MPD never has one)
    // The song's play parameters as a JSON object; its key "catalogId" holds, as a string, the catalogue id
    // of the same recording. Absent for a song that cannot be played by id.
    std::optional<nlohmann::ordered_json> playParameters;

    bool operator==(const Song&) const = default;
};

struct Playlist {
    MusicItemID id;
    std::string name;

    bool operator==(const Playlist&) const = default;
};

// One entry of a playlist; `song` is absent for an entry that is not a song (a radio stream, say).
struct Track {
    std::optional<Song> song;

    bool operator==(const Track&) const = default;
};

// A batch of library playlists; `nextOffset` is where the following batch starts, absent for the last one.
struct PlaylistBatch {
    std::vector<Playlist> items;
    std::optional<std::size_t> nextOffset;

    bool hasNextBatch() const { return nextOffset.has_value(); }
};

// A batch of one playlist's entries, in playlist order.
struct TrackBatch {
    MusicItemID playlistID;
    std::vector<Track> items;
    std::optional<std::size_t> nextOffset;

    bool hasNextBatch() const { return nextOffset.has_value(); }
};

// The song coding: a compact JSON object
//   {"id": …, "title": …, "artistName": …, "duration": seconds, "isrc": …, "playParameters": {…}}
// with "duration", "isrc" and "playParameters" left out when absent. The bytes are opaque to every
// other part of the system and are only ever decoded back by SongCoding::decode.
namespace SongCoding {
// Fails when a text is not valid UTF-8 or the duration is not a finite number.
Result<std::string> encode(const Song& song);
// Fails for anything that is not such an object: bad JSON, a missing or mistyped key, an empty id, a
// negative or non-finite duration. Unknown keys are ignored; a null optional key reads as absent.
Result<Song> decode(const std::string& bytes);
}  // namespace SongCoding

}  // namespace quorvel
