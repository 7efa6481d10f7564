#include "FakeMusicService.h"

#include <sstream>

namespace quorvel {

FakeMusicService::Call FakeMusicService::take(const std::string& kind, int nth) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->kind != kind || nth-- > 0) continue;
        Call call = std::move(*it);
        pending_.erase(it);
        return call;
    }
    throw std::logic_error("no pending call of kind " + kind);
}

int FakeMusicService::pendingCount(const std::string& kind) const {
    int n = 0;
    for (const auto& call : pending_) n += call.kind == kind;
    return n;
}

const FakeMusicService::Call& FakeMusicService::pendingCall(const std::string& kind, int nth) const {
    for (const auto& call : pending_)
        if (call.kind == kind && nth-- == 0) return call;
    throw std::logic_error("no pending call of kind " + kind);
}

void FakeMusicService::requestAuthorization(QObject* context, Completion<MusicAuthorizationStatus> done) {
    add("authorization", "", context, std::move(done));
}
void FakeMusicService::currentSubscription(QObject* context, Completion<Result<MusicSubscription>> done) {
    add("subscription", "", context, std::move(done));
}
void FakeMusicService::libraryPlaylists(QObject* context, int limit, Completion<Result<PlaylistBatch>> done) {
    add("playlists", std::to_string(limit), context, std::move(done));
}
void FakeMusicService::nextPlaylistBatch(QObject* context, const PlaylistBatch& batch, int limit,
                                         Completion<Result<std::optional<PlaylistBatch>>> done) {
    add("nextPlaylists", std::to_string(batch.nextOffset.value_or(0)) + " " + std::to_string(limit), context,
        std::move(done));
}
void FakeMusicService::playlistTracks(QObject* context, const Playlist& playlist,
                                      Completion<Result<std::optional<TrackBatch>>> done) {
    add("tracks", playlist.id, context, std::move(done));
}
void FakeMusicService::nextTrackBatch(QObject* context, const TrackBatch& batch,
                                      Completion<Result<std::optional<TrackBatch>>> done) {
    add("nextTracks", batch.playlistID + " " + std::to_string(batch.nextOffset.value_or(0)), context,
        std::move(done));
}
void FakeMusicService::searchCatalog(QObject* context, const std::string& term, int limit,
                                     Completion<Result<std::vector<Song>>> done) {
    add("search", term + " " + std::to_string(limit), context, std::move(done));
}
void FakeMusicService::librarySong(QObject* context, const MusicItemID& id,
                                   Completion<Result<std::optional<Song>>> done) {
    add("librarySong", id, context, std::move(done));
}
void FakeMusicService::catalogSong(QObject* context, const MusicItemID& id,
                                   Completion<Result<std::optional<Song>>> done) {
    add("catalogSong", id, context, std::move(done));
}
void FakeMusicService::setQueue(const Song& song) {
    log.push_back("setQueue " + song.id);
    queued = song;
}
void FakeMusicService::prepareToPlay(QObject* context, Completion<Status> done) {
    add("prepare", queued ? queued->id : "", context, std::move(done));
}
void FakeMusicService::play(QObject* context, Completion<Status> done) {
    add("play", "", context, std::move(done));
}
void FakeMusicService::pause() { log.push_back("pause"); }
void FakeMusicService::stop() { log.push_back("stop"); }
void FakeMusicService::setPlaybackTime(double seconds) {
    std::ostringstream text;
    text << "seek " << seconds;
    log.push_back(text.str());
}
void FakeMusicService::playerState(QObject* context, Completion<Result<PlayerState>> done) {
    add("playerState", "", context, std::move(done));
}

Song makeSong(const std::string& id, const std::string& title, const std::string& artist,
              std::optional<std::string> isrc, std::optional<double> durationSeconds) {
    Song song;
    song.id = id;
    song.title = title;
    song.artistName = artist;
    song.durationSeconds = durationSeconds;
    song.isrc = std::move(isrc);
    song.playParameters = nlohmann::ordered_json{{"id", id}, {"kind", "song"}, {"catalogId", "c-" + id}};
    return song;
}

Error serviceError(const std::string& description, long code) { return Error{"mpd", code, description, {}}; }

}  // namespace quorvel
