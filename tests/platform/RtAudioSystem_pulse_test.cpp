// The device list through the fixture's private PulseAudio server (tests/fixtures/pulse-start.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

std::optional<AudioDeviceInfo> find(RtAudioSystem& system, const std::string& name) {
    if (auto list = system.devices())
        for (const auto& d : *list)
            if (d.name == name) return d;
    return std::nullopt;
}

// pactl on the server of PULSE_SERVER; its output.
std::string pactl(const std::string& arguments) {
    std::string out;
    if (FILE* pipe = popen(("pactl " + arguments + " 2>/dev/null").c_str(), "r")) {
        char line[256];
        while (fgets(line, sizeof line, pipe)) out += line;
        pclose(pipe);
    }
    return out;
}

}  // namespace

TEST(RtAudioPulse, ListsSinksAndMonitorsAndAStoredIdOutlivesAnotherSink) {
    RtAudioSystem system({"pulse"});
    struct Expected {
        const char* name;
        int in, out;
    };
    for (Expected e : {Expected{"qv-stereo", 0, 2}, Expected{"Monitor of qv-stereo", 2, 0},
                       Expected{"qv-six", 0, 6}, Expected{"Monitor of qv-six", 6, 0},
                       Expected{"qv-eight", 0, 8}, Expected{"Monitor of qv-eight", 8, 0}}) {
        auto d = find(system, e.name);
        ASSERT_TRUE(d) << e.name;
        EXPECT_EQ(d->inputChannels, e.in) << e.name;
        EXPECT_EQ(d->outputChannels, e.out) << e.name;
        EXPECT_EQ(d->sampleRateHz, 48000) << e.name;
        EXPECT_EQ(d->api, "PulseAudio");
    }
    const std::uint32_t monitor = find(system, "Monitor of qv-eight")->id;

    const std::string module = pactl(
        "load-module module-null-sink sink_name=qv_visitor sink_properties=device.description=qv-visitor");
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(find(system, "qv-visitor"));
    auto engine = system.makeEngine();
    EXPECT_EQ(engine->bindInput(monitor), AudioStatus::ok);
    pactl("unload-module " + module);
    EXPECT_FALSE(find(system, "qv-visitor"));

    EXPECT_EQ(find(system, "Monitor of qv-eight")->id, monitor);
    ASSERT_EQ(engine->bindInput(monitor), AudioStatus::ok);
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{8, 48000}));
}

}  // namespace quorvel
