#pragma once
// A named, ordered list of reference tracks, and the playlists file that holds the whole library: one
// compact JSON array of playlist objects, no wrapper and no version field. Any thread.
#include <QByteArray>
#include <QList>
#include <QString>

#include "library/ReferenceTrack.h"

namespace quorvel {

struct ReferencePlaylist {
    Uuid id = Uuid::generate();
    QString name{};
    QList<ReferenceTrack> tracks{};  // play order

    bool operator==(const ReferencePlaylist&) const = default;

    // {"id", "name", "tracks"} in this order. Fails when a track cannot be written.
    Result<nlohmann::ordered_json> toJson() const;
    // Keys in any order, all three required, unknown keys ignored.
    static Result<ReferencePlaylist> fromJson(const nlohmann::json& object);

    // The playlists file as compact UTF-8 JSON. Fails as a whole when any number is not finite.
    static Result<QByteArray> encodeList(const QList<ReferencePlaylist>& playlists);
    // Reads the playlists file as a whole: anything that is not an array of valid playlist objects fails,
    // and no partial list is produced; so does running out of memory. The error's description names the
    // failing place.
    static Result<QList<ReferencePlaylist>> decodeList(const QByteArray& bytes);
};

}  // namespace quorvel
