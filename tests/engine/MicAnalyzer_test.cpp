// The analyser against the virtual audio system: the test thread stands in for the audio thread (pump())
// and for the main thread (the event loop), so every block and every result arrives when the test says.
#include "engine/MicAnalyzer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "TestSignals.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

constexpr std::int64_t block = AudioEngine::tapBlockFrames;
// Blocks that fill a dual ring: 131072 / 4096.
constexpr int ringBlocks = 32;

VirtualDevice device(std::string name, int in, int out, double rate = 48000, std::int32_t bindStatus = 0) {
    VirtualDevice d;
    d.name = std::move(name);
    d.inputChannels = in;
    d.outputChannels = out;
    d.sampleRateHz = rate;
    d.bindStatus = bindStatus;
    return d;
}

using TestSignals::noise;

// A sine of amplitude 0.5 on the centre of bin k of the 4096-point spectrum.
std::function<float(std::int64_t)> tone(int k, double rate = 48000) {
    const double hz = rate * k / 4096.0;
    return [hz, rate](std::int64_t f) {
        return static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(f) / rate));
    };
}

int peakBin(const std::vector<SpectrumPoint>& spectrum) {
    auto it = std::max_element(spectrum.begin(), spectrum.end(),
                               [](const SpectrumPoint& a, const SpectrumPoint& b) { return a.db < b.db; });
    return it == spectrum.end() ? -1 : it->id;
}

class MicAnalyzerTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{
            device("Interface", 2, 2), device("Other", 2, 2), device("Mono", 1, 0, 44100),
            device("Speaker", 0, 2), device("Refusing", 2, 2, 48000, -10851)});
        AudioHardware::install(system_);
        choose("");
        // Interface: the reference on input 2, the microphone hearing it 480 frames (10 ms) later on input 1.
        system_->setInputSignal("Interface", 1, noise);
        system_->setInputSignal("Interface", 0, [](std::int64_t f) { return noise(f - 480); });
        system_->setInputSignal("Other", 0, tone(300));
        system_->setInputSignal("Mono", 0, tone(40, 44100));
        analyzer_ = std::make_unique<MicAnalyzer>();
    }
    void TearDown() override {
        analyzer_.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    // Stores the interface choice by device name ("" for the system default devices).
    void choose(const std::string& name) {
        QSettings("Quorvel", "Quorvel")
            .setValue(InterfacePicker::settingsKey,
                      static_cast<qint64>(name.empty() ? 0 : system_->idOf(name)));
    }
    static void events() {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // start() and its permission answer.
    void start() {
        analyzer_->start();
        events();
    }
    void setDualOnInterface() {
        choose("Interface");
        analyzer_->setDual(true);
        analyzer_->setMicChannel(0);
        analyzer_->setReferenceChannel(1);
    }
    // Delivers `count` blocks, each taken by the main thread before the next one arrives.
    void feed(int count) {
        for (int i = 0; i < count; ++i) {
            system_->pump(block);
            events();
        }
    }
    // Lets a background analysis finish and hand its result back.
    static void finishAnalyses() {
        QThreadPool::globalInstance()->waitForDone();
        events();
    }

    std::shared_ptr<VirtualAudioSystem> system_;
    std::unique_ptr<MicAnalyzer> analyzer_;
};

}  // namespace

TEST_F(MicAnalyzerTest, MicrophoneOnlyShowsTheSpectrumOfTheChosenChannelUntilStopped) {
    choose("Other");
    start();
    MicAnalyzer& a = *analyzer_;
    ASSERT_TRUE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusSpectrum);
    EXPECT_EQ(a.hardwareIdentity(), "device:" + QString::number(system_->idOf("Other")));
    EXPECT_EQ(a.channelCount(), 2);

    feed(1);  // 4096 samples: enough for a spectrum
    finishAnalyses();
    ASSERT_EQ(a.spectrum().size(), 2047u);
    EXPECT_EQ(peakBin(a.spectrum()), 300);
    // A half-scale sine on a bin centre reads 20·log10(0.5) ≈ −6.02 dBFS.
    EXPECT_NEAR(a.spectrum()[299].db, -6.02, 0.01);
    EXPECT_TRUE(a.lastUpdated().has_value());
    EXPECT_FALSE(a.delayMS().has_value());
    EXPECT_EQ(a.correlation(), 0.0);

    a.stop();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusOff);
    EXPECT_TRUE(a.spectrum().empty());
    EXPECT_FALSE(a.lastUpdated().has_value());
    EXPECT_EQ(system_->runningEngines(), 0);
    // Blocks after stop() reach nothing.
    system_->pump(4 * block);
    finishAnalyses();
    EXPECT_TRUE(a.spectrum().empty());
}

