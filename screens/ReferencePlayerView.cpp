#include "screens/ReferencePlayerView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "engine/AudioController.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVEmpty.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"
#include "kit/QVMessageLine.h"
#include "kit/QVNumber.h"
#include "kit/QVStyle.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/MusicLibraryView.h"
#include "screens/PlaylistEdits.h"
#include "screens/RowList.h"
#include "screens/ScreenControls.h"
#include "screens/SearchBar.h"
#include "screens/TrackSettingsEditor.h"

namespace quorvel {

namespace {

constexpr int kRowInset = 12;
constexpr int kPlaySize = 42;
constexpr int kRowHeight = kPlaySize + 2 * kRowInset;
constexpr int kRowGap = 2;
constexpr int kAlertMinWidth = 320;

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QString cssColor(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

using RowPaint::fillRounded;

// The parts of a track row, for painting and for finding what a press hit.
struct RowParts {
    QRect play, text, loop, menu;
};

RowParts rowParts(const QRect& row, bool loop) {
    const QRect inner = row.adjusted(kRowInset, kRowInset, -kRowInset, -kRowInset);
    RowParts parts;
    parts.play = QRect(inner.left(), inner.center().y() - kPlaySize / 2, kPlaySize, kPlaySize);
    parts.menu = QRect(inner.right() - 29, inner.center().y() - 20, 30, 40);
    int textRight = parts.menu.left() - 12;
    if (loop) {
        parts.loop = QRect(parts.menu.left() - 12 - 14, inner.center().y() - 7, 14, 14);
        textRight = parts.loop.left() - 12;
    }
    parts.text =
        QRect(parts.play.right() + 1 + 12, inner.top(), textRight - parts.play.right() - 12, inner.height());
    return parts;
}

// A one-line label that cuts its text with an ellipsis instead of growing.
class OneLineLabel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, width()));
    }
};

}  // namespace

ReferencePlayerView::ReferencePlayerView(LibraryStore& library, AudioController& audio, MusicBrowser& music,
                                         QVBinding<bool> importing, PlayTrack onPlay, QWidget* parent)
    : QVPage(QStringLiteral("Reference player"), QString(), nullptr, parent),
      library_(library),
      audio_(audio),
      music_(music),
      importing_(std::move(importing)),
      onPlay_(std::move(onPlay)) {
    add(buildHeader());

    // Two lines at most, wrapped or cut: a message quoting a long path or value never widens the page.
    message_ = new QVMessageLine(2, QVMessageLine::Space::fitted, column());
    QVStyle::setText(message_, QVText::Caption, QVStyle::accent());
    add(message_);

    add(buildNowPlaying());
    add(buildEmptyState());

    count_ = new QLabel;
    QVStyle::setText(count_, QVText::Caption, QVStyle::secondary());
    searchBar_ = new SearchBar(QStringLiteral("Find a track"), count_, 8, column());
    connect(searchBar_->field(), &QLineEdit::textChanged, this, &ReferencePlayerView::setQuery);
    add(searchBar_);

    rows_ = new RowList(
        kRowHeight, kRowGap, [this](QPainter& p, const QRect& r, int row) { paintRow(p, r, row); },
        [this](int row) { return playLabel(shown_[std::size_t(row)]); }, column());
    rows_->setObjectName(QStringLiteral("tracks"));
    rows_->setProperty(QVKeyboard::kFocusRadius, 15);
    connect(rows_, &RowList::rowClicked, this, &ReferencePlayerView::rowClicked);
    // From the keyboard: Return does what the row's play button does, the menu key opens its menu.
    connect(rows_, &RowList::rowActivated, this, [this](int row) {
        if (row >= 0 && row < int(shown_.size())) pressPlay(shown_[std::size_t(row)]);
    });
    connect(rows_, &RowList::rowMenuRequested, this, &ReferencePlayerView::openRowMenu);
    add(rows_);

    add(buildOptions());

    QObject::connect(&library_, &LibraryStore::playlistsChanged, this, [this] {
        syncPlaylists();
        syncTracks();
    });
    QObject::connect(&library_, &LibraryStore::selectedChanged, this, [this] {
        syncPlaylists();
        syncTracks();
    });
    QObject::connect(&library_, &LibraryStore::messageChanged, this, [this] {
        message_->setText(library_.message());
        message_->setVisible(!library_.message().isEmpty());
    });
    for (auto signal : {&AudioController::selectedTrackIDChanged, &AudioController::playingChanged,
                        &AudioController::hasPlaybackChanged, &AudioController::busyChanged})
        QObject::connect(&audio_, signal, this, [this] {
            rows_->viewport()->update();
            syncNowPlaying();
        });
    for (auto signal : {&AudioController::statusChanged, &AudioController::isMusicSourceChanged,
                        &AudioController::durationChanged})
        QObject::connect(&audio_, signal, this, &ReferencePlayerView::syncNowPlaying);
    // The position moves with every tick of the player: it touches the slider and the time only.
    QObject::connect(&audio_, &AudioController::currentTimeChanged, this, &ReferencePlayerView::syncPosition);
    QObject::connect(&audio_, &AudioController::processingChanged, this,
                     &ReferencePlayerView::syncProcessing);

    message_->setText(library_.message());
    message_->setVisible(!library_.message().isEmpty());
    syncPlaylists();
    syncTracks();
    syncNowPlaying();
    syncProcessing();
}

