// A PulseAudio server that stops answering (pulseaudio, or pipewire-pulse, stopped where it is), reached
// through PulseAudio's own API and through ALSA's PulseAudio plugin: the first call that meets it gives up at
// its deadline, every later one fails at once with our sentence naming the server, a running stream still
// stops within a second, and once the server goes on everything works again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "LoopbackRecorder.h"
#include "PulseServers.h"
#include "Waits.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/PulseDevices.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

AudioRender silence() {
    return [](float* const*, int, std::int64_t) {};
}

struct Timed {
    Status status;
    std::chrono::milliseconds took{};
};

Timed startPlaying(AudioSystem& system, std::uint32_t device) {
    auto engine = system.makeEngine();
    Timed result;
    result.took = timeOf([&] {
        if (const std::int32_t bound = engine->bindOutput(device); bound != 0)
            result.status = Error{AudioStatus::errorDomain, bound, "not bound"};
        else {
            engine->setOutput(2, silence());
            result.status = engine->start();
        }
    });
    return result;
}

}  // namespace

TEST(FrozenPulse, CallsFailAtOnceAfterOneDeadlineAndWorkOnceTheServerAnswers) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"pulse"});
    const auto before = system.devices();
    ASSERT_TRUE(before);
    const std::uint32_t stereo = deviceId(system, "qv-stereo");
    ASSERT_NE(stereo, 0u);
    // A stream that runs when the server stops.
    auto running = system.makeEngine();
    ASSERT_EQ(running->bindOutput(stereo), 0);
    running->setOutput(2, silence());
    ASSERT_TRUE(running->start());

    server.freeze(true);
    const Timed first = startPlaying(system, stereo);
    ASSERT_FALSE(first.status);
    EXPECT_EQ(first.status.error().description, "The PulseAudio server is not responding");
    EXPECT_EQ(system.notResponding(), "The PulseAudio server is not responding");
    const Timed second = startPlaying(system, stereo);
    ASSERT_FALSE(second.status);
    EXPECT_EQ(second.status.error().description, "The PulseAudio server is not responding");
    Result<std::vector<AudioDeviceInfo>> listed = std::vector<AudioDeviceInfo>{};
    const auto listing = timeOf([&] { listed = system.devices(); });
    ASSERT_TRUE(listed);
    EXPECT_EQ(*listed, *before) << "the last devices stand in";
    const auto stopped = timeOf([&] { running->stop(); });
    // The first call waits for its deadline; the others not at all, however loaded the machine.
    EXPECT_LE(first.took, 6s);
    EXPECT_LT(second.took, 2s);
    EXPECT_LT(listing, 2s);
    EXPECT_LT(stopped, 2s);
    std::fprintf(stderr,
                 "frozen server: first start %lld ms, second %lld ms, listing %lld ms, stop %lld ms\n",
                 static_cast<long long>(first.took.count()), static_cast<long long>(second.took.count()),
                 static_cast<long long>(listing.count()), static_cast<long long>(stopped.count()));

    server.freeze(false);
    ASSERT_TRUE(pollUntil([] { return PulseDevices::answering(); }, 30s));
    EXPECT_EQ(system.notResponding(), "");
    const Timed again = startPlaying(system, stereo);
    EXPECT_TRUE(again.status) << again.status.error().description;
}

// ALSA's default device goes through the same server: ALSA gets the same rule, and the PulseAudio server
// that stopped is the one named.
TEST(FrozenPulse, TheAlsaPathFailsAtOnceAfterOneDeadlineAndWorksOnceTheServerAnswers) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"pulse", "alsa"});
    LinuxAudioSystem alsa({"alsa"});
    const std::uint32_t device = deviceId(alsa, "default");
    if (device == 0)
        GTEST_SKIP() << "ALSA lists no default device: ALSA's PulseAudio plugin (libasound2-plugins) is not "
                        "installed";
    auto running = alsa.makeEngine();
    ASSERT_EQ(running->bindOutput(device), 0);
    running->setOutput(2, silence());
    ASSERT_TRUE(running->start());

    server.freeze(true);
    const Timed first = startPlaying(alsa, device);
    ASSERT_FALSE(first.status);
    EXPECT_EQ(first.status.error().description, "The audio device default is not responding");
    const Timed second = startPlaying(alsa, device);
    ASSERT_FALSE(second.status);
    EXPECT_EQ(alsa.notResponding(), "The ALSA devices are not responding");
    const auto stopped = timeOf([&] { running->stop(); });
    // Both sound systems wait on the one server; it is the one named.
    Result<std::vector<AudioDeviceInfo>> listed = std::vector<AudioDeviceInfo>{};
    const auto listing = timeOf([&] { listed = system.devices(); });
    EXPECT_TRUE(listed);
    EXPECT_EQ(system.notResponding(), "The PulseAudio server is not responding");
    EXPECT_LE(first.took, 6s);
    EXPECT_LT(second.took, 2s);
    EXPECT_LT(stopped, 2s);
    EXPECT_LE(listing, 7s);
    std::fprintf(
        stderr,
        "frozen server through ALSA: first start %lld ms, second %lld ms, stop %lld ms, listing %lld "
        "ms\n",
        static_cast<long long>(first.took.count()), static_cast<long long>(second.took.count()),
        static_cast<long long>(stopped.count()), static_cast<long long>(listing.count()));

    server.freeze(false);
    ASSERT_TRUE(pollUntil([&] { return system.notResponding().empty(); }, 60s));
    const Timed again = startPlaying(alsa, device);
    EXPECT_TRUE(again.status) << again.status.error().description;
}

}  // namespace quorvel
