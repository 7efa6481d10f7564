#include "platform/VirtualAudioSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Waits.h"

namespace quorvel {

namespace {

// Keeps every block the tap receives (the virtual system calls the tap on the test's thread).
struct Capture {
    struct Block {
        std::vector<std::vector<float>> channels;
        std::int64_t sampleTime = 0;
        std::int64_t frames = 0;
    };
    std::vector<Block> blocks;

    AudioTap tap() {
        return [this](const AudioInputBlock& b) {
            Block copy{{}, b.sampleTime, b.frameCount};
            if (b.channels)
                for (int c = 0; c < b.channelCount; ++c)
                    copy.channels.emplace_back(b.channels[c], b.channels[c] + b.frameCount);
            blocks.push_back(std::move(copy));
        };
    }
    // One channel over all blocks, in order.
    std::vector<float> joined(int channel) const {
        std::vector<float> out;
        for (const auto& b : blocks)
            out.insert(out.end(), b.channels[channel].begin(), b.channels[channel].end());
        return out;
    }
};

VirtualDevice device(std::string name, int in, int out) {
    VirtualDevice d;
    d.name = std::move(name);
    d.inputChannels = in;
    d.outputChannels = out;
    return d;
}

}  // namespace

TEST(VirtualAudioSystem, LoopsEachOutputToItsInputWithDelayAndGain) {
    VirtualAudioSystem system({device("box", 4, 4)});
    system.connect("box", 0, 0, 0);
    system.connect("box", 1, 1, 100, 0.5f);
    system.connect("box", 0, 2, 4097, -1.0f);  // lands in the second block
    // Outside the box's four channels each way: refused, so input 3 stays silent.
    system.connect("box", 4, 3, 0);
    system.connect("box", -1, 3, 0);
    system.connect("box", 1, 4, 0);
    auto engine = system.makeEngine();
    Capture capture;
    engine->installTap(capture.tap());
    std::int64_t frame = 0;
    engine->setOutput(2, [&](float* const* ch, int, std::int64_t n) {
        for (std::int64_t t = 0; t < n; ++t, ++frame) {
            ch[0][t] = frame == 10 ? 1.0f : 0.0f;
            ch[1][t] = frame == 20 ? 1.0f : 0.0f;
        }
    });
    ASSERT_TRUE(engine->start());
    system.pump(3 * 4096);

    ASSERT_EQ(capture.blocks.size(), 3u);
    for (std::size_t i = 0; i < capture.blocks.size(); ++i) {
        EXPECT_EQ(capture.blocks[i].sampleTime, static_cast<std::int64_t>(i) * 4096);
        EXPECT_EQ(capture.blocks[i].frames, 4096);
        ASSERT_EQ(capture.blocks[i].channels.size(), 4u);
    }
    auto expectOnly = [&](int channel, std::size_t at, float value) {
        const auto samples = capture.joined(channel);
        for (std::size_t t = 0; t < samples.size(); ++t)
            ASSERT_EQ(samples[t], t == at ? value : 0.0f) << "channel " << channel << " frame " << t;
    };
    expectOnly(0, 10, 1.0f);
    expectOnly(1, 120, 0.5f);
    expectOnly(2, 4107, -1.0f);
    expectOnly(3, 1u << 30, 0.0f);
}

// A stereo output laid out to mix down plays the average of its channels on a device with one output, also
// over periods longer than the engine's mix-down block; on a device with two outputs it stays as it is. An
// exact layout is refused there, as is any output on a device without outputs.
TEST(VirtualAudioSystem, MixToMonoAveragesTheChannelsOnADeviceWithOneOutputOnly) {
    VirtualAudioSystem system({device("mono", 1, 1), device("pair", 2, 2), device("mic", 1, 0)}, 3000);
    system.connect("mono", 0, 0, 0);
    system.connect("pair", 0, 0, 0);
    system.connect("pair", 1, 1, 0);
    for (const char* name : {"mono", "pair"}) {
        SCOPED_TRACE(name);
        auto engine = system.makeEngine();
        ASSERT_EQ(engine->bindOutput(system.idOf(name)), 0);
        ASSERT_EQ(engine->bindInput(system.idOf(name)), 0);
        Capture capture;
        engine->installTap(capture.tap());
        // The left channel counts the frames, so that a part rendered out of place shows.
        std::int64_t frame = 0;
        int asked = 0;
        engine->setOutput(
            2,
            [&](float* const* ch, int channels, std::int64_t n) {
                asked = channels;
                for (std::int64_t t = 0; t < n; ++t, ++frame) {
                    ch[0][t] = static_cast<float>(frame % 1000) / 1000;
                    ch[1][t] = -0.25f;
                }
            },
            OutputLayout::mixToMono);
        ASSERT_TRUE(engine->start());
        system.pump(2 * 3000);
        EXPECT_EQ(asked, 2);
        const auto first = capture.joined(0);
        ASSERT_GE(first.size(), 4096u);
        for (std::size_t t = 0; t < first.size(); ++t) {
            const float left = static_cast<float>(t % 1000) / 1000;
            ASSERT_EQ(first[t], std::string(name) == "mono" ? (left - 0.25f) / 2 : left) << t;
            if (std::string(name) == "pair") {
                ASSERT_EQ(capture.joined(1)[t], -0.25f) << t;
            }
        }
    }
    auto exact = system.makeEngine();
    ASSERT_EQ(exact->bindOutput(system.idOf("mono")), 0);
    exact->setOutput(2, [](float* const*, int, std::int64_t) {});
    const Status refused = exact->start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, "The device mono has 1 outputs, 2 were asked for");
    ASSERT_EQ(exact->bindOutput(system.idOf("mic")), 0);
    exact->setOutput(
        2, [](float* const*, int, std::int64_t) {}, OutputLayout::mixToMono);
    ASSERT_FALSE(exact->start());
}

