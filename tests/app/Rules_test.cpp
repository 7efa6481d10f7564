// The cross-object rules of the root view and its transport bar, on the real models over the virtual
// audio system.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QThreadPool>
#include <limits>
#include <vector>

#include "AppHarness.h"
#include "TestHome.h"
#include "TestSignals.h"
#include "app/TransportBar.h"
#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "library/LibraryStore.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {

using Order = std::vector<std::string>;

class RulesTest : public AppTest {
protected:
    QAbstractButton* transportButton(const QString& accessibleName) {
        for (QAbstractButton* b : view->transport()->findChildren<QAbstractButton*>())
            if (b->accessibleName() == accessibleName) return b;
        return nullptr;
    }
    QSlider* levelSlider() { return view->transport()->findChild<QSlider*>("levelSlider"); }
    void playRouted() {
        view->routed().play(SignalSettings{});
        ASSERT_TRUE(waitUntil([&] { return !view->routed().busy(); }));
        ASSERT_TRUE(view->routed().isPlaying()) << view->routed().status().toStdString();
    }
    void playSignal() {
        view->audio().playSignal(SignalSettings{.seconds = 1});
        ASSERT_TRUE(waitUntil([&] { return !view->audio().busy(); }));
        ASSERT_TRUE(view->audio().playing()) << view->audio().status().toStdString();
    }
    // The analyser with the reference on input 2 and the microphone hearing it 10 ms later on input 1.
    void startCapture() {
        audio->setInputSignal("Virtual Interface", 1, TestSignals::noise);
        audio->setInputSignal("Virtual Interface", 0,
                              [](std::int64_t f) { return TestSignals::noise(f - 480); });
        MicAnalyzer& a = view->analyzer();
        a.setDual(true);
        a.setMicChannel(0);
        a.setReferenceChannel(1);
        a.start();
        ASSERT_TRUE(waitUntil([&] { return a.running(); })) << a.status().toStdString();
    }
    // Feeds the capture until it has a delay, a transfer estimate and averages.
    void measure() {
        ASSERT_TRUE(waitUntil([&] {
            audio->pump(4096);  // one tap block, taken by the main thread before the next
            QApplication::processEvents();
            const MicAnalyzer& a = view->analyzer();
            return a.delayMS() && !a.transfer().empty() && a.averages() > 0;
        }));
    }
    bool measured() const {
        const MicAnalyzer& a = view->analyzer();
        return a.delayMS().has_value() || !a.transfer().empty() || a.averages() > 0;
    }
    // Everything sounding or working at once: player, routed generator, capture and a voice render (which
    // finishes on the main thread, so it stays under way until the events run).
    void startEverything() {
        playSignal();
        playRouted();
        startCapture();
        view->voice().make("Stage left", [](Result<std::string>) {});
        ASSERT_TRUE(view->voice().working());
    }
    bool nothingRuns() const {
        return !view->voice().working() && !view->routed().isPlaying() && !view->routed().busy() &&
               !view->analyzer().running() && !view->analyzer().starting() && !view->audio().playing() &&
               !view->audio().busy() && view->routed().status() == RoutedSignal::stoppedStatus &&
               view->analyzer().status() == MicAnalyzer::statusOff && view->audio().status() == "Stopped";
    }
    // Which model each change comes from, in order, one entry per run of changes.
    std::shared_ptr<Order> recordStops() {
        auto order = std::make_shared<Order>();
        auto note = [order](const char* name) {
            return [order, name] {
                if (order->empty() || order->back() != name) order->push_back(name);
            };
        };
        QObject::connect(&view->voice(), &VoiceRenderer::workingChanged, view.get(), note("voice"));
        QObject::connect(&view->routed(), &RoutedSignal::statusChanged, view.get(), note("routed"));
        QObject::connect(&view->analyzer(), &MicAnalyzer::runningChanged, view.get(), note("analyzer"));
        QObject::connect(&view->audio(), &AudioController::statusChanged, view.get(), note("audio"));
        return order;
    }
};

}  // namespace

