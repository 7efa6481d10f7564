// The Measure and Alignment pages on the real analyser and measurement store over the virtual device.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "Listings.h"
#include "ScreenTesting.h"
#include "WindowInput.h"
#include "dsp/AlignmentDSP.h"
#include "engine/InputPicker.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVFormat.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "library/MeasurementStore.h"
#include "screens/AlignView.h"
#include "screens/AnalyzerView.h"
#include "screens/SpectrumPlot.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

struct AnalyzerViewTest : PageTest<AnalyzerView> {
    MicAnalyzer* analyzer_ = m.analyzer.get();
    void open() {
        view = std::make_unique<AnalyzerView>(*analyzer_);
        show({900, 1300});
    }
    QString metric(const char* name) const { return child<QVMetric>(name)->value(); }
    QString emptyTitle() const { return view->findChild<SpectrumPlot*>()->emptyTitle(); }
    Stepper* stepper(const QString& prefix) const {
        return ScreenTesting::stepper(view.get(), prefix + " · ");
    }
    QPushButton* startStop() const { return child<QPushButton>("startStop"); }
    // Presses the button and waits for what it began: a start comes back from its worker.
    void startMic() {
        QTest::mouseClick(startStop(), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !analyzer_->starting(); }, 20000));
        m.events();
    }
};

}  // namespace

