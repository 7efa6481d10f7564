#include "screens/MusicLibraryView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "kit/QVEmpty.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVMessageLine.h"
#include "kit/QVPage.h"
#include "kit/QVStyle.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/PlaylistEdits.h"
#include "screens/RowList.h"
#include "screens/ScreenControls.h"
#include "screens/SearchBar.h"

namespace quorvel {

namespace {

constexpr int kPlaylistRowHeight = 68;  // 44 px icon frame, 12 px inset above and below
constexpr int kSongRowHeight = 66;      // two lines, 14 px inset
constexpr int kIconPixels = 22;

using RowPaint::fillRounded;

QString text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MusicLibraryView::MusicLibraryView(MusicBrowser& music, LibraryStore& library, QWidget* parent)
    : Sheet(new QVPage(QStringLiteral("Music server")), QSize(580, 600), parent),
      music_(music),
      library_(library) {
    setWindowTitle(QStringLiteral("Music server"));
    addConfirm(QStringLiteral("Done"));

    modes_ = new SegmentedPicker(QStringLiteral("Browse"),
                                 {QStringLiteral("My playlists"), QStringLiteral("Find songs")});
    modes_->setIndex(int(source_));
    connect(modes_, &SegmentedPicker::chosen, this,
            [this](int index) { setSource(static_cast<Source>(index)); });
    page()->add(modes_);

    // Search row; its trailing item follows the mode.
    search_ = new QPushButton(qvLiteral(QStringLiteral("Search")));
    search_->setAutoDefault(false);
    refresh_ = QVIcons::button(QStringLiteral("arrow.clockwise"), 18, QVStyle::accent(),
                               QStringLiteral("Refresh playlists"));
    auto* searchBar = new SearchBar(QString());
    searchBar->addTrailing(search_);
    searchBar->addTrailing(refresh_);
    query_ = searchBar->field();
    connect(query_, &QLineEdit::textChanged, this, &MusicLibraryView::sync);
    connect(query_, &QLineEdit::returnPressed, this, &MusicLibraryView::submit);
    connect(search_, &QPushButton::clicked, this, &MusicLibraryView::submit);
    connect(refresh_, &QToolButton::clicked, this, &MusicLibraryView::refreshPlaylists);
    page()->add(searchBar);

    progress_ = new QWidget;
    auto* progressRow = new QHBoxLayout(progress_);
    progressRow->setContentsMargins(0, 0, 0, 0);
    progressLabel_ = new QLabel;
    QVStyle::setText(progressLabel_, QVText::Caption, QVStyle::secondary());
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);  // indeterminate
    bar->setTextVisible(false);
    bar->setMaximumHeight(6);
    progressRow->addWidget(progressLabel_);
    progressRow->addWidget(bar, 1);
    page()->add(progress_);

    message_ = new QLabel;
    message_->setWordWrap(true);
    QVStyle::setText(message_, QVText::Caption, QVStyle::secondary());
    message_->setMaximumHeight(QFontMetrics(message_->font()).lineSpacing() * 3);
    message_->setMinimumHeight(QFontMetrics(message_->font()).lineSpacing());
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page()->add(message_);

    // Which server the playlists and songs come from: MPD may be found on the system's socket or on
    // localhost, and a song added from one is not on the other.
    server_ = new QVMessageLine(1, QVMessageLine::Space::kept);
    QVStyle::setText(server_, QVText::Caption, QVStyle::secondary());
    page()->add(server_);

    empty_ = new QVEmpty(QStringLiteral("music.note.list"), QStringLiteral("No playlists yet"),
                         QStringLiteral("Sync a playlist in Music, then refresh."));
    page()->add(empty_);

    playlistRows_ = new RowList(
        kPlaylistRowHeight, 8, [this](QPainter& p, const QRect& r, int row) { paintPlaylist(p, r, row); },
        [this](int row) { return text(shown_[std::size_t(row)].name); });
    const auto importRow = [this](int row) {
        if (playlistRowsEnabled() && row < int(shown_.size())) importPlaylist(shown_[std::size_t(row)]);
    };
    connect(playlistRows_, &RowList::rowClicked, this, importRow);
    connect(playlistRows_, &RowList::rowActivated, this, importRow);
    page()->add(playlistRows_);

    songRows_ = new RowList(
        kSongRowHeight, QVPage::kSpacing,
        [this](QPainter& p, const QRect& r, int row) { paintSong(p, r, row); },
        [this](int row) { return text(music_.songs()[std::size_t(row)].title); });
    connect(songRows_, &RowList::rowClicked, this, [this](int row, QPoint at) {
        const QRect local(QPoint(0, 0), songRows_->rowRect(row).size());
        if (row < int(music_.songs().size()) && addButtonRect(local).contains(at))
            addSong(music_.songs()[std::size_t(row)]);
    });
    connect(songRows_, &RowList::rowActivated, this, [this](int row) {
        if (row < int(music_.songs().size())) addSong(music_.songs()[std::size_t(row)]);
    });
    page()->add(songRows_);

    for (auto signal :
         {&MusicBrowser::songsChanged, &MusicBrowser::playlistsChanged, &MusicBrowser::messageChanged,
          &MusicBrowser::connectedChanged, &MusicBrowser::isLoadingChanged,
          &MusicBrowser::importingPlaylistIDChanged, &MusicBrowser::serverChanged})
        QObject::connect(&music_, signal, this, &MusicLibraryView::sync);
    sync();
}

void MusicLibraryView::setSource(Source source) {
    source_ = source;
    modes_->setIndex(int(source));
    sync();
}

bool MusicLibraryView::playlistRowsEnabled() const { return !music_.importingPlaylistID().has_value(); }

void MusicLibraryView::sync() {
    const bool playlists = source_ == kPlaylists;
    query_->setPlaceholderText(playlists ? QStringLiteral("Find a playlist")
                                         : QStringLiteral("Artist or song"));
    search_->setVisible(!playlists);
    refresh_->setVisible(playlists);
    refresh_->setEnabled(!music_.isLoading());

    const bool importing = music_.importingPlaylistID().has_value();
    progress_->setVisible(music_.isLoading() || importing);
    progressLabel_->setText(importing ? QStringLiteral("Importing playlist")
                                      : QStringLiteral("Loading playlists"));
    message_->setText(music_.message());
    server_->setVisible(!music_.server().isEmpty());
    server_->setText(
        music_.server().isEmpty()
            ? QString()
            : QStringLiteral("Playlists and songs from the music server at %1").arg(music_.server()));

    const QString query = query_->text();
    shown_.clear();
    for (const Playlist& p : music_.playlists())
        if (PlaylistEdits::titleMatches(text(p.name), query)) shown_.push_back(p);
    empty_->setVisible(playlists && music_.connected() && music_.playlists().empty());
    playlistRows_->setVisible(playlists);
    playlistRows_->setRowCount(int(shown_.size()));
    songRows_->setVisible(!playlists);
    songRows_->setRowCount(int(music_.songs().size()));
}

void MusicLibraryView::showEvent(QShowEvent* event) {
    Sheet::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    if (!music_.connected()) music_.connect();
}

void MusicLibraryView::submit() {
    if (source_ == kSongs) music_.search(query_->text());
}

void MusicLibraryView::refreshPlaylists() { music_.connect(); }

void MusicLibraryView::importPlaylist(const Playlist& playlist) {
    // The import runs on even if the sheet closes meanwhile; only its success closes an open sheet.
    QPointer<MusicLibraryView> sheet(this);
    music_.importPlaylist(playlist, library_, [sheet](bool imported) {
        if (imported && sheet) sheet->accept();
    });
}

void MusicLibraryView::addSong(const Song& song) {
    if (!PlaylistEdits::selectedPlaylist(library_)) return;
    ReferenceTrack track = MusicBrowser::trackFor(song);
    track.libraryMusic = false;  // a catalogue song, looked up in the catalogue at playback
    if (PlaylistEdits::appendTrack(library_, track))
        music_.setMessage(QStringLiteral("Added ") + text(song.title));
    else
        music_.setMessage(library_.message());
}

QRect MusicLibraryView::addButtonRect(const QRect& row) {
    return QRect(row.right() - 14 - 32, row.center().y() - 16, 32, 32);
}

void MusicLibraryView::paintPlaylist(QPainter& p, const QRect& rect, int row) const {
    if (!playlistRowsEnabled()) p.setOpacity(0.4);
    fillRounded(p, rect, 15, QVStyle::card());
    const QRect inner = rect.adjusted(12, 12, -12, -12);
    const QRect iconFrame(inner.left(), inner.center().y() - 22, 42, 44);
    QColor tint = QVStyle::accent();
    tint.setAlphaF(0.08f);
    fillRounded(p, iconFrame, 12, tint);
    RowPaint::symbol(p, iconFrame, QStringLiteral("music.note.list"), kIconPixels, QVStyle::accent());
    const QRect plus(inner.right() - 28, inner.center().y() - 14, 28, 28);
    RowPaint::symbol(p, plus, QStringLiteral("plus.circle.fill"), kIconPixels, QVStyle::accent());
    const QRect name(iconFrame.right() + 14, inner.top(), plus.left() - 14 - iconFrame.right() - 14,
                     inner.height());
    RowPaint::line(p, name, text(shown_[std::size_t(row)].name),
                   QVStyle::font(QVText::Subheadline, QFont::Medium), QVStyle::primary());
}

void MusicLibraryView::paintSong(QPainter& p, const QRect& rect, int row) const {
    const Song& song = music_.songs()[std::size_t(row)];
    fillRounded(p, rect, 15, QVStyle::card());
    const QRect button = addButtonRect(rect);
    RowPaint::symbol(p, button, QStringLiteral("plus.circle.fill"), kIconPixels, QVStyle::accent());
    const QRect inner = rect.adjusted(14, 14, -14, -14);
    const QRect lines(inner.left(), inner.top(), button.left() - 8 - inner.left(), inner.height());
    const QFont titleFont = QVStyle::font(QVText::Subheadline, QFont::Medium);
    const int titleHeight = QFontMetrics(titleFont).height();
    RowPaint::line(p, QRect(lines.left(), lines.top(), lines.width(), titleHeight), text(song.title),
                   titleFont, QVStyle::primary());
    RowPaint::line(
        p,
        QRect(lines.left(), lines.top() + titleHeight + 4, lines.width(), lines.height() - titleHeight - 4),
        text(song.artistName), QVStyle::font(QVText::Caption), QVStyle::secondary(),
        Qt::AlignLeft | Qt::AlignTop);
}

}  // namespace quorvel
