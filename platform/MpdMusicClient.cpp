#include "platform/MpdMusicClient.h"

#include <mpd/client.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace quorvel {

namespace {

struct ConnectionDeleter {
    void operator()(mpd_connection* c) const { mpd_connection_free(c); }
};
using Connection = std::unique_ptr<mpd_connection, ConnectionDeleter>;

// The connection's pending error as our error value. Server refusals carry MPD's ACK code in the domain
// "mpd"; failures of the transport carry libmpdclient's error kind (or errno) instead.
Error errorOf(mpd_connection* c) {
    Error error;
    const char* message = mpd_connection_get_error_message(c);
    error.description = message ? message : "The music server did not answer.";
    switch (mpd_connection_get_error(c)) {
        case MPD_ERROR_SERVER: {
            error.domain = "mpd";
            error.code = static_cast<long>(mpd_connection_get_server_error(c));
            std::ostringstream raw;
            raw << "ACK [" << error.code << "@" << mpd_connection_get_server_error_location(c) << "] "
                << error.description;
            error.debugDescription = raw.str();
            break;
        }
        case MPD_ERROR_SYSTEM:
            error.domain = "posix";
            error.code = mpd_connection_get_system_error(c);
            break;
        default:
            error.domain = "libmpdclient";
            error.code = static_cast<long>(mpd_connection_get_error(c));
            break;
    }
    return error;
}

bool failed(mpd_connection* c) { return mpd_connection_get_error(c) != MPD_ERROR_SUCCESS; }

Result<Connection> connect(const MpdMusicClient::Options& options) {
    Connection c(mpd_connection_new(options.host.empty() ? nullptr : options.host.c_str(), options.port,
                                    options.timeoutMS));
    if (!c) return Error{"posix", ENOMEM, "Out of memory", {}};
    if (failed(c.get())) return errorOf(c.get());
    if (!options.password.empty() && !mpd_run_password(c.get(), options.password.c_str()))
        return errorOf(c.get());
    return c;
}

// Finishes the current command; the connection's error if it or anything before it failed.
Status finish(mpd_connection* c) {
    if (failed(c) || !mpd_response_finish(c)) return errorOf(c);
    return {};
}

std::string tagValue(const mpd_song* song, mpd_tag_type tag) {
    const char* value = mpd_song_get_tag(song, tag, 0);
    return value ? value : "";
}

// The file name without folders and extension: the title of a song that has no title tag.
std::string fileStem(const std::string& uri) {
    std::string name = uri.substr(uri.find_last_of('/') == std::string::npos ? 0 : uri.find_last_of('/') + 1);
    auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool isRemote(const std::string& uri) { return uri.find("://") != std::string::npos; }

Song songFrom(const mpd_song* entry) {
    Song song;
    song.id = mpd_song_get_uri(entry);
    song.title = tagValue(entry, MPD_TAG_TITLE);
    if (song.title.empty()) song.title = fileStem(song.id);
    song.artistName = tagValue(entry, MPD_TAG_ARTIST);
    if (unsigned ms = mpd_song_get_duration_ms(entry); ms > 0) song.durationSeconds = ms / 1000.0;
    // MPD has no ISRC tag type, so `isrc` stays absent.
    // Library and catalogue are one database here: the catalogue id is the same URI.
    song.playParameters = nlohmann::ordered_json{{"id", song.id}, {"kind", "song"}, {"catalogId", song.id}};
    return song;
}

// Receives the songs of the current reply, up to `limit` (negative: all).
std::vector<Song> receiveSongs(mpd_connection* c, int limit = -1) {
    std::vector<Song> songs;
    while (mpd_song* entry = mpd_recv_song(c)) {
        if (limit < 0 || static_cast<int>(songs.size()) < limit) songs.push_back(songFrom(entry));
        mpd_song_free(entry);
    }
    return songs;
}

}  // namespace

MpdMusicClient::Options MpdMusicClient::fromEnvironment() {
    Options options;
    // libmpdclient's own reading of MPD_HOST and MPD_PORT, so that we choose the server as other clients do.
    if (mpd_settings* settings = mpd_settings_new(nullptr, 0, 0, nullptr, nullptr)) {
        if (const char* host = mpd_settings_get_host(settings)) options.host = host;
        options.port = mpd_settings_get_port(settings);
        if (const char* password = mpd_settings_get_password(settings)) options.password = password;
        mpd_settings_free(settings);
    }
    if (options.host.empty()) options.host = "localhost";
    if (options.port == 0) options.port = 6600;
    if (const char* seconds = std::getenv("MPD_TIMEOUT")) {
        char* end = nullptr;
        double value = std::strtod(seconds, &end);
        if (end != seconds && value > 0 && value < 3600)
            options.timeoutMS = static_cast<unsigned>(value * 1000);
    }
    return options;
}

MpdMusicClient::MpdMusicClient(Options options) : options_(std::move(options)) {}

MusicAuthorizationStatus MpdMusicClient::requestAuthorization() {
    return connect(options_).ok() ? MusicAuthorizationStatus::authorized : MusicAuthorizationStatus::denied;
}

Result<MusicSubscription> MpdMusicClient::currentSubscription() {
    auto c = connect(options_);
    if (!c) return c.error();
    // A server without a music database leaves "db_update" out of its statistics.
    if (!mpd_send_command(c->get(), "stats", nullptr)) return errorOf(c->get());
    MusicSubscription subscription;
    while (mpd_pair* pair = mpd_recv_pair(c->get())) {
        if (std::strcmp(pair->name, "db_update") == 0) subscription.canPlayCatalogContent = true;
        mpd_return_pair(c->get(), pair);
    }
    if (auto done = finish(c->get()); !done) return done.error();
    return subscription;
}

Result<PlaylistBatch> MpdMusicClient::playlistsFrom(std::size_t offset, int limit) {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_send_list_playlists(c->get())) return errorOf(c->get());
    // MPD has no paging for this list: take it whole and cut the batch out of it.
    std::vector<Playlist> all;
    while (mpd_playlist* playlist = mpd_recv_playlist(c->get())) {
        std::string name = mpd_playlist_get_path(playlist);
        all.push_back(Playlist{name, name});
        mpd_playlist_free(playlist);
    }
    if (auto done = finish(c->get()); !done) return done.error();
    PlaylistBatch batch;
    std::size_t size = limit > 0 ? static_cast<std::size_t>(limit) : all.size();
    for (std::size_t i = offset; i < all.size() && i < offset + size; ++i) batch.items.push_back(all[i]);
    if (offset + size < all.size()) batch.nextOffset = offset + size;
    return batch;
}