TEST_F(AnalyzerViewTest, LiveSpectrumAndAnyInputChangeStopsTheCapture) {
    open();
    startMic();
    ASSERT_TRUE(analyzer_->running()) << analyzer_->status().toStdString();
    EXPECT_EQ(badge("liveBadge"), "Live");
    EXPECT_EQ(startStop()->text(), "Stop");
    EXPECT_EQ(emptyTitle(), "Listening…");
    ASSERT_TRUE(m.measure());
    EXPECT_EQ(emptyTitle(), "");
    // At 48 kHz the 20 Hz and 40 Hz bands hold no bin and are left out.
    EXPECT_EQ(view->findChild<SpectrumPlot*>()->points().size(), 29u);
    EXPECT_NE(metric("peak"), "\u2014");
    QTest::mouseClick(view->findChild<SegmentedPicker*>()->segment("FFT"), Qt::LeftButton);
    EXPECT_EQ(view->findChild<SpectrumPlot*>()->points(), analyzer_->spectrum());
    savePng(view.get(), "measure.png", {900, 1300});
    startMic();
    EXPECT_FALSE(analyzer_->running());
    EXPECT_EQ(badge("liveBadge"), "Mic off");
    // Each change of input stops the capture and returns the plot to "Ready to measure".
    const std::function<void()> changes[] = {
        [&] {
            QTest::mouseClick(stepper("Mic")->plusButton(), Qt::LeftButton);
            EXPECT_EQ(analyzer_->micChannel(), 1);
        },
        [&] {
            child<QCheckBox>("referenceSwitch")->click();
            EXPECT_TRUE(analyzer_->dual());
            EXPECT_TRUE(shown("referenceCard"));
        },
        [&] {
            QTest::mouseClick(stepper("Reference")->plusButton(), Qt::LeftButton);
            EXPECT_EQ(analyzer_->referenceChannel(), 2);
        },
        [&] {
            child<QComboBox>("interfaces")->setCurrentIndex(1);
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
    child<QComboBox>("interfaces")->setCurrentIndex(0);
    EXPECT_EQ(QSettings().value(InterfacePicker::settingsKey).toLongLong(), 0);
}

// The page makes its two pickers when it is first shown, once for its life. The input picker is a
// placeholder: nothing asks it for its guidance text, and nothing fills its options.
TEST_F(AnalyzerViewTest, ThePageMakesItsInterfaceAndInputPickersWhenFirstShown) {
    view = std::make_unique<AnalyzerView>(*analyzer_);
    EXPECT_EQ(view->hardware(), nullptr);
    EXPECT_EQ(view->inputs(), nullptr);
    show({900, 1300});
    ASSERT_NE(view->inputs(), nullptr);
    ASSERT_NE(view->hardware(), nullptr);
    // The interface menu: the system default, then each device with its sound system and channels.
    const auto* interfaces = child<QComboBox>("interfaces");
    ASSERT_EQ(interfaces->count(), 2);
    EXPECT_EQ(interfaces->itemText(0), "System default");
    EXPECT_EQ(interfaces->itemText(1), "Interface \u00b7 Virtual \u00b7 4 in, 4 out");
    EXPECT_EQ(view->hardware()->devices()[0].name, "Interface");
    EXPECT_EQ(view->inputs()->parent(), view.get());
    EXPECT_TRUE(view->inputs()->options().isEmpty());
    EXPECT_EQ(view->inputs()->selected(), "");
    EXPECT_EQ(view->inputs()->status(), "");
    const InputPicker* first = view->inputs();
    view->hide();
    show({900, 1300});
    EXPECT_EQ(view->inputs(), first) << "one per page";
}

// Devices come and go while the interface menu is open: the open list takes the size a fresh opening gives
// it, shorter as well as longer. A device with a long name, chosen, shows its whole name on the closed menu.
TEST_F(AnalyzerViewTest, TheInterfaceMenuFollowsItsDevicesWhileOpenAndShowsAChosenNameWhole) {
    open();
    auto* menu = child<QComboBox>("interfaces");
    const QStringList racks = {"Stage rack A", "Stage rack B", "Stage rack C", "Stage rack D"};
    for (const QString& rack : racks)
        m.system->addDevice({.name = rack.toStdString(), .inputChannels = 2, .outputChannels = 2});
    menu->showPopup();
    settleListings();
    ASSERT_EQ(menu->count(), 6);
    QWidget* list = menu->view()->window();
    const auto freshHeight = [&] {
        menu->hidePopup();
        menu->showPopup();
        settleListings();
        return list->height();
    };
    const int six = list->height();
    EXPECT_EQ(six, freshHeight());

    for (const QString& rack : racks) m.system->removeDevice(rack.toStdString());
    settleListings();
    ASSERT_EQ(menu->count(), 2);
    const int two = list->height();
    EXPECT_LT(two, six);
    EXPECT_EQ(two, freshHeight());
    m.system->addDevice({.name = racks[0].toStdString(), .inputChannels = 2, .outputChannels = 2});
    settleListings();
    ASSERT_EQ(menu->count(), 3);
    EXPECT_EQ(list->height(), freshHeight());
    menu->hidePopup();

    const QString name = "Monitor of the front-of-house stage box";
    m.system->addDevice({.name = name.toStdString(), .inputChannels = 6, .outputChannels = 6});
    settleListings();
    menu->setCurrentIndex(menu->findText(name, Qt::MatchStartsWith));
    settleLayout();
    ASSERT_TRUE(menu->currentText().startsWith(name));
    QStyleOptionComboBox option;
    option.initFrom(menu);
    option.currentText = menu->currentText();
    const QRect label =
        menu->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, menu);
    EXPECT_GE(label.width(), menu->fontMetrics().horizontalAdvance(menu->currentText()));
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
    // A fixed latency beyond the delay leaves no path; the fields show values set elsewhere.
    analyzer_->setCalibrationMS(11);
    EXPECT_EQ(metric("path"), "\u2014");
    analyzer_->setCalibrationMS(2);
    EXPECT_EQ(metric("path"), "2.75");
    analyzer_->setTemperature(30);
    EXPECT_EQ(metric("path"), qvFixed(analyzer_->equivalentMeters().value_or(0), 2));
    QStringList fields;
    for (QVNumber* n : view->findChildren<QVNumber*>()) fields << n->field()->text();
    EXPECT_EQ(fields, (QStringList{"2", "30"}));
    savePng(view.get(), "measure-reference.png", {900, 1300});
}

// The reference card is made the first time the reference is on: it stands between the input card and the
// note at the foot of the page, and switching the reference off and on again shows that same card.
TEST_F(AnalyzerViewTest, TheReferenceCardComesBelowTheInputCardOnce) {
    open();
    auto* reference = child<QCheckBox>("referenceSwitch");
    reference->click();
    settleLayout();
    ASSERT_TRUE(shown("referenceCard"));
    auto* card = child("referenceCard");
    const QWidget* inputCard = reference->parentWidget();
    const QLabel* note = nullptr;
    for (const QLabel* label : view->findChildren<QLabel*>())
        if (label->text().startsWith("Uncalibrated dBFS")) note = label;
    ASSERT_NE(note, nullptr);
    const auto top = [&](const QWidget* w) { return w->mapTo(view->widget(), QPoint(0, 0)).y(); };
    EXPECT_GT(top(card), top(inputCard) + inputCard->height());
    EXPECT_LT(top(card) + card->height(), top(note));
    reference->click();
    EXPECT_FALSE(shown("referenceCard"));
    reference->click();
    EXPECT_TRUE(shown("referenceCard"));
    EXPECT_EQ(view->findChildren<QWidget*>("referenceCard"), QList<QWidget*>{card});
}

// With the page at its end after a refused start: the channel's "+" stops the capture, which takes the
// reason away, and the reference switch takes its channel and card away; neither moves under the pointer.
TEST_F(AnalyzerViewTest, ClicksThatHideTheReasonOrTheReferenceLeaveTheControlInPlace) {
    open();
    show({900, 600});
    analyzer_->setDual(true);
    analyzer_->setReferenceChannel(analyzer_->micChannel());
    startMic();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyzer_->status() != MicAnalyzer::statusOff; }));
    ASSERT_TRUE(shown("status"));
    scrollToEnd(view.get());
    clickInPlace(view.get(), stepper("Mic")->plusButton());
    EXPECT_FALSE(shown("status"));
    auto* reference = child("referenceSwitch");
    const QPoint at = pointOn(reference);
    clickInPlace(view.get(), reference);
    EXPECT_FALSE(analyzer_->dual());
    clickAt(view.get(), at);
    EXPECT_TRUE(analyzer_->dual());
}

