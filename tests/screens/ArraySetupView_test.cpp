#include "screens/ArraySetupView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include "ScreenTesting.h"
#include "kit/QVBadge.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

// The processor rows as shown, one "output|label|delay|polarity" string per row.
QStringList rows(const ArraySetupView& view) {
    settle();  // rows added to a shown page appear with the next event round
    QStringList out;
    for (QWidget* row : view.findChildren<QWidget*>("processorRow"))
        out << texts(row, "output").join("") + "|" + texts(row, "label").join("") + "|" +
                   texts(row, "delay").join("") + "|" + row->findChild<QVBadge*>("polarity")->title();
    return out;
}

// The quarter-wave read-out, empty when hidden.
QString quarterWave(const ArraySetupView& view) {
    const auto* metric = view.findChild<QVMetric*>("quarterWave");
    return metric->isVisibleTo(&view) ? metric->value() : QString();
}

QString verifyTitle(const ArraySetupView& view) { return view.findChild<Disclosure*>("verify")->title(); }

void chooseKind(const ArraySetupView& view, const QString& label) {
    QTest::mouseClick(view.findChild<SegmentedPicker*>()->segment(label), Qt::LeftButton);
}

class ArraySetupViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        useWorkspaceStyle();
        QSettings().clear();
        view_ = std::make_unique<ArraySetupView>();
        view_->resize(900, 1400);
        view_->show();
    }
    std::unique_ptr<ArraySetupView> view_;
};

}  // namespace

TEST_F(ArraySetupViewTest, LayoutsGiveTheProcessorRowsAndQuarterWave) {
    ArraySetupView& view = *view_;
    // Defaults: end-fire, 2 subs, 1.2 m, 20 °C (c = 343.42 m/s), first output 1.
    EXPECT_EQ(rows(view), (QStringList{"Output 1|Rear|0.00 ms|+", "Output 2|Forward 1|3.49 ms|+"}));
    EXPECT_EQ(texts(&view, "elementOutput"), (QStringList{"OUT 1", "OUT 2"}));
    EXPECT_EQ(texts(&view, "elementPosition"), (QStringList{"0.0 m", "1.2 m"}));
    EXPECT_EQ(quarterWave(view), "72 Hz");
    EXPECT_TRUE(QSettings().allKeys().isEmpty()) << "building the page stores nothing";
    for (Disclosure* group : view.findChildren<Disclosure*>()) group->setExpanded(true);
    view.toggleStep(0);
    view.toggleStep(1);
    savePng(&view, "sub-arrays.png", {900, 1400});

    chooseKind(view, "Cardioid pair");
    EXPECT_EQ(rows(view), (QStringList{"Output 1|Rear|3.49 ms|\u2212", "Output 2|Front|0.00 ms|+"}));
    EXPECT_FALSE(stepper(&view, " subs")->isVisibleTo(&view));
    EXPECT_EQ(QSettings().value(ArraySetupView::countKey, "absent").toString(), "absent");

    chooseKind(view, "End-fire");
    stepper(&view, " subs")->plusButton()->click();
    stepper(&view, " subs")->plusButton()->click();
    EXPECT_FALSE(stepper(&view, " subs")->plusButton()->isEnabled());
    for (int i = 0; i < 70; ++i) stepper(&view, "First output")->plusButton()->click();
    EXPECT_EQ(stepper(&view, "First output")->text(), "First output · 61");
    EXPECT_EQ(rows(view).last(), "Output 64|Forward 3|10.48 ms|+");
    EXPECT_EQ(texts(&view, "elementOutput").last(), "OUT 64");
    // Refused inputs empty the rows; the quarter-wave read-out needs only spacing and c above 0.
    view.setTemperature(70);
    EXPECT_TRUE(rows(view).isEmpty());
    EXPECT_TRUE(texts(&view, "elementOutput").isEmpty());
    EXPECT_EQ(quarterWave(view), "78 Hz");  // c = 373.72 m/s
    view.setTemperature(20);
    view.setSpacing(0);
    EXPECT_TRUE(rows(view).isEmpty());
    EXPECT_EQ(quarterWave(view), "");
}

TEST_F(ArraySetupViewTest, SettingsAreStoredOnEveryChangeAndValuesTheControlsCannotSetCountAsAbsent) {
    chooseKind(*view_, "Cardioid pair");
    type(view_.get(), "Center spacing", "1.5");
    type(view_.get(), "Temperature", "12.5");
    view_->findChild<QComboBox*>()->setCurrentIndex(2);
    view_.reset();

    ArraySetupView again;
    EXPECT_EQ(again.kind(), "Gradient");
    EXPECT_EQ(again.spacing(), 1.5);
    EXPECT_EQ(again.temperature(), 12.5);
    EXPECT_EQ(again.findChild<QComboBox*>()->currentText(), "Custom matched subs");
    EXPECT_EQ(QSettings().value(ArraySetupView::modelKey).toString(), "Custom matched subs");

    // A hand-edited file: what the controls cannot set reads as absent, so the defaults apply, and the
    // stored values stay until that setting is changed.
    const std::pair<const char*, QVariant> odd[] = {{ArraySetupView::countKey, -7},
                                                    {ArraySetupView::kindKey, "Line"},
                                                    {ArraySetupView::modelKey, "Old sub"},
                                                    {ArraySetupView::spacingKey, "nan"},
                                                    {ArraySetupView::temperatureKey, "inf"}};
    for (const auto& [key, value] : odd) QSettings().setValue(key, value);
    ArraySetupView defaults;
    EXPECT_EQ(defaults.kind(), "End-fire");
    EXPECT_EQ(defaults.count(), 2);
    EXPECT_EQ(defaults.spacing(), 1.2);
    EXPECT_EQ(defaults.temperature(), 20.0);
    EXPECT_EQ(defaults.findChild<QComboBox*>()->currentText(), "Meyer 700-HP");
    EXPECT_EQ(stepper(&defaults, " subs")->text(), "2 subs");
    EXPECT_EQ(rows(defaults), (QStringList{"Output 1|Rear|0.00 ms|+", "Output 2|Forward 1|3.49 ms|+"}));
    EXPECT_EQ(quarterWave(defaults), "72 Hz");
    for (const auto& [key, value] : odd) EXPECT_EQ(QSettings().value(key), value) << key;
    stepper(&defaults, " subs")->plusButton()->click();
    EXPECT_EQ(QSettings().value(ArraySetupView::countKey).toInt(), 3);
    // Out of the stepper's reach on either side.
    for (int count : {1, 5}) {
        QSettings().setValue(ArraySetupView::countKey, count);
        EXPECT_EQ(ArraySetupView().count(), 2) << count;
    }
    // Out of the temperature field's reach, typed or stored: no design frequency of three hundred digits.
    type(&defaults, "Temperature", "1e300");
    EXPECT_EQ(defaults.temperature(), 20.0);
    EXPECT_EQ(quarterWave(defaults), "72 Hz");
    for (double celsius : {1e300, -100.5, 100.5}) {
        QSettings().setValue(ArraySetupView::temperatureKey, celsius);
        const ArraySetupView stored;
        EXPECT_EQ(stored.temperature(), 20.0) << celsius;
        EXPECT_EQ(quarterWave(stored), "72 Hz") << celsius;
    }
    QSettings().setValue(ArraySetupView::temperatureKey, -100);
    EXPECT_EQ(ArraySetupView().temperature(), -100);
}

TEST_F(ArraySetupViewTest, TicksClearOnKindSpacingOrCountChangesOnly) {
    ArraySetupView& view = *view_;
    auto tick = [&](int i) {
        view.findChild<Disclosure*>("verify")->findChildren<QAbstractButton*>()[i + 1]->click();
    };
    tick(0);
    tick(2);
    tick(5);
    tick(2);
    EXPECT_EQ(verifyTitle(view), "Verify · 2/8");
    // Other settings, and re-entering the same spacing or kind, keep the ticks.
    type(&view, "Temperature", "25");
    view.findChild<QComboBox*>()->setCurrentIndex(1);
    stepper(&view, "First output")->plusButton()->click();
    type(&view, "Center spacing", "1.2");
    chooseKind(view, "End-fire");
    EXPECT_EQ(verifyTitle(view), "Verify · 2/8");

    type(&view, "Center spacing", "1.4");
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
    tick(1);
    stepper(&view, " subs")->plusButton()->click();
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
    tick(1);
    chooseKind(view, "Cardioid pair");
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
}

}  // namespace quorvel
