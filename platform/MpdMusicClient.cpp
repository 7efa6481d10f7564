#include "platform/MpdMusicClient.h"

#include <mpd/async.h>
#include <mpd/client.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Log.h"

namespace quorvel {

using Clock = std::chrono::steady_clock;

// Calls under way, by socket, with their deadlines. When a deadline passes, or when the client is
// abandoned, the watchdog shuts down the reading side of the call's socket: whatever the call waits in
// (libmpdclient's poll, or our own while connecting) returns at once, and the call reads the reason here.
// Only the reading side, so that a send under way fails softly instead of raising SIGPIPE. A call stops
// being watched before its socket is closed, so a socket number is never shut down after being reused.
// Any thread.
class MpdMusicClient::Watchdog {
public:
    enum class Ending { none, late, abandoned };

    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // Watches `fd` until forget(fd). False once the client is abandoned: the call must not go on.
    bool watch(int fd, Clock::time_point deadline) {
        std::lock_guard lock(mutex_);
        if (abandoned_) return false;
        calls_[fd] = Entry{deadline, Ending::none};
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        wake_.notify_all();
        return true;
    }

    Ending ending(int fd) const {
        std::lock_guard lock(mutex_);
        auto it = calls_.find(fd);
        return it == calls_.end() ? Ending::none : it->second.ending;
    }

    void forget(int fd) {
        std::lock_guard lock(mutex_);
        calls_.erase(fd);
    }

    void abandonAll() {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        for (auto& [fd, entry] : calls_) end(fd, entry, Ending::abandoned);
    }

private:
    struct Entry {
        Clock::time_point deadline;
        Ending ending;
    };

    static void end(int fd, Entry& entry, Ending why) {
        if (entry.ending != Ending::none) return;
        entry.ending = why;
        ::shutdown(fd, SHUT_RD);
    }

    void run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const auto now = Clock::now();
            auto next = Clock::time_point::max();
            for (auto& [fd, entry] : calls_) {
                if (entry.ending != Ending::none) continue;
                if (entry.deadline <= now)
                    end(fd, entry, Ending::late);
                else
                    next = std::min(next, entry.deadline);
            }
            if (next == Clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_until(lock, next);
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Entry> calls_;
    bool abandoned_ = false;
    bool stopping_ = false;
    std::thread thread_;  // started by the first call
};

namespace {

using Ending = MpdMusicClient::Watchdog::Ending;

Error posixError(int code) { return Error{"posix", code, std::strerror(code)}; }

Error musicError(MusicErrors::Code code, std::string description, std::string debugDescription = {}) {
    return Error{MusicErrors::domain, code, std::move(description), std::move(debugDescription)};
}

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

// "host:port"; a socket path alone; an IPv6 address in brackets.
std::string nameOf(const MpdMusicClient::Options& options) {
    const std::string& host = options.host;
    if (host.front() == '/' || host.front() == '@') return host;
    const std::string port = std::to_string(options.port);
    return host.find(':') == std::string::npos ? host + ":" + port : "[" + host + "]:" + port;
}

// The servers a call tries, in order: the one named; without a host, the system's socket and then
// localhost, as libmpdclient tries them. The next is tried only when nothing took the connection at the
// one before (no file, a stale socket file, no permission): a server that answers there, refuses the
// password or hangs is the one reached.
std::vector<MpdMusicClient::Options> candidates(const MpdMusicClient::Options& options) {
    if (!options.host.empty()) return {options};
    MpdMusicClient::Options system = options;
    system.host = options.systemSocket;
    MpdMusicClient::Options local = options;
    local.host = "localhost";
    return {system, local};
}

// The candidates' names, joined by " or ": the servers a call that reached none has tried.
std::string namesOf(const std::vector<MpdMusicClient::Options>& tried) {
    std::string names;
    for (const auto& options : tried) names += (names.empty() ? "" : " or ") + nameOf(options);
    return names;
}

// Where a reply's next entry begins.
bool startsEntry(const char* name) {
    return std::strcmp(name, "file") == 0 || std::strcmp(name, "directory") == 0 ||
           std::strcmp(name, "playlist") == 0;
}

}  // namespace

// One call's connection to the server, under the call's one deadline. Failures are logged (quorvel.music)
// as they are returned. One thread.
class MpdMusicClient::Session {
public:
    Session(MpdMusicClient& client, const char* what)
        : client_(client),
          options_(client.options()),
          server_(namesOf(candidates(options_))),
          watchdog_(*client.watchdog_),
          what_(what),
          deadline_(Clock::now() + std::chrono::milliseconds(options_.timeoutMS)) {}

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ~Session() {
        if (fd_ < 0) return;
        watchdog_.forget(fd_);
        if (connection_)
            mpd_connection_free(connection_);  // closes the socket
        else
            ::close(fd_);
    }

