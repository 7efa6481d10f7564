// PulseAudio streams through the private servers (pulseaudio, and PipeWire's PulseAudio side), recorded from
// the sinks' monitors by a stream of the same kind, which also asks for the device's own channel map.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "CountingAllocator.h"
#include "LoopbackRecorder.h"
#include "PulseServers.h"
#include "Waits.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using PulseServers::monitorOf;
using PulseServers::pactl;

constexpr const char* surround = "front-left,front-right,front-center,lfe,rear-left,rear-right";

// Frame t of output c: distinct for every output, never 0, exact in 32-bit float (an integer over 2^16).
float pattern(int c, std::int64_t t) { return static_cast<float>((c + 1) * 1024 + t % 1000 + 1) / 65536.0f; }
// What a recorded `value` is, for a failure's message.
std::string whatIs(float value) {
    const float units = value * 65536.0f;
    const auto whole = static_cast<int>(units);
    if (value == 0) return "silence";
    if (units != static_cast<float>(whole) || whole % 1024 == 0) return "a mix";
    return "output " + std::to_string(whole / 1024) + "'s sound";
}

std::string auxMap(int channels) {
    std::string map;
    for (int k = 0; k < channels; ++k) map += (k ? ",aux" : "aux") + std::to_string(k);
    return map;
}

// A null sink of the test's own, "qv-visitor", on either server; gone at the end.
class VisitorSink {
public:
    explicit VisitorSink(const std::string& channelMap) {
        const auto channels = std::count(channelMap.begin(), channelMap.end(), ',') + 1;
        module_ =
            pactl("load-module module-null-sink sink_name=qv_visitor rate=48000 format=float32le channels=" +
                  std::to_string(channels) + " channel_map=" + channelMap +
                  " sink_properties=device.description=qv-visitor");
    }
    ~VisitorSink() { unload(); }
    void unload() {
        if (!module_.empty()) pactl("unload-module " + module_);
        module_.clear();
    }

private:
    std::string module_;
};

class PulseStreams : public ::testing::Test {
protected:
    void SetUp() override { QUORVEL_SKIP_WITHOUT_PULSE_SERVER(); }

    std::uint32_t idOf(const std::string& name) { return deviceId(system_, name); }

    // Plays `pattern` on the first `rendered` outputs of `sink` (all by default) and checks each channel of
    // its monitor against it, bit for bit, from the first sound on; the channels not rendered are silent.
    // The render adds to what it is given, as a mixing render does: the engine gives it silence. Neither
    // stream reports a failure.
    void expectEachOutputOnItsOwnChannel(const std::string& sink, int channels, int rendered = 0) {
        rendered = rendered > 0 ? rendered : channels;
        SCOPED_TRACE(sink);
        constexpr std::int64_t checked = 12000;
        constexpr std::int64_t latency = 48000;  // the most a server takes to pass the first sound on
        LoopbackRecorder recorder(system_, idOf(monitorOf(sink)), checked + latency, channels);
        ASSERT_TRUE(recorder.bound());
        std::int64_t played = 0;  // audio thread; outlives the player
        std::mutex mutex;
        std::string failure;  // likewise
        auto player = system_.makeEngine();
        ASSERT_EQ(player->bindOutput(idOf(sink)), 0);
        player->setOutput(rendered, [&played](float* const* out, int count, std::int64_t frames) {
            CountingAllocator::armThisThread(true);
            for (int c = 0; c < count; ++c)
                for (std::int64_t t = 0; t < frames; ++t) out[c][t] += pattern(c, played + t);
            played += frames;
        });
        player->setFailureHandler([&](const Error& e) {
            std::lock_guard lock(mutex);
            failure = e.description;
        });
        CountingAllocator::reset();
        ASSERT_TRUE(recorder.start());
        ASSERT_TRUE(player->start());
        ASSERT_TRUE(pollUntil([&] { return recorder.full(); }, 30s));
        recorder.stop();
        player->stop();
        EXPECT_EQ(failure, "") << "reported while it played";
        EXPECT_EQ(CountingAllocator::count(), 0) << "allocations on the playing stream's thread";
        ASSERT_TRUE(recorder.contiguous());

        // The servers may drop the first few frames of a new stream: the first sound tells where the
        // recording begins in the pattern.
        const auto& first = recorder.channel(0);
        const auto onset = static_cast<std::int64_t>(
            std::find_if(first.begin(), first.end(), [](float v) { return v != 0; }) - first.begin());
        ASSERT_LE(onset, latency);
        const std::int64_t start =
            static_cast<std::int64_t>(first[static_cast<std::size_t>(onset)] * 65536.0f) - 1025;
        ASSERT_TRUE(start >= 0 && start < 1000) << whatIs(first[static_cast<std::size_t>(onset)]);
        for (int c = 0; c < channels; ++c) {
            const auto& x = recorder.channel(c);
            for (std::int64_t t = 0; t < checked; ++t) {
                const float heard = x[static_cast<std::size_t>(onset + t)];
                ASSERT_EQ(heard, c < rendered ? pattern(c, start + t) : 0.0f)
                    << "channel " << c + 1 << ", frame " << t << ": " << whatIs(heard);
            }
        }
    }

