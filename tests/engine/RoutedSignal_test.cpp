// The routed generator on the virtual audio system, each output looped back to the input of its number.
#include "engine/RoutedSignal.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QThreadPool>
#include <cmath>

#include "RoutedSignalTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/TempFiles.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

using namespace RoutedSignalTesting;

float peak(const std::vector<float>& x) {
    float p = 0;
    for (float v : x) p = std::max(p, std::abs(v));
    return p;
}

// Frequency of a steady sine from its zero crossings.
double frequency(const std::vector<float>& x) {
    int crossings = 0;
    for (std::size_t t = 1; t < x.size(); ++t) crossings += (x[t - 1] < 0) != (x[t] < 0);
    return crossings * 48000.0 / (2.0 * static_cast<double>(x.size()));
}

class RoutedSignalTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{{.name = "Built-in"},
                                       {.name = "Sixteen", .inputChannels = 16, .outputChannels = 16},
                                       {.name = "Sixty-four", .inputChannels = 64, .outputChannels = 64},
                                       {.name = "Wide", .inputChannels = 0, .outputChannels = 65},
                                       {.name = "USB mic", .outputChannels = 0},
                                       {.name = "Refusing", .bindStatus = -10851}});
        for (const char* name : {"Built-in", "Sixteen", "Sixty-four"})
            for (int k = 0; k < 64; ++k) system_->connect(name, k, k, 0);
        AudioHardware::install(system_);
        choose("Sixteen");
    }

    void choose(const std::string& name) {
        QSettings("Quorvel", "Quorvel")
            .setValue(InterfacePicker::settingsKey,
                      static_cast<qint64>(name.empty() ? 0 : system_->idOf(name)));
    }
    static void play(RoutedSignal& routed, const SignalSettings& settings) {
        ASSERT_TRUE(playAndWait(routed, settings));
    }
    // Lets every render in flight finish and deliver; the rendered files left then.
    static QStringList settledRenders() {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        return QDir(QString::fromStdString(TempFiles::directory())).entryList({"signal-*"}, QDir::Files);
    }

    // Every input channel of `name` over `frames` frames, captured while the system runs.
    std::vector<std::vector<float>> capture(const std::string& name, std::int64_t frames) {
        auto engine = system_->makeEngine();
        EXPECT_EQ(engine->bindInput(system_->idOf(name)), 0);
        std::vector<std::vector<float>> data;
        engine->installTap([&](const AudioInputBlock& b) {
            data.resize(static_cast<std::size_t>(b.channelCount));
            for (int c = 0; c < b.channelCount; ++c)
                data[c].insert(data[c].end(), b.channels[c], b.channels[c] + b.frameCount);
        });
        EXPECT_TRUE(engine->start());
        system_->pump(frames);
        engine->stop();
        return data;
    }

    std::shared_ptr<VirtualAudioSystem> system_;
};

}  // namespace

// Soloed, speaker A (output 1) plays its tone alone at full level, wherever B or the reference sit, and
// the reference copies it exactly; no other output sounds.
TEST_F(RoutedSignalTest, DualToneSendsEachToneToItsOwnSpeakerAndTheReferenceFollowsTheSoloedOne) {
    RoutedSignal routed;
    routed.setLevel(0);
    const SignalSettings dual{.kind = SignalKind::dual, .frequency = 1000, .frequency2 = 3000, .seconds = 1};
    struct Case {
        QString selection;
        int channelB, reference;  // reference 0: none
        double a, b, ref;         // expected Hz on outputs 1, 2 and the reference (0: silent)
        QString outputs;          // as the status lists them: the kind played, not the tones rendered
    };
    for (const Case& c : {Case{"Both", 2, 0, 1000, 3000, 0, "1, 2"}, Case{"B", 2, 5, 0, 3000, 3000, "2"},
                          Case{"A", 2, 5, 1000, 0, 1000, "1"}, Case{"A", 2, 2, 1000, 1000, 1000, "1"},
                          Case{"A", 1, 3, 1000, 0, 1000, "1"}}) {
        SCOPED_TRACE(c.selection.toStdString() + " reference " + std::to_string(c.reference));
        route(routed, c.selection, 1, c.channelB, c.reference);
        play(routed, dual);
        ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
        EXPECT_EQ(routed.status(), "Dual tone → outputs " + c.outputs);
        const auto in = capture("Sixteen", 16384);
        const int refIndex = c.reference ? c.reference - 1 : 4;
        for (auto [index, hz] : {std::pair{0, c.a}, {1, c.b}, {refIndex, c.ref}}) {
            if (hz == 0) {
                EXPECT_EQ(peak(in[index]), 0.0f) << "output " << index + 1;
            } else {
                EXPECT_NEAR(frequency(in[index]), hz, hz * 0.02) << "output " << index + 1;
                EXPECT_GT(peak(in[index]), 0.9f) << "output " << index + 1;
            }
        }
        if (c.reference) {
            EXPECT_EQ(in[refIndex], in[c.selection == "B" ? 1 : 0]) << "an exact copy";
        }
        for (int k = 5; k < 16; ++k) EXPECT_EQ(peak(in[k]), 0.0f) << "output " << k + 1;
    }
    routed.stop();
    EXPECT_EQ(peak(capture("Sixteen", 4096)[0]), 0.0f) << "stopped means silent";
    EXPECT_TRUE(settledRenders().isEmpty()) << "the rendered files are gone once playing";
}

