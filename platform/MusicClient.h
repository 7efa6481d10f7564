#pragma once
// The music service as the application sees it: authorisation, the subscription's capability, library
// playlists in batches, a playlist's entries, songs by id, catalogue search, and the one shared
// application music player. Every call blocks until the service answers or its deadline passes, so
// callers on the main thread go through the asynchronous MusicService of the engine layer instead.
#include <string>
#include <vector>

#include "platform/MusicItems.h"
#include "platform/Result.h"

namespace quorvel {

enum class MusicAuthorizationStatus {
    authorized,
    unreachable,      // nothing answers at the server's address, or what answers is no music server
    passwordRefused,  // the server refused the password
    notAnswering,     // the server took the connection but did not answer before the deadline
};

// The system's own errors of music calls.
namespace MusicErrors {
inline constexpr const char* domain = "Quorvel.music";
// notOnServer: the server reached does not hold the song (it came from another server, or was removed).
enum Code : long { noSongQueued = 1, noAnswer = 2, replyTooLarge = 3, abandoned = 4, notOnServer = 5 };
}  // namespace MusicErrors

struct MusicSubscription {
    bool canPlayCatalogContent = false;
};

enum class PlaybackStatus { stopped, playing, paused };

struct PlayerState {
    PlaybackStatus status = PlaybackStatus::stopped;
    double playbackTimeSeconds = 0;  // position in the queued song; 0 when stopped
};

// Implementations are safe to call from several threads at once; the player calls change one shared
// player, so a caller that needs them in order must issue them in order from one thread.
class MusicClient {
public:
    virtual ~MusicClient() = default;

    // Authorised when the service can be reached and accepts our credentials; otherwise why not.
    virtual MusicAuthorizationStatus requestAuthorization() = 0;
    virtual Result<MusicSubscription> currentSubscription() = 0;

    // The first batch of at most `limit` library playlists, in the service's order.
    virtual Result<PlaylistBatch> libraryPlaylists(int limit) = 0;
    // The batch after `batch`, or absent when `batch` was the last one.
    virtual Result<std::optional<PlaylistBatch>> nextPlaylistBatch(const PlaylistBatch& batch, int limit) = 0;

    // The first batch of a playlist's entries, or absent when the service returns no entry collection
    // for it (the playlist is gone).
    virtual Result<std::optional<TrackBatch>> playlistTracks(const Playlist& playlist) = 0;
    virtual Result<std::optional<TrackBatch>> nextTrackBatch(const TrackBatch& batch) = 0;

    // Songs matching every word of `term` in some tag, first `limit` only, in the service's order.
    virtual Result<std::vector<Song>> searchCatalog(const std::string& term, int limit) = 0;
    // The song with this id in the user's library / in the catalogue, or absent when there is none.
    virtual Result<std::optional<Song>> librarySong(const MusicItemID& id) = 0;
    virtual Result<std::optional<Song>> catalogSong(const MusicItemID& id) = 0;

    // The application music player. prepareToPlay replaces whatever was queued with `song` alone, ready
    // to start; it fails when the song cannot be played (MusicErrors::notOnServer when the server does
    // not hold it). play starts or resumes the queued song.
    virtual Status prepareToPlay(const Song& song) = 0;
    virtual Status play() = 0;
    virtual Status pause() = 0;
    virtual Status stop() = 0;
    // Moves the position in the playing or paused song, in seconds; fails when nothing is playing.
    virtual Status setPlaybackTime(double seconds) = 0;
    virtual Result<PlayerState> playerState() = 0;

    // The server as messages name it, e.g. "localhost:6600": the one the last call reached.
    virtual std::string serverName() const = 0;
    // For shut-down: calls under way end at once (they fail) and later calls fail without waiting.
    virtual void abandon() = 0;
};

}  // namespace quorvel
