// The file player on the fixture's JACK server (jackd or PipeWire, 48 kHz), playing into the qv-sixtyfour
// test interface.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "CountingAllocator.h"
#include "JackServers.h"
#include "TestHome.h"
#include "platform/AudioFilePlayer.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

// Whatever the owner does while a converted file loops, the callback only copies.
TEST(AudioFilePlayerJack, TheRenderCallbackNeverAllocates) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    // 1 s of 1 kHz at 44.1 kHz, 0.5 peak.
    const std::string path = TestHome::freshDir("jack") + "/count.wav";
    AudioBuffer buffer(*AudioFormat::standard(44100, 2), 44100);
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 44100; ++t)
            buffer.channel(c)[t] =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * t / 44100.0));
    buffer.setFrameLength(44100);
    auto writer = AudioFileWriter::create(path, buffer.format());
    ASSERT_TRUE(writer && writer->write(buffer) && writer->close());

    CountingSystem system(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"}));
    std::uint32_t box = 0;
    const auto devices = system.devices();
    for (const auto& d : devices.value())
        if (d.name == "qv-sixtyfour") box = d.id;
    auto engine = system.makeEngine();
    ASSERT_EQ(engine->bindOutput(box), 0);
    auto audio = AudioFilePlayer::load(path, AudioFilePlayer::outputRate(*engine));
    ASSERT_TRUE(audio) << audio.error().description;
    auto player = AudioFilePlayer::make(std::move(engine), std::move(*audio));
    ASSERT_TRUE(player);
    AudioFilePlayer& p = **player;
    EXPECT_NEAR(p.duration(), 1.0, 1.0 / 48000);
    p.setLooping(true);
    CountingAllocator::reset();
    ASSERT_TRUE(p.play());
    for (int i = 0; i < 12; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        p.setCurrentTime(0.07 * i);
        p.setVolume(i % 2 ? 0.2f : 0.9f, 0.03);
        p.setPan(static_cast<float>(i % 3) - 1.0f);
        if (i % 4 == 3) {
            p.pause();
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ASSERT_TRUE(p.play());
        }
    }
    const double before = p.currentTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(p.currentTime(), before) << "it played";
    p.stop();
    EXPECT_EQ(CountingAllocator::count(), 0) << "allocations on the audio thread";
}

}  // namespace quorvel
