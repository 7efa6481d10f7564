#pragma once
// The music service for main-thread code. Every call returns at once; its completion runs later on the
// main thread, and is dropped when `context` has been destroyed by then. The service may take long to
// answer (a hung server is only given up at the call's deadline), so callers keep a token or a mark and
// check it when the completion arrives. All members: main thread only.
#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/MusicClient.h"

namespace quorvel {

class MusicService {
public:
    template <typename T>
    using Completion = std::function<void(T)>;

    virtual ~MusicService() = default;

    virtual void requestAuthorization(QObject* context, Completion<MusicAuthorizationStatus> done) = 0;
    virtual void currentSubscription(QObject* context, Completion<Result<MusicSubscription>> done) = 0;

    // Library playlists in batches of at most `limit`; a next batch that comes back absent ends the list.
    virtual void libraryPlaylists(QObject* context, int limit, Completion<Result<PlaylistBatch>> done) = 0;
    virtual void nextPlaylistBatch(QObject* context, const PlaylistBatch& batch, int limit,
                                   Completion<Result<std::optional<PlaylistBatch>>> done) = 0;

    // A playlist's entries from the library; absent when the service gives no entry collection.
    virtual void playlistTracks(QObject* context, const Playlist& playlist,
                                Completion<Result<std::optional<TrackBatch>>> done) = 0;
    virtual void nextTrackBatch(QObject* context, const TrackBatch& batch,
                                Completion<Result<std::optional<TrackBatch>>> done) = 0;

    virtual void searchCatalog(QObject* context, const std::string& term, int limit,
                               Completion<Result<std::vector<Song>>> done) = 0;
    virtual void librarySong(QObject* context, const MusicItemID& id,
                             Completion<Result<std::optional<Song>>> done) = 0;
    virtual void catalogSong(QObject* context, const MusicItemID& id,
                             Completion<Result<std::optional<Song>>> done) = 0;

    // The one shared application music player. Its calls reach the player in the order they are made,
    // whichever object makes them. setQueue only chooses the song; prepareToPlay hands it to the player,
    // replacing whatever was queued there, and fails when it cannot be played. pause, stop and
    // setPlaybackTime report nothing (seeking while nothing plays does nothing).
    virtual void setQueue(const Song& song) = 0;
    virtual void prepareToPlay(QObject* context, Completion<Status> done) = 0;
    virtual void play(QObject* context, Completion<Status> done) = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual void setPlaybackTime(double seconds) = 0;
    // The player's status and position. Reads asked for while one is under way share its answer, so a
    // poll never piles reads up behind a slow server; a read asked for after a player call always sees
    // that call's effect.
    virtual void playerState(QObject* context, Completion<Result<PlayerState>> done) = 0;

    // The server as messages name it, e.g. "localhost:6600": the one the last call reached; when that
    // call reached none, the ones it tried ("/var/run/mpd/socket or localhost:6600").
    virtual std::string serverName() const = 0;

    // The process-wide service on the MPD server that the environment names (MPD_HOST, MPD_PORT), created
    // at first use and kept until the application object goes. Main thread only.
    static MusicService& shared();
};

}  // namespace quorvel
