// The Signals and Channel checks pages on the real models over the virtual device: what each control
// shows, stops and changes, and when a page counts as playing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

#include "ScreenTesting.h"
#include "WindowInput.h"
#include "dsp/SignalRenderer.h"
#include "kit/QVAction.h"
#include "screens/ChannelChecksView.h"
#include "screens/SignalLabView.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

struct SignalLab : PageTest<SignalLabView> {
    SignalSettings settings;
    bool interfaceMode = false;

    void SetUp() override { build(); }
    void build() {
        view = std::make_unique<SignalLabView>(QVBinding<SignalSettings>::of(settings),
                                               QVBinding<bool>::of(interfaceMode), *m.audio, *m.routed,
                                               *m.voice, *m.analyzer);
    }
    // Starts whatever the play button starts and waits for the path to be ready.
    void pressPlay() {
        ASSERT_TRUE(child<QVAction>("play")->isEnabled());
        child<QVAction>("play")->click();
        ASSERT_TRUE(m.settle());
    }
    bool playing() const { return m.audio->playing() || m.routed->isPlaying(); }
    // The Interface path with its routing open, where a change of B's output stops the generator (the
    // window's rule).
    void openRoutingWhereBStopsTheGenerator() {
        interfaceMode = true;
        build();
        QObject::connect(m.routed.get(), &RoutedSignal::channelBChanged, m.routed.get(),
                         [&] { m.routed->stop(); });
        show({820, 600});
        child<Disclosure>("channelRouting")->setExpanded(true);
    }
};

}  // namespace

TEST_F(SignalLab, PlayButtonFollowsTheSelectedPath) {
    auto* play = child<QVAction>("play");
    EXPECT_EQ(play->title(), "Play pink noise");
    EXPECT_EQ(play->iconName(), "play.fill");
    // A reference track on the player is not the generator; Play replaces it with the signal.
    const QFileInfo file(
        QString::fromStdString(*SignalRenderer::make({.kind = SignalKind::sine, .seconds = 1})));
    m.audio->playTrack(LocalTrackRequest{.title = "Track", .filename = file.fileName()}, file.absolutePath());
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.audio->playing());
    EXPECT_EQ(badge("state"), "Ready");
    // Stereo: disabled while the player prepares, then "Stop signal", which stops it.
    play->click();
    EXPECT_FALSE(play->isEnabled());
    ASSERT_TRUE(m.settle());
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(m.audio->status(), "Pink noise");
    EXPECT_EQ(badge("state"), "Playing");
    EXPECT_EQ(play->title(), "Stop signal");
    EXPECT_EQ(play->iconName(), "stop.fill");
    play->click();
    EXPECT_FALSE(m.audio->playing());
    EXPECT_EQ(badge("state"), "Ready");
    EXPECT_EQ(play->iconName(), "play.fill");
    // Stereo playback of a channel check counts as the generator; a switch of path stops it.
    m.audio->playSignal(SignalSettings{});
    ASSERT_TRUE(m.settle());
    EXPECT_EQ(badge("state"), "Playing");
    segment("output", "Interface")->click();
    EXPECT_TRUE(interfaceMode);
    EXPECT_FALSE(m.audio->playing());
    // Interface: stereo playback started elsewhere does not count.
    m.audio->playSignal(SignalSettings{});
    ASSERT_TRUE(m.settle());
    EXPECT_EQ(badge("state"), "Ready");
    EXPECT_FALSE(shown("routedStatus")) << "the idle status is hidden";

    play->click();
    EXPECT_FALSE(m.audio->playing()) << "the stereo path stops before the routed one starts";
    EXPECT_FALSE(play->isEnabled());
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.routed->isPlaying()) << m.routed->status().toStdString();
    EXPECT_EQ(badge("state"), "Playing");
    EXPECT_EQ(child<QLabel>("routedStatus")->text(), "Pink noise \u2192 outputs 1");
    segment("output", "Interface")->click();  // the path already chosen: nothing stops
    EXPECT_TRUE(m.routed->isPlaying());
    play->click();
    EXPECT_FALSE(m.routed->isPlaying());
    // A refusal shows in the status line; back to Stereo, the player's path plays again.
    m.routed->setChannelA(9);
    play->click();
    ASSERT_TRUE(m.settle());
    EXPECT_TRUE(shown("routedStatus"));
    EXPECT_EQ(child<QLabel>("routedStatus")->text(), "Choose distinct, available speaker outputs");
    segment("output", "Stereo")->click();
    EXPECT_FALSE(interfaceMode);
    pressPlay();
    EXPECT_TRUE(m.audio->playing());
    EXPECT_FALSE(m.routed->isPlaying());
}

