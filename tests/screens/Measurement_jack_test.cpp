// The Alignment page end to end through the fixture's JACK server and test interfaces (see
// tests/fixtures/jack-start.sh): real analyser, real store, the page driven as the user drives it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <cmath>

#include "ScreenTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVAction.h"
#include "kit/QVMetric.h"
#include "library/MeasurementStore.h"
#include "platform/RtAudioSystem.h"
#include "screens/AlignView.h"
#include "screens/ScreenControls.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

std::uint32_t deviceID(const QString& name) {
    InterfacePicker picker;
    for (const InterfaceOption& d : picker.devices())
        if (d.name == name) return d.id;
    return 0;
}

}  // namespace

TEST(MeasurementJack, AlignmentFindsTheDelayBetweenTwoCapturedSpeakers) {
    useWorkspaceStyle();
    AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
    // qv-sixteen: output 1 is the electrical reference (input 1, on time); output 3 is "the speaker",
    // heard on input 3 after the interface's 96 frames plus whatever extra delay the speaker gets here.
    const std::uint32_t id = deviceID("qv-sixteen");
    ASSERT_NE(id, 0u);
    QSettings().setValue(InterfacePicker::settingsKey, qint64(id));
    auto extra = std::make_shared<std::atomic<int>>(0);
    auto clock = std::make_shared<std::int64_t>(0);
    auto player = AudioHardware::system().makeEngine();
    ASSERT_EQ(player->bindOutput(id), 0);
    player->setOutput(3, [extra, clock](float* const* out, int, std::int64_t frames) {
        const int late = extra->load(std::memory_order_relaxed);
        for (std::int64_t t = 0; t < frames; ++t, ++*clock) {
            out[0][t] = noise(*clock);
            out[1][t] = 0;
            out[2][t] = noise(*clock - late);
        }
    });
    ASSERT_TRUE(player->start());

    MicAnalyzer analyzer;
    analyzer.setDual(true);
    analyzer.setMicChannel(2);
    analyzer.setReferenceChannel(0);
    MeasurementStore store;
    QFile::remove(store.url());
    store.setTraces({});
    AlignView view(analyzer, store);
    view.resize(900, 1500);
    view.show();
    auto* name = view.findChildren<QLineEdit*>().front();
    auto* save = view.findChild<QPushButton*>("save");

    auto capture = [&](const QString& traceName, double expectedMS) {
        analyzer.invalidate();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return save->isEnabled() && analyzer.delayMS() &&
                       std::fabs(*analyzer.delayMS() - expectedMS) < 0.03;
            },
            30000))
            << traceName.toStdString() << ": " << analyzer.status().toStdString();
        name->selectAll();
        QTest::keyClicks(name, traceName);
        save->click();
        store.waitForFile();
        EXPECT_EQ(store.message(), "Captured " + traceName);
    };

    analyzer.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyzer.running(); }, 30000))
        << analyzer.status().toStdString();
    capture("Speaker A", 2.0);  // 96 frames
    extra->store(72);           // 1.5 ms later
    capture("Speaker B", 3.5);
    ASSERT_EQ(store.traces().size(), 2u);

    auto* a = view.findChild<QComboBox*>("pickerA");
    auto* b = view.findChild<QComboBox*>("pickerB");
    a->setCurrentIndex(a->findText("Speaker A"));
    b->setCurrentIndex(b->findText("Speaker B"));
    view.findChild<QVAction*>("find")->click();
    ASSERT_TRUE(view.result()) << view.message().toStdString();
    EXPECT_NEAR(view.result()->delayMS, 1.5, 0.05);
    EXPECT_EQ(view.result()->target, "Speaker A");
    EXPECT_EQ(view.findChild<QVMetric*>("resultMetric")->label(), "Add delay to Speaker A");

    analyzer.stop();
    view.findChildren<SegmentedPicker*>()[1]->segment("Phase")->click();
    savePng(&view, "alignment.png", {900, 1500});
    player->stop();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel
