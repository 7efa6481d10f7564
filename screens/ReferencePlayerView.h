#pragma once
// The Player page: pick the current playlist, add music (the music server's sheet, the root view's file
// importer, or a new empty playlist), see the loaded track with its position slider, find tracks by name,
// play or pause them, reorder, remove and edit them, and choose how local files are processed before
// they play. It holds no audio or library logic of its own: it shows the store's and the player's
// published state, writes the player's processing settings, edits the selected playlist in place (then
// saves), and hands a track to be started to `onPlay`, the root view's play operation.
//
// The loaded track is always found by id (the player's selected track), never by row, so filtering,
// reordering or switching playlists never moves the highlight. Main thread only.
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

#include "kit/QVBinding.h"
#include "kit/QVPage.h"
#include "library/ReferenceTrack.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QToolButton;

namespace quorvel {

class MusicBrowser;
class AudioController;
class Disclosure;
class LibraryStore;
class MusicLibraryView;
class QVBadge;
class QVCard;
class QVNumber;
class RowList;
class SearchBar;
class TrackSettingsEditor;
struct FileProcessSettings;
struct ReferencePlaylist;

class ReferencePlayerView : public QVPage {
    Q_OBJECT
public:
    using PlayTrack = std::function<void(const ReferenceTrack&)>;

    // The three objects must outlive the page. `importing` set to true asks the root view for its file
    // importer; `onPlay` starts a track.
    ReferencePlayerView(LibraryStore& library, AudioController& audio, MusicBrowser& music,
                        QVBinding<bool> importing, PlayTrack onPlay, QWidget* parent = nullptr);
    ~ReferencePlayerView() override;

    // The current playlist's tracks that pass the filter, in playlist order.
    const std::vector<ReferenceTrack>& shownTracks() const { return shown_; }
    void setQuery(const QString& query);

    // The actions of a row, as its controls run them.
    void pressPlay(const ReferenceTrack& track);
    void move(const ReferenceTrack& track, int delta);
    void remove(const ReferenceTrack& track);
    // The row's menu: "Cue, loop & trim" (local tracks only), "Move up", "Move down", "Remove track".
    QMenu* rowMenu(const ReferenceTrack& track);
    // The play button's accessible label: "Play " or "Pause " and the track's song title.
    QString playLabel(const ReferenceTrack& track) const;
    bool isCurrent(const ReferenceTrack& track) const;

    // Sheets and the new-playlist alert; each is built afresh when shown and gone once closed.
    void showMusic();
    void editTrack(const ReferenceTrack& track);
    void showNewPlaylist();
    MusicLibraryView* musicSheet() const;
    TrackSettingsEditor* editor() const;
    QDialog* newPlaylistAlert() const;

    QComboBox* playlistPicker() const { return picker_; }
    QToolButton* addButton() const { return addButton_; }
    QLabel* messageLine() const { return message_; }
    QVCard* nowPlaying() const { return nowPlaying_; }
    QVBadge* sourceBadge() const { return sourceBadge_; }
    QLabel* statusLine() const { return status_; }
    QSlider* positionSlider() const { return position_; }
    QLabel* currentTimeLabel() const { return currentTime_; }
    QLabel* durationLabel() const { return duration_; }
    QVCard* emptyState() const { return emptyCard_; }
    SearchBar* searchBar() const { return searchBar_; }
    QLabel* countLabel() const { return count_; }
    RowList* rows() const { return rows_; }
    QToolButton* optionsToggle() const;
    QComboBox* channelsPicker() const { return channels_; }
    QCheckBox* matchLevelsToggle() const { return matchRMS_; }
    QCheckBox* filterToggle() const { return filtered_; }
    QVNumber* highPassField() const { return hp_; }
    QVNumber* lowPassField() const { return lp_; }

    // Slider steps per second of the position slider.
    static constexpr int kPositionSteps = 1000;

private:
    QWidget* buildHeader();
    QVCard* buildNowPlaying();
    QVCard* buildEmptyState();
    QVCard* buildOptions();

    const ReferencePlaylist* currentPlaylist() const;
    void syncPlaylists();
    void syncTracks();
    void syncNowPlaying();
    void syncProcessing();
    void editProcessing(const std::function<void(FileProcessSettings&)>& edit);
    void seekTo(int steps);
    void rowClicked(int row, QPoint at);
    void paintRow(class QPainter& painter, const QRect& rect, int row) const;

    LibraryStore& library_;
    AudioController& audio_;
    MusicBrowser& music_;
    QVBinding<bool> importing_;
    PlayTrack onPlay_;

    QString query_;
    QString playlistName_;
    std::vector<ReferenceTrack> shown_;
    QPointer<MusicLibraryView> musicSheet_;
    QPointer<TrackSettingsEditor> editor_;
    QPointer<QDialog> newPlaylistAlert_;

    QComboBox* picker_ = nullptr;
    QToolButton* addButton_ = nullptr;
    QLabel* message_ = nullptr;
    QVCard* nowPlaying_ = nullptr;
    QVBadge* sourceBadge_ = nullptr;
    QLabel* status_ = nullptr;
    QSlider* position_ = nullptr;
    QLabel* currentTime_ = nullptr;
    QLabel* duration_ = nullptr;
    QVCard* emptyCard_ = nullptr;
    SearchBar* searchBar_ = nullptr;
    QLabel* count_ = nullptr;
    RowList* rows_ = nullptr;
    Disclosure* options_ = nullptr;
    QWidget* optionsBody_ = nullptr;
    QComboBox* channels_ = nullptr;
    QCheckBox* matchRMS_ = nullptr;
    QCheckBox* filtered_ = nullptr;
    QVNumber* hp_ = nullptr;
    QVNumber* lp_ = nullptr;
};

}  // namespace quorvel
