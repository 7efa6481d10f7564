// The cross-object rules of the root view, on the real models over the virtual audio system.
#include <QAbstractButton>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "AppHarness.h"
#include "RoutedSignal.h"
#include "TransportBar.h"

namespace {

QAbstractButton* transportButton(QuorvelView& view, const QString& accessibleName) {
    for (QAbstractButton* b : view.transport()->findChildren<QAbstractButton*>())
        if (b->accessibleName() == accessibleName) return b;
    return nullptr;
}

}  // namespace

class RulesTest : public AppTest {
protected:
    // Starts the routed generator and waits until it plays.
    void playRouted() {
        view->routed().play(SignalSettings{});
        ASSERT_TRUE(waitUntil([&] { return !view->routed().busy(); }));
        ASSERT_TRUE(view->routed().isPlaying()) << view->routed().status().toStdString();
    }
};

TEST_F(RulesTest, RoutedWiringChangesStopTheGeneratorOnChangeOnly) {
    open();
    RoutedSignal& routed = view->routed();
    playRouted();

    // Writing the values they already hold is no change.
    routed.setSelection("A");
    routed.setChannelA(1);
    routed.setChannelB(2);
    routed.setReferenceOutput(3);
    routed.setSendReference(false);
    EXPECT_TRUE(routed.isPlaying());

    const std::function<void()> changes[] = {
        [&] { routed.setSelection("Both"); },      [&] { routed.setChannelA(3); },
        [&] { routed.setChannelB(4); },            [&] { routed.setReferenceOutput(2); },
        [&] { routed.setSendReference(true); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE(i);
        routed.setSelection("A");
        routed.setChannelA(1);
        routed.setChannelB(2);
        routed.setReferenceOutput(3);
        routed.setSendReference(false);
        playRouted();
        changes[i]();
        EXPECT_FALSE(routed.isPlaying());
        EXPECT_EQ(routed.status(), RoutedSignal::stoppedStatus);
    }

    // Also while it is still preparing.
    routed.setSelection("A");
    routed.play(SignalSettings{});
    ASSERT_TRUE(routed.busy());
    routed.setSelection("B");
    EXPECT_FALSE(routed.busy());
    EXPECT_EQ(routed.status(), RoutedSignal::stoppedStatus);
    settle();
    EXPECT_FALSE(waitUntil([&] { return routed.isPlaying(); }, 0.5)) << "the abandoned preparation stays silent";

    // A level change restarts no source.
    playRouted();
    routed.setLevel(-12);
    EXPECT_TRUE(routed.isPlaying());
}

TEST_F(RulesTest, SwitchingToolsAndOpeningTheGuideStopNothing) {
    open();
    playRouted();
    for (QuorvelTool tool : QuorvelTools::allCases) view->setTool(tool);
    view->setShowingGuide(true);
    settle();
    view->setShowingGuide(false);
    view->setInterfaceMode(true);
    view->setSignal(SignalSettings{.kind = SignalKind::sine});
    settle();
    EXPECT_TRUE(view->routed().isPlaying());
}

TEST_F(RulesTest, StopAllFromTheHeaderTheSpaceKeyAndTheTransportButNotShiftSpace) {
    open();
    auto* header = view->findChild<QPushButton*>("stopAll");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->text(), "Stop all");
    QAbstractButton* transportStop = transportButton(*view, "Stop playback");
    ASSERT_NE(transportStop, nullptr);

    const std::function<void()> ways[] = {
        [&] { QTest::mouseClick(header, Qt::LeftButton); },
        [&] { QTest::keyClick(view.get(), Qt::Key_Space); },
        [&] { QTest::mouseClick(transportStop, Qt::LeftButton); },
    };
    for (std::size_t i = 0; i < std::size(ways); ++i) {
        SCOPED_TRACE(i);
        playRouted();
        ways[i]();
        settle();
        EXPECT_FALSE(view->routed().isPlaying());
        EXPECT_EQ(view->routed().status(), RoutedSignal::stoppedStatus);
    }

    playRouted();
    QTest::keyClick(view.get(), Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(view.get(), Qt::Key_Space, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(view->routed().isPlaying());
}

TEST_F(RulesTest, MinimisingOrHidingStopsOncePerTransitionAndFocusChangesStopNothing) {
    open();
    view->activateWindow();
    playRouted();
    // Losing focus to another window is not going to the background.
    QWidget other;
    other.show();
    other.activateWindow();
    settle();
    EXPECT_TRUE(view->routed().isPlaying());

    view->showMinimized();
    settle();
    EXPECT_FALSE(view->routed().isPlaying());
    // Whatever starts while minimised keeps playing: the transition has passed.
    playRouted();
    view->hide();
    settle();
    EXPECT_TRUE(view->routed().isPlaying());

    // Back in front nothing restarts; going away again stops again.
    view->showNormal();
    settle();
    EXPECT_TRUE(view->routed().isPlaying());
    view->hide();
    settle();
    EXPECT_FALSE(view->routed().isPlaying());
}

TEST_F(RulesTest, TransportFollowsTheRoutedGeneratorAndDrivesItsLevelOnlyOnSignalsInInterfaceMode) {
    open();
    TransportBar* bar = view->transport();
    EXPECT_EQ(bar->statusText(), "Ready");
    EXPECT_EQ(bar->statusIcon(), "waveform.circle");
    EXPECT_EQ(bar->shownLevelText(), "-30 dB");

    playRouted();
    EXPECT_EQ(bar->statusText(), view->routed().status());
    EXPECT_TRUE(bar->statusText().contains(QString::fromUtf8(" \u2192 outputs ")));
    EXPECT_EQ(bar->statusIcon(), "waveform");
    savePng("transport-routed");
    view->stopAll();
    EXPECT_EQ(bar->statusText(), "Ready");
    EXPECT_EQ(bar->statusIcon(), "waveform.circle");

    auto* slider = bar->findChild<QSlider*>("levelSlider");
    ASSERT_NE(slider, nullptr);
    view->setTool(QuorvelTool::signals_);
    view->setInterfaceMode(true);
    slider->setValue(-1240);  // −12.4 dB
    EXPECT_DOUBLE_EQ(view->routed().level(), -12.4);
    EXPECT_EQ(bar->shownLevelText(), "-12 dB");
    // Another page drives the player's level; the routed level keeps its value.
    view->setTool(QuorvelTool::measure);
    EXPECT_EQ(bar->shownLevelText(), "-30 dB");
    slider->setValue(-2000);
    EXPECT_DOUBLE_EQ(view->routed().level(), -12.4);
    view->setTool(QuorvelTool::signals_);
    EXPECT_EQ(bar->shownLevelText(), "-12 dB");
    view->setInterfaceMode(false);
    EXPECT_DOUBLE_EQ(view->routed().level(), -12.4);
}
