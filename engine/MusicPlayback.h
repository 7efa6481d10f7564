#pragma once
// The music half of the player controller: one request hands a track's song to the shared
// application music player (access, subscription, the song, preparation with the catalogue fallback for
// library songs, start), and the poll mirrors the player's position and playing state. The controller
// owns one MusicPlayback and gives it access to its state through MusicPlaybackHost. Main thread only.
//
// Stale requests: a request is current while the host's generation still equals the token it was started
// with. A stale request publishes nothing (apart from the two access refusals), never touches the shared
// player once a newer request has queued its song there, and stops the song it started itself when it
// learns after the start that it went stale, so that nothing sounds untracked.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

#include "engine/MusicService.h"
#include "engine/TrackRequests.h"
#include "platform/Uuid.h"

namespace quorvel {

// What a music request reads and writes of the player controller.
class MusicPlaybackHost {
public:
    virtual ~MusicPlaybackHost() = default;
    // The stale-work token, renewed by every stop().
    virtual Uuid generation() const = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void setStatus(const QString& status) = 0;
    virtual void setPlaying(bool playing) = 0;
    virtual void setCurrentTime(double seconds) = 0;
    virtual void setDuration(double seconds) = 0;
    virtual void setErrorDetail(const std::optional<QString>& detail) = 0;
    // The application music player owns playback; stop() stops the shared player while this is set.
    virtual bool musicActive() const = 0;
    virtual void setMusicActive(bool active) = 0;
    // Replaces the controller's timer with a repeating 0.25 s timer that calls MusicPlayback::poll().
    virtual void startMusicTimer() = 0;
    // The controller's stop(): ends playback, renews the generation and shows "Stopped".
    virtual void stopPlayback() = 0;
};

class MusicPlayback {
public:
    // `context` is the controller: completions arriving after it has gone are dropped. `host`, `service`
    // and `context` must outlive this object.
    MusicPlayback(MusicPlaybackHost& host, MusicService& service, QObject* context);

    // Runs a request from the authorisation on. The controller has already run its own stop(), taken
    // `token` from its generation, and set busy, the selected track, the music source mark and the
    // loading status. Every outcome ends in the host's published state; busy ends false. A song not found
    // by its id ends in "Song is unavailable"; one that the server reached refuses when it is prepared (it
    // does not hold it), with no catalogue equivalent there, ends in "This song is not on the music server
    // at HOST:PORT.", with the failure's detail.
    void play(const MusicTrackRequest& track, Uuid token);

    // One firing of the poll: while music is active, copies the player's position (0 when negative or not
    // a number) and whether it is playing. A player that cannot be read counts as not playing; a server
    // that cannot be reached at all (it was stopped or killed, so its song has ended) stops the player,
    // with the status "The music server at HOST:PORT stopped." (the server that started the song) and a
    // warning in quorvel.music. A read
    // asked for before the last pause, resume or seek below is dropped: it may describe the player as it
    // was, and the transport's play/pause button would flicker back for one poll.
    void poll();

    // The transport's pause, resume and seek of the shared player, while music is active. pause() writes
    // playing false at once; resume() writes playing true once the player has started, or reports "Couldn't
    // resume playback" with the error's description as the detail (nothing when a stop() came first).
    void pause();
    void resume();
    void seek(double seconds);

private:
    using Request = std::shared_ptr<const MusicTrackRequest>;

    bool current(const Uuid& token) const { return host_.generation() == token; }
    void end(const Uuid& token);
    void failed(const Uuid& token, const Error& error);
    void obtained(Request track, Uuid token, Result<std::optional<Song>> found);
    void prepared(Request track, Uuid token, Song first, Status status);
    void fallBack(Request track, Uuid token, Song first, Error firstError);
    void start(Uuid token, Song first, QString title);
    // The status for a song that the server reached does not hold, naming that server.
    QString missingText() const;

    MusicPlaybackHost& host_;
    MusicService& service_;
    QObject* context_;
    // The request whose song was last queued on the shared player.
    std::optional<Uuid> playerOwner_;
    // The server the playing song was started on.
    QString playingOn_;
    // Counts the transport's own changes of the player; a poll's read compares it with its copy.
    std::uint64_t transportChanges_ = 0;
};

}  // namespace quorvel
