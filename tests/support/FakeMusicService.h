#pragma once
// A scripted music service: each call waits until the test releases it, in any order. Main thread only.
#include <QPointer>
#include <any>
#include <deque>
#include <sstream>
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

    int pendingCount(const std::string& kind) const {
        int n = 0;
        for (const auto& call : pending_) n += call.kind == kind;
        return n;
    }
    const Call& pendingCall(const std::string& kind, int nth = 0) const {
        for (const auto& call : pending_)
            if (call.kind == kind && nth-- == 0) return call;
        throw std::logic_error("no pending call of kind " + kind);
    }
    // Every call made so far, "kind argument", including the player's "setQueue", "pause", "stop", "seek".
    std::vector<std::string> log;
    // The queued song that the next "prepare" would hand to the player.
    std::optional<Song> queued;
    // What serverName() answers.
    std::string server = "music.test:6600";

    void requestAuthorization(QObject* context, Completion<MusicAuthorizationStatus> done) override {
        add("authorization", "", context, std::move(done));
    }
    void currentSubscription(QObject* context, Completion<Result<MusicSubscription>> done) override {
        add("subscription", "", context, std::move(done));
    }
    void libraryPlaylists(QObject* context, int limit, Completion<Result<PlaylistBatch>> done) override {
        add("playlists", std::to_string(limit), context, std::move(done));
    }
    void nextPlaylistBatch(QObject* context, const PlaylistBatch& batch, int limit,
                           Completion<Result<std::optional<PlaylistBatch>>> done) override {
        add("nextPlaylists", std::to_string(batch.nextOffset.value_or(0)) + " " + std::to_string(limit),
            context, std::move(done));
    }
    void playlistTracks(QObject* context, const Playlist& playlist,
                        Completion<Result<std::optional<TrackBatch>>> done) override {
        add("tracks", playlist.id, context, std::move(done));
    }
    void nextTrackBatch(QObject* context, const TrackBatch& batch,
                        Completion<Result<std::optional<TrackBatch>>> done) override {
        add("nextTracks", batch.playlistID + " " + std::to_string(batch.nextOffset.value_or(0)), context,
            std::move(done));
    }
    void searchCatalog(QObject* context, const std::string& term, int limit,
                       Completion<Result<std::vector<Song>>> done) override {
        add("search", term + " " + std::to_string(limit), context, std::move(done));
    }
    void librarySong(QObject* context, const MusicItemID& id,
                     Completion<Result<std::optional<Song>>> done) override {
        add("librarySong", id, context, std::move(done));
    }
    void catalogSong(QObject* context, const MusicItemID& id,
                     Completion<Result<std::optional<Song>>> done) override {
        add("catalogSong", id, context, std::move(done));
    }
    void setQueue(const Song& song) override {
        log.push_back("setQueue " + song.id);
        queued = song;
    }
    void prepareToPlay(QObject* context, Completion<Status> done) override {
        add("prepare", queued ? queued->id : "", context, std::move(done));
    }
    void play(QObject* context, Completion<Status> done) override {
        add("play", "", context, std::move(done));
    }
    void pause() override { log.push_back("pause"); }
    void stop() override { log.push_back("stop"); }
    void setPlaybackTime(double seconds) override {
        std::ostringstream text;
        text << "seek " << seconds;
        log.push_back(text.str());
    }
    void playerState(QObject* context, Completion<Result<PlayerState>> done) override {
        add("playerState", "", context, std::move(done));
    }
    std::string serverName() const override { return server; }

private:
    template <typename T>
    void add(const std::string& kind, const std::string& argument, QObject* context, Completion<T> done) {
        log.push_back(argument.empty() ? kind : kind + " " + argument);
        pending_.push_back(Call{kind, argument, context, [done = std::move(done)](std::any value) {
                                    done(std::any_cast<T>(std::move(value)));
                                }});
    }
    Call take(const std::string& kind, int nth) {
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->kind != kind || nth-- > 0) continue;
            Call call = std::move(*it);
            pending_.erase(it);
            return call;
        }
        throw std::logic_error("no pending call of kind " + kind);
    }

    std::deque<Call> pending_;
};

// Test values.
inline Song makeSong(const std::string& id, const std::string& title, const std::string& artist,
                     std::optional<std::string> isrc = std::nullopt,
                     std::optional<double> durationSeconds = 180.0) {
    Song song;
    song.id = id;
    song.title = title;
    song.artistName = artist;
    song.durationSeconds = durationSeconds;
    song.isrc = std::move(isrc);
    song.playParameters = nlohmann::ordered_json{{"id", id}, {"kind", "song"}, {"catalogId", "c-" + id}};
    return song;
}
inline Error serviceError(const std::string& description, long code = 7) {
    return Error{"mpd", code, description, {}};
}

}  // namespace quorvel