// "A" plays even when B shares its output; the reference may use the other speaker's; refusals say why.
TEST_F(RoutedSignalTest, RoutesPlayOnTheirSpeakersOrAreRefusedWithTheProblem) {
    struct Case {
        std::string device;
        QString selection;
        int a, b, reference;  // reference 0: not sent
        SignalKind kind;
        QString status;
    };
    const QString distinct = "Choose distinct, available speaker outputs";
    const QString ownOutput = "Reference needs its own available output";
    for (const Case& c : {
             Case{"Wide", "A", 1, 2, 0, SignalKind::sine, "Unsupported output channel count"},
             Case{"USB mic", "A", 1, 2, 0, SignalKind::sine, "Unsupported output channel count"},
             Case{"Refusing", "A", 1, 2, 0, SignalKind::sine,
                  "Selected interface unavailable or incompatible (-10851)"},
             Case{"Sixteen", "A", 17, 2, 0, SignalKind::sine, distinct},
             Case{"Sixteen", "A", 0, 2, 0, SignalKind::sine, distinct},
             Case{"Sixteen", "B", 1, 0, 0, SignalKind::sine, distinct},
             Case{"Sixteen", "Both", 5, 5, 0, SignalKind::sine, distinct},
             Case{"Sixteen", "anything", 5, 5, 0, SignalKind::sine, distinct},
             Case{"Sixteen", "Both", 3, 4, 4, SignalKind::pink, ownOutput},
             Case{"Sixteen", "A", 3, 4, 17, SignalKind::pink, ownOutput},
             Case{"Sixteen", "Both", 3, 4, 9, SignalKind::dual,
                  "Solo A or B for a single electrical reference when using separate tones"},
             Case{"Sixteen", "A", 5, 5, 0, SignalKind::sine, "Sine → outputs 5"},
             Case{"Sixteen", "A", 5, 7, 7, SignalKind::sine, "Sine → outputs 5"},
             Case{"Sixteen", "B", 5, 7, 5, SignalKind::sine, "Sine → outputs 7"},
             Case{"Sixteen", "Both", 16, 1, 2, SignalKind::sine, "Sine → outputs 16, 1"},
         }) {
        choose(c.device);
        RoutedSignal routed;
        route(routed, c.selection, c.a, c.b, c.reference);
        play(routed, {.kind = c.kind, .seconds = 1});
        EXPECT_EQ(routed.status(), c.status) << c.device << " " << c.a << " " << c.b << " " << c.reference;
        const bool accepted = c.status.contains("→");
        EXPECT_EQ(routed.isPlaying(), accepted) << c.device;
        EXPECT_EQ(routed.selection(), c.selection) << "routing is never changed by a refusal";
        EXPECT_EQ(system_->runningEngines(), accepted ? 1 : 0) << c.device;
        if (c.device != "Refusing") {
            EXPECT_EQ(routed.outputCount(), c.device == "Wide"      ? 65
                                            : c.device == "USB mic" ? 0
                                                                    : 16)
                << c.device;
        }
    }
    EXPECT_TRUE(settledRenders().isEmpty());
}

TEST_F(RoutedSignalTest, FailuresAfterTheRenderStopAndDeleteTheFiles) {
    RoutedSignal routed;
    play(routed, {.kind = SignalKind::sine, .frequency = NAN, .seconds = 1});
    EXPECT_EQ(routed.status(), "Enter finite signal values and a low-pass frequency above high-pass.");

    system_->failNextStart("The device Sixteen is busy");
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_EQ(routed.status(), "The device Sixteen is busy");
    EXPECT_FALSE(routed.isPlaying());

    // 11 s × 48000 frames × 64 outputs × 4 bytes is over 128 MiB; with 16 outputs it fits.
    choose("Sixty-four");
    play(routed, {.kind = SignalKind::sine, .seconds = 11});
    EXPECT_EQ(routed.status(), "Shorten cycle duration for this channel count");
    EXPECT_FALSE(routed.isPlaying());
    choose("Sixteen");
    play(routed, {.kind = SignalKind::sine, .seconds = 11});
    EXPECT_TRUE(routed.isPlaying());

    // The interface goes away during the render: between the format read before it and the one after.
    system_->holdEngineCalls();
    system_->passEngineCalls(2);
    routed.play({.kind = SignalKind::sine, .seconds = 1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->heldEngineCalls() == 1; }, 20000));
    system_->removeDevice("Sixteen");
    system_->releaseEngineCalls();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !routed.busy(); }, 20000));
    EXPECT_EQ(routed.status(), "Output changed while preparing; choose outputs and restart");
    EXPECT_FALSE(routed.isPlaying());
    EXPECT_TRUE(settledRenders().isEmpty());
}

