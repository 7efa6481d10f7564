// The Channel checks page end to end through the JACK test interface qv-sixtyfour, whose playback ports
// loop back to its capture ports of the same number without delay.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <cmath>

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

TEST(PagesThroughJack, PingPongAlternatesAtTheSetInterval) {
    constexpr double rate = 48000;
    AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
    std::uint32_t id = 0;
    if (auto list = AudioHardware::system().devices())
        for (const auto& d : *list)
            if (d.name == "qv-sixtyfour") id = d.id;
    ASSERT_NE(id, 0u);
    AudioController audio(AudioController::Setup{.outputDevice = id});
    RoutedSignal routed;
    VoiceRenderer voice;
    MicAnalyzer analyzer;
    ChannelChecksView view(audio, routed, voice, analyzer);
    audio.setLevel(-6);
    audio.setInterval(0.5);
    view.findChild<QVAction*>("pingPong")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !audio.busy(); }, 30000) && audio.playing())
        << audio.status().toStdString();
    // Recorded while the event loop runs: the player's tick sets the pan.
    LoopbackRecorder r(AudioHardware::system(), id, std::int64_t(4 * rate), 2);
    ASSERT_TRUE(r.bound() && r.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.full(); }, 30000));
    r.stop();
    audio.stop();

    // The side of each 5 ms stretch: the channel that sounds while the other is silent.
    constexpr std::size_t window = 240;
    std::vector<int> sides;
    for (std::size_t t = 0; t + window <= r.channel(0).size(); t += window) {
        float l = 0, rr = 0;
        for (std::size_t k = t; k < t + window; ++k) {
            l = std::max(l, std::abs(r.channel(0)[k]));
            rr = std::max(rr, std::abs(r.channel(1)[k]));
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
        // The pan is set by the 1/60 s tick and heard from the next 1024-frame period (21 ms), so each
        // switch lands up to a period late, later still when the loaded machine delays the tick.
        EXPECT_NEAR(run, 0.5, 0.06);
        total += run;
    }
    // Late switches shorten one side and lengthen the next: on average the sides keep the interval.
    EXPECT_NEAR(total / double(runs.size()), 0.5, 0.015);
    EXPECT_LE(std::count(sides.begin(), sides.end(), -1), 2 * std::ptrdiff_t(runs.size()) + 2)
        << "only the windows holding a switch sound on both";
}

}  // namespace quorvel
