// The analyser on the virtual audio system: the test pumps the audio thread and runs the event loop.
#include "engine/MicAnalyzer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <cmath>
#include <numbers>

#include "TestSignals.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

using TestSignals::noise;
using TestSignals::peakBin;

constexpr std::int64_t block = AudioEngine::tapBlockFrames;
constexpr std::int64_t ringFrames = 131072;  // a dual ring
constexpr int ringBlocks = 32;

// A sine of amplitude 0.5 on the centre of bin k of the 4096-point spectrum.
std::function<float(std::int64_t)> tone(int k) {
    return [k](std::int64_t f) {
        return static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * k * static_cast<double>(f) / 4096));
    };
}

// The interface's reference on input 2, and its microphone hearing it 480 frames (10 ms) later on input 1.
float reference(std::int64_t f) { return noise(f); }
float microphone(std::int64_t f) { return noise(f - 480); }

class MicAnalyzerTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{
            {.name = "Interface"},
            {.name = "Other"},
            {.name = "Mono", .inputChannels = 1, .outputChannels = 0, .sampleRateHz = 44100},
            {.name = "Speaker", .inputChannels = 0},
            {.name = "Refusing", .bindStatus = -10851}});
        AudioHardware::install(system_);
        choose("");
        system_->setInputSignal("Interface", 0, microphone);
        system_->setInputSignal("Interface", 1, reference);
        system_->setInputSignal("Other", 0, tone(300));
        system_->setInputSignal("Mono", 0, tone(40));
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
    // start() and its outcome, which comes back from the start's worker through the event loop.
    void start() {
        analyzer_->start();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !analyzer_->starting(); }, 20000));
    }
    void startDualOnInterface() {
        choose("Interface");
        analyzer_->setDual(true);
        analyzer_->setMicChannel(0);
        analyzer_->setReferenceChannel(1);
        start();
    }
    // Delivers `count` blocks, each taken by the main thread before the next one arrives.
    void feed(int count) {
        for (int i = 0; i < count; ++i) {
            system_->pump(block);
            events();
        }
    }
    // Lets every start's worker come back, and what its outcome hands on to the pool finish.
    static void settleStarts() {
        for (int i = 0; i < 2; ++i) {
            QThreadPool::globalInstance()->waitForDone();
            events();
        }
    }
    // Lets a background analysis finish and hand its result back.
    static void finishAnalyses() {
        QThreadPool::globalInstance()->waitForDone();
        events();
    }
    // Whether every published result is the plain analysis of the newest ring of the interface's samples.
    bool showsThePlainAnalysisOfTheNewestRing() const {
        std::vector<double> mic, ref;
        for (std::int64_t f = system_->clock() - ringFrames; f < system_->clock(); ++f) {
            mic.push_back(microphone(f));
            ref.push_back(reference(f));
        }
        const MicAnalyzer& a = *analyzer_;
        const AnalysisResult shown{a.spectrum(), a.delayMS(),  a.correlation(),
                                   a.transfer(), a.averages(), a.compensationMS()};
        return shown == MeasurementDSP::analyze(mic, std::span<const double>(ref), 48000);
    }

    std::shared_ptr<VirtualAudioSystem> system_;
    std::unique_ptr<MicAnalyzer> analyzer_;
};

}  // namespace

// Started again on the system default, it leaves the earlier interface.
TEST_F(MicAnalyzerTest, MicrophoneOnlyShowsTheSpectrumOfTheChosenChannelUntilStopped) {
    system_->setDefaults("Mono", "Speaker");
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
    EXPECT_TRUE(a.lastUpdated().has_value());
    EXPECT_FALSE(a.delayMS().has_value());

    choose("");
    start();
    EXPECT_EQ(a.hardwareIdentity(), "default|" + QString::number(system_->idOf("Mono")) + "|" +
                                        QString::number(system_->idOf("Speaker")));
    EXPECT_EQ(a.sampleRate(), 44100.0);
    feed(1);
    finishAnalyses();
    EXPECT_EQ(peakBin(a.spectrum()), 40) << "captured from the default input, not the earlier interface";

    a.stop();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusOff);
    EXPECT_TRUE(a.spectrum().empty());
    EXPECT_FALSE(a.lastUpdated().has_value());
    EXPECT_EQ(system_->runningEngines(), 0);
    system_->pump(4 * block);  // reaches nothing
    finishAnalyses();
    EXPECT_TRUE(a.spectrum().empty());
    EXPECT_EQ(a.statistics().blocksReceived, 2);
}