// While the server holds the start the page says it is starting and its button gives the start up at once;
// a start that finds no device shows the server that is not responding as its reason.
TEST_F(AnalyzerViewTest, AStartOnItsWayShowsAndTheButtonGivesItUp) {
    open();
    m.system->holdEngineCalls();
    QTest::mouseClick(startStop(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.system->heldEngineCalls() == 1; }, 20000));
    EXPECT_EQ(badge("liveBadge"), "Starting\u2026");
    EXPECT_EQ(startStop()->text(), "Stop");
    EXPECT_FALSE(shown("captureFailure"));
    QTest::mouseClick(startStop(), Qt::LeftButton);
    EXPECT_FALSE(analyzer_->starting());
    EXPECT_EQ(badge("liveBadge"), "Mic off");
    EXPECT_EQ(startStop()->text(), "Start mic");
    m.system->releaseEngineCalls();
    m.events();
    m.events();
    EXPECT_EQ(badge("liveBadge"), "Mic off");
    EXPECT_EQ(m.system->runningEngines(), 0);

    m.system->setNotResponding("The PulseAudio server is not responding");
    QSettings().setValue(InterfacePicker::settingsKey, qint64(4242));  // no listed device
    startMic();
    EXPECT_EQ(child<QLabel>("captureFailure")->text(), "The PulseAudio server is not responding");
    EXPECT_TRUE(shown("captureFailure"));
}

TEST(AnalyzerViewRules, PeakIsTheLoudestBinWholeDecibels) {
    EXPECT_EQ(AnalyzerView::peakReadout({}), "\u2014");
    EXPECT_EQ(AnalyzerView::peakReadout({{1, 100, -20}, {2, 200, -6.4}, {3, 300, -50}}), "-6");
    EXPECT_EQ(AnalyzerView::peakReadout({{1, 100, -80}, {2, 200, -90}}), "-80");
}

