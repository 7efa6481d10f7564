// The analyser end to end through JACK: the fixture's server and test interfaces (see
// tests/fixtures/jack-start.sh), and a private server for the test that kills one.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>

#include "CountingAllocator.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

// Forwards to a real engine; the tap it installs runs with allocation counting armed.
class CountingEngine : public AudioEngine {
public:
    explicit CountingEngine(std::unique_ptr<AudioEngine> inner) : inner_(std::move(inner)) {}
    std::int32_t bindOutput(std::uint32_t id) override { return inner_->bindOutput(id); }
    std::int32_t bindInput(std::uint32_t id) override { return inner_->bindInput(id); }
    std::uint32_t boundOutput() const override { return inner_->boundOutput(); }
    std::uint32_t boundInput() const override { return inner_->boundInput(); }
    DeviceFormat inputFormat() override { return inner_->inputFormat(); }
    DeviceFormat outputFormat() override { return inner_->outputFormat(); }
    void installTap(AudioTap tap) override {
        if (!tap) return inner_->installTap(nullptr);
        inner_->installTap([tap = std::move(tap)](const AudioInputBlock& block) {
            CountingAllocator::armThisThread(true);
            tap(block);
            CountingAllocator::armThisThread(false);
        });
    }
    void removeTap() override { inner_->removeTap(); }
    bool hasTap() const override { return inner_->hasTap(); }
    void setOutput(int channels, AudioRender render) override {
        inner_->setOutput(channels, std::move(render));
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

class CountingSystem : public AudioSystem {
public:
    CountingSystem() : inner_({"jack"}) {}
    Result<std::vector<AudioDeviceInfo>> devices() override { return inner_.devices(); }
    std::uint32_t defaultInputDevice() override { return inner_.defaultInputDevice(); }
    std::uint32_t defaultOutputDevice() override { return inner_.defaultOutputDevice(); }
    std::unique_ptr<AudioEngine> makeEngine() override {
        return std::make_unique<CountingEngine>(inner_.makeEngine());
    }

private:
    RtAudioSystem inner_;
};

int peakBin(const std::vector<SpectrumPoint>& spectrum) {
    auto it = std::max_element(spectrum.begin(), spectrum.end(),
                               [](const SpectrumPoint& a, const SpectrumPoint& b) { return a.db < b.db; });
    return it == spectrum.end() ? -1 : it->id;
}

class MicAnalyzerJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<CountingSystem>());
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    }
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }

    // Chooses a device by name as the Measure screen does; returns its id (0 when not listed).
    static std::uint32_t choose(const QString& name) {
        InterfacePicker picker;
        for (const auto& d : picker.devices())
            if (d.name == name) {
                picker.setSelected(d.id);
                picker.save();
                return d.id;
            }
        return 0;
    }
    // Starts and waits for the permission answer.
    static void start(MicAnalyzer& a) {
        a.start();
        QTest::qWait(20);
    }
};

}  // namespace

TEST_F(MicAnalyzerJack, DualModeOnAnInputOnlyMicrophoneMeasuresTenMilliseconds) {
    // qv-mic: capture_1 carries pink noise 480 frames (10 ms at 48 kHz) after capture_2.
    const std::uint32_t id = choose("qv-mic");
    ASSERT_NE(id, 0u);
    MicAnalyzer a;
    a.setDual(true);
    a.setMicChannel(0);
    a.setReferenceChannel(1);
    CountingAllocator::reset();
    start(a);
    ASSERT_TRUE(a.running()) << a.status().toStdString();
    EXPECT_EQ(a.status(), MicAnalyzer::statusDual);
    EXPECT_EQ(a.hardwareIdentity(), "device:" + QString::number(id));
    EXPECT_EQ(a.sampleRate(), 48000.0);

    ASSERT_TRUE(QTest::qWaitFor([&] { return a.delayMS().has_value() && a.averages() >= 3; }, 30000))
        << a.status().toStdString() << ", correlation " << a.correlation();
    EXPECT_NEAR(*a.delayMS(), 10.0, 1e-9) << "exact to the sample";
    EXPECT_GT(a.correlation(), 0.9);
    ASSERT_FALSE(a.transfer().empty());
    for (const TransferBin& bin : a.transfer()) {
        ASSERT_NEAR(bin.magnitudeDB(), 0.0, 0.1) << bin.hz << " Hz";
        ASSERT_GT(bin.coherence, 0.99) << bin.hz << " Hz";
    }
    EXPECT_EQ(a.spectrum().size(), 2047u);

    a.stop();
    EXPECT_GE(a.statistics().blocksReceived, 32);
    EXPECT_EQ(CountingAllocator::count(), 0) << "the tap allocated on the audio thread";
}

TEST_F(MicAnalyzerJack, MicrophoneOnlySpectrumPeaksAtAPlayedTone) {
    // qv-sixteen loops playback_1 to capture_1 without delay. A tone on the centre of bin 85 (996.09 Hz).
    const std::uint32_t id = choose("qv-sixteen");
    ASSERT_NE(id, 0u);
    auto player = AudioHardware::system().makeEngine();
    ASSERT_EQ(player->bindOutput(id), 0);
    auto phase = std::make_shared<std::int64_t>(0);
    player->setOutput(1, [phase](float* const* channels, int, std::int64_t frames) {
        for (std::int64_t t = 0; t < frames; ++t, ++*phase)
            channels[0][t] = static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * 85 * static_cast<double>(*phase) / 4096));
    });
    ASSERT_TRUE(player->start());

    MicAnalyzer a;
    start(a);
    ASSERT_TRUE(a.running()) << a.status().toStdString();
    EXPECT_EQ(a.status(), MicAnalyzer::statusSpectrum);
    EXPECT_EQ(a.channelCount(), 16);
    ASSERT_TRUE(QTest::qWaitFor([&] { return peakBin(a.spectrum()) == 85; }, 20000)) << peakBin(a.spectrum());
    // A half-scale sine on a bin centre: 20·log10(0.5) ≈ −6.02 dBFS.
    EXPECT_NEAR(a.spectrum()[84].db, -6.02, 0.05);
    EXPECT_FALSE(a.delayMS().has_value());
    a.stop();
    player->stop();
}

TEST_F(MicAnalyzerJack, OutputOnlyDeviceHasNoMicrophoneInput) {
    ASSERT_NE(choose("qv-speaker"), 0u);
    MicAnalyzer a;
    start(a);
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusNoInput);
    EXPECT_EQ(a.channelCount(), 0);
}

}  // namespace quorvel
