#include "app/QuorvelView.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>

#include "app/TransportBar.h"
#include "app/UserGuideView.h"
#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVFormat.h"
#include "library/LibraryStore.h"
#include "library/MeasurementStore.h"
#include "library/MusicBrowser.h"

namespace quorvel {

namespace {
// Longest wait at shut-down for background renders, analyses and starts; each takes well under a second
// while the sound servers answer.
constexpr int kShutDownWaitMS = 10000;
}  // namespace

QuorvelView::QuorvelView(QWidget* parent) : QWidget(parent), chooser_(&QuorvelView::chooseFiles) {
    setObjectName(QStringLiteral("quorvelView"));
    setWindowTitle(QStringLiteral("Quorvel"));
    setMinimumSize(kMinWidth, kMinHeight);
    createModels();
    connectRules();
    buildFrame();
}

QuorvelView::~QuorvelView() { shutDown(); }

void QuorvelView::createModels() {
    library_ = std::make_unique<LibraryStore>();
    audio_ = std::make_unique<AudioController>();
    music_ = std::make_unique<MusicBrowser>();
    voice_ = std::make_unique<VoiceRenderer>();
    analyzer_ = std::make_unique<MicAnalyzer>();
    // A hundred saved traces make a file of some 80 MB: the window shows while it is read.
    measurements_ = std::make_unique<MeasurementStore>(MeasurementStore::Loading::inBackground);
    routed_ = std::make_unique<RoutedSignal>();
}

// The models emit their change signals only when a value really changes, so each rule runs once per
// change and never for the value the model started with.
void QuorvelView::connectRules() {
    RoutedSignal* routed = routed_.get();
    connect(audio_.get(), &AudioController::levelChanged, this, &QuorvelView::levelChanged);
    connect(routed, &RoutedSignal::levelChanged, this, &QuorvelView::levelChanged);
    for (auto wiring :
         {&RoutedSignal::selectionChanged, &RoutedSignal::channelAChanged, &RoutedSignal::channelBChanged,
          &RoutedSignal::sendReferenceChanged, &RoutedSignal::referenceOutputChanged})
        connect(routed, wiring, this, &QuorvelView::routingChanged);
}

void QuorvelView::levelChanged() { analyzer_->invalidate(); }

void QuorvelView::routingChanged() {
    routed_->stop();
    analyzer_->invalidate();
}

// --- view state ---

void QuorvelView::setSignal(const SignalSettings& signal) {
    if (signal == signal_) return;
    signal_ = signal;
}

void QuorvelView::setTool(QuorvelTool tool) {
    if (tool == tool_) return;
    tool_ = tool;
    showPage();
    emit toolChanged();
}

void QuorvelView::setInterfaceMode(bool on) {
    if (on == interfaceMode_) return;
    interfaceMode_ = on;
    emit interfaceModeChanged();
}

void QuorvelView::setImporting(bool on) {
    if (on == importing_) return;
    importing_ = on;
    // The chooser runs from the event loop, not inside the caller's own handler.
    if (on) QTimer::singleShot(0, this, &QuorvelView::runImporter);
}

void QuorvelView::setShowingGuide(bool on) {
    if (on == showingGuide_) return;
    showingGuide_ = on;
    if (on) {
        presentGuide();
    } else if (guide_) {
        guide_->close();
    }
}

void QuorvelView::setShowingError(bool on) {
    if (on == showingError_) return;
    showingError_ = on;
    if (on) {
        presentError();
    } else if (alert_) {
        alert_->close();
    }
}

QVBinding<SignalSettings> QuorvelView::signalBinding() {
    return {[this] { return signal_; }, [this](const SignalSettings& v) { setSignal(v); }};
}

QVBinding<bool> QuorvelView::interfaceModeBinding() {
    return {[this] { return interfaceMode_; }, [this](const bool& v) { setInterfaceMode(v); }};
}

QVBinding<bool> QuorvelView::importingBinding() {
    return {[this] { return importing_; }, [this](const bool& v) { setImporting(v); }};
}

// --- operations ---

void QuorvelView::stopAll() {
    voice_->cancel();
    routed_->stop();
    analyzer_->stop();
    audio_->stop();
}

void QuorvelView::play(const ReferenceTrack& track) {
    voice_->cancel();
    routed_->stop();
    // Nothing measured before the track starts may be averaged with what follows.
    analyzer_->invalidate();
    if (track.musicID) {
        analyzer_->stop();
        audio_->playMusic(track.musicRequest());
    } else {
        // The controller stops what it played before; the outcome shows in its own status.
        audio_->playTrack(track.localRequest(), library_->root());
    }
}

// --- file importer ---

void QuorvelView::setFileChooser(FileChooser chooser) {
    chooser_ = chooser ? std::move(chooser) : FileChooser(&QuorvelView::chooseFiles);
}

QStringList QuorvelView::importFilters() {
    // Extensions of the audio types the audio-file layer reads; the library checks the contents itself.
    const QString audio = QStringLiteral(
        "*.wav *.wave *.aif *.aiff *.aifc *.caf *.flac *.ogg *.oga *.opus *.mp3 *.w64 *.rf64 *.au *.snd "
        "*.wv *.WAV *.WAVE *.AIF *.AIFF *.AIFC *.CAF *.FLAC *.OGG *.OGA *.OPUS *.MP3 *.W64 *.RF64 *.AU *.SND "
        "*.WV");
    const QString lists = QStringLiteral("*.m3u *.m3u8 *.M3U *.M3U8");
    return {QStringLiteral("Audio files and playlists (%1 %2)").arg(audio, lists),
            QStringLiteral("Audio files (%1)").arg(audio), QStringLiteral("Playlists (%1)").arg(lists),
            QStringLiteral("All files (*)")};
}

Result<QStringList> QuorvelView::chooseFiles(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Import audio files or playlists"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(importFilters());
    // Qt's own dialog, so that it keeps the workspace's dark look whatever the desktop's theme.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return QStringList{};
    return dialog.selectedFiles();
}

void QuorvelView::runImporter() {
    if (!importing_ || shutDown_) return;
    const Result<QStringList> chosen = chooser_(this);
    if (!chosen) {
        library_->setMessage(QString::fromStdString(chosen.error().description));
    } else if (!chosen->isEmpty()) {
        library_->importFiles(*chosen);
    }
    setImporting(false);
}

// --- guide and alert ---

void QuorvelView::presentGuide() {
    if (guide_) return;
    guide_ = UserGuideView::present(this);
    connect(guide_, &QDialog::finished, this, [this] { setShowingGuide(false); });
}

QString QuorvelView::errorMessage() const { return audio_->errorDetail().value_or(audio_->status()); }

void QuorvelView::presentError() {
    if (alert_) return;
    // The title is repeated in the body: window managers often show no title on an alert.
    const QString title = QStringLiteral("Playback problem");
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, title, QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("playbackProblem"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(errorMessage());
    // The detail is shown verbatim, line breaks and any markup-like text included.
    for (QLabel* label : box->findChildren<QLabel*>())
        if (label->text() == box->informativeText()) label->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* ok = box->addButton(qvLiteral(QStringLiteral("OK")), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(static_cast<QAbstractButton*>(ok));
    alert_ = box;
    // The text follows the player while the alert is up: a detail cleared by Stop all gives way to the
    // status.
    const auto follow = [this, box] { box->setInformativeText(errorMessage()); };
    connect(audio_.get(), &AudioController::errorDetailChanged, box, follow);
    connect(audio_.get(), &AudioController::statusChanged, box, follow);
    connect(box, &QDialog::finished, this, [this] { setShowingError(false); });
    box->open();
}

// --- background and shut-down ---

void QuorvelView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) noteWindowState();
}

void QuorvelView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    noteWindowState();
}

void QuorvelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    noteWindowState();
}

void QuorvelView::noteWindowState() {
    if (!isWindow() || shutDown_) return;
    const bool background = isMinimized() || !isVisible();
    if (background == inBackground_) return;
    inBackground_ = background;
    if (background) stopAll();
}

void QuorvelView::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    // Every stream stops before anything that feeds it goes, so no audio callback can reach freed memory;
    // stopping also deletes the renders the models were playing.
    stopAll();
    // Renders still being made in the background would come back to objects that are gone and be left in
    // the temporary folder: let them finish, and hand their results to the stopped models, which discard
    // them and delete their files. A start that had opened its engine meanwhile has it stopped on the pool:
    // that is waited for too.
    QThreadPool& pool = *QThreadPool::globalInstance();
    const QDeadlineTimer deadline(kShutDownWaitMS);
    do {
        pool.waitForDone(static_cast<int>(deadline.remainingTime()));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    } while (pool.activeThreadCount() > 0 && !deadline.hasExpired());
    // Pages and sheets go next: they hold references to the models, which go last, newest first.
    delete guide_;
    delete alert_;
    const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    qDeleteAll(children);
    page_ = nullptr;
    transport_ = nullptr;
}

}  // namespace quorvel
