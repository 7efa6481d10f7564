#pragma once
// The steps of music playback that only talk to the music service: obtaining a track's song,
// finding a library song's catalogue equivalent, and the detail text of a failure. The player
// controller's request drives them and checks its token between them. Main thread only.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <vector>

#include "engine/MusicService.h"

namespace quorvel {

namespace MusicSongs {

using SongCompletion = MusicService::Completion<Result<std::optional<Song>>>;

// The song of a track: its stored payload when that decodes (`done` then runs at once, with no request
// made); otherwise the song with id `musicID`, looked up in the library when `libraryMusic` is true and in
// the catalogue otherwise. A payload that no longer decodes is no failure. Absent when nothing is found.
void obtainSong(MusicService& service, QObject* context, const QString& musicID, bool libraryMusic,
                const std::optional<QByteArray>& payload, SongCompletion done);

// The catalogue song that is the same recording as the library song `song`: the song of the catalogue
// id in its play parameters, else the best of a catalogue search for its title and artist (25 results).
// Fails with the error of a failed request; the search is not tried after a failed request by id.
void catalogEquivalent(MusicService& service, QObject* context, const Song& song, SongCompletion done);

// The candidate that is the same recording as `song`: the first with an equal ISRC (case-sensitive;
// candidates without one are passed over), else the first whose title and artist name equal the song's
// ignoring letter case. An ISRC match anywhere wins over an earlier title match.
std::optional<Song> sameRecording(const Song& song, const std::vector<Song>& candidates);

// The failure detail text: the description, two line feeds, the domain, " · ", the code in decimal, a
// line feed, and the debug description (nothing when there is none, so the text ends with the line feed).
QString errorDetail(const Error& error);

}  // namespace MusicSongs

}  // namespace quorvel
