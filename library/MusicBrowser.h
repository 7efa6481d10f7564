#pragma once
// The model behind the music sheet: connects to the music server, loads every stored playlist (all
// batches, sorted by name), searches the server's database for songs, and imports one playlist into the
// library store. Persists nothing. Main thread only.
//
// The operations are asynchronous: each returns at once and its optional `done` runs on the main thread
// when it has ended, by whatever path (also at once when a guard refuses the call).
//
// Published state: Q_PROPERTYs written through publish() (core/Published.h); each change signal is
// emitted only when the value really changes.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/MusicService.h"
#include "library/ReferenceTrack.h"

namespace quorvel {

class LibraryStore;

class MusicBrowser : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<Song> songs READ songs NOTIFY songsChanged)
    Q_PROPERTY(std::vector<Playlist> playlists READ playlists NOTIFY playlistsChanged)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY connectedChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<MusicItemID> importingPlaylistID READ importingPlaylistID NOTIFY
                   importingPlaylistIDChanged)
    Q_PROPERTY(QString server READ server NOTIFY serverChanged)

public:
    // On the shared music service.
    explicit MusicBrowser(QObject* parent = nullptr);
    // On `service`, which must outlive the browser.
    explicit MusicBrowser(MusicService& service, QObject* parent = nullptr);

    // Songs of the last search that was published, in the server's order (at most 25).
    const std::vector<Song>& songs() const { return songs_; }
    // The server's stored playlists of the last successful load, sorted by name.
    const std::vector<Playlist>& playlists() const { return playlists_; }
    // The sheet's status line. The sheet also writes it after adding a searched song to a playlist.
    const QString& message() const { return message_; }
    void setMessage(const QString& message);
    // True from the first successful load on; never false again.
    bool connected() const { return connected_; }
    // True while connect() runs past its guard.
    bool isLoading() const { return isLoading_; }
    // The id of the playlist being imported; absent otherwise.
    const std::optional<MusicItemID>& importingPlaylistID() const { return importingPlaylistID_; }
    // The music server that gave the last connect() or search() access ("localhost:6600"); empty before
    // the first, and when the last one reached none or was refused.
    const QString& server() const { return server_; }

    // Loads or reloads the playlists. Does nothing while loading or importing. When the server cannot be
    // reached, refuses the password or does not answer, message() says so with its address.
    void connect(std::function<void()> done = {});
    // Replaces songs() with the server's songs for `term`, sent unchanged (also when empty). Searches may
    // overlap; one that ends after a newer search has published is dropped.
    void search(const QString& term, std::function<void()> done = {});

    // Imports `playlist` (one of playlists()) into `store` as a new playlist of music tracks and hands
    // `done` the store's result: true once the new playlist is saved. Refused (false, nothing changed)
    // while an import or a load runs. Progress and outcome go to message(). `store` must outlive the
    // import.
    void importPlaylist(const Playlist& playlist, LibraryStore& store, std::function<void(bool)> done = {});
    // The track for one song: title "<title> — <artist>", the song's id, a library song, the song's
    // coding as payload (absent when it cannot be encoded), no trim, cue points or loop.
    static ReferenceTrack trackFor(const Song& song);

signals:
    void songsChanged();
    void playlistsChanged();
    void messageChanged();
    void connectedChanged();
    void isLoadingChanged();
    void importingPlaylistIDChanged();
    void serverChanged();

private:
    using Done = std::function<void()>;

    void loadBatchesAfter(std::shared_ptr<std::vector<Playlist>> working, PlaylistBatch batch, Done done);
    void publishPlaylists(std::vector<Playlist> playlists, Done done);
    void loadFailed(const Error& error, Done done);
    using TracksDone = std::function<void(Result<QList<ReferenceTrack>>)>;
    // The playlist's songs as reference tracks, in playlist order; entries that are not songs are
    // skipped. Fails with the server's error, or with code 20 of the domain "Quorvel" when the server
    // gives no entry collection for the playlist.
    void tracks(const Playlist& playlist, TracksDone done);
    void walkTracks(std::shared_ptr<QList<ReferenceTrack>> gathered, TrackBatch batch, TracksDone done);
    // Whether search number `serial` may still publish; if so, it becomes the newest published.
    bool claimSearch(unsigned serial);

    void setSongs(std::vector<Song> songs);
    void setPlaylists(std::vector<Playlist> playlists);
    void setConnected(bool connected);
    void setIsLoading(bool loading);
    void setImportingPlaylistID(std::optional<MusicItemID> id);
    // Notes the server an access request reached (or none), as its status tells.
    void noteAccess(MusicAuthorizationStatus status);

    MusicService& service_;
    std::vector<Song> songs_;
    std::vector<Playlist> playlists_;
    QString message_;
    bool connected_ = false;
    bool isLoading_ = false;
    std::optional<MusicItemID> importingPlaylistID_;
    QString server_;
    unsigned searchesStarted_ = 0;
    unsigned newestSearchPublished_ = 0;
};

}  // namespace quorvel