    LinuxAudioSystem system_{{"pulse"}};
};

}  // namespace

TEST_F(PulseStreams, EachOutputSoundsOnItsOwnChannelOfTheSinkBitForBitWhateverTheMap) {
    expectEachOutputOnItsOwnChannel("qv-stereo", 2);
    expectEachOutputOnItsOwnChannel("qv-six", 6);  // standard 5.1
    expectEachOutputOnItsOwnChannel("qv-eight", 8);
    expectEachOutputOnItsOwnChannel("qv-sixteen", 16);  // aux0…aux15
    expectEachOutputOnItsOwnChannel("qv-eight", 8, 2);  // stereo on the front pair
    VisitorSink wide(auxMap(32));
    expectEachOutputOnItsOwnChannel("qv-visitor", 32);
}

TEST_F(PulseStreams, ADeviceThatGoesAwayEndsItsStreamWithItsNameInsteadOfMoving) {
    for (const bool capture : {false, true}) {
        SCOPED_TRACE(capture ? "capture" : "playback");
        VisitorSink visitor(surround);
        const std::string device = capture ? monitorOf("qv-visitor") : "qv-visitor";
        std::mutex mutex;
        std::string failure;  // both outlive the engine, whose watcher writes them
        auto engine = system_.makeEngine();
        engine->setFailureHandler([&](const Error& e) {
            std::lock_guard lock(mutex);
            failure = e.description;
        });
        if (capture) {
            ASSERT_EQ(engine->bindInput(idOf(device)), 0);
            engine->installTap([](const AudioInputBlock&) {});
        } else {
            ASSERT_EQ(engine->bindOutput(idOf(device)), 0);
            engine->setOutput(6, [](float* const*, int, std::int64_t) {});
        }
        ASSERT_TRUE(engine->start());
        visitor.unload();
        ASSERT_TRUE(pollUntil(
            [&] {
                std::lock_guard lock(mutex);
                return !failure.empty();
            },
            20s));
        EXPECT_EQ(failure, "The audio device " + device + " disappeared");
        EXPECT_EQ(pactl(capture ? "list short source-outputs" : "list short sink-inputs"), "");
        engine->stop();
    }
}

// PipeWire's PulseAudio side drops captured input instead of sending it when its client falls more than the
// stream's buffer behind (4 MiB: 1.4 s of sixteen channels), and shows it only in the stream's read index.
TEST_F(PulseStreams, InputTheServerDroppedForAClientThatFellBehindIsAGap) {
    if (!PulseServers::pipewire()) GTEST_SKIP() << "PulseAudio drops such input and counts it nowhere";
    std::atomic<int> blocks{0};
    std::atomic<int> gaps{0};
    std::atomic<bool> stall{false};
    std::int64_t next = -1;  // the capture's thread
    auto engine = system_.makeEngine();
    ASSERT_EQ(engine->bindInput(idOf(monitorOf("qv-sixteen"))), 0);
    engine->installTap([&](const AudioInputBlock& b) {
        if (next >= 0 && b.sampleTime != next) ++gaps;
        next = b.sampleTime + b.frameCount;
        ++blocks;
        if (stall.exchange(false)) std::this_thread::sleep_for(3s);
    });
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(pollUntil([&] { return blocks >= 2; }, 30s));
    ASSERT_EQ(gaps, 0);
    stall = true;
    EXPECT_TRUE(pollUntil([&] { return gaps > 0; }, 30s)) << blocks << " blocks, none after a gap";
    engine->stop();
}

}  // namespace quorvel
