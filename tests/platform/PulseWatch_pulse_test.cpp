// The PulseAudio device watch on a private server of its own (pulseaudio, or PipeWire's PulseAudio side):
// what it reports, what it leaves out, and a server that goes away and comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "PulseServers.h"
#include "Waits.h"
#include "platform/PulseWatch.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using PulseServers::pactl;

bool watched() { return pactl("list clients").find("Quorvel device watch") != std::string::npos; }

}  // namespace

TEST(PulseWatch, TellsOfSinksThatComeAndGoAndOfAServerThatGoesAndComesBack) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    std::atomic<int> notices{0};
    PulseWatch watch([&] { ++notices; });
    ASSERT_TRUE(pollUntil(watched, 20s));

    // What a listing does not show, and a listing itself (a client that comes, asks and goes), are not
    // changes: a menu that lists on each notice would otherwise list without end. A slow server can only
    // make this pass, never fail.
    pactl("set-sink-volume qv_stereo 50%");
    pactl("list sinks");
    EXPECT_FALSE(pollUntil([&] { return notices > 0; }, 1s)) << notices << " notices";

    int before = notices;
    const std::string module = pactl(
        "load-module module-null-sink sink_name=qv_visitor "
        "sink_properties=device.description=qv-visitor");
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "a sink that comes";
    before = notices;
    pactl("unload-module " + module);
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "a sink that goes";
    before = notices;
    pactl("set-default-sink qv_six");
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "the default that moves";

    before = notices;
    server.kill();
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "the server that goes";
    before = notices;
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "the server that comes back";
    ASSERT_TRUE(pollUntil(watched, 20s)) << "watched again";
    before = notices;
    pactl("load-module module-null-sink sink_name=qv_visitor sink_properties=device.description=qv-visitor");
    EXPECT_TRUE(pollUntil([&] { return notices > before; }, 20s)) << "a sink on the new server";
}

// With no server, the watch neither waits for one nor says anything; it ends at once.
TEST(PulseWatch, WithoutAServerItNeitherWaitsNorTells) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    setenv("PULSE_SERVER", "unix:/nonexistent/quorvel-test/native", 1);
    std::atomic<int> notices{0};
    const auto made = std::chrono::steady_clock::now();
    {
        PulseWatch watch([&] { ++notices; });
        std::this_thread::sleep_for(1500ms);  // a retry or two
    }
    EXPECT_LT(std::chrono::steady_clock::now() - made, 10s);
    EXPECT_EQ(notices, 0);
}

}  // namespace quorvel