TEST_F(RulesTest, RoutedWiringChangesStopTheGeneratorOnChangeOnly) {
    open();
    RoutedSignal& routed = view->routed();
    const auto wire = [&] {
        routed.setSelection("A");
        routed.setChannelA(1);
        routed.setChannelB(2);
        routed.setReferenceOutput(3);
        routed.setSendReference(false);
    };
    wire();
    playRouted();
    startCapture();
    measure();
    wire();  // the values it already holds: no change
    EXPECT_TRUE(routed.isPlaying());
    EXPECT_TRUE(measured());

    const std::function<void()> changes[] = {
        [&] { routed.setSelection("Both"); },   [&] { routed.setChannelA(3); },
        [&] { routed.setChannelB(4); },         [&] { routed.setReferenceOutput(2); },
        [&] { routed.setSendReference(true); },
    };
    // A change also restarts the measurement: what the analyser averaged came through the old wiring.
    for (const auto& change : changes) {
        wire();
        playRouted();
        measure();
        change();
        EXPECT_FALSE(routed.isPlaying());
        EXPECT_EQ(routed.status(), RoutedSignal::stoppedStatus);
        EXPECT_FALSE(measured()) << "delay, transfer and averages cleared";
    }
    // Also while it is still preparing.
    routed.setSelection("A");
    routed.play(SignalSettings{});
    ASSERT_TRUE(routed.busy());
    routed.setSelection("B");
    EXPECT_FALSE(routed.busy());
    settle();
    EXPECT_FALSE(waitUntil([&] { return routed.isPlaying(); }, 0.5))
        << "the abandoned preparation stays silent";
    // Switching tools, opening the guide or changing the signal settings stops nothing.
    playRouted();
    for (QuorvelTool tool : QuorvelTools::allCases) view->setTool(tool);
    view->setShowingGuide(true);
    settle();
    view->setShowingGuide(false);
    view->setInterfaceMode(true);
    view->setSignal(SignalSettings{.kind = SignalKind::sine});
    settle();
    EXPECT_TRUE(routed.isPlaying());
}

