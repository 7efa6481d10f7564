// The stereo player controller on the fixture's JACK server, playing into the qv-sixtyfour test
// interface, whose capture ports return its playback ports with no delay.
#include <gtest/gtest.h>

#include <QTest>
#include <cmath>

#include "FakeMusicService.h"
#include "LoopbackRecorder.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

TEST(AudioControllerJack, LevelStepsMeasureBackExactlyWithNoBurstAtTheStart) {
    constexpr long rate = 48000;
    auto system = std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"});
    AudioHardware::install(system);
    const std::uint32_t box = deviceId(*system, "qv-sixtyfour");
    ASSERT_NE(box, 0u);
    FakeMusicService music;
    AudioController controller(AudioController::Setup{.clock = {}, .music = &music, .outputDevice = box});

    // The rendered sine peaks at 0.98 of full scale; each level scales it by its volume. Returns the RMS
    // in dBFS over 0.1 … 0.9 s after the onset and the peak of the first 50 ms; an overrun (a loaded
    // machine) breaks a take, which is tried again for up to a minute.
    auto take = [&](double level) -> std::optional<std::pair<double, double>> {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < giveUp) {
            LoopbackRecorder recorder(*system, box, 5 * rate / 2);
            if (!recorder.bound() || !recorder.start()) return std::nullopt;
            controller.setLevel(level);
            controller.playSignal(SignalSettings{.kind = SignalKind::sine, .frequency = 1000, .seconds = 2});
            if (!QTest::qWaitFor([&] { return !controller.busy(); }, 30000) || !controller.playing())
                return std::nullopt;
            const bool full = QTest::qWaitFor([&] { return recorder.full(); }, 30000);
            controller.stop();
            recorder.stop();
            if (!full) return std::nullopt;
            if (!recorder.contiguous()) continue;
            const auto& x = recorder.channel(0);
            const long onset = std::find_if(x.begin(), x.end(), [](float v) { return v != 0; }) - x.begin();
            if (onset + rate >= static_cast<long>(x.size())) return std::nullopt;
            double startPeak = 0, sum = 0;
            for (long t = onset; t < onset + rate / 20; ++t)
                startPeak = std::max(startPeak, double(std::abs(x[t])));
            for (long t = onset + rate / 10; t < onset + rate * 9 / 10; ++t) sum += double(x[t]) * x[t];
            return std::pair{10 * std::log10(sum / (0.8 * rate)), startPeak};
        }
        return std::nullopt;
    };

    double previous = 0;
    for (double level : {-40.0, -20.0, 0.0}) {
        const auto measured = take(level);
        ASSERT_TRUE(measured) << level << ": " << controller.status().toStdString();
        const auto [rmsDB, startPeak] = *measured;
        const double target = 0.98 * AudioController::volumeFor(level, 0);
        // A sine of peak p has an RMS of p/√2; the steps between levels are exact to 0.1 dB.
        EXPECT_NEAR(rmsDB, 20 * std::log10(target / std::sqrt(2.0)), 0.1) << level;
        if (level > -40) {
            EXPECT_NEAR(rmsDB - previous, 20, 0.1) << level;
        }
        previous = rmsDB;
        // The start sounds at the target volume: nothing above it while a fade would still be running.
        EXPECT_LE(startPeak, target * 1.0001) << level;
    }
}

}  // namespace quorvel
