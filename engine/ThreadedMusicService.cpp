#include "engine/ThreadedMusicService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QRunnable>

#include "core/Logging.h"
#include "core/MainThread.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

// Runs `step` later on the main thread; never once the application has gone (a call left behind at
// shut-down may end after it). Any thread.
template <typename F>
void onMain(F&& step) {
    if (QCoreApplication* app = QCoreApplication::instance()) MainThread::post(app, std::forward<F>(step));
}

// Hands `value` to `done` on the main thread, unless `context` has gone by then. Any thread; the pointer
// is only read on the main thread.
template <typename T>
void deliver(QPointer<QObject> context, std::function<void(T)> done, T value) {
    onMain([context, done = std::move(done), value = std::move(value)]() {
        if (context) done(value);
    });
}

}  // namespace

// Callers waiting for the read under way; shared with the worker so that it outlives the service.
struct ThreadedMusicService::StateReads {
    std::vector<std::pair<QPointer<QObject>, Completion<Result<PlayerState>>>> waiting;
};

ThreadedMusicService::ThreadedMusicService(std::shared_ptr<MusicClient> client, QObject* parent)
    : QObject(parent),
      client_(std::move(client)),
      requests_(std::make_unique<QThreadPool>()),
      player_(std::make_unique<QThreadPool>()),
      stateReads_(std::make_shared<StateReads>()) {
    requests_->setMaxThreadCount(4);
    player_->setMaxThreadCount(1);  // one worker: player calls keep their order
}

ThreadedMusicService::~ThreadedMusicService() {
    requests_->clear();
    player_->clear();
    client_->abandon();
    const QDeadlineTimer deadline(1000);
    const bool ended = requests_->waitForDone(static_cast<int>(deadline.remainingTime())) &&
                       player_->waitForDone(static_cast<int>(deadline.remainingTime()));
    if (!ended) {
        // Stuck where nothing can wake it (a host name lookup). Its runnable holds the client it needs,
        // so the pools are let go rather than waited for; what the call ends with is dropped.
        qCWarning(logMusic) << "A music call on" << client_->serverName().c_str()
                            << "did not end at shut-down; leaving it behind.";
        (void)requests_.release();
        (void)player_.release();
    }
}

template <typename T, typename Call>
void ThreadedMusicService::run(QThreadPool& pool, QObject* context, Call call, Completion<T> done) {
    QPointer<QObject> guard(context);
    pool.start(QRunnable::create(
        [client = client_, guard, call = std::move(call), done = std::move(done)]() mutable {
            deliver<T>(guard, std::move(done), call(*client));
        }));
}

void ThreadedMusicService::requestAuthorization(QObject* context, Completion<MusicAuthorizationStatus> done) {
    run<MusicAuthorizationStatus>(
        *requests_, context, [](MusicClient& c) { return c.requestAuthorization(); }, std::move(done));
}

void ThreadedMusicService::currentSubscription(QObject* context, Completion<Result<MusicSubscription>> done) {
    run<Result<MusicSubscription>>(
        *requests_, context, [](MusicClient& c) { return c.currentSubscription(); }, std::move(done));
}

void ThreadedMusicService::libraryPlaylists(QObject* context, int limit,
                                            Completion<Result<PlaylistBatch>> done) {
    run<Result<PlaylistBatch>>(
        *requests_, context, [limit](MusicClient& c) { return c.libraryPlaylists(limit); }, std::move(done));
}

void ThreadedMusicService::nextPlaylistBatch(QObject* context, const PlaylistBatch& batch, int limit,
                                             Completion<Result<std::optional<PlaylistBatch>>> done) {
    run<Result<std::optional<PlaylistBatch>>>(
        *requests_, context, [batch, limit](MusicClient& c) { return c.nextPlaylistBatch(batch, limit); },
        std::move(done));
}

void ThreadedMusicService::playlistTracks(QObject* context, const Playlist& playlist,
                                          Completion<Result<std::optional<TrackBatch>>> done) {
    run<Result<std::optional<TrackBatch>>>(
        *requests_, context, [playlist](MusicClient& c) { return c.playlistTracks(playlist); },
        std::move(done));
}