TEST_F(RulesTest, StopAllStopsVoiceRoutedAnalyserPlayerInOrderFromButtonAndTransport) {
    open();
    auto* header = view->findChild<QPushButton*>("stopAll");
    ASSERT_NE(header, nullptr);
    const std::function<void()> ways[] = {
        [&] { QTest::mouseClick(header, Qt::LeftButton); },
        [&] { QTest::mouseClick(transportButton("Stop playback"), Qt::LeftButton); },
    };
    for (const auto& way : ways) {
        startEverything();
        auto order = recordStops();
        way();
        EXPECT_EQ(*order, (Order{"voice", "routed", "analyzer", "audio"}));
        settle();
        EXPECT_TRUE(nothingRuns());
        EXPECT_EQ(transportStatus(), "Ready");
    }
    // Space with a modifier is no Stop all, and a focused text field keeps its space.
    playRouted();
    playSignal();
    QTest::keyClick(view.get(), Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(view.get(), Qt::Key_Space, Qt::ControlModifier);
    auto* field = new QLineEdit(view->currentPage());
    field->show();
    QApplication::setActiveWindow(view.get());
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    settle();
    EXPECT_EQ(field->text(), " ");
    EXPECT_TRUE(view->routed().isPlaying());
    EXPECT_TRUE(view->audio().playing());
}

TEST_F(RulesTest, TransportFollowsTheRoutedGeneratorAndDrivesItsLevelOnlyOnSignalsInInterfaceMode) {
    open();
    TransportBar* bar = view->transport();
    EXPECT_EQ(bar->statusText(), "Ready");
    EXPECT_EQ(bar->statusIcon(), "waveform.circle");
    EXPECT_EQ(bar->shownLevelText(), "-30 dB");
    EXPECT_FALSE(transportButton("Play or pause")->isEnabled());
    // Only the player's idle state reads "Ready", not a status that happens to read "Stopped" (a track of
    // that title).
    view->audio().setStatus("Stopped");
    EXPECT_EQ(bar->statusText(), "Stopped");
    view->stopAll();
    EXPECT_EQ(bar->statusText(), "Ready");

    playRouted();
    EXPECT_EQ(bar->statusText(), view->routed().status());
    EXPECT_TRUE(bar->statusText().contains(QString::fromUtf8(" \u2192 outputs ")));
    EXPECT_EQ(bar->statusIcon(), "waveform");
    savePng("transport-routed");
    view->stopAll();
    EXPECT_EQ(bar->statusText(), "Ready");
    EXPECT_EQ(bar->statusIcon(), "waveform.circle");

    view->setTool(QuorvelTool::signals_);
    view->setInterfaceMode(true);
    levelSlider()->setValue(-1240);  // −12.4 dB
    EXPECT_DOUBLE_EQ(view->routed().level(), -12.4);
    EXPECT_DOUBLE_EQ(view->audio().level(), -30);
    EXPECT_EQ(bar->shownLevelText(), "-12 dB");
    // Another page drives the player's level; the routed level keeps its value.
    view->setTool(QuorvelTool::measure);
    EXPECT_EQ(bar->shownLevelText(), "-30 dB");
    EXPECT_EQ(levelSlider()->value(), -3000);
    levelSlider()->setValue(-2000);
    QTest::keyClick(levelSlider(), Qt::Key_PageUp);  // a page is 6 dB
    EXPECT_DOUBLE_EQ(view->routed().level(), -12.4);
    EXPECT_DOUBLE_EQ(view->audio().level(), -14);
    view->setTool(QuorvelTool::signals_);
    EXPECT_EQ(bar->shownLevelText(), "-12 dB");
    view->setInterfaceMode(false);
    EXPECT_EQ(bar->shownLevelText(), "-14 dB");
    view->routed().setLevel(-8);
    EXPECT_EQ(bar->shownLevelText(), "-14 dB");
}

TEST(TransportLevelText, TruncatesTowardZeroAndNeverShowsMinusZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const double levels[] = {-0.4, -0.0, -30.9, -60, NAN, -inf, -1e300, 1e300};
    const char* texts[] = {
        "0 dB", "0 dB", "-30 dB", "-60 dB", "-- dB", "-- dB", "-1000000000000000 dB", "1000000000000000 dB"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(TransportBar::levelText(levels[i]), texts[i]) << levels[i];
}

TEST_F(RulesTest, PlayingALocalTrackKeepsTheCaptureButRestartsItsAveraging) {
    open();
    const QString path = QString::fromStdString(TestHome::freshDir("tracks")) + "/Reference mix.wav";
    writeTone(path, 1.0);
    view->library().importFiles({path});
    ASSERT_TRUE(waitUntil([&] { return !view->library().importing(); }));
    const ReferenceTrack track = view->library().playlists()[0].tracks.last();
    startCapture();
    measure();
    playRouted();
    view->voice().make("Stage left", [](Result<std::string>) {});
    auto order = recordStops();

    view->play(track);
    EXPECT_EQ((Order(order->begin(), order->begin() + 2)), (Order{"voice", "routed"}));
    EXPECT_FALSE(view->voice().working());
    EXPECT_EQ(view->routed().status(), RoutedSignal::stoppedStatus);
    EXPECT_TRUE(view->analyzer().running());
    EXPECT_FALSE(measured()) << "delay, transfer and averages cleared";

    ASSERT_TRUE(waitUntil([&] { return !view->audio().busy(); }));
    EXPECT_EQ(view->audio().selectedTrackID(), track.id);
    EXPECT_EQ(transportStatus(), "Reference mix");
    EXPECT_EQ(view->transport()->statusIcon(), "waveform");
    savePng("transport-playing");
    // The transport's play button pauses and resumes the track.
    QAbstractButton* playPause = transportButton("Play or pause");
    ASSERT_TRUE(playPause->isEnabled());
    playPause->click();
    EXPECT_FALSE(view->audio().playing());
    EXPECT_EQ(view->transport()->statusIcon(), "waveform.circle");
    playPause->click();
    EXPECT_TRUE(view->audio().playing());
}

TEST_F(RulesTest, ErrorButtonOpensThePlaybackProblemWithTheDetailVerbatim) {
    open();
    QAbstractButton* errorButton = transportButton("Playback error details");
    ASSERT_NE(errorButton, nullptr);
    EXPECT_FALSE(errorButton->isVisible());
    // A failure without detail shows only in the status line.
    view->audio().setStatus("Couldn't play this track");
    settle();
    EXPECT_EQ(transportStatus(), "Couldn't play this track");
    EXPECT_FALSE(errorButton->isVisible());

    const QString detail = "The music server could not start the song.\n\nmpd \u00b7 5\n";
    view->audio().setErrorDetail(detail);
    settle();
    EXPECT_TRUE(errorButton->isVisible());
    savePng("transport-error");
    QTest::mouseClick(errorButton, Qt::LeftButton);
    settle();
    EXPECT_TRUE(view->showingError());
    auto* alert = view->findChild<QMessageBox*>("playbackProblem");
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Playback problem");
    // The title is in the body too, above the detail, which shows as plain text.
    EXPECT_EQ(alert->text(), "Playback problem");
    EXPECT_EQ(alert->informativeText(), detail);
    QLabel* shown = nullptr;
    for (QLabel* label : alert->findChildren<QLabel*>())
        if (label->isVisible() && label->text() == detail) shown = label;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->textFormat(), Qt::PlainText);
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons()[0]->text(), "OK");
    savePicture(alert, "alert-playback-problem");
    // Stop all clears the detail under the open alert, which falls back to the status.
    view->stopAll();
    settle();
    EXPECT_EQ(alert->informativeText(), "Stopped");
    QTest::mouseClick(alert->buttons()[0], Qt::LeftButton);
    settle();
    EXPECT_FALSE(view->showingError());
    EXPECT_FALSE(errorButton->isVisible());
}