TEST_F(MicAnalyzerTest, DualModeMeasuresTheDelayFromAFullRingAndPublishesFieldByField) {
    setDualOnInterface();
    start();
    MicAnalyzer& a = *analyzer_;
    ASSERT_TRUE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusDual);

    feed(ringBlocks - 1);
    finishAnalyses();
    EXPECT_FALSE(a.lastUpdated().has_value()) << "no dual analysis before the ring is full";
    EXPECT_EQ(a.statistics().analysesStarted, 0);

    std::vector<std::string> order;
    for (const auto& [signal, name] : std::vector<std::pair<void (MicAnalyzer::*)(), std::string>>{
             {&MicAnalyzer::lastUpdatedChanged, "lastUpdated"},
             {&MicAnalyzer::spectrumChanged, "spectrum"},
             {&MicAnalyzer::delayMSChanged, "delayMS"},
             {&MicAnalyzer::correlationChanged, "correlation"},
             {&MicAnalyzer::transferChanged, "transfer"},
             {&MicAnalyzer::averagesChanged, "averages"},
             {&MicAnalyzer::compensationMSChanged, "compensationMS"}})
        QObject::connect(&a, signal, [&order, name] { order.push_back(name); });
    feed(1);
    finishAnalyses();
    EXPECT_EQ(order, (std::vector<std::string>{"lastUpdated", "spectrum", "delayMS", "correlation",
                                               "transfer", "averages", "compensationMS"}));
    ASSERT_TRUE(a.delayMS().has_value());
    EXPECT_DOUBLE_EQ(*a.delayMS(), 10.0);
    EXPECT_DOUBLE_EQ(a.compensationMS(), 10.0);
    EXPECT_GT(a.correlation(), 0.99);
    EXPECT_GE(a.averages(), 3);
    ASSERT_FALSE(a.transfer().empty());
    for (const TransferBin& bin : a.transfer()) {
        ASSERT_NEAR(bin.magnitudeDB(), 0.0, 0.01) << bin.hz << " Hz";
        ASSERT_GT(bin.coherence, 0.99) << bin.hz << " Hz";
    }

    // 10 ms of air at 20 °C: 0.01 s × (331.3 + 0.606 × 20) m/s.
    ASSERT_TRUE(a.equivalentMeters().has_value());
    EXPECT_NEAR(*a.equivalentMeters(), 3.4342, 1e-9);
    a.setTemperature(-40);
    EXPECT_NEAR(a.equivalentMeters().value_or(0), 3.0706, 1e-9);
    a.setTemperature(61);
    EXPECT_FALSE(a.equivalentMeters().has_value());
    a.setTemperature(20);
    a.setCalibrationMS(11);
    EXPECT_FALSE(a.equivalentMeters().has_value()) << "a fixed latency above the delay";
    a.setCalibrationMS(-1);
    EXPECT_FALSE(a.equivalentMeters().has_value());
    a.setCalibrationMS(std::nan(""));
    EXPECT_FALSE(a.equivalentMeters().has_value());
}

TEST_F(MicAnalyzerTest, AGapClearsTheRingsAndRestartsAveraging) {
    setDualOnInterface();
    start();
    MicAnalyzer& a = *analyzer_;
    feed(ringBlocks);
    finishAnalyses();
    ASSERT_TRUE(a.delayMS().has_value());
    const auto shownAt = a.lastUpdated();
    const auto spectrum = a.spectrum();

    // Input lost on the device: the sample clock jumps.
    system_->overflowNextPeriod();
    feed(1);
    EXPECT_TRUE(a.transfer().empty());
    EXPECT_FALSE(a.delayMS().has_value());
    EXPECT_EQ(a.averages(), 0);
    EXPECT_EQ(a.lastUpdated(), shownAt) << "the shown spectrum and its time stay";
    EXPECT_EQ(a.spectrum(), spectrum);
    EXPECT_GT(a.correlation(), 0.99);

    // The block after the gap starts a new ring: a full ring later there is a new result.
    feed(ringBlocks - 2);
    finishAnalyses();
    EXPECT_FALSE(a.delayMS().has_value());
    feed(1);
    finishAnalyses();
    EXPECT_DOUBLE_EQ(a.delayMS().value_or(0), 10.0);

    // A main thread too busy to take a block: the next block finds the mailbox full and is dropped, and
    // the one after it follows a hole.
    const std::int64_t droppedBefore = a.statistics().blocksDropped;
    system_->pump(2 * block);
    events();
    EXPECT_EQ(a.statistics().blocksDropped, droppedBefore + 1);
    EXPECT_TRUE(a.delayMS().has_value()) << "the hole is only seen with the next block";
    feed(1);
    EXPECT_FALSE(a.delayMS().has_value());
    EXPECT_TRUE(a.transfer().empty());
}

TEST_F(MicAnalyzerTest, BlocksWithoutASampleTimeAreNeverAGap) {
    setDualOnInterface();
    system_->setInvalidSampleTime(true);
    start();
    feed(ringBlocks);
    finishAnalyses();
    EXPECT_DOUBLE_EQ(analyzer_->delayMS().value_or(0), 10.0);
}