TEST(VirtualAudioSystem, PeriodsThatDoNotDivideTheBlockStillGiveContiguousBlocks) {
    VirtualAudioSystem system({device("mic", 1, 0)}, 1000);
    system.setInputSignal("mic", 0, [](std::int64_t frame) { return static_cast<float>(frame); });
    auto engine = system.makeEngine();
    Capture capture;
    engine->installTap(capture.tap());
    ASSERT_TRUE(engine->start());
    system.pump(16000);

    ASSERT_EQ(capture.blocks.size(), 3u);
    std::int64_t expected = 0;
    for (const auto& b : capture.blocks) {
        EXPECT_GE(b.frames, 4096);
        EXPECT_EQ(b.sampleTime, expected);
        for (std::int64_t t = 0; t < b.frames; ++t)
            ASSERT_EQ(b.channels[0][t], static_cast<float>(b.sampleTime + t));
        expected += b.frames;
    }
}

TEST(VirtualAudioSystem, OverflowShowsAsAGapAndBlocksStayContiguous) {
    VirtualAudioSystem system({device("mic", 1, 0)}, 1024);
    system.setInputSignal("mic", 0, [](std::int64_t frame) { return static_cast<float>(frame); });
    auto engine = system.makeEngine();
    Capture capture;
    engine->installTap(capture.tap());
    ASSERT_TRUE(engine->start());
    system.pump(4096 + 2048);  // one block and half of the next
    system.overflowNextPeriod();
    system.pump(2 * 4096);

    ASSERT_GE(capture.blocks.size(), 2u);
    const auto& before = capture.blocks[0];
    const auto& after = capture.blocks[1];
    EXPECT_GT(after.sampleTime, before.sampleTime + before.frames);
    // The half block from before the overflow was dropped: the next block starts after it, in one piece.
    EXPECT_EQ(after.channels[0][0], 4096.0f + 2048.0f);
    for (std::int64_t t = 1; t < after.frames; ++t)
        ASSERT_EQ(after.channels[0][t], after.channels[0][0] + static_cast<float>(t));
}

// A held call waits where it begins, on any thread but the holding one, until passed or released; the
// system also says which server is not responding.
TEST(VirtualAudioSystem, HeldEngineCallsWaitUntilPassedOrReleased) {
    using namespace std::chrono_literals;
    VirtualAudioSystem system({device("box", 2, 2)});
    const std::uint32_t box = system.idOf("box");
    auto engine = system.makeEngine();
    engine->setOutput(2, [](float* const*, int, std::int64_t) {});
    system.holdEngineCalls();
    std::atomic<int> done{0};
    std::thread worker([&] {
        EXPECT_EQ(engine->bindOutput(box), 0);
        ++done;
        EXPECT_EQ(engine->outputFormat(), (DeviceFormat{2, 48000}));
        ++done;
        EXPECT_TRUE(engine->start());
        ++done;
    });
    ASSERT_TRUE(pollUntil([&] { return system.heldEngineCalls() == 1; }, 20s));
    EXPECT_EQ(done, 0);
    system.passEngineCalls(2);
    ASSERT_TRUE(pollUntil([&] { return done == 2 && system.heldEngineCalls() == 1; }, 20s));
    EXPECT_FALSE(engine->isRunning()) << "the start waits";
    system.releaseEngineCalls();
    worker.join();
    EXPECT_EQ(done, 3);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(system.heldEngineCalls(), 0);
    engine->stop();
    system.holdEngineCalls();
    EXPECT_TRUE(engine->start()) << "the holding thread's own call passes";
    system.releaseEngineCalls();

    EXPECT_EQ(system.notResponding(), "");
    system.setNotResponding("The PulseAudio server is not responding");
    EXPECT_EQ(system.notResponding(), "The PulseAudio server is not responding");
}

}  // namespace quorvel