ReferencePlayerView::~ReferencePlayerView() = default;

MusicLibraryView* ReferencePlayerView::musicSheet() const { return musicSheet_; }
TrackSettingsEditor* ReferencePlayerView::editor() const { return editor_; }
QDialog* ReferencePlayerView::newPlaylistAlert() const { return newPlaylistAlert_; }
QToolButton* ReferencePlayerView::optionsToggle() const { return options_->header(); }

QWidget* ReferencePlayerView::buildHeader() {
    auto* header = new QWidget(column());
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    picker_ = new QComboBox(header);
    picker_->setAccessibleName(QStringLiteral("Playlist"));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Only the user's choice changes the selection; rebuilding the entries never does.
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < library_.playlists().size()) library_.setSelected(index);
    });
    row->addWidget(picker_, 1);

    addButton_ = new QToolButton(header);
    addButton_->setText(qvLiteral(QStringLiteral("Add")));
    addButton_->setIcon(QVIcons::icon(QStringLiteral("plus"), QVStyle::accent()));
    addButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addButton_->setPopupMode(QToolButton::InstantPopup);
    addButton_->setFont(QVStyle::font(QVText::Subheadline, QFont::DemiBold));
    const int capsule = QFontMetrics(addButton_->font()).height() / 2 + 10;
    addButton_->setStyleSheet(
        QStringLiteral("QToolButton { background: %1; color: %2; border: none; padding: 10px; "
                       "border-radius: %3px; } QToolButton::menu-indicator { image: none; }")
            .arg(cssColor(withAlpha(QVStyle::accent(), 0.12)), cssColor(QVStyle::accent()))
            .arg(capsule));
    auto* menu = new QMenu(addButton_);
    menu->addAction(QVIcons::icon(QStringLiteral("music.note"), QVStyle::primary()),
                    qvLiteral(QStringLiteral("Music server")), this, &ReferencePlayerView::showMusic);
    menu->addAction(QVIcons::icon(QStringLiteral("folder"), QVStyle::primary()),
                    qvLiteral(QStringLiteral("Audio files / M3U")), this, [this] { importing_.set(true); });
    menu->addAction(QVIcons::icon(QStringLiteral("plus"), QVStyle::primary()),
                    qvLiteral(QStringLiteral("New playlist")), this, &ReferencePlayerView::showNewPlaylist);
    addButton_->setMenu(menu);
    row->addWidget(addButton_);
    return header;
}