TEST_F(MicAnalyzerTest, WorkOfAnEarlierStateIsNeverPublished) {
    setDualOnInterface();
    start();
    MicAnalyzer& a = *analyzer_;

    // invalidate() while an analysis runs: its result is dropped, and the next full ring is analysed.
    feed(ringBlocks);
    ASSERT_EQ(a.statistics().analysesStarted, 1);
    a.invalidate();
    finishAnalyses();
    EXPECT_FALSE(a.lastUpdated().has_value());
    EXPECT_TRUE(a.transfer().empty());
    EXPECT_TRUE(a.running());
    feed(ringBlocks);
    finishAnalyses();
    EXPECT_TRUE(a.delayMS().has_value());

    // stop() while an analysis runs, then a new run: the old result never shows, and the new run's own
    // analyses are not held up by it.
    a.invalidate();
    feed(ringBlocks);
    ASSERT_EQ(a.statistics().analysesStarted, 3);
    a.stop();
    a.setDual(false);
    start();
    finishAnalyses();
    EXPECT_TRUE(a.spectrum().empty());
    EXPECT_FALSE(a.delayMS().has_value());
    EXPECT_EQ(a.correlation(), 0.0);
    feed(1);
    finishAnalyses();
    EXPECT_EQ(a.spectrum().size(), 2047u);
    EXPECT_FALSE(a.delayMS().has_value());

    // A stop() before the permission answer: the start gives up.
    a.start();
    a.stop();
    events();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusOff);
    EXPECT_EQ(system_->runningEngines(), 0);
}

TEST_F(MicAnalyzerTest, ChannelChecksRefuseTheStartWithTheirTexts) {
    MicAnalyzer& a = *analyzer_;
    choose("Mono");
    a.setDual(true);
    a.setReferenceChannel(1);
    start();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusBadChannel);
    EXPECT_EQ(a.channelCount(), 1);
    EXPECT_EQ(a.sampleRate(), 48000.0) << "not taken before the channels pass";

    // Without a reference its channel may lie outside the input.
    a.setDual(false);
    start();
    EXPECT_TRUE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusSpectrum);
    EXPECT_EQ(a.captureReferenceChannel(), 1);
    EXPECT_EQ(a.sampleRate(), 44100.0);
    feed(2);
    finishAnalyses();
    EXPECT_EQ(peakBin(a.spectrum()), 40);

    a.setMicChannel(1);
    start();
    EXPECT_EQ(a.status(), MicAnalyzer::statusBadChannel);
    a.setMicChannel(-1);
    start();
    EXPECT_EQ(a.status(), MicAnalyzer::statusBadChannel);

    // Equal channels: refused after the capture conditions were taken.
    choose("Interface");
    a.setMicChannel(0);
    a.setReferenceChannel(0);
    a.setDual(true);
    start();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusSameChannel);
    EXPECT_EQ(a.sampleRate(), 48000.0);
    EXPECT_EQ(a.captureMicChannel(), 0);
    EXPECT_EQ(a.captureReferenceChannel(), 0);
    EXPECT_EQ(a.hardwareIdentity(), "device:" + QString::number(system_->idOf("Interface")));
    EXPECT_EQ(system_->runningEngines(), 0);

    // A device without inputs.
    choose("Speaker");
    a.setDual(false);
    start();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusNoInput);
    EXPECT_EQ(a.channelCount(), 0);
}

TEST_F(MicAnalyzerTest, FailuresBecomeTheStatusWithCaptureStopped) {
    MicAnalyzer& a = *analyzer_;
    choose("Refusing");
    start();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), "Selected interface unavailable or incompatible (-10851)");

    choose("Interface");
    system_->failNextStart("The device is busy");
    start();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), "The device is busy");
    EXPECT_EQ(system_->runningEngines(), 0);

    // The sound server goes away while capturing.
    start();
    feed(2);
    finishAnalyses();
    ASSERT_FALSE(a.spectrum().empty());
    system_->failRunningEngines("The JACK server stopped");
    events();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), "The JACK server stopped");
    EXPECT_TRUE(a.spectrum().empty());

    // Samples that are not 32-bit float: capture runs, nothing is shown.
    system_->setNonFloatInput(true);
    start();
    EXPECT_TRUE(a.running());
    feed(3);
    finishAnalyses();
    EXPECT_TRUE(a.spectrum().empty());
    system_->setNonFloatInput(false);
    feed(2);
    finishAnalyses();
    EXPECT_FALSE(a.spectrum().empty());
}

TEST_F(MicAnalyzerTest, ReturningToTheSystemDefaultLeavesTheEarlierInterface) {
    MicAnalyzer& a = *analyzer_;
    system_->setDefaults("Mono", "Speaker");
    choose("Other");
    start();
    feed(1);
    finishAnalyses();
    EXPECT_EQ(peakBin(a.spectrum()), 300);

    choose("");
    start();
    EXPECT_EQ(a.hardwareIdentity(), "default|" + QString::number(system_->idOf("Mono")) + "|" +
                                        QString::number(system_->idOf("Speaker")));
    EXPECT_EQ(a.sampleRate(), 44100.0);
    feed(1);
    finishAnalyses();
    EXPECT_EQ(peakBin(a.spectrum()), 40) << "captured from the default input, not the earlier interface";
}

}  // namespace quorvel
