#include "screens/AlignView.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "ScreenTesting.h"
#include "dsp/AlignmentDSP.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "library/MeasurementStore.h"
#include "screens/ScreenControls.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

// A flat response with a little delay in it, coherent everywhere.
std::vector<TransferBin> bins(double delayMS) {
    std::vector<TransferBin> out;
    for (int k = 1; k < 400; ++k) {
        const double hz = 48000.0 * k / 16384;
        const double theta = -2 * M_PI * hz * delayMS / 1000;
        out.push_back({k, hz, std::cos(theta), std::sin(theta), 0.95});
    }
    return out;
}

TransferTrace trace(const std::string& name, double arrivalMS, double compensationMS = 0) {
    TransferTrace t;
    t.name = name;
    t.sampleRate = 48000;
    t.arrivalMS = arrivalMS;
    t.compensationMS = compensationMS;
    t.micChannel = 0;
    t.referenceChannel = 1;
    t.averages = 5;
    t.bins = bins(0.2);
    t.hardwareIdentity = "device:42";
    return t;
}

class AlignViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        useWorkspaceStyle();
        QFile::remove(store_.url());
    }

    // A page over a store holding `traces`.
    std::unique_ptr<AlignView> page(std::vector<TransferTrace> traces = {}) {
        store_.setTraces(std::move(traces));
        auto view = std::make_unique<AlignView>(analyzer_, store_, [this] { ++openedMeasure_; });
        view->resize(900, 1400);
        view->show();
        return view;
    }

    static QComboBox* picker(AlignView& v, const char* name) { return v.findChild<QComboBox*>(name); }
    static QString badge(AlignView& v, const char* name) {
        auto* b = v.findChild<QVBadge*>(name);
        return b->isVisibleTo(&v) ? b->title() : QString();
    }
    static bool visible(AlignView& v, const char* name) {
        return v.findChild<QWidget*>(name)->isVisibleTo(&v);
    }
    // Chooses the picker entry showing `text` as the user does.
    static void choose(QComboBox* box, const QString& text) { box->setCurrentIndex(box->findText(text)); }

    VirtualRig rig_;  // before the analyser: it installs the audio system
    MicAnalyzer analyzer_;
    MeasurementStore store_;
    int openedMeasure_ = 0;
};

}  // namespace

TEST_F(AlignViewTest, FindProposesTheArrivalDifferenceOrSaysWhyNot) {
    const TransferTrace a = trace("Left main", 2.0);
    TransferTrace b = trace("Right main", 3.5);
    TransferTrace elsewhere = trace("Balcony", 1.0);
    elsewhere.position = "Balcony";
    auto view = page({a, b, elsewhere});

    EXPECT_EQ(badge(*view, "firstBadge"), "Live");
    EXPECT_FALSE(view->findChild<QVAction*>("find")->isEnabled());
    choose(picker(*view, "pickerA"), "Left main");
    EXPECT_EQ(badge(*view, "firstBadge"), "Left main");
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 1u);  // A alone: still live
    choose(picker(*view, "pickerB"), "Right main");
    EXPECT_EQ(badge(*view, "secondBadge"), "Right main");
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 2u);

    view->findChild<QVAction*>("find")->click();
    ASSERT_TRUE(view->result());
    EXPECT_TRUE(visible(*view, "resultCard"));
    EXPECT_EQ(view->findChild<QVMetric*>("resultMetric")->value(), "1.50 ms");
    EXPECT_EQ(view->findChild<QVMetric*>("resultMetric")->label(), "Add delay to Left main");
    EXPECT_FALSE(visible(*view, "compareMessage"));
    savePng(view.get(), "alignment-virtual.png", {900, 1400});

    // Another position: no proposal, and the message says so.
    choose(picker(*view, "pickerB"), "Balcony");
    view->findChild<QVAction*>("find")->click();
    EXPECT_FALSE(view->result());
    EXPECT_FALSE(visible(*view, "resultCard"));
    EXPECT_EQ(view->message(), "Choose compatible, coherent traces.");
    EXPECT_TRUE(visible(*view, "compareMessage"));
    // The same trace twice is no pair either.
    choose(picker(*view, "pickerB"), "Left main");
    view->findChild<QVAction*>("find")->click();
    EXPECT_FALSE(view->result());

    // Sub mode renames the pickers and the action and offers the band.
    QTest::mouseClick(view->findChild<SegmentedPicker*>()->segment("Main + sub"), Qt::LeftButton);
    EXPECT_TRUE(showsText(view.get(), "Main"));
    EXPECT_TRUE(showsText(view.get(), "Sub"));
    EXPECT_EQ(view->findChild<QVAction*>("find")->title(), "Find sub alignment");
    QStringList band;
    for (QVNumber* n : view->findChildren<QVNumber*>())
        if (n->isVisibleTo(view.get())) band << n->title() + "=" + n->field()->text() + n->unit();
    EXPECT_EQ(band, (QStringList{"Low=60Hz", "High=100Hz"}));
}

