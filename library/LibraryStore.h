#pragma once
// The reference player's library: the playlists, the current selection and the store's last message,
// kept in "playlists.json" in the storage folder together with the imported audio copies.
//
// Main thread only. The playlists file is read and written on the calling thread; imports copy their
// files on a worker thread of the store's own.
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

#include "library/ReferencePlaylist.h"
#include "library/SerialWorker.h"

namespace quorvel {

class LibraryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<ReferencePlaylist> playlists READ playlists WRITE setPlaylists NOTIFY playlistsChanged)
    Q_PROPERTY(int selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool importing READ importing)

public:
    // Fixes the storage folder (`storageRoot` unchanged when given, else StoreFiles::storageDirectory()),
    // creates it, and loads the playlists file. Never fails: a folder that cannot be created or a file
    // that cannot be read or decoded (for any reason, lack of memory included; a file over 64 MiB is
    // refused without being read) leaves "Library could not be loaded: …" in message(). An undecodable
    // file is first copied aside as "playlists.unreadable-<UTC stamp>.json" so that no save overwrites the
    // only copy. With no playlists loaded the list holds the unsaved playlist "My Quorvel".
    explicit LibraryStore(std::optional<QString> storageRoot = std::nullopt, QObject* parent = nullptr);
    // Stops an import at once: the copy being made is removed, and nothing of the import is saved.
    ~LibraryStore() override;

    // Never empty. Screens edit in place by passing the whole changed list to setPlaylists() and then
    // call save(); the store saves by itself only inside its own operations.
    const QList<ReferencePlaylist>& playlists() const { return playlists_; }
    void setPlaylists(const QList<ReferencePlaylist>& playlists);

    // Index of the current playlist, where imports go; always a valid index of playlists().
    int selected() const { return selected_; }
    void setSelected(int index);

    // The last result or failure text. The root view writes it when its file chooser fails.
    const QString& message() const { return message_; }
    void setMessage(const QString& message);

    // The storage folder (no trailing slash).
    const QString& root() const { return root_; }

    // Writes the whole list atomically. On failure sets message() to "Save failed: " + description and
    // returns false; the list in memory keeps its changes. Success leaves message() as it was.
    bool save();

    // Appends an empty playlist named `name` trimmed, selects it and saves. A blank name does nothing.
    void addPlaylist(const QString& name);

    // Appends a finished playlist of music tracks (a blank name becomes "Music server playlist", reported
    // as "music server playlist"), selects it and saves. Saved: message "Imported <name> · <n> track(s)",
    // true. Not saved: the playlist and the selection are taken back, message() holds the save failure,
    // false.
    bool importMusicPlaylist(const QString& name, const QList<ReferenceTrack>& tracks);

    // Imports local files, given as paths in the chooser's order, into the playlist selected now, and
    // returns at once: the files are checked to be readable audio and copied into root() under a fresh
    // "<UUID>.<extension>" on the store's worker, while message() shows "Importing <i> of <n>: <file
    // name>…". Files ending in .m3u or .m3u8 (any case) are read and their local entries imported the
    // same way. Only regular files are opened, and only audio the player can play is taken (a file of
    // more channels than two is refused with the player's message). When every file is done, the tracks
    // are appended, the library is saved once, and message() becomes "Import complete" or the issues,
    // one per line; when the save fails, the save's failure followed by the issues. An import asked for
    // while one runs follows it.
    void importFiles(const QStringList& paths);
    // From importFiles() until its tracks are in the list and saved.
    bool importing() const { return importsUnderWay_ > 0; }

signals:
    void playlistsChanged();
    void selectedChanged();
    void messageChanged();

private:
    struct ImportResult;

    void load();
    QString playlistsPath() const { return root_ + QStringLiteral("/playlists.json"); }
    void appendPlaylist(ReferencePlaylist playlist);
    // Worker thread: the copies of one import, then its result handed to the main thread.
    void runImport(const QStringList& paths, const Uuid& playlist);
    void finishImport(const ImportResult& result);

    QString root_;
    QList<ReferencePlaylist> playlists_;
    int selected_ = 0;
    QString message_;
    // An unloadable playlists file that could not be copied aside yet; saves retry the copy and refuse
    // to replace the file until it succeeds.
    bool unreadableNotKept_ = false;
    int importsUnderWay_ = 0;
    // Set once, when the store goes; read by the copies between blocks.
    std::atomic<bool> quitting_{false};
    SerialWorker importer_;
};

}  // namespace quorvel
