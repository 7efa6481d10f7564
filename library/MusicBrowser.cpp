#include "library/MusicBrowser.h"

#include <QPointer>
#include <algorithm>

#include "core/Published.h"
#include "dsp/QuorvelError.h"
#include "library/LibraryStore.h"

namespace quorvel {

namespace {

constexpr int playlistBatchLimit = 100;
constexpr int searchLimit = 25;

QString text(const std::string& s) { return QString::fromStdString(s); }

// One run of digits or of other characters, starting at `from`.
QStringView chunkAt(const QString& s, qsizetype from) {
    const bool digits = s[from].isDigit();
    qsizetype end = from;
    while (end < s.size() && s[end].isDigit() == digits) ++end;
    return QStringView(s).mid(from, end - from);
}

// Runs of digits by their value: without leading zeros, the longer run is the larger number.
int compareNumbers(QStringView a, QStringView b) {
    auto significant = [](QStringView run) {
        qsizetype zeros = 0;
        while (zeros < run.size() - 1 && run[zeros].digitValue() == 0) ++zeros;
        return run.mid(zeros);
    };
    QStringView x = significant(a), y = significant(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    for (qsizetype i = 0; i < x.size(); ++i)
        if (x[i].digitValue() != y[i].digitValue()) return x[i].digitValue() < y[i].digitValue() ? -1 : 1;
    return 0;
}

// Finder-like name order: letter case is ignored, text compares in the user's locale, and runs of digits
// compare by their value, so "mix 2" goes before "Mix 10".
int standardCompare(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        QStringView x = chunkAt(a, i), y = chunkAt(b, j);
        int order =
            x[0].isDigit() && y[0].isDigit()
                ? compareNumbers(x, y)
                : QString::localeAwareCompare(x.toString().toCaseFolded(), y.toString().toCaseFolded());
        if (order != 0) return order;
        i += x.size();
        j += y.size();
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

void sortByName(std::vector<Playlist>& playlists) {
    std::vector<std::pair<QString, Playlist>> keyed;
    keyed.reserve(playlists.size());
    for (auto& p : playlists) keyed.emplace_back(text(p.name), std::move(p));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return standardCompare(a.first, b.first) < 0; });
    for (std::size_t i = 0; i < keyed.size(); ++i) playlists[i] = std::move(keyed[i].second);
}

void finish(const std::function<void()>& done) {
    if (done) done();
}

// Why the server gave no access, naming it as "host:port".
QString refusal(MusicAuthorizationStatus status, const QString& server) {
    switch (status) {
        case MusicAuthorizationStatus::passwordRefused:
            return QStringLiteral("The music server at %1 refused the password.").arg(server);
        case MusicAuthorizationStatus::notAnswering:
            return QStringLiteral("The music server at %1 does not answer.").arg(server);
        case MusicAuthorizationStatus::authorized:
        case MusicAuthorizationStatus::unreachable:
            break;
    }
    return QStringLiteral("Can't reach the music server at %1. Start MPD, or set MPD_HOST and MPD_PORT.")
        .arg(server);
}

}  // namespace

MusicBrowser::MusicBrowser(QObject* parent) : MusicBrowser(MusicService::shared(), parent) {}

MusicBrowser::MusicBrowser(MusicService& service, QObject* parent)
    : QObject(parent),
      service_(service),
      message_(QStringLiteral("Connect to browse the music server's playlists or search its songs.")) {}

void MusicBrowser::connect(Done done) {
    if (isLoading_ || importingPlaylistID_) return finish(done);
    setIsLoading(true);
    setMessage(QStringLiteral("Loading the music server's playlists…"));
    service_.requestAuthorization(this, [this, done](MusicAuthorizationStatus status) {
        noteAccess(status);
        if (status != MusicAuthorizationStatus::authorized) {
            setMessage(refusal(status, text(service_.serverName())));
            setIsLoading(false);
            return finish(done);
        }
        service_.libraryPlaylists(this, playlistBatchLimit, [this, done](Result<PlaylistBatch> first) {
            if (!first) return loadFailed(first.error(), done);
            auto working = std::make_shared<std::vector<Playlist>>(first->items);
            loadBatchesAfter(std::move(working), std::move(first.value()), done);
        });
    });
}

void MusicBrowser::loadBatchesAfter(std::shared_ptr<std::vector<Playlist>> working, PlaylistBatch batch,
                                    Done done) {
    if (!batch.hasNextBatch()) return publishPlaylists(std::move(*working), done);
    service_.nextPlaylistBatch(
        this, batch, playlistBatchLimit, [this, working, done](Result<std::optional<PlaylistBatch>> next) {
            if (!next) return loadFailed(next.error(), done);
            if (!next->has_value()) return publishPlaylists(std::move(*working), done);
            PlaylistBatch following = std::move(**next);
            working->insert(working->end(), following.items.begin(), following.items.end());
            loadBatchesAfter(working, std::move(following), done);
        });
}

void MusicBrowser::publishPlaylists(std::vector<Playlist> playlists, Done done) {
    sortByName(playlists);
    const std::size_t count = playlists.size();
    setPlaylists(std::move(playlists));
    setConnected(true);
    if (count == 0)
        setMessage(QStringLiteral(
            "Connected. No playlists are available in this device's Music library. Add or sync a playlist in "
            "Music, then tap Refresh playlists."));
    else
        setMessage(
            QStringLiteral("Connected · %1 playlists. Choose Import to add one to Quorvel.").arg(count));
    setIsLoading(false);
    finish(done);
}

void MusicBrowser::loadFailed(const Error& error, Done done) {
    // The batches gathered so far are dropped; the last good list stays.
    setMessage(QStringLiteral("Could not load playlists: ") + text(error.description));
    setIsLoading(false);
    finish(done);
}

bool MusicBrowser::claimSearch(unsigned serial) {
    if (serial <= newestSearchPublished_) return false;
    newestSearchPublished_ = serial;
    return true;
}

void MusicBrowser::search(const QString& term, Done done) {
    const unsigned serial = ++searchesStarted_;
    const std::string query = term.toStdString();
    service_.requestAuthorization(this, [this, serial, query, done](MusicAuthorizationStatus status) {
        noteAccess(status);
        if (status != MusicAuthorizationStatus::authorized) {
            if (claimSearch(serial)) setMessage(QStringLiteral("Music access required"));
            return finish(done);
        }
        service_.searchCatalog(this, query, searchLimit,
                               [this, serial, done](Result<std::vector<Song>> found) {
                                   if (claimSearch(serial)) {
                                       if (found)
                                           setSongs(std::move(found.value()));
                                       else
                                           setMessage(text(found.error().description));
                                   }
                                   finish(done);
                               });
    });
}

void MusicBrowser::importPlaylist(const Playlist& playlist, LibraryStore& store,
                                  std::function<void(bool)> done) {
    auto report = [done](bool imported) {
        if (done) done(imported);
    };
    if (importingPlaylistID_ || isLoading_) return report(false);
    const QString name = text(playlist.name);
    setImportingPlaylistID(playlist.id);
    setMessage(QStringLiteral("Importing ") + name + QStringLiteral("…"));
    QPointer<LibraryStore> target(&store);
    tracks(playlist, [this, name, target, report](Result<QList<ReferenceTrack>> found) {
        if (!found) {
            setMessage(QStringLiteral("Could not import ") + name + QStringLiteral(": ") +
                       text(found.error().description));
            setImportingPlaylistID(std::nullopt);
            return report(false);
        }
        bool imported = false;
        if (target) {
            imported = target->importMusicPlaylist(name, *found);
            setMessage(target->message());
        }
        setImportingPlaylistID(std::nullopt);
        report(imported);
    });
}

void MusicBrowser::tracks(const Playlist& playlist, TracksDone done) {
    service_.playlistTracks(this, playlist, [this, done](Result<std::optional<TrackBatch>> first) {
        if (!first) return done(first.error());
        if (!first->has_value())
            return done(QuorvelError::make(20,
                                           "The music server did not return tracks for this playlist. "
                                           "Refresh playlists and try again."));
        walkTracks(std::make_shared<QList<ReferenceTrack>>(), std::move(**first), done);
    });
}

void MusicBrowser::walkTracks(std::shared_ptr<QList<ReferenceTrack>> gathered, TrackBatch batch,
                              TracksDone done) {
    for (const auto& entry : batch.items)
        if (entry.song) gathered->append(trackFor(*entry.song));
    if (!batch.hasNextBatch()) return done(*gathered);
    service_.nextTrackBatch(this, batch, [this, gathered, done](Result<std::optional<TrackBatch>> next) {
        if (!next) return done(next.error());
        if (!next->has_value()) return done(*gathered);
        walkTracks(gathered, std::move(**next), done);
    });
}

ReferenceTrack MusicBrowser::trackFor(const Song& song) {
    ReferenceTrack track;
    track.title = text(song.title) + ReferenceTrack::titleSeparator + text(song.artistName);
    track.musicID = text(song.id);
    track.libraryMusic = true;
    if (auto payload = SongCoding::encode(song)) track.musicPayload = QByteArray::fromStdString(*payload);
    return track;
}

void MusicBrowser::noteAccess(MusicAuthorizationStatus status) {
    // A server that refused the password or did not answer was reached, yet gives nothing to browse.
    const bool reached = status == MusicAuthorizationStatus::authorized;
    publish(this, server_, reached ? text(service_.serverName()) : QString(), &MusicBrowser::serverChanged);
}

void MusicBrowser::setMessage(const QString& message) {
    publish(this, message_, message, &MusicBrowser::messageChanged);
}

void MusicBrowser::setSongs(std::vector<Song> songs) {
    publish(this, songs_, std::move(songs), &MusicBrowser::songsChanged);
}

void MusicBrowser::setPlaylists(std::vector<Playlist> playlists) {
    publish(this, playlists_, std::move(playlists), &MusicBrowser::playlistsChanged);
}

void MusicBrowser::setConnected(bool connected) {
    publish(this, connected_, connected, &MusicBrowser::connectedChanged);
}

void MusicBrowser::setIsLoading(bool loading) {
    publish(this, isLoading_, loading, &MusicBrowser::isLoadingChanged);
}

void MusicBrowser::setImportingPlaylistID(std::optional<MusicItemID> id) {
    publish(this, importingPlaylistID_, std::move(id), &MusicBrowser::importingPlaylistIDChanged);
}

}  // namespace quorvel