// With the routed generator playing and the page at its end, the first click on B's "+" stops the
// generator and so hides the status line; the second click at the same point must land
// on B's "+" again, not on A's.
TEST_F(SignalLab, TwoClicksAtOnePointOnBsPlusStepBTwiceAndLeaveA) {
    openRoutingWhereBStopsTheGenerator();
    pressPlay();
    ASSERT_TRUE(m.routed->isPlaying());
    scrollToEnd(view.get());
    QWidget* card = child("channelRouting")->parentWidget()->parentWidget();
    saveGrab(card, "routing-before-two-clicks.png");

    QToolButton* plusB = stepper(view.get(), "B \u00B7 output")->plusButton();
    const QPoint point = pointOn(plusB);
    clickAt(view.get(), point);
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_EQ(pointOn(plusB), point);
    clickAt(view.get(), point);
    saveGrab(card, "routing-after-two-clicks.png");
    EXPECT_EQ(m.routed->channelA(), 1);
    EXPECT_EQ(m.routed->channelB(), 4);
}

// The same two clicks, 90 ms apart, as the window system hands them over, with the main thread held 150 ms
// after the first and then running any number of turns of the event loop before the second comes in: the
// page is laid out again while the second click waits, and that click still lands on B's "+".
TEST_F(SignalLab, TwoClicksAtOnePointOnBsPlusLandOnItWhateverTheMainThreadDoesBetween) {
    openRoutingWhereBStopsTheGenerator();
    for (int turns = 0; turns <= 10; ++turns) {
        SCOPED_TRACE(testing::Message() << turns << " turns between");
        m.routed->setChannelB(2);
        pressPlay();
        ASSERT_TRUE(m.routed->isPlaying());
        scrollToEnd(view.get());
        const QPoint point = pointOn(stepper(view.get(), "B \u00B7 output")->plusButton());
        WindowInput::twoClicks(view.get(), point, 90, turns, 150);
        settleLayout();
        EXPECT_EQ(m.routed->channelA(), 1);
        EXPECT_EQ(m.routed->channelB(), 4);
    }
}

// Play, Stop signal and the loopback switch at the page's end: the lines and rows that come and go below
// them never move them from under the pointer.
TEST_F(SignalLab, ClicksAtThePageEndLeaveTheClickedControlInPlace) {
    settings.kind = SignalKind::dual;  // the loopback switch then brings the hint too
    interfaceMode = true;
    build();
    show({820, 600});
    child<Disclosure>("channelRouting")->setExpanded(true);
    scrollToEnd(view.get());
    auto* play = child<QVAction>("play");
    const QPoint at = pointOn(play);
    clickAt(view.get(), at);
    ASSERT_TRUE(m.settle());
    settleLayout();
    ASSERT_TRUE(m.routed->isPlaying()) << m.routed->status().toStdString();
    EXPECT_EQ(pointOn(play), at);
    clickInPlace(view.get(), play);
    EXPECT_FALSE(m.routed->isPlaying());

    auto* loopback = child<QCheckBox>("sendReference");
    clickInPlace(view.get(), loopback);
    EXPECT_TRUE(shown("dualHint"));
    scrollToEnd(view.get());
    clickInPlace(view.get(), loopback);
    EXPECT_FALSE(m.routed->sendReference());
    EXPECT_FALSE(shown("dualHint"));
}

namespace {

// Speech whose buffers are not floating point, as a synthesiser with another sample format delivers.
class IntegerSpeech final : public SpeechSynthesizer {
public:
    Status write(const SpeechUtterance&, const BufferHandler& onBuffer) override {
        SpeechBuffer buffer{
            .format = *AudioFormat::standard(22050, 1), .frameLength = 256, .floatChannelData = nullptr};
        onBuffer(buffer);
        return {};
    }
    void stopSpeaking() override {}
};

struct ChannelChecks : PageTest<ChannelChecksView> {
    void SetUp() override {
        view = std::make_unique<ChannelChecksView>(*m.audio, *m.routed, *m.voice, *m.analyzer);
    }
    void press(const char* name) {
        ASSERT_TRUE(child(name)->isEnabled()) << name;
        child<QVAction>(name)->click();
    }
    QStringList lit() {
        QStringList out;
        for (const char* name : {"left", "right", "pingPong"})
            if (child<QVAction>(name)->prominent()) out << name;
        return out;
    }
    // The voice is rendered and the player has started it (or said why not).
    bool spoken() {
        return QTest::qWaitFor([&] { return !m.voice->working() && !m.audio->busy(); }, 30000);
    }
};

struct ChannelChecksBadSpeech : ChannelChecks {
    void SetUp() override {
        m.voice = std::make_unique<VoiceRenderer>(std::make_shared<IntegerSpeech>());
        ChannelChecks::SetUp();
    }
};

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

TEST_F(ChannelChecks, NoiseChecksSetRouteAndPingPongAndStopTheRest) {
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.routed->isPlaying());

