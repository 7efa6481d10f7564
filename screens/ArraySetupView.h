#pragma once
// The "Sub arrays" page: starting delays and polarities for an end-fire line of two to four subs or a
// gradient (cardioid) pair, from the spacing and the air temperature, with the layout drawn, one row per
// processor output, the quarter-wave design frequency of the spacing and an eight-step checklist.
//
// The five settings live in the user defaults (array.model, array.kind, array.count, array.spacing,
// array.temperature): read when the page is built, written on every change. A stored value the controls
// cannot set (a count outside 2…4, an unknown kind or subwoofer label, a spacing that is not a finite
// number, a temperature outside −100…100 °C) counts as absent: the page shows the default, and stores
// nothing until the user changes that setting. The first output and the ticked steps belong to the page and
// start afresh with every new page. Main thread only.
#include <QString>
#include <QStringList>
#include <optional>
#include <set>
#include <vector>

#include "dsp/ArrayMath.h"
#include "kit/QVPage.h"

class QComboBox;
class QHBoxLayout;
class QVBoxLayout;
class QAbstractButton;

namespace quorvel {

class Disclosure;
class QVMetric;
class QVNumber;
class SegmentedPicker;
class Stepper;

class ArraySetupView : public QVPage {
    Q_OBJECT
public:
    static constexpr const char* modelKey = "array.model";
    static constexpr const char* kindKey = "array.kind";
    static constexpr const char* countKey = "array.count";
    static constexpr const char* spacingKey = "array.spacing";
    static constexpr const char* temperatureKey = "array.temperature";

    static constexpr int countLow = 2;  // end-fire elements
    static constexpr int countHigh = 4;
    static constexpr int outputStartLow = 1;
    static constexpr int outputStartHigh = 61;
    // What the temperature field takes, °C: wider than the calculator's −40…60, so that a temperature it
    // refuses shows as no elements beside the quarter-wave read-out.
    static constexpr double temperatureLow = -100;
    static constexpr double temperatureHigh = 100;

    explicit ArraySetupView(QWidget* parent = nullptr);

    // The subwoofer labels offered, and the checklist steps, in order.
    static const QStringList& models();
    static const QStringList& checklist();

    QString model() const { return model_; }
    QString kind() const { return kind_; }
    int count() const { return count_; }
    double spacing() const { return spacing_; }          // metres
    double temperature() const { return temperature_; }  // °C
    const std::set<int>& steps() const { return steps_; }

    // The user's changes, as the controls make them: each stores its setting. A change of kind, count or
    // spacing to a different value clears the ticked steps.
    void setModel(const QString& model);
    void setKind(const QString& kind);
    void setCount(int count);
    void setSpacing(double metres);
    // Ignores a temperature outside temperatureLow…temperatureHigh.
    void setTemperature(double celsius);
    void setOutputStart(int output);
    // Ticks step `index` (0-based), or unticks it when ticked.
    void toggleStep(int index);

    // Speed of sound at the stored temperature, m/s (no range check).
    double speedOfSound() const;
    // The calculated elements for the stored settings; empty when the calculator refuses them.
    std::vector<ArrayElement> elements() const;
    // c / (4 × spacing) in Hz, present only when spacing and c are above 0.
    std::optional<double> quarterWaveHz() const;

private:
    void buildDiagram();
    void buildLayoutCard();
    void buildProcessorCard();
    void buildChecklist();
    void refresh();
    void refreshChecklist();

    QString model_;
    QString kind_;
    int count_ = 2;
    double spacing_ = 1.2;
    double temperature_ = 20.0;
    int outputStart_ = 1;
    std::set<int> steps_;

    SegmentedPicker* kindPicker_ = nullptr;
    QHBoxLayout* elementRow_ = nullptr;
    QVMetric* quarterWave_ = nullptr;
    QComboBox* modelPicker_ = nullptr;
    Stepper* countStepper_ = nullptr;
    QVNumber* spacingField_ = nullptr;
    QVNumber* temperatureField_ = nullptr;
    Stepper* outputStepper_ = nullptr;
    QVBoxLayout* processorRows_ = nullptr;
    Disclosure* verify_ = nullptr;
    std::vector<QAbstractButton*> stepButtons_;
};

}  // namespace quorvel