TEST_F(AlignViewTest, ResultClearsOnUserChangesOfPairBandAndModeOnly) {
    auto view = page({trace("A", 1.0), trace("B", 2.0), trace("C", 2.5)});
    auto findNow = [&] {
        view->findChild<QVAction*>("find")->click();
        ASSERT_TRUE(view->result());
    };
    choose(picker(*view, "pickerA"), "A");
    choose(picker(*view, "pickerB"), "B");
    findNow();

    // The plot field, and a trace arriving in the store, keep the result.
    QTest::mouseClick(view->findChildren<SegmentedPicker*>()[1]->segment("Phase"), Qt::LeftButton);
    store_.setTraces([&] {
        auto more = store_.traces();
        more.push_back(trace("D", 3.0));
        return more;
    }());
    EXPECT_TRUE(view->result());

    choose(picker(*view, "pickerB"), "C");
    EXPECT_FALSE(view->result());
    findNow();
    choose(picker(*view, "pickerA"), "D");
    EXPECT_FALSE(view->result());
    findNow();
    QTest::mouseClick(view->findChildren<SegmentedPicker*>()[0]->segment("Main + sub"), Qt::LeftButton);
    EXPECT_FALSE(view->result());
    view->setLow(60);  // same value: no change
    view->setMode(AlignMode::speakerDelay);
    findNow();
    view->setHigh(120);
    EXPECT_FALSE(view->result());
    // The message stays until the next Find.
    choose(picker(*view, "pickerB"), "D");
    view->findChild<QVAction*>("find")->click();
    EXPECT_EQ(view->message(), "Choose compatible, coherent traces.");
    choose(picker(*view, "pickerB"), "A");
    EXPECT_EQ(view->message(), "Choose compatible, coherent traces.");
}

TEST_F(AlignViewTest, DeletingTraceAReturnsToLiveAndRewritesTheFile) {
    auto view = page({trace("A", 1.0), trace("B", 2.0)});
    const Uuid idA = store_.traces()[0].id;
    choose(picker(*view, "pickerA"), "A");
    choose(picker(*view, "pickerB"), "B");
    view->findChild<QVAction*>("find")->click();
    ASSERT_TRUE(view->result());
    EXPECT_EQ(view->findChild<Disclosure*>("savedGroup")->title(), "Saved traces · 2");
    view->findChild<Disclosure*>("savedGroup")->header()->click();
    EXPECT_EQ(texts(view.get(), "savedDetail"),
              (QStringList{"1.00 ms · Listener position", "2.00 ms · Listener position"}));

    QToolButton* trashA = nullptr;
    for (QToolButton* b : view->findChildren<QToolButton*>())
        if (b->accessibleName() == "Remove A") trashA = b;
    ASSERT_NE(trashA, nullptr);
    trashA->click();
    settle();

    EXPECT_EQ(view->a(), idA);  // still held, no longer resolving
    EXPECT_EQ(badge(*view, "firstBadge"), "Live");
    EXPECT_EQ(picker(*view, "pickerA")->currentIndex(), -1);
    EXPECT_FALSE(view->findChild<QVAction*>("find")->isEnabled());
    EXPECT_FALSE(visible(*view, "resultCard"));
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 1u);

    MeasurementStore reloaded;
    ASSERT_EQ(reloaded.traces().size(), 1u);
    EXPECT_EQ(reloaded.traces()[0].name, "B");

    for (QToolButton* b : view->findChildren<QToolButton*>())
        if (b->accessibleName() == "Remove B") b->click();
    settle();
    EXPECT_FALSE(visible(*view, "savedCard"));
}

TEST_F(AlignViewTest, SaveCapturesTheLiveMeasurementOnceItHasThreeAverages) {
    EXPECT_FALSE(AlignView::canSave(1.0, 2));
    EXPECT_TRUE(AlignView::canSave(1.0, 3));
    EXPECT_FALSE(AlignView::canSave(std::nullopt, 10));

    auto view = page();
    auto* save = view->findChild<QPushButton*>("save");
    EXPECT_FALSE(save->isEnabled());
    analyzer_.setDual(true);
    analyzer_.start();
    ASSERT_TRUE(rig_.measure(analyzer_));
    ASSERT_GE(analyzer_.averages(), 3);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(visible(*view, "setUp"));
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().front(), analyzer_.transfer());
    EXPECT_TRUE(showsText(view.get(), QString::number(analyzer_.averages()) + " averages"));

    save->click();
    store_.waitForFile();
    ASSERT_EQ(store_.traces().size(), 1u);
    EXPECT_EQ(store_.traces()[0].name, "Main A");
    EXPECT_EQ(view->findChild<QLabel*>("storeMessage")->text(), "Captured Main A");
    EXPECT_EQ(picker(*view, "pickerA")->count(), 2);

    // A stopped analyser offers no Save but the way to the Measure page.
    analyzer_.stop();
    EXPECT_FALSE(save->isEnabled());
    view->findChild<QPushButton*>("setUp")->click();
    EXPECT_EQ(openedMeasure_, 1);
}

TEST(AlignViewPlots, PhaseViewPutsTheCaptureCompensationBack) {
    TransferTrace t = trace("A", 1.0, 1.0);
    t.bins = {{1, 250, 1, 0, 0.9}, {2, 500, 0, 2, 0.5}};
    const std::vector<TransferBin> r = AlignmentDSP::withCompensation(t);
    ASSERT_NE(r, t.bins);

    TransferTrace u = trace("B", 2.0);
    const std::vector<TransferBin> live{{7, 1000, 1, 1, 1}};
    const std::vector<TransferTrace> saved{t, u};
    EXPECT_EQ(AlignView::plots(saved, t.id, u.id, TransferField::phase, live)[0], r);
    EXPECT_EQ(AlignView::plots(saved, t.id, u.id, TransferField::magnitude, live)[0], t.bins);
    // Unless both resolve the live estimate is drawn as it is, also in the phase view.
    EXPECT_EQ(AlignView::plots(saved, t.id, std::nullopt, TransferField::phase, live),
              TransferPlot::Traces{live});
    EXPECT_EQ(AlignView::plots(saved, t.id, Uuid::generate(), TransferField::phase, live),
              TransferPlot::Traces{live});
}

}  // namespace quorvel
