#pragma once
// The music service on an MPD server, through libmpdclient:
// - authorisation: the server can be reached (and accepts the password, when one is set);
// - catalogue capability: the server has a music database;
// - library playlists: the server's stored playlists, in batches; a playlist's entries: its songs, with
//   remote streams counted as entries that are not songs;
// - songs: a song's id is its file URI in the database, which serves as both library and catalogue;
//   search matches every word of the term against the tag values, case-insensitively;
// - the application music player: the server's queue and player.
// Each call opens its own connection, so calls may run on several threads at once, and a server that
// restarts between calls is simply reached again. With no host named, each call looks for the server as
// libmpdclient does: the system MPD's socket when something takes the connection there, else localhost
// (a socket file left by a stopped system MPD is passed over).
//
// Bounded waits. A call has one deadline for everything it does (connecting, the greeting, the password,
// its commands and their whole replies), however the server spreads its bytes over time: a watchdog
// thread of the client shuts down the reading side of a call's socket when the deadline passes, and the
// call fails with "The music server at HOST:PORT does not answer." Only the name lookup of a host name
// cannot be cut short. One reply may bring at most maxReplyEntries entries (songs, folders, playlists) and
// maxReplyBytes of text; past either the call fails instead of growing without end.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "platform/MusicClient.h"

namespace quorvel {

class MpdMusicClient final : public MusicClient {
public:
    struct Options {
        // Host name, address, socket path, or "@name" for an abstract socket; empty: systemSocket when a
        // server takes the connection there, else localhost (at port), chosen again by every call.
        std::string host;
        unsigned port = 6600;
        std::string password;       // empty: none
        unsigned timeoutMS = 5000;  // the deadline of one whole call
        // The system MPD's socket, where libmpdclient looks first.
        std::string systemSocket = "/var/run/mpd/socket";
    };

    // MPD sends at most 8 MiB per reply unless its max_output_buffer_size is raised; these caps lie far
    // above what any real library brings and only stop a server that sends without end.
    static constexpr std::size_t maxReplyEntries = 200000;
    static constexpr std::size_t maxReplyBytes = std::size_t{64} << 20;

    // The server as MPD clients choose it: MPD_HOST ("password@host" allowed) and MPD_PORT; without
    // either, the system socket when a server answers there, else localhost:6600. MPD_TIMEOUT in
    // seconds, by default 5.
    static Options fromEnvironment();

    explicit MpdMusicClient(Options options);
    // Stops the watchdog thread. No call may be under way.
    ~MpdMusicClient() override;

    MusicAuthorizationStatus requestAuthorization() override;
    Result<MusicSubscription> currentSubscription() override;
    Result<PlaylistBatch> libraryPlaylists(int limit) override;
    Result<std::optional<PlaylistBatch>> nextPlaylistBatch(const PlaylistBatch& batch, int limit) override;
    Result<std::optional<TrackBatch>> playlistTracks(const Playlist& playlist) override;
    Result<std::optional<TrackBatch>> nextTrackBatch(const TrackBatch& batch) override;
    Result<std::vector<Song>> searchCatalog(const std::string& term, int limit) override;
    Result<std::optional<Song>> librarySong(const MusicItemID& id) override;
    Result<std::optional<Song>> catalogSong(const MusicItemID& id) override;
    Status prepareToPlay(const Song& song) override;
    Status play() override;
    Status pause() override;
    Status stop() override;
    Status setPlaybackTime(double seconds) override;
    Result<PlayerState> playerState() override;
    // The server the last call reached (the one that took its connection): "host:port"; a socket path
    // alone; an IPv6 address in brackets. When that call reached none, or before any call, the servers a
    // call tries, joined by " or " ("/var/run/mpd/socket or localhost:6600"). Any thread.
    std::string serverName() const override;
    void abandon() override;

    const Options& options() const { return options_; }

    class Watchdog;  // calls under way and their deadlines (MpdMusicClient.cpp)
    class Session;   // one call's connection

private:
    // What the last call found: the server it reached, or the ones it tried. Any thread.
    void noteServer(std::string name);
    Result<PlaylistBatch> playlistsFrom(std::size_t offset, int limit);
    Result<std::optional<Song>> songByURI(const MusicItemID& id);

    Options options_;
    std::unique_ptr<Watchdog> watchdog_;
    mutable std::mutex serverMutex_;
    std::string server_;  // under serverMutex_
};

}  // namespace quorvel