    // Connects to the first candidate that takes the connection, reads the server's greeting and sends
    // the password, if any. The client notes the server reached, or the ones tried when none was.
    Status open() {
        const auto tried = candidates(client_.options());
        Status connected = posixError(ECONNREFUSED);
        for (const auto& candidate : tried) {
            options_ = candidate;
            server_ = nameOf(candidate);
            connected = connectSocket();
            // Connected, or the call ended (its deadline, shut-down): no other candidate.
            if (connected || connected.error().domain == MusicErrors::domain) break;
        }
        if (!connected && connected.error().domain != MusicErrors::domain) server_ = namesOf(tried);
        client_.noteServer(server_);
        if (!connected) return failed(connected.error());
        auto welcome = readGreeting();
        if (!welcome) return failed(welcome.error());
        mpd_async* async = mpd_async_new(fd_);
        if (async) connection_ = mpd_connection_new_async(async, welcome->c_str());
        if (!connection_) {
            watchdog_.forget(fd_);
            if (async)
                mpd_async_free(async);  // closes the socket
            else
                ::close(fd_);
            fd_ = -1;
            return failed(posixError(ENOMEM));
        }
        if (mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS) return failure();  // not MPD
        // libmpdclient's own limit for each wait; the watchdog holds the call's overall deadline.
        mpd_connection_set_timeout(connection_, static_cast<unsigned>(std::max(1, remainingMS())));
        if (!options_.password.empty() && !mpd_run_password(connection_, options_.password.c_str()))
            return failure();
        return {};
    }

    // The server this call reached, as messages name it.
    const std::string& server() const { return server_; }

    mpd_connection* get() const { return connection_; }

    // The failure of the call: the watchdog's reason when it ended the call, else the connection's error.
    Error failure() const {
        switch (watchdog_.ending(fd_)) {
            case Ending::late:
                return failed(noAnswer());
            case Ending::abandoned:
                return failed(abandoned());
            case Ending::none:
                break;
        }
        if (mpd_connection_get_error(connection_) == MPD_ERROR_TIMEOUT) return failed(noAnswer());
        return failed(errorOf(connection_));
    }

    // Ends the current command; its failure, or that of anything before it.
    Status finish() const {
        if (mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS || !mpd_response_finish(connection_))
            return failure();
        return {};
    }

    // Receives the current reply pair by pair, handing each to `take(pair)`, and ends the command. Fails
    // once the reply passes the caps on entries or bytes.
    template <typename Take>
    Status receive(Take take) const {
        std::size_t bytes = 0;
        std::size_t entries = 0;
        while (mpd_pair* pair = mpd_recv_pair(connection_)) {
            bytes += std::strlen(pair->name) + std::strlen(pair->value) + 3;  // "name: value\n"
            if (startsEntry(pair->name)) ++entries;
            const bool fits =
                bytes <= MpdMusicClient::maxReplyBytes && entries <= MpdMusicClient::maxReplyEntries;
            if (fits) take(pair);
            mpd_return_pair(connection_, pair);
            if (!fits) return failed(tooLarge(entries > MpdMusicClient::maxReplyEntries));
        }
        return finish();
    }

    // Receives the current reply as entities (songs, folders, playlists), handing each to `take(entity)`.
    template <typename Take>
    Status receiveEntities(Take take) const {
        mpd_entity* current = nullptr;
        Status status = receive([&](const mpd_pair* pair) {
            if (current && mpd_entity_feed(current, pair)) return;
            if (current) {
                take(*current);
                mpd_entity_free(current);
            }
            current = mpd_entity_begin(pair);  // null only when out of memory: that entry is skipped
        });
        if (current) {
            if (status) take(*current);
            mpd_entity_free(current);
        }
        return status;
    }

private:
    int remainingMS() const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
    }

    Error noAnswer() const {
        return musicError(MusicErrors::noAnswer, "The music server at " + server_ + " does not answer.");
    }
    Error abandoned() const { return musicError(MusicErrors::abandoned, "The music call was abandoned."); }
    Error tooLarge(bool entries) const {
        return musicError(MusicErrors::replyTooLarge,
                          "The music server at " + server_ + " sent more than " +
                              (entries ? std::to_string(MpdMusicClient::maxReplyEntries) + " entries"
                                       : std::to_string(MpdMusicClient::maxReplyBytes >> 20) + " MiB") +
                              " in one reply.");
    }

