// The Measure and Alignment pages end to end through the fixture's JACK server and test interfaces (see
// tests/fixtures/jack-start.sh): real analyser, real store, the page driven as the user drives it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <cmath>
#include <numbers>

#include "ScreenTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVAction.h"
#include "kit/QVMetric.h"
#include "library/MeasurementStore.h"
#include "platform/RtAudioSystem.h"
#include "screens/AlignView.h"
#include "screens/AnalyzerView.h"
#include "screens/ScreenControls.h"
#include "screens/SpectrumPlot.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

std::uint32_t deviceID(const QString& name) {
    InterfacePicker picker;
    for (const InterfaceOption& d : picker.devices())
        if (d.name == name) return d.id;
    return 0;
}

class MeasurementJack : public ::testing::Test {
protected:
    void SetUp() override {
        useWorkspaceStyle();
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
        QSettings().remove(InterfacePicker::settingsKey);
    }
    void TearDown() override {
        if (player_) player_->stop();
        QThreadPool::globalInstance()->waitForDone();
    }

    // Plays on the first `channels` outputs of device `id` whatever `render` writes.
    void play(std::uint32_t id, int channels, AudioRender render) {
        player_ = AudioHardware::system().makeEngine();
        ASSERT_EQ(player_->bindOutput(id), 0);
        player_->setOutput(channels, std::move(render));
        ASSERT_TRUE(player_->start());
    }

    std::unique_ptr<AudioEngine> player_;
};

}  // namespace

TEST_F(MeasurementJack, MeasureShowsALiveSpectrumPeakingAtThePlayedTone) {
    // qv-sixteen loops output 1 to input 1 without delay. A half-scale tone on the centre of bin 85.
    const std::uint32_t id = deviceID("qv-sixteen");
    ASSERT_NE(id, 0u);
    auto phase = std::make_shared<std::int64_t>(0);
    play(id, 1, [phase](float* const* out, int, std::int64_t frames) {
        for (std::int64_t t = 0; t < frames; ++t, ++*phase)
            out[0][t] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 85 * double(*phase) / 4096));
    });

    MicAnalyzer analyzer;
    AnalyzerView view(analyzer);
    view.resize(900, 1000);
    view.show();
    auto* interfaces = view.findChild<QComboBox*>("interfaces");
    interfaces->setCurrentIndex(interfaces->findText("qv-sixteen"));
    EXPECT_EQ(QSettings().value(InterfacePicker::settingsKey).toLongLong(), qint64(id));
    view.findChild<QPushButton*>("startStop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyzer.running(); }, 30000))
        << analyzer.status().toStdString();

    const double toneHz = 48000.0 * 85 / 4096;  // 996.09 Hz
    auto peakHz = [&] {
        const auto& s = analyzer.spectrum();
        auto it = std::max_element(s.begin(), s.end(), [](auto& a, auto& b) { return a.db < b.db; });
        return it == s.end() ? 0.0 : it->hz;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::fabs(peakHz() - toneHz) < 1; }, 20000)) << peakHz();
    EXPECT_EQ(view.findChild<QVMetric*>("peak")->value(), "-6");
    // The loudest band of the RTA is the one centred at 20 × 2^(17/3) ≈ 1015.9 Hz.
    const auto& bands = view.findChild<SpectrumPlot*>()->points();
    ASSERT_EQ(bands.size(), 31u);
    auto loudest = std::max_element(bands.begin(), bands.end(), [](auto& a, auto& b) { return a.db < b.db; });
    EXPECT_NEAR(loudest->hz, 1015.94, 0.01);
    savePng(&view, "measure.png", {900, 1000});
    view.findChild<QPushButton*>("startStop")->click();
    EXPECT_FALSE(analyzer.running());
}

TEST_F(MeasurementJack, DualModeArrivalReadsTheInterfacesDelay) {
    // qv-mic: input 1 carries pink noise 480 frames (10 ms) after input 2.
    QSettings().setValue(InterfacePicker::settingsKey, qint64(deviceID("qv-mic")));
    MicAnalyzer analyzer;
    AnalyzerView view(analyzer);
    view.resize(900, 1300);
    view.show();
    view.findChild<QCheckBox*>("referenceSwitch")->click();
    ASSERT_TRUE(analyzer.dual());
    view.findChild<QPushButton*>("startStop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyzer.delayMS().has_value(); }, 30000))
        << analyzer.status().toStdString();
    EXPECT_EQ(view.findChild<QVMetric*>("arrival")->value(), "10.00");
    EXPECT_EQ(view.findChild<QVMetric*>("path")->value(), "3.43");
    savePng(&view, "measure-reference.png", {900, 1300});
}

TEST_F(MeasurementJack, AlignmentFindsTheDelayBetweenTwoCapturedSpeakers) {
    // qv-sixteen: output 1 is the electrical reference (input 1, on time); output 3 is "the speaker",
    // heard on input 3 after the interface's 96 frames plus whatever extra delay the speaker gets here.
    const std::uint32_t id = deviceID("qv-sixteen");
    ASSERT_NE(id, 0u);
    QSettings().setValue(InterfacePicker::settingsKey, qint64(id));
    auto extra = std::make_shared<std::atomic<int>>(0);
    auto clock = std::make_shared<std::int64_t>(0);
    play(id, 3, [extra, clock](float* const* out, int, std::int64_t frames) {
        const int late = extra->load(std::memory_order_relaxed);
        for (std::int64_t t = 0; t < frames; ++t, ++*clock) {
            out[0][t] = noise(*clock);
            out[1][t] = 0;
            out[2][t] = noise(*clock - late);
        }
    });

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
    std::printf("captured arrivals: A %.4f ms, B %.4f ms\n", store.traces()[0].arrivalMS,
                store.traces()[1].arrivalMS);

    auto* a = view.findChild<QComboBox*>("pickerA");
    auto* b = view.findChild<QComboBox*>("pickerB");
    a->setCurrentIndex(a->findText("Speaker A"));
    b->setCurrentIndex(b->findText("Speaker B"));
    view.findChild<QVAction*>("find")->click();
    ASSERT_TRUE(view.result()) << view.message().toStdString();
    EXPECT_NEAR(view.result()->delayMS, 1.5, 0.05);
    EXPECT_EQ(view.result()->target, "Speaker A");
    EXPECT_EQ(view.findChild<QVMetric*>("resultMetric")->label(), "Add delay to Speaker A");
    std::printf("proposed: %s, label \"%s\"\n",
                view.findChild<QVMetric*>("resultMetric")->value().toUtf8().constData(),
                view.findChild<QVMetric*>("resultMetric")->label().toUtf8().constData());

    analyzer.stop();
    view.findChildren<SegmentedPicker*>()[1]->segment("Phase")->click();
    savePng(&view, "alignment.png", {900, 1500});
}

}  // namespace quorvel