namespace {

// A flat response 0.2 ms late, coherent everywhere; `sign` −1 turns its polarity over.
TransferTrace trace(const std::string& name, double arrivalMS, double sign = 1) {
    TransferTrace t;
    t.name = name;
    t.sampleRate = 48000;
    t.arrivalMS = arrivalMS;
    t.referenceChannel = 1;
    t.averages = 5;
    t.hardwareIdentity = "device:42";
    for (int k = 1; k < 400; ++k) {
        const double hz = 48000.0 * k / 16384, theta = -2 * M_PI * hz * 0.2 / 1000;
        t.bins.push_back({k, hz, sign * std::cos(theta), sign * std::sin(theta), 0.95});
    }
    return t;
}

struct AlignViewTest : PageTest<AlignView> {
    MicAnalyzer& analyzer_ = *m.analyzer;
    MeasurementStore store_;
    int openedMeasure_ = 0;
    // A page over a store holding `traces`.
    void open(std::vector<TransferTrace> traces = {}) {
        QFile::remove(store_.url());
        store_.setTraces(std::move(traces));
        view = std::make_unique<AlignView>(analyzer_, store_, [this] { ++openedMeasure_; });
        show({900, 1400});
    }
    // Chooses the picker entry showing `text` as the user does.
    void choose(const char* picker, const QString& text) {
        auto* box = child<QComboBox>(picker);
        box->setCurrentIndex(box->findText(text));
    }
    QVAction* findButton() { return child<QVAction>("find"); }
    bool findNow() {
        findButton()->click();
        return view->result().has_value();
    }
    // The badges the result card shows.
    QStringList resultBadges() {
        QStringList out;
        for (QVBadge* b : child("resultCard")->findChildren<QVBadge*>())
            if (b->isVisibleTo(view.get())) out << b->title();
        return out;
    }
};

}  // namespace

TEST_F(AlignViewTest, FindProposesTheArrivalDifferenceOrSaysWhyNot) {
    TransferTrace elsewhere = trace("Balcony", 1.0);
    elsewhere.position = "Balcony";
    open({trace("Left main", 2.0), trace("Right main", 3.5), elsewhere, trace("Sub", 2.0, -1)});

    EXPECT_EQ(badge("firstBadge"), "Live");
    EXPECT_EQ(badge("secondBadge"), "");
    EXPECT_FALSE(findButton()->isEnabled());
    EXPECT_FALSE(shown("resultCard"));
    choose("pickerA", "Left main");
    EXPECT_EQ(badge("firstBadge"), "Left main");
    EXPECT_FALSE(findButton()->isEnabled());
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 1u);  // A alone: still live
    choose("pickerB", "Right main");
    EXPECT_EQ(badge("secondBadge"), "Right main");
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 2u);

    ASSERT_TRUE(findNow());
    EXPECT_TRUE(shown("resultCard"));
    EXPECT_EQ(resultBadges(), QStringList{"Starting candidate"});
    EXPECT_EQ(child<QVMetric>("resultMetric")->value(), "1.50 ms");
    EXPECT_EQ(child<QVMetric>("resultMetric")->label(), "Add delay to Left main");
    EXPECT_FALSE(shown("compareMessage"));
    savePng(view.get(), "alignment.png", {900, 1400});
    // Another position, or the same trace twice, is no pair: no proposal, and the message says so.
    for (const char* other : {"Balcony", "Left main"}) {
        choose("pickerB", other);
        EXPECT_FALSE(findNow()) << other;
        EXPECT_FALSE(shown("resultCard"));
        EXPECT_EQ(view->message(), "Choose compatible, coherent traces.");
        EXPECT_TRUE(shown("compareMessage"));
    }
    // Sub mode renames the pickers and the action, offers the band and proposes the polarity too.
    QTest::mouseClick(view->findChild<SegmentedPicker*>()->segment("Main + sub"), Qt::LeftButton);
    EXPECT_TRUE(showsText(view.get(), "Main"));
    EXPECT_TRUE(showsText(view.get(), "Sub"));
    EXPECT_EQ(findButton()->title(), "Find sub alignment");
    view->setLow(70);
    QStringList band;
    for (QVNumber* n : view->findChildren<QVNumber*>())
        if (n->isVisibleTo(view.get())) band << n->title() + "=" + n->field()->text() + n->unit();
    EXPECT_EQ(band, (QStringList{"Low=70Hz", "High=100Hz"}));
    choose("pickerB", "Sub");
    ASSERT_TRUE(findNow()) << view->message().toStdString();
    EXPECT_EQ(resultBadges(), (QStringList{"Starting candidate", "Invert sub"}));
    QTest::mouseClick(view->findChild<SegmentedPicker*>()->segment("Speaker delay"), Qt::LeftButton);
    EXPECT_EQ(findButton()->title(), "Find speaker delay");
    EXPECT_FALSE(showsText(view.get(), "Sub"));
}

