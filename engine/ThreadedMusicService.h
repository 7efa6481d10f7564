#pragma once
// A MusicService that runs a blocking MusicClient off the main thread: requests on a small pool of their
// own (so a hung server never holds up the analysis or render tasks of the global pool), player calls on
// one worker of their own, in the order they were made.
#include <QObject>
#include <QThreadPool>
#include <memory>

#include "engine/MusicService.h"

namespace quorvel {

class ThreadedMusicService final : public QObject, public MusicService {
    Q_OBJECT
public:
    // `client` must be safe to call from several threads at once. Main thread only.
    explicit ThreadedMusicService(std::shared_ptr<MusicClient> client, QObject* parent = nullptr);
    // Drops calls not yet started and abandons those running (the client cuts their connections short),
    // waiting at most a second for them to end; a call still running then is left to end on its own.
    ~ThreadedMusicService() override;

    void requestAuthorization(QObject* context, Completion<MusicAuthorizationStatus> done) override;
    void currentSubscription(QObject* context, Completion<Result<MusicSubscription>> done) override;
    void libraryPlaylists(QObject* context, int limit, Completion<Result<PlaylistBatch>> done) override;
    void nextPlaylistBatch(QObject* context, const PlaylistBatch& batch, int limit,
                           Completion<Result<std::optional<PlaylistBatch>>> done) override;
    void playlistTracks(QObject* context, const Playlist& playlist,
                        Completion<Result<std::optional<TrackBatch>>> done) override;
    void nextTrackBatch(QObject* context, const TrackBatch& batch,
                        Completion<Result<std::optional<TrackBatch>>> done) override;
    void searchCatalog(QObject* context, const std::string& term, int limit,
                       Completion<Result<std::vector<Song>>> done) override;
    void librarySong(QObject* context, const MusicItemID& id,
                     Completion<Result<std::optional<Song>>> done) override;
    void catalogSong(QObject* context, const MusicItemID& id,
                     Completion<Result<std::optional<Song>>> done) override;

    void setQueue(const Song& song) override;
    void prepareToPlay(QObject* context, Completion<Status> done) override;
    void play(QObject* context, Completion<Status> done) override;
    void pause() override;
    void stop() override;
    void setPlaybackTime(double seconds) override;
    void playerState(QObject* context, Completion<Result<PlayerState>> done) override;
    std::string serverName() const override;

private:
    struct StateReads;

    // Runs `call(client)` on `pool` and hands its value to `done` on the main thread while `context` lives.
    template <typename T, typename Call>
    void run(QThreadPool& pool, QObject* context, Call call, Completion<T> done);
    // Runs `call(client)` on the player's worker, after every player call made before it.
    void playerCommand(std::function<void(MusicClient&)> call);

    std::shared_ptr<MusicClient> client_;
    // On the heap: a pool whose call outlives shut-down's wait is let go rather than waited for.
    std::unique_ptr<QThreadPool> requests_;
    std::unique_ptr<QThreadPool> player_;
    std::optional<Song> queued_;              // main thread only
    std::shared_ptr<StateReads> stateReads_;  // main thread only
};

}  // namespace quorvel