Result<PlaylistBatch> MpdMusicClient::libraryPlaylists(int limit) { return playlistsFrom(0, limit); }

Result<std::optional<PlaylistBatch>> MpdMusicClient::nextPlaylistBatch(const PlaylistBatch& batch,
                                                                       int limit) {
    if (!batch.nextOffset) return std::optional<PlaylistBatch>();
    auto next = playlistsFrom(*batch.nextOffset, limit);
    if (!next) return next.error();
    // The list may have shrunk since the last batch.
    if (next->items.empty()) return std::optional<PlaylistBatch>();
    return std::optional<PlaylistBatch>(std::move(next.value()));
}

Result<std::optional<TrackBatch>> MpdMusicClient::playlistTracks(const Playlist& playlist) {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_send_list_playlist_meta(c->get(), playlist.id.c_str())) return errorOf(c->get());
    TrackBatch batch;
    batch.playlistID = playlist.id;
    while (mpd_entity* entity = mpd_recv_entity(c->get())) {
        if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG) {
            const mpd_song* entry = mpd_entity_get_song(entity);
            Track track;
            if (!isRemote(mpd_song_get_uri(entry))) track.song = songFrom(entry);
            batch.items.push_back(std::move(track));
        } else {
            batch.items.push_back(Track{});
        }
        mpd_entity_free(entity);
    }
    if (auto done = finish(c->get()); !done) {
        // The playlist has gone since it was listed: there is no entry collection to give.
        if (done.error().domain == "mpd" && done.error().code == MPD_SERVER_ERROR_NO_EXIST)
            return std::optional<TrackBatch>();
        return done.error();
    }
    // The server delivers every entry at once: one batch.
    return std::optional<TrackBatch>(std::move(batch));
}