TEST_F(AlignViewTest, DeletingTraceAReturnsToLiveAndRewritesTheFile) {
    open({trace("A", 1.0), trace("B", 2.0)});
    const Uuid idA = store_.traces()[0].id;
    choose("pickerA", "A");
    choose("pickerB", "B");
    ASSERT_TRUE(findNow());
    EXPECT_EQ(view->findChild<Disclosure*>("savedGroup")->title(), "Saved traces · 2");
    view->findChild<Disclosure*>("savedGroup")->header()->click();
    EXPECT_EQ(texts(view.get(), "savedDetail"),
              (QStringList{"1.00 ms · Listener position", "2.00 ms · Listener position"}));

    const auto trash = [&](const QString& name) {
        for (QToolButton* b : view->findChildren<QToolButton*>())
            if (b->accessibleName() == "Remove " + name) return b->click();
        ADD_FAILURE() << name.toStdString();
    };
    trash("A");
    settle();
    EXPECT_EQ(view->a(), idA);  // still held, no longer resolving
    EXPECT_EQ(badge("firstBadge"), "Live");
    EXPECT_EQ(view->findChild<QComboBox*>("pickerA")->currentIndex(), -1);
    EXPECT_FALSE(findButton()->isEnabled());
    EXPECT_FALSE(shown("resultCard"));
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().size(), 1u);
    EXPECT_EQ(view->findChild<Disclosure*>("savedGroup")->title(), "Saved traces · 1");
    MeasurementStore reloaded;
    ASSERT_EQ(reloaded.traces().size(), 1u);
    EXPECT_EQ(reloaded.traces()[0].name, "B");

    trash("B");
    settle();
    EXPECT_FALSE(shown("savedCard"));
}

// Two quick clicks on the first saved trace's trash, as a hurried double click: the trace below, which
// moves up under the pointer, stays, whether the page lays the rows out before the second click or not.
TEST_F(AlignViewTest, TwoQuickClicksOnATrashRemoveOneTraceAndSaveTheRest) {
    for (const int gapMS : {50, 300})
        for (const int turns : {0, 2, 10}) {
            SCOPED_TRACE(testing::Message() << gapMS << " ms apart, " << turns << " turns between");
            open({trace("T0", 1.0), trace("T1", 2.0), trace("T2", 3.0)});
            show({900, 600});
            view->findChild<Disclosure*>("savedGroup")->header()->click();
            scrollToEnd(view.get());
            QToolButton* trash = nullptr;
            for (QToolButton* b : view->findChildren<QToolButton*>())
                if (b->accessibleName() == "Remove T0") trash = b;
            ASSERT_NE(trash, nullptr);

            WindowInput::twoClicks(view.get(), pointOn(trash), gapMS, turns);
            settleLayout();
            store_.waitForFile();
            QStringList kept, saved;
            for (const TransferTrace& t : store_.traces()) kept << QString::fromStdString(t.name);
            const MeasurementStore reloaded;
            for (const TransferTrace& t : reloaded.traces()) saved << QString::fromStdString(t.name);
            EXPECT_EQ(kept, (QStringList{"T1", "T2"}));
            EXPECT_EQ(saved, kept);
        }
}