void ThreadedMusicService::nextTrackBatch(QObject* context, const TrackBatch& batch,
                                          Completion<Result<std::optional<TrackBatch>>> done) {
    run<Result<std::optional<TrackBatch>>>(
        *requests_, context, [batch](MusicClient& c) { return c.nextTrackBatch(batch); }, std::move(done));
}

void ThreadedMusicService::searchCatalog(QObject* context, const std::string& term, int limit,
                                         Completion<Result<std::vector<Song>>> done) {
    run<Result<std::vector<Song>>>(
        *requests_, context, [term, limit](MusicClient& c) { return c.searchCatalog(term, limit); },
        std::move(done));
}

void ThreadedMusicService::librarySong(QObject* context, const MusicItemID& id,
                                       Completion<Result<std::optional<Song>>> done) {
    run<Result<std::optional<Song>>>(
        *requests_, context, [id](MusicClient& c) { return c.librarySong(id); }, std::move(done));
}

void ThreadedMusicService::catalogSong(QObject* context, const MusicItemID& id,
                                       Completion<Result<std::optional<Song>>> done) {
    run<Result<std::optional<Song>>>(
        *requests_, context, [id](MusicClient& c) { return c.catalogSong(id); }, std::move(done));
}

void ThreadedMusicService::playerCommand(std::function<void(MusicClient&)> call) {
    // Reads asked for from now on must see the command's effect: they get a read of their own, queued
    // behind it, instead of joining one that the server may already have answered.
    if (!stateReads_->waiting.empty()) stateReads_ = std::make_shared<StateReads>();
    player_->start(QRunnable::create([client = client_, call = std::move(call)]() { call(*client); }));
}

void ThreadedMusicService::setQueue(const Song& song) { queued_ = song; }

void ThreadedMusicService::prepareToPlay(QObject* context, Completion<Status> done) {
    std::optional<Song> song = queued_;
    QPointer<QObject> guard(context);
    playerCommand([song, guard, done = std::move(done)](MusicClient& c) {
        Status status =
            song ? c.prepareToPlay(*song)
                 : Status(Error{MusicErrors::domain, MusicErrors::noSongQueued, "No song is queued.", {}});
        deliver<Status>(guard, done, std::move(status));
    });
}

void ThreadedMusicService::play(QObject* context, Completion<Status> done) {
    QPointer<QObject> guard(context);
    playerCommand(
        [guard, done = std::move(done)](MusicClient& c) { deliver<Status>(guard, done, c.play()); });
}

void ThreadedMusicService::pause() {
    playerCommand([](MusicClient& c) { (void)c.pause(); });
}

void ThreadedMusicService::stop() {
    playerCommand([](MusicClient& c) { (void)c.stop(); });
}

void ThreadedMusicService::setPlaybackTime(double seconds) {
    playerCommand([seconds](MusicClient& c) { (void)c.setPlaybackTime(seconds); });
}

void ThreadedMusicService::playerState(QObject* context, Completion<Result<PlayerState>> done) {
    bool underWay = !stateReads_->waiting.empty();
    stateReads_->waiting.emplace_back(QPointer<QObject>(context), std::move(done));
    if (underWay) return;
    player_->start(QRunnable::create([client = client_, reads = stateReads_]() {
        Result<PlayerState> state = client->playerState();
        onMain([reads, state]() {
            auto waiting = std::move(reads->waiting);
            reads->waiting.clear();
            for (auto& [waiter, reply] : waiting)
                if (waiter) reply(state);
        });
    }));
}

std::string ThreadedMusicService::serverName() const { return client_->serverName(); }

MusicService& MusicService::shared() {
    static QPointer<ThreadedMusicService> instance;
    if (!instance) {
        auto client = std::make_shared<MpdMusicClient>(MpdMusicClient::fromEnvironment());
        instance = new ThreadedMusicService(std::move(client), QCoreApplication::instance());
    }
    return *instance;
}

}  // namespace quorvel
