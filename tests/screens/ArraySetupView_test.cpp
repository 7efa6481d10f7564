#include "ArraySetupView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include "QVBadge.h"
#include "QVMetric.h"
#include "QVNumber.h"
#include "ScreenControls.h"
#include "ScreenTesting.h"

using namespace ScreenTesting;

namespace {

// One processor row as shown: output, label, delay, polarity.
struct Row {
    QString output, label, delay, polarity;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.output.toStdString() << " / " << r.label.toStdString() << " / " << r.delay.toStdString()
              << " / " << r.polarity.toStdString();
}

std::vector<Row> rows(const ArraySetupView& view) {
    const QStringList outputs = texts(&view, "output");
    const QStringList labels = texts(&view, "label");
    const QStringList delays = texts(&view, "delay");
    std::vector<Row> out;
    int i = 0;
    for (QWidget* row : view.findChildren<QWidget*>("processorRow")) {
        const auto* badge = row->findChild<QVBadge*>("polarity");
        out.push_back(
            {outputs.value(i), labels.value(i), delays.value(i), badge ? badge->title() : QString()});
        ++i;
    }
    return out;
}

// The quarter-wave read-out, empty when hidden.
QString quarterWave(const ArraySetupView& view) {
    const auto* metric = view.findChild<QVMetric*>("quarterWave");
    return metric && metric->isVisibleTo(&view) ? metric->value() : QString();
}

QString verifyTitle(const ArraySetupView& view) { return view.findChild<Disclosure*>("verify")->title(); }

QVNumber* number(const ArraySetupView& view, const QString& title) {
    for (QVNumber* n : view.findChildren<QVNumber*>())
        if (n->title() == title) return n;
    return nullptr;
}

// Types `text` into a number field and commits it with Return, as the user does.
void typeInto(QVNumber* field, const QString& text) {
    field->field()->setFocus();
    field->field()->selectAll();
    QTest::keyClicks(field->field(), text);
    QTest::keyClick(field->field(), Qt::Key_Return);
}

Stepper* stepperShowing(const ArraySetupView& view, const QString& suffix) {
    for (Stepper* s : view.findChildren<Stepper*>())
        if (s->text().contains(suffix)) return s;
    return nullptr;
}

class ArraySetupViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        useWorkspaceStyle();
        QSettings().clear();
    }
};

}  // namespace

TEST_F(ArraySetupViewTest, DefaultsGiveTwoEndFireRowsAndQuarterWave) {
    ArraySetupView view;
    EXPECT_EQ(rows(view), (std::vector<Row>{{"Output 1", "Rear", "0.00 ms", "+"},
                                            {"Output 2", "Forward 1", "3.49 ms", "+"}}));
    EXPECT_EQ(texts(&view, "elementOutput"), (QStringList{"OUT 1", "OUT 2"}));
    EXPECT_EQ(texts(&view, "elementPosition"), (QStringList{"0.0 m", "1.2 m"}));
    EXPECT_EQ(quarterWave(view), "72 Hz");
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
    EXPECT_NE(stepperShowing(view, " subs"), nullptr);
    // Building the page writes nothing: only changes are stored.
    EXPECT_TRUE(QSettings().allKeys().isEmpty());
    for (Disclosure* group : view.findChildren<Disclosure*>()) group->setExpanded(true);
    view.toggleStep(0);
    view.toggleStep(1);
    EXPECT_EQ(verifyTitle(view), "Verify · 2/8");
    savePng(&view, "sub-arrays.png", {900, 1400});
}

TEST_F(ArraySetupViewTest, CardioidPairInvertsTheDelayedRearAndKeepsTheStoredCount) {
    QSettings().setValue(ArraySetupView::countKey, 3);
    ArraySetupView view;
    QTest::mouseClick(view.findChild<SegmentedPicker*>()->segment("Cardioid pair"), Qt::LeftButton);
    EXPECT_EQ(view.kind(), "Gradient");
    EXPECT_EQ(rows(view), (std::vector<Row>{{"Output 1", "Rear", "3.49 ms", "\u2212"},
                                            {"Output 2", "Front", "0.00 ms", "+"}}));
    EXPECT_EQ(stepperShowing(view, " subs")->isVisibleTo(&view), false);
    EXPECT_EQ(QSettings().value(ArraySetupView::kindKey).toString(), "Gradient");
    EXPECT_EQ(QSettings().value(ArraySetupView::countKey).toInt(), 3);
}

TEST_F(ArraySetupViewTest, RefusedInputsEmptyTheRowsButTheQuarterWaveFollowsSpacingOnly) {
    ArraySetupView view;
    view.setTemperature(70);
    EXPECT_TRUE(rows(view).empty());
    EXPECT_TRUE(texts(&view, "elementOutput").isEmpty());
    EXPECT_EQ(quarterWave(view), "78 Hz");  // c = 373.72 m/s

    view.setTemperature(20);
    view.setSpacing(0);
    EXPECT_TRUE(rows(view).empty());
    EXPECT_EQ(quarterWave(view), "");
    view.setSpacing(-1);
    EXPECT_EQ(quarterWave(view), "");
}

TEST_F(ArraySetupViewTest, FourSubsFromOutputSixtyOne) {
    ArraySetupView view;
    Stepper* count = stepperShowing(view, " subs");
    QTest::mouseClick(count->plusButton(), Qt::LeftButton);
    QTest::mouseClick(count->plusButton(), Qt::LeftButton);
    EXPECT_EQ(count->text(), "4 subs");
    EXPECT_FALSE(count->plusButton()->isEnabled());
    Stepper* first = stepperShowing(view, "First output");
    for (int i = 0; i < 70; ++i) first->plusButton()->click();
    EXPECT_EQ(first->text(), "First output · 61");
    EXPECT_EQ(texts(&view, "output"), (QStringList{"Output 61", "Output 62", "Output 63", "Output 64"}));
    EXPECT_EQ(texts(&view, "label"), (QStringList{"Rear", "Forward 1", "Forward 2", "Forward 3"}));
    EXPECT_EQ(texts(&view, "elementOutput").last(), "OUT 64");
}

TEST_F(ArraySetupViewTest, SettingsAreStoredOnEveryChangeAndReadByTheNextPage) {
    {
        ArraySetupView view;
        view.resize(900, 1100);
        view.show();
        QTest::mouseClick(view.findChild<SegmentedPicker*>()->segment("Cardioid pair"), Qt::LeftButton);
        typeInto(number(view, "Center spacing"), "1.5");
        typeInto(number(view, "Temperature"), "12.5");
        view.findChild<QComboBox*>()->setCurrentIndex(2);
        EXPECT_EQ(view.spacing(), 1.5);
    }
    QSettings stored;
    EXPECT_EQ(stored.value(ArraySetupView::kindKey).toString(), "Gradient");
    EXPECT_EQ(stored.value(ArraySetupView::spacingKey).toDouble(), 1.5);
    EXPECT_EQ(stored.value(ArraySetupView::temperatureKey).toDouble(), 12.5);
    EXPECT_EQ(stored.value(ArraySetupView::modelKey).toString(), "Custom matched subs");

    ArraySetupView again;
    EXPECT_EQ(again.kind(), "Gradient");
    EXPECT_EQ(again.spacing(), 1.5);
    EXPECT_EQ(again.temperature(), 12.5);
    EXPECT_EQ(again.model(), "Custom matched subs");
    EXPECT_EQ(again.findChild<QComboBox*>()->currentText(), "Custom matched subs");
    EXPECT_EQ(number(again, "Center spacing")->field()->text(), "1.5");
    // Page state does not survive.
    EXPECT_EQ(again.outputStart(), 1);
    EXPECT_TRUE(again.steps().empty());
}

TEST_F(ArraySetupViewTest, StoredValuesTheControlsCannotOfferAreShownAndKept) {
    QSettings().setValue(ArraySetupView::countKey, 7);
    QSettings().setValue(ArraySetupView::modelKey, "Old sub");
    {
        ArraySetupView view;
        EXPECT_EQ(view.count(), 7);
        EXPECT_EQ(stepperShowing(view, " subs")->text(), "7 subs");
        EXPECT_TRUE(rows(view).empty());
        EXPECT_EQ(quarterWave(view), "72 Hz");
        EXPECT_EQ(view.findChild<QComboBox*>()->currentIndex(), -1);
        // Stepping brings it back into range.
        QTest::mouseClick(stepperShowing(view, " subs")->minusButton(), Qt::LeftButton);
        EXPECT_EQ(view.count(), 4);
    }
    EXPECT_EQ(QSettings().value(ArraySetupView::countKey).toInt(), 4);
    EXPECT_EQ(QSettings().value(ArraySetupView::modelKey).toString(), "Old sub");

    QSettings().setValue(ArraySetupView::kindKey, "Line");
    ArraySetupView unknown;
    EXPECT_EQ(unknown.kind(), "Line");
    for (QAbstractButton* b : unknown.findChild<SegmentedPicker*>()->findChildren<QAbstractButton*>())
        EXPECT_FALSE(b->isChecked()) << b->text().toStdString();
    EXPECT_FALSE(stepperShowing(unknown, " subs")->isVisibleTo(&unknown));
    EXPECT_EQ(QSettings().value(ArraySetupView::kindKey).toString(), "Line");
}

TEST_F(ArraySetupViewTest, TicksClearOnKindSpacingOrCountChangesOnly) {
    ArraySetupView view;
    view.resize(900, 1100);
    view.show();
    auto tick = [&](std::initializer_list<int> indices) {
        for (int i : indices)
            view.findChild<Disclosure*>("verify")->findChildren<QAbstractButton*>()[i + 1]->click();
    };
    tick({0, 2, 5});
    EXPECT_EQ(verifyTitle(view), "Verify · 3/8");
    tick({2});
    EXPECT_EQ(verifyTitle(view), "Verify · 2/8");

    typeInto(number(view, "Temperature"), "25");
    view.findChild<QComboBox*>()->setCurrentIndex(1);
    QTest::mouseClick(stepperShowing(view, "First output")->plusButton(), Qt::LeftButton);
    // Retyping the same spacing, and pressing the chosen segment again, are no changes.
    typeInto(number(view, "Center spacing"), "1.2");
    QTest::mouseClick(view.findChild<SegmentedPicker*>()->segment("End-fire"), Qt::LeftButton);
    EXPECT_EQ(verifyTitle(view), "Verify · 2/8");

    typeInto(number(view, "Center spacing"), "1.4");
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
    tick({1});
    QTest::mouseClick(stepperShowing(view, " subs")->plusButton(), Qt::LeftButton);
    EXPECT_EQ(verifyTitle(view), "Verify · 0/8");
    tick({1});
    QTest::mouseClick(view.findChild<SegmentedPicker*>()->segment("Cardioid pair"), Qt::LeftButton);
    EXPECT_TRUE(view.steps().empty());
}
