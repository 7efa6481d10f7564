// The Channel checks page end to end through the JACK test interface qv-sixtyfour, whose
// playback ports loop back to its capture ports of the same number without delay: what the page makes
// the player play is heard on the capture side, port by port.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "LoopbackRecorder.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVAction.h"
#include "platform/RtAudioSystem.h"
#include "screens/ChannelChecksView.h"

namespace quorvel {

namespace {

constexpr double rate = 48000;
const std::string interfaceName = "qv-sixtyfour";

std::uint32_t idOf(const std::string& name) {
    auto list = AudioHardware::system().devices();
    if (list)
        for (const auto& d : *list)
            if (d.name == name) return d.id;
    return 0;
}

// Records `channels` capture ports of the interface for `frames` frames while the event loop runs (the
// player's tick needs it).
std::unique_ptr<LoopbackRecorder> record(int channels, std::int64_t frames) {
    auto recorder =
        std::make_unique<LoopbackRecorder>(AudioHardware::system(), idOf(interfaceName), frames, channels);
    if (!recorder->bound() || !recorder->start()) return nullptr;
    if (!QTest::qWaitFor([&] { return recorder->full(); }, 30000)) return nullptr;
    recorder->stop();
    return recorder;
}

float peak(const std::vector<float>& x) {
    float p = 0;
    for (float v : x) p = std::max(p, std::abs(v));
    return p;
}

class PagesThroughJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
        const std::uint32_t id = idOf(interfaceName);
        ASSERT_NE(id, 0u);
        audio = std::make_unique<AudioController>(AudioController::Setup{.outputDevice = id});
        audio->setLevel(-6);
        voice = std::make_unique<VoiceRenderer>();
        analyzer = std::make_unique<MicAnalyzer>();
        routed = std::make_unique<RoutedSignal>();
    }
    void TearDown() override {
        if (audio) audio->stop();
    }
    bool ready() {
        return QTest::qWaitFor([this] { return !audio->busy(); }, 30000) && audio->playing();
    }

    std::unique_ptr<AudioController> audio;
    std::unique_ptr<VoiceRenderer> voice;
    std::unique_ptr<MicAnalyzer> analyzer;
    std::unique_ptr<RoutedSignal> routed;
};

}  // namespace

TEST_F(PagesThroughJack, LeftAndRightChecksSoundOnTheirSideOnly) {
    ChannelChecksView view(*audio, *routed, *voice, *analyzer);
    for (const auto& [button, heard, silent] : {std::tuple{"left", 0, 1}, std::tuple{"right", 1, 0}}) {
        view.findChild<QVAction*>(button)->click();
        ASSERT_TRUE(ready()) << audio->status().toStdString();
        // Past a tick of this play, which sets the pan (the tick moves the time on, then pans).
        QSignalSpy ticks(audio.get(), &AudioController::currentTimeChanged);
        ASSERT_TRUE(QTest::qWaitFor([&] { return ticks.count() > 0; }, 30000));
        const auto r = record(2, std::int64_t(rate));
        ASSERT_TRUE(r);
        const float on = peak(r->channel(heard)), off = peak(r->channel(silent));
        std::printf("[ figures  ] %s check: peak %.3f on its side, %.6f on the other\n", button, on, off);
        EXPECT_GT(on, 0.05f) << button;
        EXPECT_EQ(off, 0.0f) << button;
    }
}

TEST_F(PagesThroughJack, PingPongAlternatesAtTheSetInterval) {
    ChannelChecksView view(*audio, *routed, *voice, *analyzer);
    audio->setInterval(0.5);
    view.findChild<QVAction*>("pingPong")->click();
    ASSERT_TRUE(ready()) << audio->status().toStdString();
    const auto r = record(2, std::int64_t(4 * rate));
    ASSERT_TRUE(r);

    // The side of each 5 ms stretch: the channel that sounds while the other is silent.
    constexpr std::size_t window = 240;
    std::vector<int> sides;
    for (std::size_t t = 0; t + window <= r->channel(0).size(); t += window) {
        float l = 0, rr = 0;
        for (std::size_t k = t; k < t + window; ++k) {
            l = std::max(l, std::abs(r->channel(0)[k]));
            rr = std::max(rr, std::abs(r->channel(1)[k]));
        }
        sides.push_back(l > 0 && rr == 0 ? 0 : rr > 0 && l == 0 ? 1 : -1);
    }
    // Lengths of the whole runs between two switches (the first and last run are cut by the recording).
    std::vector<double> runs;
    std::size_t start = 0;
    for (std::size_t i = 1; i < sides.size(); ++i) {
        if (sides[i] == sides[i - 1] || sides[i] < 0) continue;
        if (start > 0) runs.push_back(double(i - start) * window / rate);
        start = i;
    }
    ASSERT_GE(runs.size(), 5u) << "about eight sides in four seconds";
    double total = 0;
    for (double run : runs) {
        std::printf("[ figures  ] ping-pong side lasted %.3f s (interval 0.5 s)\n", run);
        // The pan is set by the 1/60 s tick and heard from the next 1024-frame period (21 ms), so each
        // switch lands up to a period late, later still when the loaded machine delays the tick.
        EXPECT_NEAR(run, 0.5, 0.06);
        total += run;
    }
    // Late switches shorten one side and lengthen the next: on average the sides keep the interval.
    EXPECT_NEAR(total / double(runs.size()), 0.5, 0.015);
    const auto mixed = std::count(sides.begin(), sides.end(), -1);
    EXPECT_LE(mixed, 2 * std::ptrdiff_t(runs.size()) + 2)
        << "only the windows holding a switch sound on both";
}

}  // namespace quorvel