QVCard* ReferencePlayerView::buildNowPlaying() {
    nowPlaying_ = new QVCard({}, nullptr, column());
    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Now playing"), nowPlaying_);
    QVStyle::setText(label, QVText::Caption, QVStyle::secondary());
    sourceBadge_ = new QVBadge(QStringLiteral("Local audio"), QVStyle::accent(), nowPlaying_);
    top->addWidget(label);
    top->addStretch(1);
    top->addWidget(sourceBadge_);
    nowPlaying_->addLayout(top);

    status_ = new OneLineLabel(nowPlaying_);
    QVStyle::setText(status_, QVText::Headline);
    nowPlaying_->add(status_);

    position_ = new QSlider(Qt::Horizontal, nowPlaying_);
    position_->setAccessibleName(QStringLiteral("Position"));
    // Only the user's drags and clicks seek; the position the player publishes is shown without echo.
    connect(position_, &QSlider::sliderMoved, this, &ReferencePlayerView::seekTo);
    connect(position_, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove) seekTo(position_->sliderPosition());
    });
    nowPlaying_->add(position_);

    auto* times = new QHBoxLayout;
    currentTime_ = new QLabel(nowPlaying_);
    duration_ = new QLabel(nowPlaying_);
    for (QLabel* l : {currentTime_, duration_}) {
        l->setFont(QVStyle::monospaceFont(QVText::Caption));
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, QVStyle::secondary());
        l->setPalette(pal);
    }
    times->addWidget(currentTime_);
    times->addStretch(1);
    times->addWidget(duration_);
    nowPlaying_->addLayout(times);
    return nowPlaying_;
}

QVCard* ReferencePlayerView::buildEmptyState() {
    emptyCard_ = new QVCard({}, nullptr, column());
    emptyCard_->add(new QVEmpty(QStringLiteral("music.note.list"), QStringLiteral("Your reference tracks"),
                                QStringLiteral("Add music and get ready to listen."), emptyCard_));
    emptyCard_->add(new QVAction(
        QStringLiteral("Add from music server"), QStringLiteral("music.note"), true, [this] { showMusic(); },
        emptyCard_));
    emptyCard_->add(new QVAction(
        QStringLiteral("Import audio files"), QStringLiteral("folder"), false,
        [this] { importing_.set(true); }, emptyCard_));
    return emptyCard_;
}

QVCard* ReferencePlayerView::buildOptions() {
    auto* card = new QVCard({}, nullptr, column());
    // Collapsed whenever the page is built; the group's style applies to the controls inside.
    const QFont groupFont = QVStyle::font(QVText::Subheadline, QFont::Medium);
    options_ = new Disclosure(QStringLiteral("Playback options"), nullptr, groupFont, 12, card);
    optionsBody_ = new QWidget(options_->body());
    optionsBody_->setFont(groupFont);
    auto* body = new QVBoxLayout(optionsBody_);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(12);

    auto* channelsRow = new QHBoxLayout;
    auto* channelsLabel = new QLabel(QStringLiteral("Channels"), optionsBody_);
    channels_ = new QComboBox(optionsBody_);
    channels_->setAccessibleName(QStringLiteral("Channels"));
    for (StereoMode mode : allStereoModes)
        channels_->addItem(QString::fromUtf8(rawValue(mode).data(), qsizetype(rawValue(mode).size())));
    connect(channels_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= int(allStereoModes.size())) return;
        editProcessing(
            [mode = allStereoModes[std::size_t(index)]](FileProcessSettings& p) { p.mode = mode; });
    });
    channelsRow->addWidget(channelsLabel);
    channelsRow->addStretch(1);
    channelsRow->addWidget(channels_);
    body->addLayout(channelsRow);

    matchRMS_ = new QCheckBox(qvLiteral(QStringLiteral("Match file levels")), optionsBody_);
    connect(matchRMS_, &QCheckBox::clicked, this,
            [this](bool on) { editProcessing([on](FileProcessSettings& p) { p.matchRMS = on; }); });
    body->addWidget(matchRMS_);
    filtered_ = new QCheckBox(qvLiteral(QStringLiteral("HP / LP filter")), optionsBody_);
    connect(filtered_, &QCheckBox::clicked, this,
            [this](bool on) { editProcessing([on](FileProcessSettings& p) { p.filtered = on; }); });
    body->addWidget(filtered_);

    // Each control writes its own field only, over whatever the other fields hold at that moment.
    auto corner = [this](double FileProcessSettings::*field) {
        return QVBinding<double>{
            [this, field] { return audio_.processing().*field; },
            [this, field](double v) { editProcessing([&](FileProcessSettings& p) { p.*field = v; }); }};
    };
    hp_ = new QVNumber(QStringLiteral("High-pass"), corner(&FileProcessSettings::hp), QStringLiteral("Hz"),
                       optionsBody_);
    lp_ = new QVNumber(QStringLiteral("Low-pass"), corner(&FileProcessSettings::lp), QStringLiteral("Hz"),
                       optionsBody_);
    body->addWidget(hp_);
    body->addWidget(lp_);

    auto* note = new QLabel(QStringLiteral("Local files only"), optionsBody_);
    QVStyle::setText(note, QVText::Caption, QVStyle::secondary());
    body->addWidget(note);

    options_->setContent(optionsBody_);
    card->add(options_);
    return card;
}

