// The analyser end to end through the fixture's JACK server and test interfaces (see
// tests/fixtures/jack-start.sh).
#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <cmath>
#include <numbers>

#include "CountingAllocator.h"
#include "LoopbackRecorder.h"
#include "TestSignals.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

using TestSignals::peakBin;

class MicAnalyzerJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<CountingSystem>(
            std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"})));
    }
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }

    // Stores the choice of a device as the Measure screen does; returns its id (0 when not listed).
    static std::uint32_t choose(const std::string& name) {
        const std::uint32_t id = deviceId(AudioHardware::system(), name);
        QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, static_cast<qint64>(id));
        return id;
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

// A device without inputs is refused; one with sixteen shows the tone played into its first input.
TEST_F(MicAnalyzerJack, MicrophoneOnlySpectrumPeaksAtAPlayedTone) {
    MicAnalyzer a;
    ASSERT_NE(choose("qv-speaker"), 0u);
    start(a);
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusNoInput);
    EXPECT_EQ(a.channelCount(), 0);

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

}  // namespace quorvel
