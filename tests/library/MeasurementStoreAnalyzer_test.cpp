// A capture straight from the live analyser, measuring on the virtual audio system.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QThreadPool>

#include "LibraryTestFiles.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "library/MeasurementStore.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

float noise(std::int64_t frame) {
    std::uint64_t z = static_cast<std::uint64_t>(frame) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 29)) * 0xBF58476D1CE4E5B9ull;
    z ^= z >> 32;
    return static_cast<float>((static_cast<double>(z >> 11) / 9007199254740992.0 * 2.0 - 1.0) * 0.3);
}

void events() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

}  // namespace

TEST(MeasurementStoreAnalyzer, CapturesTheAnalysersResultWithItsCaptureConditions) {
    qputenv("XDG_DATA_HOME", LibraryTestFiles::freshDir("data").toUtf8());
    VirtualDevice interface;
    interface.name = "Interface";
    interface.inputChannels = 3;
    interface.sampleRateHz = 44100;
    auto system = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{interface});
    AudioHardware::install(system);
    // Reference on input 1, microphone on input 3 hearing it 441 frames (10 ms) later.
    system->setInputSignal("Interface", 0, noise);
    system->setInputSignal("Interface", 2, [](std::int64_t f) { return noise(f - 441); });
    QSettings("Quorvel", "Quorvel")
        .setValue(InterfacePicker::settingsKey, static_cast<qint64>(system->idOf("Interface")));

    MeasurementStore store;
    {
        MicAnalyzer analyzer;
        analyzer.setDual(true);
        analyzer.setMicChannel(2);
        analyzer.setReferenceChannel(0);
        analyzer.start();
        events();
        ASSERT_TRUE(analyzer.running());
        for (int i = 0; i < 32; ++i) {
            system->pump(AudioEngine::tapBlockFrames);
            events();
        }
        events();  // the analysis that the last block started
        ASSERT_TRUE(analyzer.delayMS().has_value());

        store.capture(analyzer, "Main L", "FOH", "Show A");
        ASSERT_EQ(store.traces().size(), 1u) << store.message().toStdString();
        const TransferTrace& t = store.traces()[0];
        EXPECT_EQ(t.name, "Main L");
        EXPECT_EQ(t.position, "FOH");
        EXPECT_EQ(t.setupID, "Show A");
        EXPECT_EQ(t.sampleRate, 44100.0);
        EXPECT_DOUBLE_EQ(t.arrivalMS, 10.0);
        EXPECT_DOUBLE_EQ(t.compensationMS, 10.0);
        EXPECT_EQ(t.micChannel, 2);
        EXPECT_EQ(t.referenceChannel, 0);
        EXPECT_EQ(t.bins, analyzer.transfer());
        EXPECT_EQ(t.averages, analyzer.averages());
        EXPECT_EQ(t.hardwareIdentity, "device:" + std::to_string(system->idOf("Interface")));

        analyzer.stop();
        store.capture(analyzer, "Main R", "FOH", "Show A");
        EXPECT_EQ(store.traces().size(), 1u) << "a stopped analyser has no result to capture";
    }
}

}  // namespace quorvel
