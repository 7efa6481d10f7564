// The routed generator through the JACK test interfaces, whose playback ports loop back to their capture
// ports (tests/fixtures/jack-start.sh).
#include <gtest/gtest.h>

#include <QSettings>
#include <algorithm>
#include <cmath>

#include "LoopbackRecorder.h"
#include "RoutedSignalTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

using namespace RoutedSignalTesting;

class RoutedSignalJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
    }
    static void choose(const std::string& name) {
        const std::uint32_t id = deviceId(AudioHardware::system(), name);
        ASSERT_NE(id, 0u) << name;
        QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, static_cast<qint64>(id));
    }
    // The peak of each of the first `ports` capture ports of `device` over 16384 frames.
    static std::vector<float> listen(const std::string& device, int ports) {
        LoopbackRecorder recorder(AudioHardware::system(), deviceId(AudioHardware::system(), device), 16384,
                                  ports);
        EXPECT_TRUE(recorder.bound() && recorder.start());
        EXPECT_TRUE(recorder.waitFull());
        recorder.stop();
        std::vector<float> peaks;
        for (int c = 0; c < ports; ++c) {
            float p = 0;
            for (float v : recorder.channel(c)) p = std::max(p, std::abs(v));
            peaks.push_back(p);
        }
        return peaks;
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
        ASSERT_TRUE(playAndWait(routed, {.kind = SignalKind::pink, .seconds = 1}));
        ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
        EXPECT_EQ(routed.status(), "Pink noise → outputs 3, 4");
        EXPECT_EQ(routed.outputCount(), outputs);

        const auto peaks = listen(name, outputs);
        for (int k = 0; k < outputs; ++k) {
            if (k == 2 || k == 3 || k == 8) {
                EXPECT_GT(peaks[k], 0.1f) << name << " port " << k + 1;
            } else {
                EXPECT_EQ(peaks[k], 0.0f) << name << " port " << k + 1;
            }
        }
    }
}

}  // namespace quorvel