    // The error of a socket the watchdog may have ended, `otherwise` when it did not.
    Error endedOr(Error otherwise) const {
        switch (watchdog_.ending(fd_)) {
            case Ending::late:
                return noAnswer();
            case Ending::abandoned:
                return abandoned();
            case Ending::none:
                break;
        }
        return otherwise;
    }

    Error failed(Error error) const {
        std::string line = std::string(what_) + " on " + server_ + " failed: " + error.description;
        // A server that hangs or floods is worth a warning; one that is down or refuses is routine.
        if (error.domain == MusicErrors::domain && error.code != MusicErrors::abandoned)
            Log::warning(Log::Area::music, line);
        else
            Log::info(Log::Area::music, line);
        return error;
    }

    // The server's addresses: a socket path (or "@name", an abstract socket), else the host's addresses.
    Status connectSocket() {
        const std::string& host = options_.host;
        if (host.front() == '/' || host.front() == '@') {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (host.size() >= sizeof address.sun_path) return posixError(ENAMETOOLONG);
            std::memcpy(address.sun_path, host.data(), host.size());
            if (host.front() == '@') address.sun_path[0] = '\0';
            const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + host.size() +
                                                     (host.front() == '@' ? 0 : 1));
            return tryAddress(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size);
        }
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        // The one wait that the deadline cannot cut short.
        if (int rc = ::getaddrinfo(host.c_str(), std::to_string(options_.port).c_str(), &hints, &found);
            rc != 0)
            return Error{"resolver", rc, ::gai_strerror(rc)};
        Status last = posixError(ECONNREFUSED);
        for (addrinfo* a = found; a; a = a->ai_next) {
            last = tryAddress(a->ai_family, a->ai_addr, a->ai_addrlen);
            if (last || last.error().domain == MusicErrors::domain) break;  // connected, or ended
        }
        ::freeaddrinfo(found);
        return last;
    }

    // Connects to one address within the deadline; on success the socket is fd_, watched.
    Status tryAddress(int family, const sockaddr* address, socklen_t size) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return posixError(errno);
        if (!watchdog_.watch(fd, deadline_)) {
            ::close(fd);
            return abandoned();
        }
        fd_ = fd;
        int error = 0;
        if (::connect(fd, address, size) != 0) {
            error = errno;
            if (error == EINPROGRESS) error = awaitConnection();
        }
        if (error == 0) return {};
        Error why = endedOr(posixError(error));
        watchdog_.forget(fd);
        ::close(fd);
        fd_ = -1;
        return why;
    }

    // The outcome of a connection under way, as an errno value (0: connected).
    int awaitConnection() const {
        pollfd wait{fd_, POLLOUT, 0};
        int ready = 0;
        while ((ready = ::poll(&wait, 1, remainingMS())) < 0 && errno == EINTR) {
        }
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;  // nothing answered at the address: unreachable, not hung
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
        return error;
    }

    // The greeting line ("OK MPD 0.23.5"), read byte by byte so that nothing after it is taken from
    // libmpdclient; the server sends nothing more before our first command.
    Result<std::string> readGreeting() const {
        std::string line;
        while (line.size() < 256) {
            pollfd wait{fd_, POLLIN, 0};
            const int ready = ::poll(&wait, 1, remainingMS());
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return posixError(errno);
            if (ready == 0) return noAnswer();
            char c = 0;
            const ssize_t got = ::recv(fd_, &c, 1, 0);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got < 0) return endedOr(posixError(errno));
            if (got == 0)
                return endedOr(Error{"libmpdclient", MPD_ERROR_CLOSED, "Connection closed by the server"});
            if (c == '\n') return line;
            line += c;
        }
        return Error{"libmpdclient", MPD_ERROR_MALFORMED, "Malformed connect message received"};
    }

    MpdMusicClient& client_;
    MpdMusicClient::Options options_;  // with the server this call tries or reached
    std::string server_;
    MpdMusicClient::Watchdog& watchdog_;
    const char* what_;  // the call, for the log
    const Clock::time_point deadline_;
    int fd_ = -1;
    mpd_connection* connection_ = nullptr;
};

