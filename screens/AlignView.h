#pragma once
// The "Alignment" page: captures named transfer traces from the live reference-plus-mic measurement,
// shows the live estimate or two saved traces as magnitude, phase or coherence, and proposes a starting
// alignment from two saved traces: the delay that lines up two speakers ("Speaker delay") or the delay and
// polarity that sum a sub with a main across a band ("Main + sub"). It applies nothing.
//
// The screen state (labels, chosen traces, band, plot field, mode, last proposal and its message) lives
// only as long as the page. A proposal is cleared when the user changes A, B, the band or the mode, and
// when a trace is deleted; changing the plot field or the labels keeps it. Main thread only.
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "dsp/TransferTypes.h"
#include "kit/QVPage.h"
#include "screens/TransferPlot.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace quorvel {

class Disclosure;
class MeasurementStore;
class MicAnalyzer;
class QVAction;
class QVBadge;
class QVCard;
class QVMetric;
class QVNumber;
class SegmentedPicker;

// What the compare card proposes: the delay between two speakers, or the delay and polarity of a sub
// against a main across a band.
enum class AlignMode { speakerDelay, mainPlusSub };

class AlignView : public QVPage {
    Q_OBJECT
public:
    static constexpr double kThreshold = 0.8;

    AlignView(MicAnalyzer& analyzer, MeasurementStore& store, std::function<void()> onOpenMeasure = {},
              QWidget* parent = nullptr);

    // Screen state.
    QString name() const { return name_; }
    QString position() const { return position_; }
    QString setup() const { return setup_; }
    std::optional<Uuid> a() const { return a_; }
    std::optional<Uuid> b() const { return b_; }
    double low() const { return low_; }    // Hz
    double high() const { return high_; }  // Hz
    TransferField field() const { return field_; }
    AlignMode mode() const { return mode_; }
    const std::optional<AlignmentProposal>& result() const { return result_; }
    QString message() const { return message_; }
    bool subMode() const { return mode_ == AlignMode::mainPlusSub; }

    // The user's changes, as the controls make them.
    void setMode(AlignMode mode);
    void setField(TransferField field);
    void setA(std::optional<Uuid> id);
    void setB(std::optional<Uuid> id);
    void setLow(double hz);
    void setHigh(double hz);
    // The capture card's Save, the compare card's Find, a saved row's delete.
    void save();
    void find();
    void remove(const Uuid& id);

    // Save is offered while the analyser has a delay and at least 3 averages (the store checks the rest).
    static bool canSave(std::optional<double> delayMS, int averages) {
        return delayMS.has_value() && averages >= 3;
    }
    // The first trace in `traces` with `id`; null when there is none (or no id).
    static const TransferTrace* resolve(const std::vector<TransferTrace>& traces,
                                        const std::optional<Uuid>& id);
    // What the plot draws: A and B (with their compensation put back in the phase view) when both resolve,
    // else the live estimate.
    static TransferPlot::Traces plots(const std::vector<TransferTrace>& traces, const std::optional<Uuid>& a,
                                      const std::optional<Uuid>& b, TransferField field,
                                      const std::vector<TransferBin>& live);

private:
    void buildPlotCard();
    void buildCaptureCard();
    void buildCompareCard();
    void buildResultCard();
    void buildSavedCard();

    void clearResult();
    void refreshPlot();
    void refreshLegend();
    void refreshCapture();
    void refreshTraces();
    void refreshCompare();
    void refreshResult();
    void fillPicker(QComboBox* picker, const std::optional<Uuid>& chosen);

    MicAnalyzer& analyzer_;
    MeasurementStore& store_;
    std::function<void()> onOpenMeasure_;

    QString name_ = QStringLiteral("Main A");
    QString position_ = QStringLiteral("Listener position");
    QString setup_ = QStringLiteral("Default setup");
    std::optional<Uuid> a_;
    std::optional<Uuid> b_;
    double low_ = 60;
    double high_ = 100;
    TransferField field_ = TransferField::magnitude;
    AlignMode mode_ = AlignMode::speakerDelay;
    std::optional<AlignmentProposal> result_;
    QString message_;

    SegmentedPicker* modePicker_ = nullptr;
    SegmentedPicker* fieldPicker_ = nullptr;
    TransferPlot* plot_ = nullptr;
    QVBadge* firstBadge_ = nullptr;
    QVBadge* secondBadge_ = nullptr;
    QLabel* averagesLabel_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* setUpButton_ = nullptr;
    QLabel* storeMessage_ = nullptr;
    QLabel* pickerTitleA_ = nullptr;
    QLabel* pickerTitleB_ = nullptr;
    QComboBox* pickerA_ = nullptr;
    QComboBox* pickerB_ = nullptr;
    QWidget* bandRow_ = nullptr;
    QVNumber* lowField_ = nullptr;
    QVNumber* highField_ = nullptr;
    QVAction* findButton_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QVCard* resultCard_ = nullptr;
    QVBadge* invertBadge_ = nullptr;
    QVMetric* resultMetric_ = nullptr;
    QLabel* noteLabel_ = nullptr;
    QVCard* savedCard_ = nullptr;
    Disclosure* savedGroup_ = nullptr;
    QVBoxLayout* savedRows_ = nullptr;
};

}  // namespace quorvel
