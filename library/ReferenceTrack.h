#pragma once
// One entry of a reference playlist: a copy of a local audio file in the storage folder, or a song of
// the music server. Plain value record, copied freely; any thread.
//
// Build with designated initialisers, which mirror the field order (only `title` is needed):
//   ReferenceTrack{.title = "Kick Test", .filename = "<UUID>.wav"}
#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

#include "engine/TrackRequests.h"
#include "platform/Result.h"
#include "platform/Uuid.h"

namespace quorvel {

struct ReferenceTrack {
    // The separator of a music track's title: song, " — " (space, U+2014 EM DASH, space), artist.
    static inline const QString titleSeparator = QStringLiteral(" \u2014 ");

    Uuid id = Uuid::generate();
    // Local copy: the source's file name without its last extension. Music server song: song title,
    // titleSeparator, artist name.
    QString title{};
    // Name of the copied audio file inside the storage folder; absent for music server songs.
    std::optional<QString> filename{};
    // The music item identifier; its presence alone marks a track as a music track.
    std::optional<QString> musicID{};
    // True only for songs taken from the user's own library playlists (library lookup at playback).
    bool libraryMusic = false;
    // The song as opaque bytes (its JSON encoding), read back at playback; never looked into here.
    std::optional<QByteArray> musicPayload{};
    double trimDB = 0;  // level trim added to the player level, dB
    double cueIn = 0;   // start point in the file, s
    double cueOut = 0;  // end point in the file, s; 0 means the end of the file
    bool loop = false;  // restart at cueIn when the end point is reached

    // The song part of the title: the text before the first separator, or the whole title.
    QString displayTitle() const;
    // The artist part: everything after the first separator (later separators kept); empty without one.
    QString artist() const;

    // What the player controller needs to play this track as a local file or as a music server song.
    LocalTrackRequest localRequest() const;
    MusicTrackRequest musicRequest() const;

    bool operator==(const ReferenceTrack&) const = default;

    // The object with keys "id", "title", "filename", "musicID", "libraryMusic", "musicPayload",
    // "trimDB", "cueIn", "cueOut", "loop" in this order; the three optional keys are left out when
    // absent. Fails when a number is not finite.
    Result<nlohmann::ordered_json> toJson() const;
    // Reads an object with the keys above in any order; unknown keys are ignored, an optional key that is
    // missing or null is absent, every other key is required. Fails on a wrong type, an invalid UUID,
    // invalid (or unpadded) Base64, or a number that is not finite.
    static Result<ReferenceTrack> fromJson(const nlohmann::json& object);
};

}  // namespace quorvel