namespace {

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

// Receives the songs of the current reply, keeping the first `limit` (negative: all).
Result<std::vector<Song>> receiveSongs(const MpdMusicClient::Session& s, int limit = -1) {
    std::vector<Song> songs;
    Status status = s.receiveEntities([&](const mpd_entity& entity) {
        if (mpd_entity_get_type(&entity) != MPD_ENTITY_TYPE_SONG) return;
        if (limit < 0 || static_cast<int>(songs.size()) < limit)
            songs.push_back(songFrom(mpd_entity_get_song(&entity)));
    });
    if (!status) return status.error();
    return songs;
}

}  // namespace

MpdMusicClient::Options MpdMusicClient::fromEnvironment() {
    Options options;
    // libmpdclient's own reading of MPD_HOST and MPD_PORT, so that we choose the server as other clients do.
    // With neither set its settings name only the first of its defaults, the system socket, while its
    // connections go on to localhost:6600: the host stays empty, and each call makes that choice.
    const bool named = std::getenv("MPD_HOST") || std::getenv("MPD_PORT");
    if (mpd_settings* settings = mpd_settings_new(nullptr, 0, 0, nullptr, nullptr)) {
        if (const char* host = mpd_settings_get_host(settings); host && named) options.host = host;
        options.port = mpd_settings_get_port(settings);
        if (const char* password = mpd_settings_get_password(settings)) options.password = password;
        mpd_settings_free(settings);
    }
    if (options.port == 0) options.port = 6600;
    if (const char* seconds = std::getenv("MPD_TIMEOUT")) {
        char* end = nullptr;
        double value = std::strtod(seconds, &end);
        if (end != seconds && value > 0 && value < 3600)
            options.timeoutMS = static_cast<unsigned>(value * 1000);
    }
    return options;
}

MpdMusicClient::MpdMusicClient(Options options)
    : options_(std::move(options)), watchdog_(std::make_unique<Watchdog>()) {}

MpdMusicClient::~MpdMusicClient() = default;

std::string MpdMusicClient::serverName() const {
    std::lock_guard lock(serverMutex_);
    return server_.empty() ? namesOf(candidates(options_)) : server_;
}

void MpdMusicClient::noteServer(std::string name) {
    std::lock_guard lock(serverMutex_);
    server_ = std::move(name);
}

void MpdMusicClient::abandon() { watchdog_->abandonAll(); }

MusicAuthorizationStatus MpdMusicClient::requestAuthorization() {
    Session s(*this, "connect");
    Status opened = s.open();
    if (opened) return MusicAuthorizationStatus::authorized;
    const Error& error = opened.error();
    if (error.domain == "mpd" && error.code == MPD_SERVER_ERROR_PASSWORD)
        return MusicAuthorizationStatus::passwordRefused;
    if (error.domain == MusicErrors::domain && error.code == MusicErrors::noAnswer)
        return MusicAuthorizationStatus::notAnswering;
    return MusicAuthorizationStatus::unreachable;
}

Result<MusicSubscription> MpdMusicClient::currentSubscription() {
    Session s(*this, "stats");
    if (auto opened = s.open(); !opened) return opened.error();
    // A server without a music database leaves "db_update" out of its statistics.
    if (!mpd_send_command(s.get(), "stats", nullptr)) return s.failure();
    MusicSubscription subscription;
    Status done = s.receive([&](const mpd_pair* pair) {
        if (std::strcmp(pair->name, "db_update") == 0) subscription.canPlayCatalogContent = true;
    });
    if (!done) return done.error();
    return subscription;
}

