// The stereo player controller on the fixture's JACK server, playing into the qv-sixtyfour test
// interface, whose capture ports return its playback ports with no delay.
#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "FakeMusicService.h"
#include "LoopbackRecorder.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

constexpr double rate = 48000;

struct Take {
    double rmsDB = 0;      // over 0.1 ... 0.9 s after the onset
    double startPeak = 0;  // largest magnitude in the first 50 ms
    bool ok = false;
};

}  // namespace

TEST(AudioControllerJack, LevelStepsMeasureBackExactlyWithNoBurstAtTheStart) {
    auto system = std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"});
    AudioHardware::install(system);
    std::uint32_t box = 0;
    if (auto list = system->devices())
        for (const auto& d : *list)
            if (d.name == "qv-sixtyfour") box = d.id;
    ASSERT_NE(box, 0u);
    FakeMusicService music;
    AudioController controller(AudioController::Setup{.clock = {}, .music = &music, .outputDevice = box});

    // The rendered sine peaks at 0.98 of full scale; each level scales it by its volume.
    auto take = [&](double level) {
        Take result;
        // An overrun (a loaded machine) breaks a run: try again, for up to a minute.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!result.ok && std::chrono::steady_clock::now() < giveUp) {
            LoopbackRecorder recorder(*system, box, static_cast<std::int64_t>(2.5 * rate));
            if (!recorder.bound() || !recorder.start()) break;
            controller.setLevel(level);
            controller.playSignal(SignalSettings{.kind = SignalKind::sine, .frequency = 1000, .seconds = 2});
            if (!QTest::qWaitFor([&] { return !controller.busy(); }, 30000) || !controller.playing()) break;
            const bool full = QTest::qWaitFor([&] { return recorder.full(); }, 30000);
            controller.stop();
            recorder.stop();
            if (!full) break;
            if (!recorder.contiguous()) continue;  // an overrun on a loaded machine: try again
            const auto& x = recorder.channel(0);
            const auto onset = std::find_if(x.begin(), x.end(), [](float v) { return v != 0; }) - x.begin();
            if (onset + static_cast<long>(0.9 * rate) >= static_cast<long>(x.size())) break;
            for (long t = onset; t < onset + static_cast<long>(0.05 * rate); ++t)
                result.startPeak = std::max(result.startPeak, static_cast<double>(std::abs(x[t])));
            double sum = 0;
            const long from = onset + static_cast<long>(0.1 * rate),
                       to = onset + static_cast<long>(0.9 * rate);
            for (long t = from; t < to; ++t) sum += static_cast<double>(x[t]) * x[t];
            result.rmsDB = 10 * std::log10(sum / static_cast<double>(to - from));
            result.ok = true;
        }
        return result;
    };

    const double levels[] = {-40, -20, 0};
    Take takes[3];
    for (int i = 0; i < 3; ++i) {
        takes[i] = take(levels[i]);
        ASSERT_TRUE(takes[i].ok) << levels[i] << ": " << controller.status().toStdString();
        const double target = 0.98 * AudioController::volumeFor(levels[i], 0);
        // A sine of peak p has an RMS of p/√2.
        EXPECT_NEAR(takes[i].rmsDB, 20 * std::log10(target / std::sqrt(2.0)), 0.1) << levels[i];
        // The start sounds at the target volume: nothing above it while a fade would still be running.
        EXPECT_LE(takes[i].startPeak, target * 1.0001) << levels[i];
    }
    const double step1 = takes[1].rmsDB - takes[0].rmsDB, step2 = takes[2].rmsDB - takes[1].rmsDB;
    EXPECT_NEAR(step1, 20, 0.1);
    EXPECT_NEAR(step2, 20, 0.1);
    // For the record of a run: the measured steps.
    std::filesystem::create_directories(QUORVEL_TEST_OUTPUT_DIR);
    std::ofstream(std::string(QUORVEL_TEST_OUTPUT_DIR) + "/level-steps.txt")
        << "-40 dB: " << takes[0].rmsDB << " dBFS\n-20 dB: " << takes[1].rmsDB
        << " dBFS\n0 dB: " << takes[2].rmsDB << " dBFS\nsteps: " << step1 << " dB, " << step2 << " dB\n";
    std::printf("level steps: %.4f dB, %.4f dB (rms %.4f / %.4f / %.4f dBFS)\n", step1, step2, takes[0].rmsDB,
                takes[1].rmsDB, takes[2].rmsDB);
}

}  // namespace quorvel