// Wrapped rings keep the newest samples in order; without valid sample times there is never a gap.
TEST_F(MicAnalyzerTest, DualModeMeasuresTheDelayFromAFullRingOfTheNewestSamples) {
    system_->setInvalidSampleTime(true);
    startDualOnInterface();
    MicAnalyzer& a = *analyzer_;
    ASSERT_TRUE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusDual);

    feed(ringBlocks - 1);
    finishAnalyses();
    EXPECT_FALSE(a.lastUpdated().has_value()) << "no dual analysis before the ring is full";
    EXPECT_EQ(a.statistics().analysesStarted, 0);

    feed(1);
    finishAnalyses();
    EXPECT_TRUE(showsThePlainAnalysisOfTheNewestRing());
    EXPECT_EQ(a.delayMS(), 10.0);
    EXPECT_EQ(a.compensationMS(), 10.0);

    // 10 ms of air at 20 °C; absent outside −40 … 60 °C and for a latency outside 0 … the delay.
    EXPECT_NEAR(a.equivalentMeters().value_or(0), 3.4342, 1e-9);
    for (auto [celsius, latencyMS, meters] : {std::tuple{-40.0, 0.0, 3.0706},
                                              {60.0, 0.0, 3.6766},
                                              {20.0, 10.0, 0.0},
                                              {20.0, 4.0, 2.06052},
                                              {61.0, 0.0, -1.0},
                                              {-41.0, 0.0, -1.0},
                                              {20.0, 11.0, -1.0},
                                              {20.0, -1.0, -1.0},
                                              {20.0, double(NAN), -1.0},
                                              {double(NAN), 0.0, -1.0}}) {
        a.setTemperature(celsius);
        a.setCalibrationMS(latencyMS);
        EXPECT_NEAR(a.equivalentMeters().value_or(-1), meters, 1e-9)
            << celsius << " °C, " << latencyMS << " ms";
    }
    for (int i = 0; i < 3; ++i) {
        feed(1);
        finishAnalyses();
        EXPECT_TRUE(showsThePlainAnalysisOfTheNewestRing()) << "after " << i + 1 << " more blocks";
    }
    EXPECT_EQ(a.statistics().resultsPublished, 4);
}

TEST_F(MicAnalyzerTest, AGapClearsTheRingsAndRestartsAveraging) {
    startDualOnInterface();
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
    EXPECT_TRUE(showsThePlainAnalysisOfTheNewestRing());

    // A block finding the mailbox full is dropped, and the one after it follows a hole.
    system_->pump(2 * block);
    events();
    EXPECT_EQ(a.statistics().blocksReceived, 2 * ringBlocks + 2);
    EXPECT_EQ(a.statistics().blocksDropped, 1);
    EXPECT_TRUE(a.delayMS().has_value()) << "the hole is only seen with the next block";
    feed(1);
    EXPECT_FALSE(a.delayMS().has_value());
    EXPECT_TRUE(a.transfer().empty());
}

TEST_F(MicAnalyzerTest, WorkOfAnEarlierStateIsNeverPublished) {
    startDualOnInterface();
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

    // Stopped mid-analysis then restarted: the old result never shows nor holds up the new run.
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
    EXPECT_EQ(a.statistics().resultsPublished, 2);

    // A stop() before the permission answer: the start gives up.
    a.start();
    a.stop();
    events();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(a.status(), MicAnalyzer::statusOff);
    EXPECT_EQ(system_->runningEngines(), 0);
}

// Capture conditions are taken once the channels exist, also when equal channels refuse the start.
// Two jobs in flight would share the analysis buffers: while one runs, blocks only fill the rings, and
// the next job, once the first has handed its result back, takes the newest ring.
TEST_F(MicAnalyzerTest, OneAnalysisRunsAtATimeAndTheNextTakesTheNewestRing) {
    startDualOnInterface();
    MicAnalyzer& a = *analyzer_;
    // Every worker of the pool held, so the first job stays queued while more blocks arrive.
    QSemaphore release;
    QThreadPool& pool = *QThreadPool::globalInstance();
    for (int i = 0; i < pool.maxThreadCount(); ++i) pool.start([&release] { release.acquire(); });
    feed(ringBlocks + 3);
    EXPECT_EQ(a.statistics().analysesStarted, 1);
    release.release(pool.maxThreadCount());
    finishAnalyses();
    EXPECT_EQ(a.statistics().resultsPublished, 1);
    feed(1);
    finishAnalyses();
    EXPECT_EQ(a.statistics().analysesStarted, 2);
    EXPECT_TRUE(showsThePlainAnalysisOfTheNewestRing());
}

