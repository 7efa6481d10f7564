#pragma once
// The Signals page: choose a test signal by family and kind (or from the presets), shape it, choose where
// it plays and start or stop it. Two playback paths exist and the page drives one at a time: Stereo plays
// through the stereo player (AudioController) on the system output, Interface through the routed
// generator (RoutedSignal) on explicit interface outputs.
//
// The settings and the Stereo/Interface switch belong to the window (they outlive the page) and arrive
// as bindings; the page keeps only the chosen family, which starts at noise whenever the page is built.
//
// Only the play button starts sound. A change of family, kind, preset, noise band or playback path stops
// both paths first (and restarts the measurement's averaging); number fields, quick frequencies, the
// balance and the filter switch only edit the settings, which apply at the next start. The change rules
// run on the user's changes only: the page re-reads the models and the bindings without running them,
// and a change updates only the controls that show what changed.
//
// A routed play that ended by a failure or was refused leaves its reason in the status line under the
// channel routing, until the next start or stop.
//
// Main thread only. The four models outlive the page.
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "dsp/SignalPreset.h"
#include "dsp/SignalSettings.h"
#include "kit/QVBinding.h"
#include "kit/QVPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace quorvel {

class AudioController;
class MicAnalyzer;
class QVAction;
class QVBadge;
class QVNumber;
class RoutedSignal;
class SegmentedPicker;
class SignalPreview;
class Stepper;
class VoiceRenderer;

// The families the page groups the signal kinds in, in the order of its segments.
enum class SignalFamily { noise, tone, sweep };

class SignalLabView : public QVPage {
    Q_OBJECT
public:
    // A noise band button: the filter corners (Hz) and switch it sets.
    struct Band {
        const char* title;
        double hp;
        double lp;
        bool filtered;
    };
    static constexpr std::array<Band, 3> kBands{{
        {"Full range", 20, 20000, false},
        {"Speech", 150, 8000, true},
        {"Sub", 35, 100, true},
    }};
    static constexpr std::array<double, 4> kQuickFrequencies{63, 100, 1000, 10000};

    SignalLabView(QVBinding<SignalSettings> signal, QVBinding<bool> interfaceMode, AudioController& audio,
                  RoutedSignal& routed, VoiceRenderer& voice, MicAnalyzer& analyzer,
                  QWidget* parent = nullptr);

    // Noise for pink, white and brown, sweep for the two sweeps, tone for every other kind.
    static SignalFamily category(SignalKind kind);
    // The kinds a family offers, in menu order.
    static std::vector<SignalKind> kindsFor(SignalFamily family);
    std::vector<SignalKind> kinds() const { return kindsFor(family_); }
    SignalFamily family() const { return family_; }

    // Whether the generator counts as playing: with Interface the routed generator plays; with Stereo the
    // stereo player plays something that is not a reference track.
    bool active() const;

    // Stops the stereo player, then the routed generator, then restarts the measurement's averaging.
    void stopSignal();
    // Cancels a spoken ID in preparation, restarts the averaging, stops the other path and starts the
    // selected one with the current settings. Returns at once; the path publishes how the start went.
    void play();

    // The user's actions, as the page's controls run them.
    void pressPlayButton();
    void chooseFamily(SignalFamily family);
    void chooseKind(SignalKind kind);
    void choosePreset(const SignalPreset& preset);
    void chooseBand(const Band& band);
    void chooseQuickFrequency(double hz);
    void chooseInterfaceMode(bool on);

private:
    QWidget* buildHeader();
    QWidget* buildSignalCard();
    QWidget* buildNoiseControls(QWidget* parent);
    QWidget* buildToneControls(QWidget* parent);
    QWidget* buildSweepControls(QWidget* parent);
    QWidget* buildOutputCard();
    QWidget* buildFiltersCard();
    QVNumber* number(const QString& title, double SignalSettings::*field, const QString& unit,
                     QWidget* parent);

    // Writes the settings; a change of kind stops both paths.
    void writeSignal(const SignalSettings& next);
    // Applies `change` to a copy of the settings, writes it and shows the result.
    void edit(const std::function<void(SignalSettings&)>& change);
    // Show the models' and the bindings' current state; none runs a change rule. The settings (kind,
    // family, bands, numbers), whether the signal plays, and the routing each have their own.
    void refresh();
    void refreshSettings();
    void refreshPlayback();
    void refreshRouting();

    QVBinding<SignalSettings> signal_;
    QVBinding<bool> interfaceMode_;
    AudioController& audio_;
    RoutedSignal& routed_;
    VoiceRenderer& voice_;
    MicAnalyzer& analyzer_;
    SignalFamily family_ = SignalFamily::noise;

    SegmentedPicker* familyPicker_ = nullptr;
    QToolButton* presets_ = nullptr;
    QLabel* kindTitle_ = nullptr;
    QVBadge* badge_ = nullptr;
    SignalPreview* preview_ = nullptr;
    QComboBox* type_ = nullptr;
    QWidget* noise_ = nullptr;
    QWidget* tone_ = nullptr;
    QWidget* sweep_ = nullptr;
    std::vector<QPushButton*> bandButtons_;
    std::vector<int> bandLit_;  // per band: 1 lit, 0 not, -1 not shown yet
    QWidget* dual_ = nullptr;
    QSlider* balance_ = nullptr;
    QVAction* playButton_ = nullptr;
    SegmentedPicker* output_ = nullptr;
    QWidget* interfaceControls_ = nullptr;
    SegmentedPicker* speakers_ = nullptr;
    Stepper* channelA_ = nullptr;
    Stepper* channelB_ = nullptr;
    QCheckBox* sendReference_ = nullptr;
    Stepper* referenceOutput_ = nullptr;
    QLabel* dualHint_ = nullptr;
    QLabel* routedStatus_ = nullptr;
    SegmentedPicker* channel_ = nullptr;
    QCheckBox* filtered_ = nullptr;
    QWidget* corners_ = nullptr;
    QVNumber* cycle_ = nullptr;
    std::vector<QVNumber*> numbers_;
};

}  // namespace quorvel
