// A capture straight from the live analyser, measuring on the virtual audio system.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTest>
#include <QThreadPool>

#include "LibraryTestFiles.h"
#include "TestSignals.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "library/MeasurementStore.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

TEST(MeasurementStoreAnalyzer, CapturesTheAnalysersResultWithItsCaptureConditions) {
    qputenv("XDG_DATA_HOME", LibraryTestFiles::freshDir("data").toUtf8());
    VirtualDevice interface { .name = "Interface", .inputChannels = 3, .sampleRateHz = 44100 };
    auto system = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{interface});
    AudioHardware::install(system);
    // Reference on input 3, microphone on input 2 hearing it 441 frames (10 ms) later: neither is the
    // channel a capture or the analyser starts with.
    system->setInputSignal("Interface", 2, TestSignals::noise);
    system->setInputSignal("Interface", 1, [](std::int64_t f) { return TestSignals::noise(f - 441); });
    QSettings("Quorvel", "Quorvel")
        .setValue(InterfacePicker::settingsKey, static_cast<qint64>(system->idOf("Interface")));
    auto events = [] {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };

    MeasurementStore store;
    MicAnalyzer analyzer;
    analyzer.setDual(true);
    analyzer.setMicChannel(1);
    analyzer.setReferenceChannel(2);
    analyzer.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !analyzer.starting(); }, 20000));
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
    const std::string identity = "device:" + std::to_string(system->idOf("Interface"));
    EXPECT_EQ(t, (TransferTrace{t.id, "Main L", t.captured, 44100, 10, 10, 1, 2, analyzer.transfer(),
                                analyzer.averages(), "FOH", "Show A", identity}));
    store.waitForFile();
    EXPECT_EQ(MeasurementStore().traces(), store.traces()) << "saved with its channels";
    analyzer.stop();
    store.capture(analyzer, "Main R", "FOH", "Show A");
    EXPECT_EQ(store.traces().size(), 1u) << "a stopped analyser has no result to capture";
}

}  // namespace quorvel