    for (const auto& [button, route, ping] : {std::tuple{"pingPong", AudioController::Route::both, true},
                                              {"left", AudioController::Route::left, false},
                                              {"right", AudioController::Route::right, false}}) {
        press(button);
        EXPECT_FALSE(m.routed->isPlaying());
        EXPECT_EQ(m.audio->pingPong(), ping);
        EXPECT_EQ(m.audio->route(), route);
        ASSERT_TRUE(m.settle());
        EXPECT_EQ(m.audio->status(), "Pink noise");
        EXPECT_EQ(lit(), QStringList{button});
    }
    // A right route with ping-pong on lights both: each emphasis has its own test.
    m.audio->setPingPong(true);
    EXPECT_EQ(lit(), (QStringList{"right", "pingPong"}));
    m.audio->stop();
    EXPECT_EQ(lit(), QStringList{});
    // A check cancels a spoken ID still being prepared, so it can never take over afterwards.
    press("speak");
    ASSERT_TRUE(m.voice->working());
    press("left");
    EXPECT_FALSE(m.voice->working());
    ASSERT_TRUE(m.settle());
    QThreadPool::globalInstance()->waitForDone();  // whatever the cancelled speech still delivers
    QCoreApplication::processEvents();
    EXPECT_EQ(m.audio->status(), "Pink noise");
    EXPECT_EQ(m.audio->route(), AudioController::Route::left);
}

TEST_F(ChannelChecks, SpeakPlaysTheVoiceOnBothSidesWithPingPongOff) {
    auto* picker = child<QComboBox>("source");
    auto* field = child<QLineEdit>("sourceField");
    EXPECT_EQ(picker->currentText(), "Playback one");
    EXPECT_EQ(field->text(), "Playback one");
    // A typed name leaves the picker without a choice; choosing in the picker replaces the text.
    field->clear();
    QTest::keyClicks(field, "Lectern");
    EXPECT_EQ(view->voiceName(), "Lectern");
    EXPECT_EQ(picker->currentIndex(), -1);
    QTest::keyClicks(field, "\b\b\b\b\b\b\bRecord feed");
    EXPECT_EQ(picker->currentText(), "Record feed");
    picker->setCurrentIndex(4);
    emit picker->activated(4);
    EXPECT_EQ(view->voiceName(), "Video conference");
    EXPECT_EQ(field->text(), "Video conference");

    press("pingPong");
    ASSERT_TRUE(m.settle());
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    press("speak");
    EXPECT_FALSE(m.audio->playing()) << "the player stops before the voice is prepared";
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_EQ(child<QVAction>("speak")->title(), "Preparing\u2026");
    EXPECT_FALSE(child<QVAction>("speak")->isEnabled());
    EXPECT_TRUE(field->isEnabled());
    ASSERT_TRUE(spoken());
    EXPECT_EQ(child<QVAction>("speak")->title(), "Speak left + right");
    EXPECT_TRUE(child<QVAction>("speak")->isEnabled());
    EXPECT_EQ(m.audio->status(), "Spoken source ID");
    EXPECT_TRUE(m.audio->playing());
    EXPECT_FALSE(m.audio->pingPong());
    EXPECT_EQ(m.audio->route(), AudioController::Route::both);
    // Flash + beep replaces the voice.
    press("flashBeep");
    ASSERT_TRUE(m.settle());
    EXPECT_EQ(m.audio->status(), "A/V sync: visual check");
}

TEST_F(ChannelChecksBadSpeech, AFailedVoiceSaysSoWithTheDetail) {
    press("pingPong");
    ASSERT_TRUE(m.settle());
    press("speak");
    ASSERT_TRUE(spoken());
    EXPECT_EQ(m.audio->status(), "Couldn't prepare voice");
    EXPECT_EQ(m.audio->errorDetail(), "Unsupported speech sample format");
    EXPECT_FALSE(m.audio->playing());
    EXPECT_TRUE(m.audio->pingPong()) << "nothing else changes";
}

TEST_F(ChannelChecks, FlashBoxFollowsTheFlash) {
    m.audio->setRoute(AudioController::Route::left);
    m.audio->setPingPong(true);
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    press("flashBeep");
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_FALSE(m.audio->pingPong());
    EXPECT_EQ(m.audio->route(), AudioController::Route::both);
    ASSERT_TRUE(m.settle());
    ASSERT_EQ(m.audio->status(), "A/V sync: visual check");
    // Three seconds of 1024-frame periods, one tick after each: white while the flash is lit, black
    // otherwise, repainted when the flash changes.
    QWidget* box = child<QWidget>("flashBox");
    show({820, 900});
    PaintCounter counter;
    box->installEventFilter(&counter);
    int changes = 0;
    for (int i = 0; i < 3 * 48000 / 1024; ++i) {
        const bool was = m.audio->flash();
        m.step();
        const int paints = counter.paints;
        QCoreApplication::processEvents();
        if (m.audio->flash() != was) {
            ++changes;
            EXPECT_GT(counter.paints, paints) << m.audio->currentTime();
        }
        // The box's colour, away from the symbol in its middle.
        const QImage image = box->grab().toImage();
        const QColor colour = image.pixelColor(box->width() / 8, box->height() / 2);
        EXPECT_EQ(colour, QColor(m.audio->flash() ? Qt::white : Qt::black)) << m.audio->currentTime();
    }
    EXPECT_GE(changes, 5) << "on and off in each second";
    ScreenTesting::savePng(view.get(), "channel-checks.png", {820, 900});
}

}  // namespace quorvel