TEST_F(AlignViewTest, SaveCapturesTheLiveMeasurementOnceItHasThreeAverages) {
    EXPECT_FALSE(AlignView::canSave(1.0, 2));
    EXPECT_TRUE(AlignView::canSave(1.0, 3));
    EXPECT_FALSE(AlignView::canSave(std::nullopt, 10));

    open();
    auto* save = view->findChild<QPushButton*>("save");
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(shown("savedCard"));
    EXPECT_FALSE(shown("storeMessage"));
    analyzer_.setDual(true);
    analyzer_.start();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !analyzer_.starting(); }, 20000));
    ASSERT_TRUE(m.measure());
    ASSERT_GE(analyzer_.averages(), 3);
    EXPECT_TRUE(save->isEnabled());
    // The card's one action has the accent face (its camera is drawn in the page's background colour).
    EXPECT_EQ(save->grab().toImage().pixel(6, save->height() / 2), QVStyle::accent().rgb());
    EXPECT_FALSE(shown("setUp"));
    EXPECT_EQ(view->findChild<TransferPlot*>()->traces().front(), analyzer_.transfer());
    EXPECT_TRUE(showsText(view.get(), QString::number(analyzer_.averages()) + " averages"));

    QTest::keyClicks(view->findChildren<QLineEdit*>().front(), " 2");
    save->click();
    store_.waitForFile();
    ASSERT_EQ(store_.traces().size(), 1u);
    EXPECT_EQ(store_.traces()[0].name, "Main A 2");
    EXPECT_EQ(view->findChild<QLabel*>("storeMessage")->text(), "Captured Main A 2");
    EXPECT_TRUE(shown("storeMessage"));
    EXPECT_EQ(view->findChild<QComboBox*>("pickerA")->count(), 2);
    // A stopped analyser offers no Save but the way to the Measure page.
    analyzer_.stop();
    EXPECT_FALSE(save->isEnabled());
    view->findChild<QPushButton*>("setUp")->click();
    EXPECT_EQ(openedMeasure_, 1);
}

// At the page's end: Find shows the result card below it, B changed from the keyboard takes the card
// away, and Find then shows its orange line; neither Find nor the picker moves under the pointer.
TEST_F(AlignViewTest, FindAndThePickerStayUnderThePointerAsTheResultAndMessageComeAndGo) {
    TransferTrace elsewhere = trace("Balcony", 1.0);
    elsewhere.position = "Balcony";
    open({trace("Left main", 2.0), trace("Right main", 3.5), elsewhere});
    show({900, 600});
    choose("pickerA", "Left main");
    choose("pickerB", "Right main");
    scrollToEnd(view.get());
    clickInPlace(view.get(), findButton());
    ASSERT_TRUE(shown("resultCard"));

    scrollToEnd(view.get());
    auto* pickerB = child<QComboBox>("pickerB");
    const QPoint at = pointOn(pickerB);
    pickerB->setFocus();
    QTest::keyClick(pickerB, Qt::Key_Down);
    settleLayout();
    EXPECT_EQ(pickerB->currentText(), "Balcony");
    EXPECT_FALSE(shown("resultCard"));
    EXPECT_EQ(pointOn(pickerB), at);
    clickInPlace(view.get(), findButton());
    EXPECT_TRUE(shown("compareMessage"));
}

TEST(AlignViewPlots, PhaseViewPutsTheCaptureCompensationBack) {
    TransferTrace t = trace("A", 1.0);
    t.compensationMS = 1.0;
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
    EXPECT_EQ(AlignView::plots(saved, Uuid::generate(), u.id, TransferField::phase, live),
              TransferPlot::Traces{live});
}

}  // namespace quorvel