Result<std::optional<TrackBatch>> MpdMusicClient::nextTrackBatch(const TrackBatch&) {
    return std::optional<TrackBatch>();
}

Result<std::vector<Song>> MpdMusicClient::searchCatalog(const std::string& term, int limit) {
    auto c = connect(options_);
    if (!c) return c.error();
    std::vector<std::string> words;
    std::istringstream split(term);
    for (std::string word; split >> word;) words.push_back(word);
    if (words.empty()) words.push_back(term);  // a blank term is still sent
    bool sent = mpd_search_db_songs(c->get(), false);
    for (const auto& word : words)
        sent = sent && mpd_search_add_any_tag_constraint(c->get(), MPD_OPERATOR_DEFAULT, word.c_str());
    if (limit > 0) sent = sent && mpd_search_add_window(c->get(), 0, static_cast<unsigned>(limit));
    if (!sent || !mpd_search_commit(c->get())) {
        mpd_search_cancel(c->get());  // frees a request that was not sent
        return errorOf(c->get());
    }
    auto songs = receiveSongs(c->get(), limit);
    if (auto done = finish(c->get()); !done) return done.error();
    return songs;
}

Result<std::optional<Song>> MpdMusicClient::songByURI(const MusicItemID& id) {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_search_db_songs(c->get(), true) ||
        !mpd_search_add_uri_constraint(c->get(), MPD_OPERATOR_DEFAULT, id.c_str()) ||
        !mpd_search_commit(c->get())) {
        mpd_search_cancel(c->get());  // frees a request that was not sent
        return errorOf(c->get());
    }
    auto songs = receiveSongs(c->get());
    if (auto done = finish(c->get()); !done) return done.error();
    if (songs.empty()) return std::optional<Song>();
    return std::optional<Song>(std::move(songs.front()));
}

Result<std::optional<Song>> MpdMusicClient::librarySong(const MusicItemID& id) { return songByURI(id); }

Result<std::optional<Song>> MpdMusicClient::catalogSong(const MusicItemID& id) { return songByURI(id); }

Status MpdMusicClient::prepareToPlay(const Song& song) {
    auto c = connect(options_);
    if (!c) return c.error();
    // One command list, so that the queue is never seen cleared without the new song.
    if (!mpd_command_list_begin(c->get(), false) || !mpd_send_clear(c->get()) ||
        !mpd_send_add(c->get(), song.id.c_str()) || !mpd_command_list_end(c->get()))
        return errorOf(c->get());
    return finish(c->get());
}

Status MpdMusicClient::play() {
    auto c = connect(options_);
    if (!c) return c.error();
    mpd_status* status = mpd_run_status(c->get());
    if (!status) return errorOf(c->get());
    bool paused = mpd_status_get_state(status) == MPD_STATE_PAUSE;
    mpd_status_free(status);
    bool ok = paused ? mpd_run_pause(c->get(), false) : mpd_run_play(c->get());
    if (!ok) return errorOf(c->get());
    return {};
}

Status MpdMusicClient::pause() {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_run_pause(c->get(), true)) return errorOf(c->get());
    return {};
}

Status MpdMusicClient::stop() {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_run_stop(c->get())) return errorOf(c->get());
    return {};
}

Status MpdMusicClient::setPlaybackTime(double seconds) {
    auto c = connect(options_);
    if (!c) return c.error();
    if (!mpd_run_seek_current(c->get(), static_cast<float>(seconds), false)) return errorOf(c->get());
    return {};
}

Result<PlayerState> MpdMusicClient::playerState() {
    auto c = connect(options_);
    if (!c) return c.error();
    mpd_status* status = mpd_run_status(c->get());
    if (!status) return errorOf(c->get());
    PlayerState state;
    switch (mpd_status_get_state(status)) {
        case MPD_STATE_PLAY:
            state.status = PlaybackStatus::playing;
            break;
        case MPD_STATE_PAUSE:
            state.status = PlaybackStatus::paused;
            break;
        default:
            state.status = PlaybackStatus::stopped;
            break;
    }
    state.playbackTimeSeconds = mpd_status_get_elapsed_ms(status) / 1000.0;
    mpd_status_free(status);
    return state;
}

}  // namespace quorvel
