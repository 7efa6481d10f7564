// The analyser end to end through the fixture's JACK server (jackd, or PipeWire: JackServers.h) and its test
// interface qv-mic (see tests/fixtures/jack-start.sh), with the allocations of its tap counted.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>

#include "CountingAllocator.h"
#include "JackOpenLocked.h"
#include "JackServers.h"
#include "LoopbackRecorder.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {

// Installs JACK as the audio system, its taps' allocations counted, and chooses qv-mic, whose capture_1
// carries pink noise 480 frames (10 ms at 48 kHz) after capture_2; its id (0: not listed).
std::uint32_t chooseMicrophone() {
    AudioHardware::install(std::make_shared<CountingSystem>(
        std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"})));
    const std::uint32_t id = deviceId(AudioHardware::system(), "qv-mic");
    QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, static_cast<qint64>(id));
    return id;
}

// Measures capture_1 against capture_2.
void measureDual(MicAnalyzer& a) {
    a.setDual(true);
    a.setMicChannel(0);
    a.setReferenceChannel(1);
}

}  // namespace

TEST(MicAnalyzerJack, DualModeOnAnInputOnlyMicrophoneMeasuresTenMilliseconds) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    const std::uint32_t id = chooseMicrophone();
    ASSERT_NE(id, 0u);
    MicAnalyzer a;
    measureDual(a);
    CountingAllocator::reset();
    a.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.running(); }, 5000)) << a.status().toStdString();
    EXPECT_EQ(a.status(), MicAnalyzer::statusDual);
    EXPECT_EQ(a.hardwareIdentity(), "device:" + QString::number(id));
    EXPECT_EQ(a.sampleRate(), 48000.0);

    ASSERT_TRUE(QTest::qWaitFor([&] { return a.delayMS().has_value() && a.averages() >= 3; }, 30000))
        << a.status().toStdString() << ", correlation " << a.correlation();
    EXPECT_NEAR(*a.delayMS(), 10.0, 1e-9) << "exact to the sample";
    EXPECT_GT(a.correlation(), 0.9);

    a.stop();
    EXPECT_GE(a.statistics().blocksReceived, 32);
    EXPECT_EQ(CountingAllocator::count(), 0) << "the tap allocated on the audio thread";
    QThreadPool::globalInstance()->waitForDone();
}

// A cycle the server runs without calling the client back (PipeWire's libjack leaves out the cycles of a
// client that is late, and tells no xrun) is a gap: the averages start again, and come back with the same
// delay.
TEST(MicAnalyzerJack, ACycleTheClientWasLeftOutOfRestartsTheAverages) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    ASSERT_NE(chooseMicrophone(), 0u);
    MicAnalyzer a;
    measureDual(a);
    a.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.running(); }, 5000)) << a.status().toStdString();
    auto measured = [&] { return a.delayMS().has_value() && a.averages() >= 3; };
    ASSERT_TRUE(QTest::qWaitFor(measured, 30000)) << a.status().toStdString();

    bool restarted = false;
    QObject::connect(&a, &MicAnalyzer::averagesChanged, [&] { restarted = restarted || a.averages() == 0; });
    const int skipped = JackOpenLocked::skippedProcessCycles();
    JackOpenLocked::skipProcessCycles(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return restarted; }, 10000))
        << "left out of " << JackOpenLocked::skippedProcessCycles() - skipped << " cycle(s)";
    ASSERT_TRUE(QTest::qWaitFor(measured, 30000)) << a.status().toStdString();
    EXPECT_NEAR(*a.delayMS(), 10.0, 1e-9);
    a.stop();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel
