#include "screens/AnalyzerView.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include "ScreenTesting.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVBadge.h"
#include "kit/QVFormat.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "screens/ScreenControls.h"
#include "screens/SpectrumPlot.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

class AnalyzerViewTest : public ::testing::Test {
protected:
    void SetUp() override { useWorkspaceStyle(); }
    void open() {
        view_ = std::make_unique<AnalyzerView>(*analyzer_);
        view_->resize(900, 1300);
        view_->show();
        m.events();
    }
    QString metric(const char* name) const { return view_->findChild<QVMetric*>(name)->value(); }
    QString badge() const { return view_->findChild<QVBadge*>("liveBadge")->title(); }
    QString emptyTitle() const { return view_->findChild<SpectrumPlot*>()->emptyTitle(); }
    bool visible(const char* name) const {
        return view_->findChild<QWidget*>(name)->isVisibleTo(view_.get());
    }
    Stepper* stepper(const QString& prefix) const {
        for (Stepper* s : view_->findChildren<Stepper*>())
            if (s->text().startsWith(prefix)) return s;
        return nullptr;
    }
    QPushButton* startStop() const { return view_->findChild<QPushButton*>("startStop"); }
    void startMic() {
        QTest::mouseClick(startStop(), Qt::LeftButton);
        m.events();
    }

    SoundModels m;
    MicAnalyzer* analyzer_ = m.analyzer.get();
    std::unique_ptr<AnalyzerView> view_;
};

}  // namespace

TEST_F(AnalyzerViewTest, FreshPageStopsAndStoresNothing) {
    // A failed start leaves its text in the status; showing the page must not stop (and so reset) it.
    analyzer_->setMicChannel(5);
    analyzer_->start();
    m.events();
    ASSERT_EQ(analyzer_->status(), MicAnalyzer::statusBadChannel);

    open();
    EXPECT_EQ(analyzer_->status(), MicAnalyzer::statusBadChannel);
    EXPECT_TRUE(visible("status"));
    EXPECT_FALSE(QSettings().contains(InterfacePicker::settingsKey));
    EXPECT_EQ(badge(), "Mic off");
    EXPECT_EQ(startStop()->text(), "Start mic");
    EXPECT_EQ(emptyTitle(), "Ready to measure");
    EXPECT_EQ(metric("peak"), "\u2014");
    EXPECT_EQ(metric("arrival"), "\u2014");
    EXPECT_FALSE(visible("referenceCard"));
    EXPECT_FALSE(stepper("Reference")->isVisibleTo(view_.get()));
    EXPECT_EQ(stepper("Mic")->text(), "Mic · channel 6");
    // The interface list: the system default, then the devices; the stored default is chosen.
    auto* interfaces = view_->findChild<QComboBox*>("interfaces");
    ASSERT_EQ(interfaces->count(), 2);
    EXPECT_EQ(interfaces->itemText(0), "System default");
    EXPECT_EQ(interfaces->itemText(1), "Interface");
    EXPECT_EQ(interfaces->currentIndex(), 0);

    // Stepping after the failure stops the analyser, which brings back "Microphone off" and hides the line.
    QTest::mouseClick(stepper("Mic")->minusButton(), Qt::LeftButton);
    EXPECT_EQ(analyzer_->micChannel(), 4);
    EXPECT_EQ(analyzer_->status(), MicAnalyzer::statusOff);
    EXPECT_FALSE(visible("status"));
    EXPECT_FALSE(AnalyzerView::showsStatus("Microphone off"));
    EXPECT_TRUE(AnalyzerView::showsStatus("microphone off"));
}