TEST_F(MicAnalyzerTest, ChannelChecksRefuseTheStartWithTheirTexts) {
    struct Case {
        std::string device;
        bool dual;
        int mic, ref;
        const char* status;
        int channels;
        double rate;  // 0: not taken, the last one stays
    };
    MicAnalyzer& a = *analyzer_;
    for (const Case& c : {Case{"Mono", true, 0, 1, MicAnalyzer::statusBadChannel, 1, 0},
                          Case{"Mono", false, 0, 1, MicAnalyzer::statusSpectrum, 1, 44100},
                          Case{"Interface", true, 0, -1, MicAnalyzer::statusBadChannel, 2, 0},
                          Case{"Interface", false, 2, 0, MicAnalyzer::statusBadChannel, 2, 0},
                          Case{"Interface", false, -1, 0, MicAnalyzer::statusBadChannel, 2, 0},
                          Case{"Interface", true, 1, 1, MicAnalyzer::statusSameChannel, 2, 48000},
                          Case{"Speaker", false, 0, 1, MicAnalyzer::statusNoInput, 0, 0}}) {
        SCOPED_TRACE(c.device + " mic " + std::to_string(c.mic) + " ref " + std::to_string(c.ref));
        const double rateBefore = a.sampleRate();
        choose(c.device);
        a.setDual(c.dual);
        a.setMicChannel(c.mic);
        a.setReferenceChannel(c.ref);
        start();
        EXPECT_EQ(a.status(), c.status);
        EXPECT_EQ(a.running(), c.status == std::string(MicAnalyzer::statusSpectrum));
        EXPECT_EQ(a.channelCount(), c.channels);
        EXPECT_EQ(a.sampleRate(), c.rate ? c.rate : rateBefore);
        if (c.rate) {
            EXPECT_EQ(a.captureMicChannel(), c.mic);
            EXPECT_EQ(a.captureReferenceChannel(), c.ref);
            EXPECT_EQ(a.hardwareIdentity(), "device:" + QString::number(system_->idOf(c.device)));
        }
        if (a.running()) {
            feed(1);
            finishAnalyses();
            EXPECT_EQ(peakBin(a.spectrum()), 40);
        } else {
            EXPECT_EQ(system_->runningEngines(), 0);
        }
    }
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

// The server holds the start: start() has returned with the analyser starting; a stop() meanwhile leaves
// nothing running and nothing published once the start comes back, and of two starts only the second runs.
TEST_F(MicAnalyzerTest, AStartTheServerHoldsGivesWayToAStopOrANewerStart) {
    MicAnalyzer& a = *analyzer_;
    choose("Other");
    const auto held = [&](int calls) {
        return QTest::qWaitFor([&] { return system_->heldEngineCalls() == calls; }, 20000);
    };
    system_->holdEngineCalls();
    a.start();
    ASSERT_TRUE(held(1));
    EXPECT_TRUE(a.starting());
    EXPECT_FALSE(a.running());
    a.stop();
    EXPECT_FALSE(a.starting());
    QSignalSpy running(&a, &MicAnalyzer::runningChanged);
    QSignalSpy status(&a, &MicAnalyzer::statusChanged);
    QSignalSpy starting(&a, &MicAnalyzer::startingChanged);
    system_->releaseEngineCalls();
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(system_->runningEngines(), 0) << "the worker starts nothing for a start given up";
    settleStarts();
    EXPECT_EQ(running.count() + status.count() + starting.count(), 0);
    EXPECT_EQ(system_->runningEngines(), 0);

    system_->holdEngineCalls();
    a.start();
    ASSERT_TRUE(held(1));
    a.start();
    ASSERT_TRUE(held(2));
    system_->releaseEngineCalls();
    settleStarts();
    EXPECT_TRUE(a.running());
    EXPECT_EQ(system_->runningEngines(), 1);
    feed(1);
    finishAnalyses();
    EXPECT_EQ(peakBin(a.spectrum()), 300);
}

// A start that finds no device (none for the stored id, or no input) names the server that is not
// responding; a listed device that refuses keeps its own reason.
TEST_F(MicAnalyzerTest, AStartThatFindsNoDeviceNamesTheServerThatIsNotResponding) {
    MicAnalyzer& a = *analyzer_;
    const std::string sentence = "The PulseAudio server is not responding";
    system_->setNotResponding(sentence);
    choose("Other");
    system_->removeDevice("Other");
    start();
    EXPECT_EQ(a.status().toStdString(), sentence);
    EXPECT_FALSE(a.running());
    choose("");
    system_->setDefaults("", "Speaker");
    start();
    EXPECT_EQ(a.status().toStdString(), sentence);
    choose("Refusing");
    start();
    EXPECT_EQ(a.status(), "Selected interface unavailable or incompatible (-10851)");
    system_->setNotResponding("");
    choose("");
    start();
    EXPECT_EQ(a.status(), MicAnalyzer::statusNoInput);
}

}  // namespace quorvel
