#pragma once
// The root of the window: owns the seven model objects and the shared view state, builds the workspace
// frame (header, tool sidebar, the page of the selected tool, transport bar), and applies the rules that
// keep the sound sources from playing over each other and the measurement from mixing stale input with new.
//
// The models are created once, in this order, when the view is constructed (before it is first painted)
// and live as long as the view: LibraryStore, AudioController, MusicBrowser, VoiceRenderer,
// MicAnalyzer, MeasurementStore, RoutedSignal. Pages receive them by reference and are built afresh each
// time their tool is chosen.
//
// Cross-object rules, applied once per change of the watched value (never for its initial value):
// a change of the player's or the routed generator's level invalidates the analyser; a change of the
// routed selection, output A or B, the reference switch or the reference output stops the routed generator
// and then invalidates the analyser. The window being minimised or hidden runs Stop all once per such
// transition; focus changes stop nothing, and neither does switching tools.
//
// Shut-down (destruction): every stream is stopped before any model is destroyed, the temporary renders the
// models still hold are deleted, the pages go, then the models in reverse order of creation.
//
// Main thread only.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/QuorvelTool.h"
#include "dsp/SignalSettings.h"
#include "kit/QVBinding.h"
#include "library/ReferenceTrack.h"
#include "platform/Result.h"

class QMessageBox;
class QVBoxLayout;
class QWidget;

namespace quorvel {

class MusicBrowser;
class AudioController;
class LibraryStore;
class MeasurementStore;
class MicAnalyzer;
class RoutedSignal;
class TransportBar;
class UserGuideView;
class VoiceRenderer;

class QuorvelView : public QWidget {
    Q_OBJECT
public:
    // Asks the user for files to import. Returns the chosen paths in the order given, an empty list when the
    // user cancelled, or the chooser's own failure. Tests hand in their own to bypass the dialog.
    using FileChooser = std::function<Result<QStringList>(QWidget* parent)>;

    static constexpr int kMinWidth = 840;
    static constexpr int kMinHeight = 680;
    // The size the window opens at.
    static constexpr int kDefaultWidth = kMinWidth + 260;
    static constexpr int kDefaultHeight = kMinHeight + 120;

    explicit QuorvelView(QWidget* parent = nullptr);
    ~QuorvelView() override;

    // The model objects, in order of creation.
    LibraryStore& library() const { return *library_; }
    AudioController& audio() const { return *audio_; }
    MusicBrowser& music() const { return *music_; }
    VoiceRenderer& voice() const { return *voice_; }
    MicAnalyzer& analyzer() const { return *analyzer_; }
    MeasurementStore& measurements() const { return *measurements_; }
    RoutedSignal& routed() const { return *routed_; }

    // View state. The tool and the interface switch, which the frame and the transport bar follow, signal
    // their changes (only real ones).
    const SignalSettings& signal() const { return signal_; }
    void setSignal(const SignalSettings& signal);
    QuorvelTool tool() const { return tool_; }
    // Shows the tool's page, built afresh (the page that is left is discarded with its state). Stops nothing.
    void setTool(QuorvelTool tool);
    bool interfaceMode() const { return interfaceMode_; }
    void setInterfaceMode(bool on);
    // True presents the file chooser (once the event loop runs); it returns to false when the chooser closes.
    bool importing() const { return importing_; }
    void setImporting(bool on);
    // True presents the guide sheet; it returns to false when the sheet closes.
    bool showingGuide() const { return showingGuide_; }
    void setShowingGuide(bool on);
    // True presents the "Playback problem" alert; it returns to false when the alert is dismissed.
    bool showingError() const { return showingError_; }
    void setShowingError(bool on);

    // Two-way bindings to the view state that screens may change: the generator setting and the
    // stereo/interface switch (Signals), the importer flag (Player). They stay valid as long as the view.
    QVBinding<SignalSettings> signalBinding();
    QVBinding<bool> interfaceModeBinding();
    QVBinding<bool> importingBinding();

    // Stops every sound source and the capture: voice, routed generator, analyser, player, in that order.
    void stopAll();
    // Plays a playlist track: cancels the voice, stops the routed generator, invalidates the analyser (and
    // for a music track stops it), then starts the player on the track. Returns at once; the outcome
    // shows in the player's own status.
    void play(const ReferenceTrack& track);

    void setFileChooser(FileChooser chooser);
    // The product's chooser: a file dialog for several audio files and M3U/M3U8 playlists at once.
    static Result<QStringList> chooseFiles(QWidget* parent);
    // The dialog's name filters: audio and playlists together first, then each group, then all files.
    static QStringList importFilters();

    // The page of `tool` as the sidebar shows it (the Tools hub for `tools`), without the transport bar.
    // Pages and screens are made as children of the widget that will hold them (`parent`): a finished page
    // moved into another widget would take every control in it through the style sheet once more.
    QWidget* page(QuorvelTool tool, QWidget* parent);
    // The screen of `tool`: what its page shows, also when pushed from the Tools hub.
    QWidget* screen(QuorvelTool tool, QWidget* parent);
    // The Tools hub: links to Channel checks, Alignment and Sub arrays, pushed within the hub.
    QWidget* toolsPage(QWidget* parent);
    // One link card of the Tools hub, made in `parent`.
    static QWidget* toolCard(const QString& title, const QString& detail, const QString& icon,
                             QWidget* parent = nullptr);

    // The page currently shown (below the header, above the transport bar).
    QWidget* currentPage() const { return page_; }
    TransportBar* transport() const { return transport_; }

signals:
    void toolChanged();
    void interfaceModeChanged();

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createModels();
    void connectRules();
    // A change of the routed generator's output wiring: stop it, then restart the averaging.
    void routingChanged();
    // A change of a level: restart the averaging.
    void levelChanged();
    void buildFrame();
    QWidget* buildHeader();
    QWidget* buildSidebar();
    void showPage();
    void runImporter();
    void presentGuide();
    void presentError();
    // The alert's text: the player's error detail, else its status.
    QString errorMessage() const;
    // Runs Stop all when the window has just gone to the background (minimised or hidden).
    void noteWindowState();
    void shutDown();

    // Declaration order is creation order; destruction runs the other way.
    std::unique_ptr<LibraryStore> library_;
    std::unique_ptr<AudioController> audio_;
    std::unique_ptr<MusicBrowser> music_;
    std::unique_ptr<VoiceRenderer> voice_;
    std::unique_ptr<MicAnalyzer> analyzer_;
    std::unique_ptr<MeasurementStore> measurements_;
    std::unique_ptr<RoutedSignal> routed_;

    SignalSettings signal_;
    QuorvelTool tool_ = QuorvelTool::player;
    bool interfaceMode_ = false;
    bool importing_ = false;
    bool showingGuide_ = false;
    bool showingError_ = false;
    bool inBackground_ = false;
    bool shutDown_ = false;

    FileChooser chooser_;
    QWidget* sidebar_ = nullptr;
    QVBoxLayout* detail_ = nullptr;
    QWidget* page_ = nullptr;
    TransportBar* transport_ = nullptr;
    QPointer<UserGuideView> guide_;
    QPointer<QMessageBox> alert_;
};

}  // namespace quorvel