Result<PlaylistBatch> MpdMusicClient::playlistsFrom(std::size_t offset, int limit) {
    Session s(*this, "listplaylists");
    if (auto opened = s.open(); !opened) return opened.error();
    if (!mpd_send_list_playlists(s.get())) return s.failure();
    // MPD has no paging for this list: take it whole and cut the batch out of it.
    std::vector<Playlist> all;
    Status done = s.receive([&](const mpd_pair* pair) {
        if (std::strcmp(pair->name, "playlist") == 0) all.push_back(Playlist{pair->value, pair->value});
    });
    if (!done) return done.error();
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
    Session s(*this, "listplaylistinfo");
    if (auto opened = s.open(); !opened) return opened.error();
    if (!mpd_send_list_playlist_meta(s.get(), playlist.id.c_str())) return s.failure();
    TrackBatch batch;
    batch.playlistID = playlist.id;
    Status done = s.receiveEntities([&](const mpd_entity& entity) {
        Track track;
        if (mpd_entity_get_type(&entity) == MPD_ENTITY_TYPE_SONG) {
            const mpd_song* entry = mpd_entity_get_song(&entity);
            if (!isRemote(mpd_song_get_uri(entry))) track.song = songFrom(entry);
        }
        batch.items.push_back(std::move(track));
    });
    if (!done) {
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
    Session s(*this, "search");
    if (auto opened = s.open(); !opened) return opened.error();
    std::vector<std::string> words;
    std::istringstream split(term);
    for (std::string word; split >> word;) words.push_back(word);
    if (words.empty()) words.push_back(term);  // a blank term is still sent
    bool sent = mpd_search_db_songs(s.get(), false);
    for (const auto& word : words)
        sent = sent && mpd_search_add_any_tag_constraint(s.get(), MPD_OPERATOR_DEFAULT, word.c_str());
    if (limit > 0) sent = sent && mpd_search_add_window(s.get(), 0, static_cast<unsigned>(limit));
    if (!sent || !mpd_search_commit(s.get())) {
        mpd_search_cancel(s.get());  // frees a request that was not sent
        return s.failure();
    }
    return receiveSongs(s, limit);
}

Result<std::optional<Song>> MpdMusicClient::songByURI(const MusicItemID& id) {
    Session s(*this, "find");
    if (auto opened = s.open(); !opened) return opened.error();
    if (!mpd_search_db_songs(s.get(), true) ||
        !mpd_search_add_uri_constraint(s.get(), MPD_OPERATOR_DEFAULT, id.c_str()) ||
        !mpd_search_commit(s.get())) {
        mpd_search_cancel(s.get());  // frees a request that was not sent
        return s.failure();
    }
    auto songs = receiveSongs(s, 1);
    if (!songs) return songs.error();
    if (songs->empty()) return std::optional<Song>();
    return std::optional<Song>(std::move(songs->front()));
}

Result<std::optional<Song>> MpdMusicClient::librarySong(const MusicItemID& id) { return songByURI(id); }

Result<std::optional<Song>> MpdMusicClient::catalogSong(const MusicItemID& id) { return songByURI(id); }

Status MpdMusicClient::prepareToPlay(const Song& song) {
    Session s(*this, "clear and add");
    if (auto opened = s.open(); !opened) return opened;
    // One command list, so that the queue is never seen cleared without the new song.
    if (!mpd_command_list_begin(s.get(), false) || !mpd_send_clear(s.get()) ||
        !mpd_send_add(s.get(), song.id.c_str()) || !mpd_command_list_end(s.get()))
        return s.failure();
    Status added = s.finish();
    // MPD answers a song its database does not hold with "No such directory".
    if (!added && added.error().domain == "mpd" && added.error().code == MPD_SERVER_ERROR_NO_EXIST)
        return musicError(
            MusicErrors::notOnServer,
            "The music server at " + s.server() + " does not have the song " + shortForMessage(song.id) + ".",
            added.error().debugDescription);
    return added;
}

Status MpdMusicClient::play() {
    Session s(*this, "play");
    if (auto opened = s.open(); !opened) return opened;
    mpd_status* status = mpd_run_status(s.get());
    if (!status) return s.failure();
    bool paused = mpd_status_get_state(status) == MPD_STATE_PAUSE;
    mpd_status_free(status);
    bool ok = paused ? mpd_run_pause(s.get(), false) : mpd_run_play(s.get());
    if (!ok) return s.failure();
    return {};
}

Status MpdMusicClient::pause() {
    Session s(*this, "pause");
    if (auto opened = s.open(); !opened) return opened;
    if (!mpd_run_pause(s.get(), true)) return s.failure();
    return {};
}

Status MpdMusicClient::stop() {
    Session s(*this, "stop");
    if (auto opened = s.open(); !opened) return opened;
    if (!mpd_run_stop(s.get())) return s.failure();
    return {};
}

Status MpdMusicClient::setPlaybackTime(double seconds) {
    Session s(*this, "seekcur");
    if (auto opened = s.open(); !opened) return opened;
    if (!mpd_run_seek_current(s.get(), static_cast<float>(seconds), false)) return s.failure();
    return {};
}

Result<PlayerState> MpdMusicClient::playerState() {
    Session s(*this, "status");
    if (auto opened = s.open(); !opened) return opened.error();
    mpd_status* status = mpd_run_status(s.get());
    if (!status) return s.failure();
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
