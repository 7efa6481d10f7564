#pragma once
// A scripted music service: each call waits until the test releases it, in any order. Main thread only.
#include <QPointer>
#include <any>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/MusicService.h"

namespace quorvel {

class FakeMusicService : public MusicService {
public:
    // Kinds: authorization subscription playlists nextPlaylists tracks nextTracks search librarySong
    // catalogSong prepare play playerState.
    struct Call {
        std::string kind;
        std::string argument;  // the term, id, playlist or batch offset the call was made with
        QPointer<QObject> context;
        std::function<void(std::any)> complete;
    };

    // Completes the `nth` pending call of `kind` (0: oldest) with `value` of the call's completion type,
    // now unless its context has gone.
    template <typename T>
    void release(const std::string& kind, T value, int nth = 0) {
        Call call = take(kind, nth);
        if (call.context) call.complete(std::any(std::move(value)));
    }

    int pendingCount(const std::string& kind) const;
    const Call& pendingCall(const std::string& kind, int nth = 0) const;
    // Every call made so far, "kind argument", including the player's "setQueue", "pause", "stop", "seek".
    std::vector<std::string> log;
    // The queued song that the next "prepare" would hand to the player.
    std::optional<Song> queued;
    // What serverName() answers.
    std::string server = "music.test:6600";

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
    std::string serverName() const override { return server; }

private:
    template <typename T>
    void add(const std::string& kind, const std::string& argument, QObject* context, Completion<T> done) {
        log.push_back(argument.empty() ? kind : kind + " " + argument);
        pending_.push_back(Call{kind, argument, context, [done = std::move(done)](std::any value) {
                                    done(std::any_cast<T>(std::move(value)));
                                }});
    }
    Call take(const std::string& kind, int nth);

    std::deque<Call> pending_;
};

// Test values.
Song makeSong(const std::string& id, const std::string& title, const std::string& artist,
              std::optional<std::string> isrc = std::nullopt, std::optional<double> durationSeconds = 180.0);
Error serviceError(const std::string& description, long code = 7);

}  // namespace quorvel
