// The PulseAudio device list on the private servers: pinned on the fixture's sinks, and held against
// RtAudio 5.2's own PulseAudio listing (the one that stored device ids were made from) as sinks and
// defaults change.
#include <gtest/gtest.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <tuple>

#include "PulseServers.h"
#include "Waits.h"
#include "platform/DeviceIds.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/PulseDevices.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using PulseServers::pactl;

// name, inputs, outputs, rate; then the positions of the default input and output.
using Row = std::tuple<std::string, int, int, double>;
struct Seen {
    std::vector<Row> rows;
    std::size_t defaultInput = 0;
    std::size_t defaultOutput = 0;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    for (const auto& [name, in, outs, rate] : seen.rows)
        out << name << " " << in << "/" << outs << " " << rate << "; ";
    return out << "defaults " << seen.defaultInput << ", " << seen.defaultOutput;
}

Seen ours() {
    Seen seen;
    if (auto listing = PulseDevices::list()) {
        for (const auto& d : listing->devices)
            seen.rows.emplace_back(d.name, d.inputChannels, d.outputChannels, d.sampleRateHz);
        seen.defaultInput = listing->defaultInput;
        seen.defaultOutput = listing->defaultOutput;
    }
    return seen;
}

Seen rtAudios() {
    Seen seen;
    RtAudio rt(RtAudio::LINUX_PULSE);
    rt.showWarnings(false);
    const unsigned int count = rt.getDeviceCount();
    for (unsigned int i = 0; i < count; ++i) {
        const RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
        seen.rows.emplace_back(info.name, info.inputChannels, info.outputChannels, info.preferredSampleRate);
    }
    if (count > 0) {
        seen.defaultInput = rt.getDefaultInputDevice();
        seen.defaultOutput = rt.getDefaultOutputDevice();
    }
    return seen;
}

class PulseListing : public ::testing::Test {
protected:
    void SetUp() override { QUORVEL_SKIP_WITHOUT_PULSE_SERVER(); }
    void TearDown() override {
        if (!module_.empty()) pactl("unload-module " + module_);
        pactl("set-default-sink qv_stereo");
    }
    std::string module_;
};

}  // namespace

TEST_F(PulseListing, IsTheFixturesSinksInRtAudio52sOrderWithItsIdsAndDefaults) {
    // PulseAudio lists each monitor as a device, the default sink's first; PipeWire a sink and its monitor
    // as one device.
    const std::vector<Row> expected = PulseServers::pipewire()
                                          ? std::vector<Row>{{"qv-stereo", 2, 2, 48000},
                                                             {"qv-six", 6, 6, 48000},
                                                             {"qv-eight", 8, 8, 48000},
                                                             {"qv-sixteen", 16, 16, 48000},
                                                             {"qv-mono", 1, 1, 48000}}
                                          : std::vector<Row>{{"Monitor of qv-stereo", 2, 0, 48000},
                                                             {"qv-stereo", 0, 2, 48000},
                                                             {"qv-six", 0, 6, 48000},
                                                             {"qv-eight", 0, 8, 48000},
                                                             {"qv-sixteen", 0, 16, 48000},
                                                             {"qv-mono", 0, 1, 48000},
                                                             {"Monitor of qv-six", 6, 0, 48000},
                                                             {"Monitor of qv-eight", 8, 0, 48000},
                                                             {"Monitor of qv-sixteen", 16, 0, 48000},
                                                             {"Monitor of qv-mono", 1, 0, 48000}};
    LinuxAudioSystem system({"pulse"});
    auto list = system.devices();
    ASSERT_TRUE(list);
    std::vector<Row> rows;
    for (const auto& d : *list) {
        rows.emplace_back(d.name, d.inputChannels, d.outputChannels, d.sampleRateHz);
        EXPECT_EQ(d.api, "PulseAudio");
        EXPECT_EQ(d.id, DeviceIds::make("PulseAudio", d.name));
    }
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(system.defaultInputDevice(),
              DeviceIds::make("PulseAudio", PulseServers::monitorOf("qv-stereo")));
    EXPECT_EQ(system.defaultOutputDevice(), DeviceIds::make("PulseAudio", "qv-stereo"));
    EXPECT_EQ(ours(), rtAudios());
}

TEST_F(PulseListing, FollowsRtAudio52AsSinksOfOneNameComeAndTheDefaultMoves) {
    // A second sink described as "qv-six", with 3 channels at 44100 Hz, merges into qv-six; as the default
    // sink it keeps its place; qv-eight as the default goes first.
    module_ = pactl(
        "load-module module-null-sink sink_name=qv_twin rate=44100 channels=3 "
        "channel_map=front-left,front-right,front-center sink_properties=device.description=qv-six");
    for (const char* defaultSink : {"qv_stereo", "qv_twin", "qv_eight"}) {
        SCOPED_TRACE(defaultSink);
        pactl(std::string("set-default-sink ") + defaultSink);
        // Both read the same state once the server has settled on it.
        EXPECT_TRUE(pollUntil([&] { return ours() == rtAudios(); }, 10s)) << ours() << "\n" << rtAudios();
    }
    const Seen now = ours();
    const auto six = std::find_if(now.rows.begin(), now.rows.end(),
                                  [](const Row& r) { return std::get<0>(r) == "qv-six"; });
    ASSERT_NE(six, now.rows.end());
    EXPECT_EQ(std::get<2>(*six), 3);
    EXPECT_EQ(std::get<3>(*six), 48000);
}

}  // namespace quorvel
