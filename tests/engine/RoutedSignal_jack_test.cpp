// The routed generator through JACK test interfaces whose playback ports loop back to their capture
// ports (tests/fixtures/jack-start.sh), and against a private server that a test kills.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSettings>
#include <QTest>
#include <array>
#include <atomic>
#include <cmath>

#include "JackTestServer.h"
#include "RoutedSignalTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/RoutedSignal.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

using namespace RoutedSignalTesting;

class RoutedSignalJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    }

    static std::uint32_t idOf(const std::string& name) {
        auto list = AudioHardware::system().devices();
        if (list)
            for (const auto& d : *list)
                if (d.name == name) return d.id;
        return 0;
    }
    static void choose(const std::string& name) {
        const std::uint32_t id = idOf(name);
        ASSERT_NE(id, 0u) << name;
        QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, static_cast<qint64>(id));
    }
    static void play(RoutedSignal& routed, const SignalSettings& settings) {
        ASSERT_TRUE(playAndWait(routed, settings));
    }

    // The peak of every capture port of `device` over at least `frames` frames.
    static std::vector<float> listen(const std::string& device,
                                     std::int64_t frames = 4 * AudioEngine::tapBlockFrames) {
        struct Peaks {
            std::array<std::atomic<float>, AudioEngine::maxOutputChannels> peak{};
            std::atomic<std::int64_t> frames{0};
            std::atomic<int> channels{0};
        } peaks;
        auto engine = AudioHardware::system().makeEngine();
        EXPECT_EQ(engine->bindInput(idOf(device)), 0);
        engine->installTap([&peaks](const AudioInputBlock& b) {
            if (!b.channels) return;
            const int n = std::min(b.channelCount, AudioEngine::maxOutputChannels);
            for (int c = 0; c < n; ++c) {
                float p = peaks.peak[c].load(std::memory_order_relaxed);
                for (std::int64_t t = 0; t < b.frameCount; ++t) p = std::max(p, std::abs(b.channels[c][t]));
                peaks.peak[c].store(p, std::memory_order_relaxed);
            }
            peaks.channels.store(n, std::memory_order_relaxed);
            peaks.frames.fetch_add(b.frameCount, std::memory_order_release);
        });
        Status started = engine->start();
        EXPECT_TRUE(started) << (started ? "" : started.error().description);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return peaks.frames.load(std::memory_order_acquire) >= frames; }, 20000));
        engine->stop();
        std::vector<float> result;
        for (int c = 0; c < peaks.channels.load(); ++c) result.push_back(peaks.peak[c].load());
        return result;
    }
};

}  // namespace

TEST_F(RoutedSignalJack, SpeakersAndReferenceReachTheirPortsAndNoOtherPortSounds) {
    for (const auto& [name, outputs] :
         {std::pair<std::string, int>{"qv-sixteen", 16}, {"qv-sixtyfour", 64}}) {
        choose(name);
        RoutedSignal routed;
        route(routed, "Both", 3, 4, 9);
        routed.setLevel(0);
        play(routed, {.kind = SignalKind::pink, .seconds = 1});
        ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
        EXPECT_EQ(routed.status(), "Pink noise → outputs 3, 4");
        EXPECT_EQ(routed.outputCount(), outputs);

        const auto peaks = listen(name);
        ASSERT_EQ(static_cast<int>(peaks.size()), outputs);
        for (int k = 0; k < outputs; ++k) {
            if (k == 2 || k == 3 || k == 8) {
                EXPECT_GT(peaks[k], 0.1f) << name << " port " << k + 1;
            } else {
                EXPECT_EQ(peaks[k], 0.0f) << name << " port " << k + 1;
            }
        }

        play(routed, {.kind = SignalKind::dual, .seconds = 1});
        EXPECT_EQ(routed.status(), "Solo A or B for a single electrical reference when using separate tones");
        EXPECT_FALSE(routed.isPlaying());
    }
}

TEST_F(RoutedSignalJack, MoreThanSixtyFourOutputsAreRefused) {
    JackTestServer visitors;
    const std::string wide = "qv-wide-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", wide, "--capture", "0", "--playback", "65"},
                                        wide + ":playback_65"));
    choose(wide);
    RoutedSignal routed;
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_EQ(routed.status(), "Unsupported output channel count");
    EXPECT_EQ(routed.outputCount(), 65);
    EXPECT_FALSE(routed.isPlaying());
}

TEST_F(RoutedSignalJack, AnInputOnlyMicrophoneIsRefusedAndAFullInterfaceWorksAfterwards) {
    choose("qv-mic");
    RoutedSignal routed;
    routed.setLevel(0);
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_EQ(routed.status(), "Unsupported output channel count");
    EXPECT_EQ(routed.outputCount(), 0);
    EXPECT_FALSE(routed.isPlaying());

    choose("qv-sixteen");
    routed.setChannelA(2);
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
    const auto peaks = listen("qv-sixteen");
    ASSERT_EQ(peaks.size(), 16u);
    EXPECT_GT(peaks[1], 0.5f);
    EXPECT_EQ(peaks[0], 0.0f);
}

}  // namespace quorvel