TEST_F(RulesTest, ShutDownStopsEveryStreamAndLeavesNoRenderBehind) {
    open();
    const QDir temporary(QString::fromStdString(TempFiles::directory()));
    startEverything();
    // And a render still under way in the background.
    view->audio().playSignal(SignalSettings{.kind = SignalKind::white, .seconds = 3});
    ASSERT_TRUE(view->audio().busy());
    EXPECT_GT(audio->runningEngines(), 0);

    view.reset();
    // Checked before any further event runs: after the window closes, the event loop never runs again.
    EXPECT_EQ(audio->runningEngines(), 0);
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0);
    EXPECT_EQ(temporary.entryList({"signal-*", "reference-*", "voice-*"}, QDir::Files), QStringList{});
}

// Starts that wait on a sound server hold nothing up: the pages change and Stop all stops everything at
// once, and when the server answers the starts given up leave nothing running and publish nothing.
TEST_F(RulesTest, PagesAndStopAllAnswerWhileStartsWaitOnTheServer) {
    open();
    const auto click = [&](QAbstractButton* button) {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
    };
    audio->holdEngineCalls();
    click(view->findChild<QAbstractButton*>("sidebar-measure"));
    click(view->currentPage()->findChild<QAbstractButton*>("startStop"));
    view->audio().playSignal(SignalSettings{});
    view->routed().play(SignalSettings{});
    ASSERT_TRUE(waitUntil([&] { return audio->heldEngineCalls() == 3; }));
    EXPECT_TRUE(view->analyzer().starting());
    click(view->findChild<QAbstractButton*>("sidebar-signals"));
    EXPECT_EQ(view->tool(), QuorvelTool::signals_);
    click(view->findChild<QAbstractButton*>("stopAll"));
    EXPECT_TRUE(nothingRuns());

    const auto order = recordStops();
    audio->releaseEngineCalls();
    for (int i = 0; i < 2; ++i) {
        QThreadPool::globalInstance()->waitForDone();
        settle();
    }
    EXPECT_EQ(audio->runningEngines(), 0);
    EXPECT_TRUE(order->empty()) << order->front();
    EXPECT_TRUE(nothingRuns());
}

}  // namespace quorvel
