#pragma once
// What the player controller is asked to play: the parts of a playlist track that a local or a music
// server start needs, built by the caller from its own track record. Plain values; any thread.
#include <QByteArray>
#include <QString>
#include <optional>

#include "platform/Uuid.h"

namespace quorvel {

// The parts of a local reference track that playTrack uses (fields as in the playlist record).
struct LocalTrackRequest {
    Uuid id{};
    QString title{};
    std::optional<QString> filename{};  // inside the storage folder; none plays nothing
    double trimDB = 0;                  // added to the level
    double cueIn = 0;                   // s
    double cueOut = 0;                  // s; 0 = the file's end
    bool loop = false;                  // restart at cueIn at the end point
};

// The parts of a music server track that a music request uses.
struct MusicTrackRequest {
    Uuid id{};  // the playlist track's id, published as the selected track
    std::optional<QString> musicID{};
    bool libraryMusic = false;
    std::optional<QByteArray> musicPayload{};
    QString displayTitle{};
};

}  // namespace quorvel
