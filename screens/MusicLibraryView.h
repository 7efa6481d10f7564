#pragma once
// The music sheet: "My playlists" lists the stored playlists of the music server, filtered as the user
// types, and imports one as a new reference playlist; "Find songs" searches the server's songs and adds
// single songs to the selected reference playlist. All music work is the browser's; the sheet only
// shows its state, calls it, and makes the one library change of adding a song. Main thread only.
#include <QString>
#include <vector>

#include "platform/MusicItems.h"
#include "screens/Sheet.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace quorvel {

class MusicBrowser;
class LibraryStore;
class QVEmpty;
class RowList;
class SegmentedPicker;

class MusicLibraryView : public Sheet {
    Q_OBJECT
public:
    // The two modes, in the order of the mode picker's segments.
    enum class Source { playlists, songs };
    static constexpr Source kPlaylists = Source::playlists;
    static constexpr Source kSongs = Source::songs;

    // Both objects must outlive the sheet.
    MusicLibraryView(MusicBrowser& music, LibraryStore& library, QWidget* parent = nullptr);

    Source source() const { return source_; }
    void setSource(Source source);

    // The playlists shown in "Playlists" mode, in the browser's order, after the filter.
    const std::vector<Playlist>& shownPlaylists() const { return shown_; }
    // Whether the playlist rows take presses (not while an import runs).
    bool playlistRowsEnabled() const;

    // The actions, as the controls run them.
    void submit();
    void refreshPlaylists();
    void importPlaylist(const Playlist& playlist);
    void addSong(const Song& song);

    SegmentedPicker* modePicker() const { return modes_; }
    QLineEdit* queryField() const { return query_; }
    QPushButton* searchButton() const { return search_; }
    QToolButton* refreshButton() const { return refresh_; }
    QWidget* progress() const { return progress_; }
    QLabel* progressLabel() const { return progressLabel_; }
    QLabel* messageLine() const { return message_; }
    // Names the server the browser reached; hidden (its space kept) while there is none.
    QLabel* serverLine() const { return server_; }
    QVEmpty* emptyState() const { return empty_; }
    RowList* playlistRows() const { return playlistRows_; }
    RowList* songRows() const { return songRows_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void sync();
    void paintPlaylist(QPainter& painter, const QRect& rect, int row) const;
    void paintSong(QPainter& painter, const QRect& rect, int row) const;
    static QRect addButtonRect(const QRect& row);

    MusicBrowser& music_;
    LibraryStore& library_;
    Source source_ = kPlaylists;
    std::vector<Playlist> shown_;
    bool appeared_ = false;

    SegmentedPicker* modes_ = nullptr;
    QLineEdit* query_ = nullptr;
    QPushButton* search_ = nullptr;
    QToolButton* refresh_ = nullptr;
    QWidget* progress_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* server_ = nullptr;
    QVEmpty* empty_ = nullptr;
    RowList* playlistRows_ = nullptr;
    RowList* songRows_ = nullptr;
};

}  // namespace quorvel