TEST_F(AnalyzerViewTest, LiveSpectrumAndAnyInputChangeStopsTheCapture) {
    open();
    startMic();
    ASSERT_TRUE(analyzer_->running()) << analyzer_->status().toStdString();
    EXPECT_EQ(badge(), "Live");
    EXPECT_EQ(startStop()->text(), "Stop");
    EXPECT_EQ(emptyTitle(), "Listening…");
    ASSERT_TRUE(m.measure());
    EXPECT_EQ(emptyTitle(), "");
    EXPECT_EQ(view_->findChild<SpectrumPlot*>()->points().size(), 31u);
    EXPECT_NE(metric("peak"), "\u2014");
    QTest::mouseClick(view_->findChild<SegmentedPicker*>()->segment("FFT"), Qt::LeftButton);
    EXPECT_EQ(view_->findChild<SpectrumPlot*>()->points(), analyzer_->spectrum());
    savePng(view_.get(), "measure.png", {900, 1300});
    startMic();
    EXPECT_FALSE(analyzer_->running());
    EXPECT_EQ(badge(), "Mic off");

    // Each change of input stops the capture and returns the plot to "Ready to measure".
    const std::function<void()> changes[] = {
        [&] {
            QTest::mouseClick(stepper("Mic")->plusButton(), Qt::LeftButton);
            EXPECT_EQ(analyzer_->micChannel(), 1);
        },
        [&] {
            view_->findChild<QCheckBox*>("referenceSwitch")->click();
            EXPECT_TRUE(analyzer_->dual());
            EXPECT_TRUE(visible("referenceCard"));
        },
        [&] {
            QTest::mouseClick(stepper("Reference")->plusButton(), Qt::LeftButton);
            EXPECT_EQ(analyzer_->referenceChannel(), 2);
        },
        [&] {
            view_->findChild<QComboBox*>("interfaces")->setCurrentIndex(1);
            EXPECT_EQ(QSettings().value(InterfacePicker::settingsKey).toLongLong(),
                      qint64(m.system->idOf("Interface")));
        },
    };
    for (const auto& change : changes) {
        analyzer_->setMicChannel(0);
        analyzer_->setReferenceChannel(1);
        startMic();
        ASSERT_TRUE(analyzer_->running());
        change();
        EXPECT_FALSE(analyzer_->running());
        EXPECT_EQ(emptyTitle(), "Ready to measure");
    }
    view_->findChild<QComboBox*>("interfaces")->setCurrentIndex(0);
    EXPECT_EQ(QSettings().value(InterfacePicker::settingsKey).toLongLong(), 0);
}

TEST_F(AnalyzerViewTest, ReferenceReadoutsFollowTheMeasuredDelay) {
    analyzer_->setDual(true);
    analyzer_->setMicChannel(0);
    analyzer_->setReferenceChannel(1);
    open();
    EXPECT_EQ(metric("path"), "\u2014");
    EXPECT_EQ(metric("correlation"), "0.00");
    startMic();
    ASSERT_TRUE(m.measure());
    EXPECT_EQ(metric("arrival"), "10.00");
    // 10 ms at 20 °C: 0.010 × 343.42 m/s.
    EXPECT_EQ(metric("path"), "3.43");
    EXPECT_EQ(metric("averages"), QString::number(analyzer_->averages()));
    EXPECT_EQ(metric("correlation"), QString::number(analyzer_->correlation(), 'f', 2));
    EXPECT_GT(analyzer_->correlation(), 0.9);
    // A fixed latency beyond the delay leaves no path; the fields show values set elsewhere.
    analyzer_->setCalibrationMS(11);
    EXPECT_EQ(metric("path"), "\u2014");
    analyzer_->setCalibrationMS(2);
    EXPECT_EQ(metric("path"), "2.75");
    analyzer_->setTemperature(30);
    ASSERT_TRUE(analyzer_->equivalentMeters());
    EXPECT_EQ(metric("path"), qvFixed(*analyzer_->equivalentMeters(), 2));
    EXPECT_NE(metric("path"), "2.75");
    QStringList fields;
    for (QVNumber* n : view_->findChildren<QVNumber*>()) fields << n->field()->text();
    EXPECT_EQ(fields, (QStringList{"2", "30"}));
    savePng(view_.get(), "measure-reference.png", {900, 1300});
}

TEST(AnalyzerViewRules, PeakIsTheLoudestBinWholeDecibels) {
    EXPECT_EQ(AnalyzerView::peakReadout({}), "\u2014");
    EXPECT_EQ(AnalyzerView::peakReadout({{1, 100, -20}, {2, 200, -6.4}, {3, 300, -50}}), "-6");
    EXPECT_EQ(AnalyzerView::peakReadout({{1, 100, -80}, {2, 200, -90}}), "-80");
}

}  // namespace quorvel