TEST_F(RoutedSignalTest, AStaleRenderPublishesNothingAndLeavesNoFiles) {
    RoutedSignal routed;
    QSignalSpy playing(&routed, &RoutedSignal::isPlayingChanged);
    routed.play({.kind = SignalKind::pink, .seconds = 2});
    EXPECT_TRUE(routed.busy());
    EXPECT_EQ(routed.status(), "Preparing routed signal");
    routed.stop();
    EXPECT_EQ(routed.status(), RoutedSignal::stoppedStatus);
    EXPECT_TRUE(settledRenders().isEmpty());
    EXPECT_EQ(routed.status(), RoutedSignal::stoppedStatus);
    EXPECT_FALSE(routed.busy());
    EXPECT_EQ(playing.count(), 0);

    // A newer play overtakes an older one: only the newer one is heard from.
    routed.setChannelA(2);
    routed.play({.kind = SignalKind::pink, .seconds = 2});
    routed.setChannelA(6);
    routed.play({.kind = SignalKind::white, .seconds = 1});
    EXPECT_TRUE(settledRenders().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !routed.busy(); }, 20000));
    EXPECT_EQ(routed.status(), "White noise → outputs 6");
    EXPECT_EQ(playing.count(), 1);
}

TEST_F(RoutedSignalTest, LevelSetsTheLiveVolumeWithAFloorAt60dBDown) {
    RoutedSignal routed;
    routed.setLevel(0);
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    const float full = peak(capture("Sixteen", 48000)[0]);
    ASSERT_NEAR(full, 0.98f, 0.01f);
    // Level changes reach the sound while it plays.
    for (auto [db, volume] : {std::pair{-20.0, 0.1f},
                              {-60.0, 0.001f},
                              {-61.0, 0.001f},
                              {double(NAN), 0.001f},
                              {3.0, 1.0f},
                              {-6.0, 0.501187f}}) {
        routed.setLevel(db);
        EXPECT_NEAR(peak(capture("Sixteen", 48000)[0]), full * volume, full * volume * 1e-5) << db;
    }
    // The level set while stopped is the next play's from its first sample.
    routed.stop();
    routed.setLevel(-20);
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_NEAR(peak(capture("Sixteen", 48000)[0]), full * 0.1f, full * 1e-5);
    EXPECT_EQ(routed.level(), -20);
}

// Back to the system default: the engine must leave the interface it was bound to.
TEST_F(RoutedSignalTest, DefaultIsBoundAgainAfterAnInterface) {
    RoutedSignal routed;
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    ASSERT_TRUE(routed.isPlaying());
    choose("");
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_TRUE(routed.isPlaying());
    EXPECT_EQ(routed.outputCount(), 2);
    EXPECT_GT(peak(capture("Built-in", 4096)[0]), 0.0f);
}

// The server holds the play: a stop() meanwhile leaves nothing playing, nothing published and no file once
// it comes back. A play that finds no output names the server that is not responding.
TEST_F(RoutedSignalTest, AHeldPlayGivesWayToAStopAndNoOutputNamesTheServer) {
    RoutedSignal routed;
    system_->holdEngineCalls();
    routed.play({.kind = SignalKind::sine, .seconds = 1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->heldEngineCalls() == 1; }, 20000));
    EXPECT_TRUE(routed.busy());
    routed.stop();
    QSignalSpy status(&routed, &RoutedSignal::statusChanged);
    QSignalSpy playing(&routed, &RoutedSignal::isPlayingChanged);
    system_->releaseEngineCalls();
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(system_->runningEngines(), 0) << "the worker starts nothing for a play given up";
    EXPECT_TRUE(settledRenders().isEmpty());
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(status.count() + playing.count(), 0);
    EXPECT_EQ(system_->runningEngines(), 0);

    const QString sentence = "The JACK server is not responding";
    system_->setNotResponding(sentence.toStdString());
    system_->removeDevice("Sixteen");
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_EQ(routed.status(), sentence);
    choose("USB mic");
    play(routed, {.kind = SignalKind::sine, .seconds = 1});
    EXPECT_EQ(routed.status(), sentence) << "a device without outputs";
    EXPECT_FALSE(routed.isPlaying());
}

}  // namespace quorvel
