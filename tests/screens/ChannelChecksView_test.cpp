// The Channel checks page on the real models over the virtual device.
#include "screens/ChannelChecksView.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QThreadPool>
#include <cmath>

#include "ScreenTesting.h"
#include "kit/QVAction.h"

namespace quorvel {

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

class ChannelChecks : public ::testing::Test {
protected:
    explicit ChannelChecks(std::shared_ptr<SpeechSynthesizer> speech = nullptr)
        : m(std::move(speech)), view(*m.audio, *m.routed, *m.voice, *m.analyzer) {
        ScreenTesting::useWorkspaceStyle();
    }
    template <typename T = QVAction>
    T* child(const char* name) {
        T* w = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void press(const char* name) {
        ASSERT_TRUE(child(name)->isEnabled()) << name;
        child(name)->click();
    }
    QStringList lit() {
        QStringList out;
        for (const char* name : {"left", "right", "pingPong"})
            if (child(name)->prominent()) out << name;
        return out;
    }
    bool spoken() {
        return QTest::qWaitFor([&] { return !m.voice->working(); }, 30000);
    }

    SoundModels m;
    ChannelChecksView view;
};

class ChannelChecksBadSpeech : public ChannelChecks {
protected:
    ChannelChecksBadSpeech() : ChannelChecks(std::make_shared<IntegerSpeech>()) {}
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

    for (const auto& [button, route, ping] :
         {std::tuple{"pingPong", "Both", true}, {"left", "Left", false}, {"right", "Right", false}}) {
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
    EXPECT_EQ(m.audio->route(), "Left");
}

TEST_F(ChannelChecks, IntervalSliderAndReadOut) {
    auto* slider = child<QSlider>("interval");
    auto* text = child<QLabel>("intervalText");
    EXPECT_EQ(text->text(), "1.0 s");
    slider->setValue(slider->minimum());
    EXPECT_DOUBLE_EQ(m.audio->interval(), 0.25);
    EXPECT_EQ(text->text(), "0.2 s") << "printf rounds the tie to even";
    slider->setValue(slider->maximum());
    EXPECT_DOUBLE_EQ(m.audio->interval(), 5);
    EXPECT_EQ(text->text(), "5.0 s");
    m.audio->setInterval(2.5);
    EXPECT_EQ(slider->value(), 250);
    EXPECT_EQ(text->text(), "2.5 s");
    // A drag in progress is the user's: the published interval does not pull the knob away.
    slider->setSliderDown(true);
    m.audio->setInterval(1);
    EXPECT_EQ(slider->value(), 250);
    EXPECT_EQ(text->text(), "1.0 s");
}

TEST_F(ChannelChecks, SpeakPlaysTheVoiceOnBothSidesWithPingPongOff) {
    auto* picker = child<QComboBox>("source");
    auto* field = child<QLineEdit>("sourceField");
    EXPECT_EQ(picker->currentText(), "Playback one");
    EXPECT_EQ(field->text(), "Playback one");

    // A typed name leaves the picker without a choice; choosing in the picker replaces the text.
    field->clear();
    QTest::keyClicks(field, "Lectern");
    EXPECT_EQ(view.voiceName(), "Lectern");
    EXPECT_EQ(picker->currentIndex(), -1);
    QTest::keyClicks(field, "\b\b\b\b\b\b\bRecord feed");
    EXPECT_EQ(picker->currentText(), "Record feed");
    picker->setCurrentIndex(4);
    emit picker->activated(4);
    EXPECT_EQ(view.voiceName(), "Video conference");
    EXPECT_EQ(field->text(), "Video conference");

    press("pingPong");
    ASSERT_TRUE(m.settle());
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    press("speak");
    EXPECT_FALSE(m.audio->playing()) << "the player stops before the voice is prepared";
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_EQ(child("speak")->title(), "Preparing\u2026");
    EXPECT_FALSE(child("speak")->isEnabled());
    EXPECT_TRUE(field->isEnabled());
    ASSERT_TRUE(spoken());
    EXPECT_EQ(child("speak")->title(), "Speak left + right");
    EXPECT_TRUE(child("speak")->isEnabled());
    EXPECT_EQ(m.audio->status(), "Spoken source ID");
    EXPECT_TRUE(m.audio->playing());
    EXPECT_FALSE(m.audio->pingPong());
    EXPECT_EQ(m.audio->route(), "Both");

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

TEST_F(ChannelChecks, FlashBoxLightsOnlyInTheFirst80msOfEachSecond) {
    m.audio->setRoute("Left");
    m.audio->setPingPong(true);
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    press("flashBeep");
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_FALSE(m.audio->pingPong());
    EXPECT_EQ(m.audio->route(), "Both");
    ASSERT_TRUE(m.settle());
    ASSERT_EQ(m.audio->status(), "A/V sync: visual check");

    // Three seconds of 1024-frame periods, one tick after each. The box repaints when the flash changes.
    QWidget* box = child<QWidget>("flashBox");
    view.resize(820, 900);
    view.show();
    ScreenTesting::settle();
    PaintCounter counter;
    box->installEventFilter(&counter);
    int lit = 0, dark = 0, changes = 0;
    bool was = m.audio->flash();
    for (int i = 0; i < 3 * 48000 / 1024; ++i) {
        m.step();
        const int paints = counter.paints;
        QCoreApplication::processEvents();
        if (m.audio->flash() != was) {
            ++changes;
            EXPECT_GT(counter.paints, paints) << m.audio->currentTime();
        }
        was = m.audio->flash();
        const double fraction = m.audio->currentTime() - std::floor(m.audio->currentTime());
        // The box's colour in its corner, clear of the symbol.
        const QColor colour = box->grab().toImage().pixelColor(box->width() / 8, box->height() / 2);
        if (m.audio->flash()) {
            ++lit;
            EXPECT_LT(fraction, 0.08) << m.audio->currentTime();
            EXPECT_EQ(colour, QColor(Qt::white)) << m.audio->currentTime();
        } else {
            ++dark;
            EXPECT_EQ(colour, QColor(Qt::black)) << m.audio->currentTime();
        }
    }
    // 80 ms holds three or four 21.3 ms periods in each second.
    EXPECT_GE(lit, 9);
    EXPECT_LE(lit, 12);
    EXPECT_GT(dark, 100);
    EXPECT_GE(changes, 5);
    ScreenTesting::savePng(&view, "channel-checks.png", {820, 900});
}

}  // namespace quorvel