const ReferencePlaylist* ReferencePlayerView::currentPlaylist() const {
    return PlaylistEdits::selectedPlaylist(library_);
}

void ReferencePlayerView::syncPlaylists() {
    const QSignalBlocker blocker(picker_);
    picker_->clear();
    const auto& playlists = library_.playlists();
    for (qsizetype i = 0; i < playlists.size(); ++i) picker_->addItem(playlists[i].name, int(i));
    picker_->setCurrentIndex(currentPlaylist() ? library_.selected() : -1);
}

void ReferencePlayerView::setQuery(const QString& query) {
    if (query == query_) return;
    query_ = query;
    if (searchBar_->field()->text() != query) searchBar_->field()->setText(query);
    syncTracks();
}

void ReferencePlayerView::syncTracks() {
    const ReferencePlaylist* playlist = currentPlaylist();
    shown_.clear();
    const qsizetype total = playlist ? playlist->tracks.size() : 0;
    if (playlist)
        for (const ReferenceTrack& t : playlist->tracks)
            if (PlaylistEdits::titleMatches(t.title, query_)) shown_.push_back(t);
    const bool empty = total == 0;
    emptyCard_->setVisible(empty);
    searchBar_->setVisible(!empty);
    rows_->setVisible(!empty);
    count_->setText(qvFormat("%lld", static_cast<long long>(total)));
    rows_->setRowCount(int(shown_.size()));
}

void ReferencePlayerView::syncNowPlaying() {
    const double duration = audio_.duration();
    nowPlaying_->setVisible(audio_.selectedTrackID().has_value() && duration > 0);
    sourceBadge_->setTitle(audio_.isMusicSource() ? QStringLiteral("Music server")
                                                  : QStringLiteral("Local audio"));
    status_->setText(audio_.status());
    status_->update();
    syncPosition();
}

void ReferencePlayerView::syncPosition() {
    const double duration = audio_.duration();
    const double span = std::isfinite(duration) ? std::max(duration, 1.0) : 1.0;
    const double shown =
        std::clamp(std::isfinite(audio_.currentTime()) ? audio_.currentTime() : 0.0, 0.0, span);
    {
        const QSignalBlocker blocker(position_);
        position_->setRange(0, int(std::lround(span * kPositionSteps)));
        // A drag in progress is the user's: the published position does not pull the knob away.
        if (!position_->isSliderDown()) position_->setValue(int(std::lround(shown * kPositionSteps)));
    }
    currentTime_->setText(qvTime(audio_.currentTime()));
    duration_->setText(qvTime(duration));
}

