// The ALSA path (RtAudio) against the private servers: ALSA's PulseAudio plugin makes ALSA's "default"
// device a client of the server under test (PULSE_SERVER), so what it plays is heard on the default sink's
// monitor and what it captures is the default source.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "LoopbackRecorder.h"
#include "PulseServers.h"
#include "Waits.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using PulseServers::pactl;

// What an engine's failure handler was told; it outlives the engine, whose watcher writes it.
struct Failure {
    std::mutex mutex;
    std::string text;

    AudioFailureHandler handler() {
        return [this](const Error& e) {
            std::lock_guard lock(mutex);
            text = e.description;
        };
    }
    std::string said() {
        std::lock_guard lock(mutex);
        return text;
    }
};

class AlsaThroughPulse : public ::testing::Test {
protected:
    void SetUp() override {
        QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
        if (deviceId(alsa_, "default") == 0)
            GTEST_SKIP() << "ALSA lists no default device: ALSA's PulseAudio plugin (libasound2-plugins) "
                            "is not installed";
    }

    LinuxAudioSystem alsa_{{"alsa"}};
};

}  // namespace

// ALSA's default device is listed as the default both ways; stereo plays on its first two outputs bit for
// bit, capture delivers all of its inputs, and a stopped engine leaves no stream on the server.
TEST_F(AlsaThroughPulse, TheDefaultDevicePlaysCapturesAndLetsGoWhenStopped) {
    const auto listed = alsa_.devices();
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 1u);
    const AudioDeviceInfo device = listed->front();
    EXPECT_EQ(std::tuple(device.name, device.api, device.sampleRateHz),
              std::tuple("default", "ALSA", 48000.0));
    EXPECT_GE(std::min(device.inputChannels, device.outputChannels), 2);
    EXPECT_EQ(alsa_.defaultInputDevice(), device.id);
    EXPECT_EQ(alsa_.defaultOutputDevice(), device.id);

    LinuxAudioSystem pulse({"pulse"});
    LoopbackRecorder recorder(pulse, deviceId(pulse, PulseServers::monitorOf("qv-stereo")), 24000);
    ASSERT_TRUE(recorder.bound());
    Failure failure;
    auto player = alsa_.makeEngine();
    player->setFailureHandler(failure.handler());
    player->setOutput(2, [](float* const* out, int, std::int64_t frames) {
        std::fill_n(out[0], frames, 0.25f);
        std::fill_n(out[1], frames, 0.5f);
    });
    const Status played = player->start();
    ASSERT_TRUE(played) << played.error().description;
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(pollUntil([&] { return recorder.full(); }, 30s));
    recorder.stop();
    EXPECT_EQ(recorder.channel(0).back(), 0.25f);
    EXPECT_EQ(recorder.channel(1).back(), 0.5f);

    auto capture = alsa_.makeEngine();
    capture->setFailureHandler(failure.handler());
    std::atomic<int> blocks{0}, channels{0};
    capture->installTap([&](const AudioInputBlock& b) {
        channels = b.channelCount;
        ++blocks;
    });
    const Status captured = capture->start();
    ASSERT_TRUE(captured) << captured.error().description;
    ASSERT_TRUE(pollUntil([&] { return blocks > 4; }, 30s));
    EXPECT_EQ(channels, device.inputChannels);
    capture->stop();
    EXPECT_EQ(pactl("list short source-outputs"), "") << "capture still open after stop";
    player->stop();
    EXPECT_EQ(pactl("list short sink-inputs"), "") << "playback still open after stop";
    EXPECT_EQ(failure.said(), "");
}

// A server that goes away under a running stream fails it at once, with our sentence (RtAudio's text goes
// to the log).
TEST_F(AlsaThroughPulse, AServerThatGoesAwayFailsTheStreamWithOurSentence) {
    for (const bool input : {false, true}) {
        SCOPED_TRACE(input ? "capture" : "playback");
        PulseServers::PrivateServer server;
        ASSERT_TRUE(server.start());
        LinuxAudioSystem alsa({"alsa"});
        Failure failure;
        std::atomic<int> periods{0};
        auto engine = alsa.makeEngine();
        engine->setFailureHandler(failure.handler());
        if (input)
            engine->installTap([&](const AudioInputBlock&) { ++periods; });
        else
            engine->setOutput(2, [&](float* const*, int, std::int64_t) { ++periods; });
        const Status started = engine->start();
        ASSERT_TRUE(started) << started.error().description;
        ASSERT_TRUE(pollUntil([&] { return periods > 2; }, 30s));
        server.kill();
        ASSERT_TRUE(pollUntil([&] { return !failure.said().empty(); }, 30s));
        EXPECT_EQ(failure.said(), "The audio stream of default failed");
        engine->stop();
    }
}

}  // namespace quorvel
