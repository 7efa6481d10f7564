#include "engine/MusicSongs.h"

namespace quorvel {

namespace MusicSongs {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// The catalogue id carried by the song's play parameters, when there is one as text.
std::optional<std::string> catalogID(const Song& song) {
    if (!song.playParameters || !song.playParameters->is_object()) return std::nullopt;
    auto it = song.playParameters->find("catalogId");
    if (it == song.playParameters->end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

void searchEquivalent(MusicService& service, QObject* context, const Song& song, SongCompletion done) {
    service.searchCatalog(context, song.title + " " + song.artistName, 25,
                          [song, done](Result<std::vector<Song>> candidates) {
                              if (!candidates) return done(candidates.error());
                              done(sameRecording(song, *candidates));
                          });
}

}  // namespace

void obtainSong(MusicService& service, QObject* context, const QString& musicID, bool libraryMusic,
                const std::optional<QByteArray>& payload, SongCompletion done) {
    if (payload) {
        auto decoded = SongCoding::decode(payload->toStdString());
        if (decoded) return done(std::optional<Song>(std::move(decoded.value())));
    }
    if (libraryMusic)
        service.librarySong(context, musicID.toStdString(), std::move(done));
    else
        service.catalogSong(context, musicID.toStdString(), std::move(done));
}

void catalogEquivalent(MusicService& service, QObject* context, const Song& song, SongCompletion done) {
    auto id = catalogID(song);
    if (!id) return searchEquivalent(service, context, song, std::move(done));
    QPointer<QObject> guard(context);
    service.catalogSong(context, *id, [&service, guard, song, done](Result<std::optional<Song>> found) {
        if (!found) return done(found.error());
        if (found->has_value()) return done(std::move(found.value()));
        if (guard) searchEquivalent(service, guard, song, done);
    });
}

std::optional<Song> sameRecording(const Song& song, const std::vector<Song>& candidates) {
    if (song.isrc)
        for (const auto& candidate : candidates)
            if (candidate.isrc && *candidate.isrc == *song.isrc) return candidate;
    for (const auto& candidate : candidates)
        if (QString::compare(text(candidate.title), text(song.title), Qt::CaseInsensitive) == 0 &&
            QString::compare(text(candidate.artistName), text(song.artistName), Qt::CaseInsensitive) == 0)
            return candidate;
    return std::nullopt;
}

QString errorDetail(const Error& error) {
    return text(error.description) + QStringLiteral("\n\n") + text(error.domain) + QStringLiteral(" · ") +
           QString::number(error.code) + QStringLiteral("\n") + text(error.debugDescription);
}

}  // namespace MusicSongs

}  // namespace quorvel