void ReferencePlayerView::syncProcessing() {
    const FileProcessSettings& p = audio_.processing();
    {
        const QSignalBlocker b1(channels_), b2(matchRMS_), b3(filtered_);
        for (std::size_t i = 0; i < allStereoModes.size(); ++i)
            if (allStereoModes[i] == p.mode) channels_->setCurrentIndex(int(i));
        matchRMS_->setChecked(p.matchRMS);
        filtered_->setChecked(p.filtered);
    }
    hp_->setVisible(p.filtered);
    lp_->setVisible(p.filtered);
    hp_->refresh();
    lp_->refresh();
}

void ReferencePlayerView::editProcessing(const std::function<void(FileProcessSettings&)>& edit) {
    FileProcessSettings settings = audio_.processing();
    edit(settings);
    audio_.setProcessing(settings);
}

void ReferencePlayerView::seekTo(int steps) { audio_.seek(double(steps) / kPositionSteps); }

bool ReferencePlayerView::isCurrent(const ReferenceTrack& track) const {
    const std::optional<Uuid> loaded = audio_.selectedTrackID();
    return loaded && *loaded == track.id;
}

QString ReferencePlayerView::playLabel(const ReferenceTrack& track) const {
    const bool playing = isCurrent(track) && audio_.playing();
    return (playing ? QStringLiteral("Pause ") : QStringLiteral("Play ")) + track.displayTitle();
}

void ReferencePlayerView::pressPlay(const ReferenceTrack& track) {
    if (audio_.busy()) return;
    if (isCurrent(track) && audio_.hasPlayback())
        audio_.togglePlayback();
    else if (onPlay_)
        onPlay_(track);
}

void ReferencePlayerView::move(const ReferenceTrack& track, int delta) {
    PlaylistEdits::moveTrack(library_, track.id, delta);
}

void ReferencePlayerView::remove(const ReferenceTrack& track) {
    PlaylistEdits::removeTrack(library_, track.id);
}

QMenu* ReferencePlayerView::rowMenu(const ReferenceTrack& track) {
    auto* menu = new QMenu(this);
    const QColor ink = QVStyle::primary();
    if (track.filename)
        menu->addAction(QVIcons::icon(QStringLiteral("slider.horizontal.3"), ink),
                        qvLiteral(QStringLiteral("Cue, loop & trim")), this,
                        [this, track] { editTrack(track); });
    menu->addAction(QVIcons::icon(QStringLiteral("arrow.up"), ink), qvLiteral(QStringLiteral("Move up")),
                    this, [this, track] { move(track, -1); });
    menu->addAction(QVIcons::icon(QStringLiteral("arrow.down"), ink), qvLiteral(QStringLiteral("Move down")),
                    this, [this, track] { move(track, +1); });
    menu->addAction(QVIcons::icon(QStringLiteral("trash"), QColor(255, 105, 97)),
                    qvLiteral(QStringLiteral("Remove track")), this, [this, track] { remove(track); });
    return menu;
}

void ReferencePlayerView::rowClicked(int row, QPoint at) {
    if (row < 0 || row >= int(shown_.size())) return;
    const ReferenceTrack track = shown_[std::size_t(row)];
    const QRect local(QPoint(0, 0), rows_->rowRect(row).size());
    const RowParts parts = rowParts(local, track.loop);
    if (parts.play.contains(at)) {
        pressPlay(track);
    } else if (parts.menu.contains(at)) {
        openRowMenu(row);
    }
}

void ReferencePlayerView::openRowMenu(int row) {
    if (row < 0 || row >= int(shown_.size())) return;
    const ReferenceTrack& track = shown_[std::size_t(row)];
    QMenu* menu = rowMenu(track);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QRect local(QPoint(0, 0), rows_->rowRect(row).size());
    const QRect button = rowParts(local, track.loop).menu.translated(rows_->rowRect(row).topLeft());
    menu->popup(rows_->viewport()->mapToGlobal(button.bottomLeft()));
}

