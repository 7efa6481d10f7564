#include "engine/MusicPlayback.h"

#include <cmath>

#include "core/Logging.h"
#include "engine/MusicSongs.h"

namespace quorvel {

namespace {

// A failure of the connection itself: nothing answers at the server's address any more. The server's
// own refusals ("mpd") and the client's limits (no answer in time, a reply too large) say it is there.
bool unreachable(const Error& error) { return error.domain != "mpd" && error.domain != MusicErrors::domain; }

bool notOnServer(const Error& error) {
    return error.domain == MusicErrors::domain && error.code == MusicErrors::notOnServer;
}

}  // namespace

MusicPlayback::MusicPlayback(MusicPlaybackHost& host, MusicService& service, QObject* context)
    : host_(host), service_(service), context_(context) {}

void MusicPlayback::end(const Uuid& token) {
    if (current(token)) host_.setBusy(false);
}

void MusicPlayback::failed(const Uuid& token, const Error& error) {
    if (!current(token)) return;
    host_.setPlaying(false);
    host_.setStatus(notOnServer(error) ? missingText() : QStringLiteral("Couldn't play this track"));
    host_.setErrorDetail(MusicSongs::errorDetail(error));
}

QString MusicPlayback::missingText() const {
    // The server just asked: calls reach the same server until it goes or another comes up.
    return QStringLiteral("This song is not on the music server at %1.")
        .arg(QString::fromStdString(service_.serverName()));
}

void MusicPlayback::play(const MusicTrackRequest& track, Uuid token) {
    Request request = std::make_shared<const MusicTrackRequest>(track);
    service_.requestAuthorization(context_, [this, request, token](MusicAuthorizationStatus status) {
        if (status != MusicAuthorizationStatus::authorized) {
            // Written whatever became of the request meanwhile.
            host_.setStatus(QStringLiteral("The music server could not be reached"));
            return end(token);
        }
        if (!current(token) || !request->musicID) return end(token);
        service_.currentSubscription(
            context_, [this, request, token](Result<MusicSubscription> subscription) {
                if (!subscription) {
                    failed(token, subscription.error());
                    return end(token);
                }
                // Library songs play without catalogue rights.
                if (!request->libraryMusic && !subscription->canPlayCatalogContent) {
                    host_.setStatus(QStringLiteral("Music server connection required"));
                    return end(token);
                }
                MusicSongs::obtainSong(service_, context_, *request->musicID, request->libraryMusic,
                                       request->musicPayload,
                                       [this, request, token](Result<std::optional<Song>> found) {
                                           obtained(request, token, found);
                                       });
            });
    });
}

void MusicPlayback::obtained(Request track, Uuid token, Result<std::optional<Song>> found) {
    if (!found) {
        failed(token, found.error());
        return end(token);
    }
    if (!current(token)) return end(token);
    if (!found->has_value()) {
        host_.setStatus(QStringLiteral("Song is unavailable"));
        return end(token);
    }
    Song first = **found;
    // Right after the comparison, with nothing in between: this request now owns the shared player.
    host_.setMusicActive(true);
    playerOwner_ = token;
    service_.setQueue(first);
    service_.prepareToPlay(context_, [this, track, token, first](Status status) {
        prepared(track, token, first, std::move(status));
    });
}

void MusicPlayback::prepared(Request track, Uuid token, Song first, Status status) {
    if (status) return start(token, std::move(first), track->displayTitle);
    // A library song that will not prepare may still play as its catalogue equivalent; a catalogue song
    // is never retried.
    if (current(token) && track->libraryMusic)
        return fallBack(track, token, std::move(first), status.error());
    failed(token, status.error());
    end(token);
}

void MusicPlayback::fallBack(Request track, Uuid token, Song first, Error firstError) {
    MusicSongs::catalogEquivalent(
        service_, context_, first,
        [this, track, token, first, firstError](Result<std::optional<Song>> equivalent) {
            if (!equivalent) {
                failed(token, equivalent.error());
                return end(token);
            }
            if (!equivalent->has_value()) {
                failed(token, firstError);
                return end(token);
            }
            // A request that went stale during the search leaves the shared player to the newer one.
            if (!current(token)) return end(token);
            service_.stop();
            playerOwner_ = token;
            service_.setQueue(**equivalent);
            service_.prepareToPlay(context_, [this, track, token, first](Status status) {
                if (!status) {
                    failed(token, status.error());
                    return end(token);
                }
                start(token, first, track->displayTitle);
            });
        });
}

void MusicPlayback::start(Uuid token, Song first, QString title) {
    // Stale now: the song stays prepared but is never started.
    if (!current(token)) return end(token);
    service_.play(context_, [this, token, first, title](Status status) {
        if (!status) {
            failed(token, status.error());
            return end(token);
        }
        if (!current(token)) {
            // Whatever replaced this request (a stop, a local track, a signal) must not have our song
            // sounding untracked beside it; only a newer request that has queued its own song keeps the
            // player.
            if (playerOwner_ == token) service_.stop();
            return end(token);
        }
        host_.setPlaying(true);
        playingOn_ = QString::fromStdString(service_.serverName());
        // The first song's length, also when its catalogue equivalent plays.
        host_.setDuration(first.durationSeconds.value_or(0));
        host_.setStatus(title);
        host_.startMusicTimer();
        end(token);
    });
}

void MusicPlayback::poll() {
    if (!host_.musicActive()) return;
    const Uuid token = host_.generation();
    const std::uint64_t changes = transportChanges_;
    service_.playerState(context_, [this, token, changes](Result<PlayerState> state) {
        if (!current(token) || !host_.musicActive() || changes != transportChanges_) return;
        if (!state && unreachable(state.error())) {
            // The song ended with its server: stop, rather than look paused at a frozen time. The server
            // is the one that started the song: this read reached none.
            const QString server = playingOn_;
            qCWarning(logMusic) << "the music server at" << server
                                << "stopped while a song played:" << state.error().description.c_str();
            host_.stopPlayback();
            host_.setStatus(QStringLiteral("The music server at %1 stopped.").arg(server));
            return;
        }
        if (!state) {
            host_.setPlaying(false);
            return;
        }
        const double seconds = state->playbackTimeSeconds;
        host_.setCurrentTime(std::isfinite(seconds) && seconds >= 0 ? seconds : 0);
        host_.setPlaying(state->status == PlaybackStatus::playing);
    });
}

void MusicPlayback::pause() {
    ++transportChanges_;
    service_.pause();
    host_.setPlaying(false);
}

void MusicPlayback::resume() {
    ++transportChanges_;
    const Uuid token = host_.generation();
    service_.play(context_, [this, token](Status resumed) {
        // A resume that answers after a stop or a newer start has nothing left to report to.
        if (!current(token)) return;
        if (resumed) {
            host_.setPlaying(true);
        } else {
            host_.setStatus(QStringLiteral("Couldn't resume playback"));
            host_.setErrorDetail(QString::fromStdString(resumed.error().description));
        }
    });
}

void MusicPlayback::seek(double seconds) {
    ++transportChanges_;
    service_.setPlaybackTime(seconds);
}

}  // namespace quorvel
