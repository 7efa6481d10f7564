#include "library/LibraryStore.h"

#include <QFileInfo>

#include "core/Logging.h"
#include "core/Published.h"
#include "library/StoreFiles.h"

namespace quorvel {

namespace {

const QString loadFailed = QStringLiteral("Library could not be loaded: ");
const QString saveFailed = QStringLiteral("Save failed: ");
constexpr qsizetype maxFileBytes = qsizetype{64} << 20;
// The playlists file, the unreadable copies kept beside it and the imported audio copies, whose
// temporaries a dead process may have left.
const QString fileNames = QStringLiteral(
    "playlists\\.json|playlists\\.unreadable-[0-9-]+\\.json|"
    "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.[^.]*");

// The last playlist that holds a track, so that a restart shows the music that was set up last.
int lastFilled(const QList<ReferencePlaylist>& playlists) {
    for (qsizetype i = playlists.size() - 1; i >= 0; --i)
        if (!playlists[i].tracks.isEmpty()) return int(i);
    return 0;
}

}  // namespace

LibraryStore::~LibraryStore() {
    quitting_.store(true, std::memory_order_relaxed);
    importer_.waitIdle();
}

LibraryStore::LibraryStore(std::optional<QString> storageRoot, QObject* parent)
    : QObject(parent), root_(storageRoot ? *storageRoot : StoreFiles::storageDirectory()) {
    load();
    if (!message_.isEmpty()) qCWarning(logStore) << message_;
    if (playlists_.isEmpty()) playlists_.push_back(ReferencePlaylist{.name = QStringLiteral("My Quorvel")});
    selected_ = lastFilled(playlists_);
}

void LibraryStore::load() {
    QString error;
    if (!StoreFiles::ensureDirectory(root_, &error)) {
        message_ = loadFailed + error;
        return;
    }
    StoreFiles::removeLeftovers(root_, fileNames);
    const QString path = playlistsPath();
    if (!QFileInfo::exists(path)) return;

    // A library is kilobytes: a file far larger is no library, and reading it whole would hold up the
    // window and take memory for nothing.
    auto bytes = StoreFiles::readWhole(path, maxFileBytes);
    if (!bytes) {
        message_ = loadFailed + QString::fromStdString(bytes.error().description);
    } else {
        auto decoded = ReferencePlaylist::decodeList(*bytes);
        if (decoded) {
            playlists_ = std::move(*decoded);
            return;
        }
        message_ = loadFailed + QString::fromStdString(decoded.error().description);
    }
    // The store now runs on its defaults and its next save would replace the file that held the user's
    // playlists: keep that file aside first.
    unreadableNotKept_ = !StoreFiles::keepUnreadable(path).ok();
}

void LibraryStore::setPlaylists(const QList<ReferencePlaylist>& playlists) {
    Q_ASSERT(!playlists.isEmpty());
    if (playlists.isEmpty()) return;
    publish(this, playlists_, playlists, &LibraryStore::playlistsChanged);
    if (selected_ >= playlists_.size()) setSelected(int(playlists_.size()) - 1);
}

void LibraryStore::setSelected(int index) {
    Q_ASSERT(index >= 0 && index < playlists_.size());
    if (index < 0 || index >= playlists_.size()) return;
    publish(this, selected_, index, &LibraryStore::selectedChanged);
}

void LibraryStore::setMessage(const QString& message) {
    publish(this, message_, message, &LibraryStore::messageChanged);
}

bool LibraryStore::save() {
    const QString path = playlistsPath();
    if (unreadableNotKept_) {
        unreadableNotKept_ = !StoreFiles::keepUnreadable(path).ok();
        if (unreadableNotKept_) {
            setMessage(
                saveFailed +
                QStringLiteral("the playlists file that could not be loaded could not be kept aside."));
            return false;
        }
    }
    auto bytes = ReferencePlaylist::encodeList(playlists_);
    QString error;
    if (!bytes)
        error = QString::fromStdString(bytes.error().description);
    else if (StoreFiles::writeAtomically(path, *bytes, &error))
        return true;
    qCWarning(logStore) << "playlists could not be saved:" << error;
    setMessage(saveFailed + error);
    return false;
}

void LibraryStore::appendPlaylist(ReferencePlaylist playlist) {
    playlists_.push_back(std::move(playlist));
    emit playlistsChanged();
    setSelected(int(playlists_.size()) - 1);
}

void LibraryStore::addPlaylist(const QString& name) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) return;
    appendPlaylist(ReferencePlaylist{.name = trimmed});
    (void)save();  // a failure shows in message() and the playlist stays in memory
}

bool LibraryStore::importMusicPlaylist(const QString& name, const QList<ReferenceTrack>& tracks) {
    QString trimmed = name.trimmed();
    const bool unnamed = trimmed.isEmpty();
    if (unnamed) trimmed = QStringLiteral("Music server playlist");
    const int previous = selected_;
    appendPlaylist(ReferencePlaylist{.name = trimmed, .tracks = tracks});
    if (!save()) {
        setSelected(previous);
        playlists_.removeLast();
        emit playlistsChanged();
        return false;
    }
    const auto count = tracks.size();
    setMessage(QStringLiteral("Imported ") + (unnamed ? QStringLiteral("music server playlist") : trimmed) +
               QStringLiteral(" \u00B7 ") + QString::number(count) +
               (count == 1 ? QStringLiteral(" track") : QStringLiteral(" tracks")));
    return true;
}

}  // namespace quorvel