void ReferencePlayerView::paintRow(QPainter& p, const QRect& rect, int row) const {
    const ReferenceTrack& track = shown_[std::size_t(row)];
    const bool current = isCurrent(track);
    const bool playing = current && audio_.playing();
    fillRounded(p, rect, 15, current ? QVStyle::card() : withAlpha(QVStyle::card(), 0.55));
    const RowParts parts = rowParts(rect, track.loop);

    p.save();
    if (audio_.busy()) p.setOpacity(0.4);
    fillRounded(p, parts.play, 12, current ? QVStyle::accent() : withAlpha(QVStyle::accent(), 0.08));
    RowPaint::symbol(p, parts.play, playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"), 16,
                     current ? QVStyle::background() : QVStyle::accent());
    p.restore();

    const QFont titleFont = QVStyle::font(QVText::Subheadline, QFont::DemiBold);
    const QFont captionFont = QVStyle::font(QVText::Caption);
    const QFontMetrics titleMetrics(titleFont), captionMetrics(captionFont);
    const int blockHeight = titleMetrics.height() + 4 + captionMetrics.height();
    const int top = parts.text.center().y() - blockHeight / 2;
    RowPaint::line(p, QRect(parts.text.left(), top, parts.text.width(), titleMetrics.height()),
                   track.displayTitle(), titleFont, QVStyle::primary());
    QString below = track.artist();
    if (below.isEmpty())
        below = track.musicID ? QStringLiteral("Music server") : QStringLiteral("Local audio");
    RowPaint::line(p,
                   QRect(parts.text.left(), top + titleMetrics.height() + 4, parts.text.width(),
                         captionMetrics.height()),
                   below, captionFont, QVStyle::secondary());

    if (track.loop) RowPaint::symbol(p, parts.loop, QStringLiteral("repeat"), 14, QVStyle::accent());
    RowPaint::symbol(p, parts.menu, QStringLiteral("ellipsis"), 18, QVStyle::secondary());
}

void ReferencePlayerView::showMusic() {
    if (musicSheet_) return;
    musicSheet_ = new MusicLibraryView(music_, library_, this);
    musicSheet_->setAttribute(Qt::WA_DeleteOnClose);
    musicSheet_->open();
}

void ReferencePlayerView::editTrack(const ReferenceTrack& track) {
    if (editor_) return;
    editor_ = new TrackSettingsEditor(
        track, [this](const ReferenceTrack& edited) { PlaylistEdits::replaceTrack(library_, edited); }, this);
    editor_->setAttribute(Qt::WA_DeleteOnClose);
    editor_->open();
}

void ReferencePlayerView::showNewPlaylist() {
    if (newPlaylistAlert_) return;
    auto* alert = new QDialog(this);
    alert->setObjectName(QStringLiteral("newPlaylist"));
    alert->setWindowTitle(QStringLiteral("New playlist"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    QVKeyboard::followLayoutOrder(alert);
    auto* column = new QVBoxLayout(alert);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("New playlist"));
    QVStyle::setText(title, QVText::Headline);
    column->addWidget(title);
    // Wide enough for its title in any title bar, with the buttons beside it; the field spans it.
    alert->setMinimumWidth(std::max(kAlertMinWidth, 3 * title->sizeHint().width()));
    auto* name = new QLineEdit(playlistName_);
    name->setPlaceholderText(QStringLiteral("Playlist name"));
    connect(name, &QLineEdit::textChanged, this, [this](const QString& text) { playlistName_ = text; });
    column->addWidget(name);
    auto* buttons = new QDialogButtonBox;
    QPushButton* create =
        buttons->addButton(qvLiteral(QStringLiteral("Create")), QDialogButtonBox::AcceptRole);
    buttons->addButton(qvLiteral(QStringLiteral("Cancel")), QDialogButtonBox::RejectRole);
    create->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, alert, [this, alert] {
        library_.addPlaylist(playlistName_);
        playlistName_.clear();
        alert->accept();
    });
    // Cancel keeps the typed name for the next opening.
    connect(buttons, &QDialogButtonBox::rejected, alert, &QDialog::reject);
    column->addWidget(buttons);
    newPlaylistAlert_ = alert;
    alert->open();
}

}  // namespace quorvel
