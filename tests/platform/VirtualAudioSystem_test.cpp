#include "platform/VirtualAudioSystem.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quorvel {

namespace {

// Keeps every block the tap receives (the virtual system calls the tap on the test's thread).
struct Capture {
    struct Block {
        std::vector<std::vector<float>> channels;  // empty when the block had no float data
        std::int64_t sampleTime = 0;
        std::int64_t frames = 0;
        bool timeValid = true;
    };
    std::vector<Block> blocks;

    AudioTap tap() {
        return [this](const AudioInputBlock& b) {
            Block copy{{}, b.sampleTime, b.frameCount, b.sampleTimeValid};
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

TEST(VirtualAudioSystem, NonFloatInputAndInvalidTimesReachTheTapAsFlags) {
    VirtualAudioSystem system({device("mic", 2, 0)});
    auto engine = system.makeEngine();
    Capture capture;
    engine->installTap(capture.tap());
    ASSERT_TRUE(engine->start());
    system.setNonFloatInput(true);
    system.pump(4096);
    system.setNonFloatInput(false);
    system.setInvalidSampleTime(true);
    system.pump(4096);
    system.setInvalidSampleTime(false);
    system.pump(4096);

    ASSERT_EQ(capture.blocks.size(), 3u);
    EXPECT_TRUE(capture.blocks[0].channels.empty());
    EXPECT_EQ(capture.blocks[0].frames, 4096);
    EXPECT_EQ(capture.blocks[1].channels.size(), 2u);
    EXPECT_FALSE(capture.blocks[1].timeValid);
    EXPECT_TRUE(capture.blocks[2].timeValid);
    EXPECT_EQ(capture.blocks[2].sampleTime, 8192);
}

TEST(VirtualAudioSystem, BindingChecksOnlyThatTheDeviceExists) {
    VirtualDevice refusing = device("Refusing", 2, 2);
    refusing.bindStatus = -10851;
    VirtualAudioSystem system(
        {device("Interface", 8, 8), device("USB mic", 2, 0), device("Speakers", 0, 2), refusing});
    auto engine = system.makeEngine();

    EXPECT_EQ(engine->bindOutput(12345), AudioStatus::deviceNotFound);
    EXPECT_EQ(engine->bindInput(12345), AudioStatus::deviceNotFound);
    EXPECT_EQ(engine->bindOutput(system.idOf("Refusing")), -10851);
    EXPECT_EQ(engine->boundOutput(), 0u) << "a refused binding keeps the previous one";

    // An input-only microphone binds in both directions; its output side simply has no channels.
    const std::uint32_t mic = system.idOf("USB mic");
    EXPECT_EQ(engine->bindOutput(mic), AudioStatus::ok);
    EXPECT_EQ(engine->bindInput(mic), AudioStatus::ok);
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{2, 48000}));
    EXPECT_EQ(engine->outputFormat(), (DeviceFormat{0, 48000}));
    engine->installTap([](const AudioInputBlock&) {});
    ASSERT_TRUE(engine->start());
    EXPECT_EQ(engine->bindInput(system.idOf("Interface")), AudioStatus::engineRunning);
    engine->stop();

    // Playing to it is what fails, at start.
    engine->removeTap();
    engine->setOutput(2, [](float* const*, int, std::int64_t) {});
    Status s = engine->start();
    ASSERT_FALSE(s);
    EXPECT_FALSE(engine->isRunning());

    // An output-only device reports no input channels.
    EXPECT_EQ(engine->bindInput(system.idOf("Speakers")), AudioStatus::ok);
    EXPECT_EQ(engine->inputFormat().channelCount, 0);
}

// Each direction's default is the first device that has it, or the one named for it; a system without
// one has no format and starts nothing. An unreadable name lists as empty.
TEST(VirtualAudioSystem, DefaultsFollowTheTableAndAnEmptySystemHasNoFormat) {
    VirtualAudioSystem system({device("Speakers", 0, 2), device("Mic", 1, 0), device("Box", 4, 4)});
    EXPECT_EQ(system.defaultInputDevice(), system.idOf("Mic"));
    EXPECT_EQ(system.defaultOutputDevice(), system.idOf("Speakers"));
    auto engine = system.makeEngine();
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{1, 48000}));
    EXPECT_EQ(engine->outputFormat(), (DeviceFormat{2, 48000}));
    system.setDefaults("Box", "Mic");
    EXPECT_EQ(system.defaultInputDevice(), system.idOf("Box"));
    EXPECT_EQ(system.defaultOutputDevice(), system.idOf("Mic"));
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{4, 48000}));
    EXPECT_EQ(engine->outputFormat(), (DeviceFormat{0, 48000}));

    VirtualDevice hidden = device("Hidden", 1, 1);
    hidden.nameUnreadable = true;
    VirtualAudioSystem empty({hidden});
    empty.removeDevice("Hidden");
    auto none = empty.makeEngine();
    EXPECT_EQ(empty.defaultOutputDevice(), 0u);
    EXPECT_EQ(empty.defaultInputDevice(), 0u);
    EXPECT_EQ(none->inputFormat(), DeviceFormat{});
    none->installTap([](const AudioInputBlock&) {});
    EXPECT_FALSE(none->start());
    none->removeTap();
    none->setOutput(1, [](float* const*, int, std::int64_t) {});
    EXPECT_FALSE(none->start());
    EXPECT_EQ(VirtualAudioSystem({hidden}).devices()->at(0).name, "");
}

TEST(VirtualAudioSystem, FaultsReachTheOwner) {
    VirtualAudioSystem system({device("box", 2, 2)});
    auto engine = system.makeEngine();
    std::vector<std::string> failures;
    engine->setFailureHandler([&](const Error& e) { failures.push_back(e.description); });
    engine->installTap([](const AudioInputBlock&) {});

    system.failNextStart("Device busy");
    Status s = engine->start();
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().description, "Device busy");
    ASSERT_TRUE(engine->start()) << "the fault is injected once";

    system.failRunningEngines("Server gone");
    EXPECT_FALSE(engine->isRunning());
    system.failRunningEngines("again");
    EXPECT_EQ(failures, std::vector<std::string>{"Server gone"});

    ASSERT_TRUE(engine->start());
    system.removeDevice("box");
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[1], "The audio device box disappeared");
    EXPECT_EQ(system.runningEngines(), 0);

    system.setListFailure(AudioSystem::listUnreadable);
    auto list = system.devices();
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error().code, AudioSystem::listUnreadable);
}

}  // namespace quorvel
