#pragma once
// The "Measure" page: starts and stops the shared analyser, chooses the audio interface, the input channels
// and the electrical reference, and shows the live spectrum as a third-octave RTA or the FFT with the
// read-outs (peak, arrival, averages; with a reference the equivalent path, the correlation and the delay
// calibration).
//
// A change of interface, channel or reference switch by the user stops the analyser first (the new inputs
// apply at the next start); building the page or showing a model value stops nothing. The page owns its
// interface picker and its input picker (a placeholder that only carries a guidance text), made when the
// page is first shown; the display mode and the pickers start afresh with each new page. The reference card
// (equivalent path, correlation, delay calibration) is made the first time the reference is on, below the
// input card, and kept.
//
// While a start is on its way (the sound server may be slow to answer) the badge reads "Starting…" and
// the button, "Stop", gives it up.
//
// A capture that ended by a failure (a start refused, the sound server or the device gone) leaves its
// reason beside the badge at the top of the page as well as in the input card, until the next start or
// stop. Main thread only.
#include <QString>
#include <optional>
#include <vector>

#include "dsp/MeasurementDSP.h"
#include "kit/QVPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace quorvel {

class Disclosure;
class InputPicker;
class InterfacePicker;
class MicAnalyzer;
class QVBadge;
class QVCard;
class QVMessageLine;
class QVMetric;
class QVNumber;
class SegmentedPicker;
class SpectrumPlot;
class Stepper;

// What the Measure plot shows: the third-octave bands, or the analyser's FFT bins unchanged.
enum class SpectrumMode { rta, fft };

class AnalyzerView : public QVPage {
    Q_OBJECT
public:
    explicit AnalyzerView(MicAnalyzer& analyzer, QWidget* parent = nullptr);

    SpectrumMode mode() const { return mode_; }
    void setMode(SpectrumMode mode);
    // The page's interface picker; null until the page is first shown.
    InterfacePicker* hardware() const { return hardware_; }
    // The page's input picker, made with the interface picker; nothing fills it.
    InputPicker* inputs() const { return inputs_; }

    // What the plot draws: the spectrum unchanged in FFT mode, its third-octave bands (those holding a
    // bin) in RTA mode. Any thread.
    static std::vector<SpectrumPoint> points(SpectrumMode mode, const std::vector<SpectrumPoint>& spectrum);
    // The largest level of `spectrum` as "%.0f", or the em dash when it is empty. Any thread.
    static QString peakReadout(const std::vector<SpectrumPoint>& spectrum);
    // The status line is hidden only for exactly this text.
    static bool showsStatus(const QString& status) { return status != QLatin1String("Microphone off"); }
    // Whether the analyser's state is a capture that ended by a failure: stopped with a status other than
    // "Microphone off".
    static bool endedByFailure(bool running, const QString& status) {
        return !running && showsStatus(status);
    }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHeader();
    void buildPlotCard();
    void buildInputCard();
    void buildReferenceCard();
    void buildFooter();

    void pressStartStop();
    void chooseInterface(int index);
    void fillInterfaces();
    void refreshRunning();
    void refreshSpectrum();
    void refreshReadouts();
    void refreshInputs();
    void refreshFailure();

    MicAnalyzer& analyzer_;
    InterfacePicker* hardware_ = nullptr;
    InputPicker* inputs_ = nullptr;
    SpectrumMode mode_ = SpectrumMode::rta;

    QVBadge* liveBadge_ = nullptr;
    QVMessageLine* failure_ = nullptr;
    QPushButton* startButton_ = nullptr;
    SegmentedPicker* modePicker_ = nullptr;
    SpectrumPlot* plot_ = nullptr;
    QVMetric* peak_ = nullptr;
    QVMetric* arrival_ = nullptr;
    QVMetric* averages_ = nullptr;
    QComboBox* interfaces_ = nullptr;
    Stepper* micStepper_ = nullptr;
    QCheckBox* referenceSwitch_ = nullptr;
    Stepper* referenceStepper_ = nullptr;
    QLabel* status_ = nullptr;
    QVCard* inputCard_ = nullptr;
    QVCard* referenceCard_ = nullptr;  // null until the reference is first on
    QVMetric* path_ = nullptr;
    QVMetric* correlation_ = nullptr;
    QVNumber* latencyField_ = nullptr;
    QVNumber* temperatureField_ = nullptr;
};

}  // namespace quorvel
