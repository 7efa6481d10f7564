// The PulseAudio device watch on a private server of its own (pulseaudio, or PipeWire's PulseAudio side).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "PulseServers.h"
#include "Waits.h"
#include "platform/PulseWatch.h"

namespace quorvel {

using namespace std::chrono_literals;
using PulseServers::pactl;

TEST(PulseWatch, TellsOfDevicesThatComeAndGoAndOfAServerThatGoesAndComesBack) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    std::atomic<int> notices{0};
    std::optional<PulseWatch> watch(std::in_place, [&] { ++notices; });
    const auto watched = [] {
        return pactl("list clients").find("Quorvel device watch") != std::string::npos;
    };
    const auto heard = [&](const std::function<void()>& change) {
        const int before = notices;
        change();
        return pollUntil([&] { return notices > before; }, 20s);
    };
    const std::string visitor = "module-null-sink sink_name=qv_visitor sink_properties=device.description=v";
    ASSERT_TRUE(pollUntil(watched, 20s));

    // What a listing does not show, and a listing itself, are no change: a menu that lists at each notice
    // would list without end. (A slow server can only make this pass.)
    pactl("set-sink-volume qv_stereo 50%");
    pactl("list sinks");
    EXPECT_FALSE(pollUntil([&] { return notices > 0; }, 1s)) << notices << " notices";

    std::string module;
    EXPECT_TRUE(heard([&] { module = pactl("load-module " + visitor); })) << "a sink that comes";
    EXPECT_TRUE(heard([&] { pactl("unload-module " + module); })) << "a sink that goes";
    EXPECT_TRUE(heard([&] {
        pactl(
            "load-module module-remap-source source_name=qv_remap master=qv_stereo.monitor "
            "source_properties=device.description=qv-remap");
    })) << "a source that comes (a microphone plugged in)";
    EXPECT_TRUE(heard([&] { pactl("set-default-sink qv_six"); })) << "the default that moves";
    EXPECT_TRUE(heard([&] { server.kill(); })) << "the server that goes";
    EXPECT_TRUE(heard([&] { ASSERT_TRUE(server.start()); })) << "the server that comes back";
    ASSERT_TRUE(pollUntil(watched, 20s));
    EXPECT_TRUE(heard([&] { pactl("load-module " + visitor); })) << "a sink of the new server";
    watch.reset();
    EXPECT_TRUE(pollUntil([&] { return !watched(); }, 20s)) << "a watch that is gone keeps its connection";
}

}  // namespace quorvel
