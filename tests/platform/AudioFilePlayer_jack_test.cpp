// The file player on the fixture's JACK server (48 kHz), playing into the qv-sixtyfour test interface,
// whose capture ports return its playback ports with no delay.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "CountingAllocator.h"
#include "LoopbackRecorder.h"
#include "TestHome.h"
#include "platform/AudioFilePlayer.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

std::uint32_t deviceId(RtAudioSystem& system, const std::string& name) {
    auto list = system.devices();
    if (list)
        for (const auto& d : *list)
            if (d.name == name) return d.id;
    return 0;
}

// Forwards to a real engine; its render callback runs with allocation counting armed.
class CountingEngine : public AudioEngine {
public:
    explicit CountingEngine(std::unique_ptr<AudioEngine> inner) : inner_(std::move(inner)) {}
    std::int32_t bindOutput(std::uint32_t id) override { return inner_->bindOutput(id); }
    std::int32_t bindInput(std::uint32_t id) override { return inner_->bindInput(id); }
    std::uint32_t boundOutput() const override { return inner_->boundOutput(); }
    std::uint32_t boundInput() const override { return inner_->boundInput(); }
    DeviceFormat inputFormat() override { return inner_->inputFormat(); }
    DeviceFormat outputFormat() override { return inner_->outputFormat(); }
    void installTap(AudioTap tap) override { inner_->installTap(std::move(tap)); }
    void removeTap() override { inner_->removeTap(); }
    bool hasTap() const override { return inner_->hasTap(); }
    void setOutput(int channels, AudioRender render) override {
        inner_->setOutput(channels,
                          [render = std::move(render)](float* const* out, int n, std::int64_t frames) {
                              CountingAllocator::armThisThread(true);
                              render(out, n, frames);
                              CountingAllocator::armThisThread(false);
                          });
    }
    void clearOutput() override { inner_->clearOutput(); }
    bool hasOutput() const override { return inner_->hasOutput(); }
    void setFailureHandler(AudioFailureHandler handler) override {
        inner_->setFailureHandler(std::move(handler));
    }
    Status start() override { return inner_->start(); }
    void stop() override { inner_->stop(); }
    bool isRunning() const override { return inner_->isRunning(); }

private:
    std::unique_ptr<AudioEngine> inner_;
};

// 1 s of 1 kHz at 44.1 kHz, 0.5 peak.
std::string sine44(const std::string& name) {
    const std::string path = TestHome::freshDir("jack") + "/" + name;
    AudioBuffer buffer(*AudioFormat::standard(44100, 2), 44100);
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 44100; ++t)
            buffer.channel(c)[t] =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * t / 44100.0));
    buffer.setFrameLength(44100);
    auto writer = AudioFileWriter::create(path, buffer.format());
    EXPECT_TRUE(writer && writer->write(buffer) && writer->close());
    return path;
}

}  // namespace

// Everything the owner does while a converted file loops (seeks, pause and resume, fades, pan) costs the
// audio thread no allocation: the worker decodes and converts, the callback only copies.
TEST(AudioFilePlayerJack, TheRenderCallbackNeverAllocates) {
    RtAudioSystem system({"jack"});
    const std::uint32_t box = deviceId(system, "qv-sixtyfour");
    ASSERT_NE(box, 0u);
    auto engine = std::make_unique<CountingEngine>(system.makeEngine());
    ASSERT_EQ(engine->bindOutput(box), 0);
    auto audio = AudioFilePlayer::load(sine44("count.wav"), AudioFilePlayer::outputRate(*engine));
    ASSERT_TRUE(audio) << audio.error().description;
    auto player = AudioFilePlayer::make(std::move(engine), std::move(*audio));
    ASSERT_TRUE(player);
    AudioFilePlayer& p = **player;
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

TEST(AudioFilePlayerJack, FileAt44100PlaysOnA48000ServerAtItsPitchAndLength) {
    // 1 s of 1 kHz at 44.1 kHz: played unconverted it would last 0.919 s at 1088 Hz.
    const std::string path = TestHome::freshDir("jack") + "/sine44.wav";
    {
        AudioBuffer buffer(*AudioFormat::standard(44100, 2), 44100);
        for (int c = 0; c < 2; ++c)
            for (int t = 0; t < 44100; ++t)
                buffer.channel(c)[t] =
                    static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * t / 44100.0));
        buffer.setFrameLength(44100);
        auto writer = AudioFileWriter::create(path, buffer.format());
        ASSERT_TRUE(writer && writer->write(buffer) && writer->close());
    }
    RtAudioSystem system({"jack"});
    const std::uint32_t box = deviceId(system, "qv-sixtyfour");
    ASSERT_NE(box, 0u);

    // An overrun (a loaded machine) breaks a run: try again, for up to a minute.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < giveUp) {
        auto player = AudioFilePlayer::open(path, system, box);
        ASSERT_TRUE(player) << player.error().description;
        EXPECT_NEAR((*player)->duration(), 1.0, 1.0 / 48000);
        LoopbackRecorder recorder(system, box, 2 * 48000);
        ASSERT_TRUE(recorder.bound());
        ASSERT_TRUE(recorder.start());
        ASSERT_TRUE((*player)->play());
        ASSERT_TRUE(recorder.waitFull());
        recorder.stop();
        EXPECT_FALSE((*player)->isPlaying());
        if (!recorder.contiguous()) continue;  // an overrun on a loaded machine: try again

        const auto& x = recorder.channel(0);
        auto loud = [](float v) { return std::abs(v) > 1e-3f; };
        const auto first = std::find_if(x.begin(), x.end(), loud) - x.begin();
        const auto last = x.rend() - std::find_if(x.rbegin(), x.rend(), loud) - 1;
        ASSERT_LT(first, static_cast<long>(x.size()));
        // The converted file has 48000 frames; its first and last are near zero crossings, so a frame or
        // two at either end may fall under the threshold.
        EXPECT_NEAR(static_cast<double>(last - first + 1), 48000, 4);

        // Pitch from the rising zero crossings (interpolated) away from the edges.
        double firstCrossing = -1, lastCrossing = -1;
        int crossings = 0;
        for (auto t = first + 480; t < last - 480; ++t) {
            if (x[t - 1] < 0 && x[t] >= 0) {
                const double at = static_cast<double>(t - 1) + x[t - 1] / (x[t - 1] - x[t]);
                if (firstCrossing < 0) firstCrossing = at;
                lastCrossing = at;
                ++crossings;
            }
        }
        ASSERT_GT(crossings, 900);
        const double hz = (crossings - 1) / (lastCrossing - firstCrossing) * 48000;
        EXPECT_NEAR(hz, 1000, 0.1);
        EXPECT_EQ(recorder.channel(1)[first + 1000], x[first + 1000]);
        return;
    }
    FAIL() << "every run had an overrun";
}

}  // namespace quorvel
