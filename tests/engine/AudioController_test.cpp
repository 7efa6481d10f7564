// The stereo player on the virtual device, its outputs looped back and recorded; the test pumps and ticks.
#include "engine/AudioController.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <cmath>
#include <thread>

#include "FakeMusicService.h"
#include "TestHome.h"
#include "engine/AudioHardware.h"
#include "platform/TempFiles.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

constexpr double rate = 48000;
constexpr std::int64_t period = 1024;
constexpr double tick = period / rate;

// Temporary renders of one kind ("reference-*.caf", "signal-*.wav") in the temporary folder.
QStringList renders(const QString& pattern) {
    return QDir(QString::fromStdString(TempFiles::directory())).entryList({pattern}, QDir::Files);
}

// A stereo float WAV file in `dir`: left 0.5, right −0.25 throughout.
QString writeConstant(const QString& dir, const QString& name, double seconds) {
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    AudioBuffer buffer(*AudioFormat::standard(rate, 2), frames);
    std::fill(buffer.channel(0), buffer.channel(0) + frames, 0.5f);
    std::fill(buffer.channel(1), buffer.channel(1) + frames, -0.25f);
    buffer.setFrameLength(frames);
    const QString path = QDir(dir).filePath(name);
    auto writer = AudioFileWriter::create(path.toStdString(), buffer.format());
    EXPECT_TRUE(writer && writer->write(buffer) && writer->close());
    return path;
}

// Waits for the render of a play.
void waitIdle(const AudioController& controller) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
}

class AudioControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        system = std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{VirtualDevice{.name = "out"}}, period);
        system->connect("out", 0, 0, 0);
        system->connect("out", 1, 1, 0);
        AudioHardware::install(system);
        recorder = system->makeEngine();
        recorder->installTap([this](const AudioInputBlock& b) {
            for (int c = 0; c < 2; ++c)
                recorded[c].insert(recorded[c].end(), b.channels[c], b.channels[c] + b.frameCount);
        });
        ASSERT_TRUE(recorder->start());
        controller = std::make_unique<AudioController>(AudioController::Setup{
            .clock = [s = system.get()] { return static_cast<double>(s->clock()) / rate; }, .music = &music});
        root = QString::fromStdString(TestHome::freshDir("library"));
        // A temporary folder of its own, so that renders left by another test never count here.
        setenv("TMPDIR", TestHome::freshDir("tmp").c_str(), 1);
    }
    void TearDown() override {
        controller.reset();
        recorder.reset();
    }

    LocalTrackRequest track(const QString& title, double seconds) {
        writeConstant(root, title + ".wav", seconds);
        return LocalTrackRequest{.id = Uuid::generate(), .title = title, .filename = title + ".wav"};
    }
    void play(const LocalTrackRequest& t) {
        controller->playTrack(t, root);
        waitIdle(*controller);
    }
    void signal(SignalSettings settings, bool sync = false) {
        controller->playSignal(settings, sync);
        waitIdle(*controller);
    }
    // Moves the device on by whole periods, with one tick after each.
    void run(double seconds) {
        for (auto frames = static_cast<std::int64_t>(std::ceil(seconds * rate)); frames > 0; frames -= period)
            step();
    }
    void step() {
        system->pump(period);
        controller->tick();
    }
    // Steps on until the recorder has every frame played so far (its tap takes blocks of 4096 frames).
    void align() {
        while (system->clock() % AudioEngine::tapBlockFrames != 0) step();
    }
    // The last frame played on each channel; after align().
    float lastLeft() const { return recorded[0].back(); }
    float lastRight() const { return recorded[1].back(); }

    std::shared_ptr<VirtualAudioSystem> system;
    std::unique_ptr<AudioEngine> recorder;
    std::vector<float> recorded[2];
    FakeMusicService music;
    std::unique_ptr<AudioController> controller;
    QString root;
};

}  // namespace

// Play starts at the cue-in; the tick 20 ms before the end point stops or loops; odd cue-outs mean the end.
TEST_F(AudioControllerTest, TrackPlaysFromCueInAndLoopsOrStopsAtCueOut) {
    struct Case {
        double seconds, cueIn, cueOut;
        bool loop;
        double start, end;
    };
    for (const Case& c :
         {Case{24, 5, 20, false, 5, 20}, Case{24, 5, 20, true, 5, 20}, Case{3, 2, 0, false, 2, 3},
          Case{3, 2, 1, false, 2, 3}, Case{3, 2, 2, false, 2, 3}, Case{3, 2, 99, false, 2, 3},
          Case{3, -4, 0, false, 0, 3}, Case{3, -4, 2, true, 0, 2}, Case{0.5, 50, 0, false, 0.49, 0.5}}) {
        SCOPED_TRACE(testing::Message() << c.cueIn << " … " << c.cueOut << (c.loop ? " looping" : ""));
        LocalTrackRequest t = track("Cued", c.seconds);
        t.cueIn = c.cueIn;
        t.cueOut = c.cueOut;
        t.loop = c.loop;
        play(t);
        ASSERT_EQ(controller->status(), "Cued");
        EXPECT_EQ(controller->selectedTrackID(), t.id);
        EXPECT_TRUE(controller->playing());
        EXPECT_DOUBLE_EQ(controller->duration(), c.seconds);  // the whole file, not the cue range

        // The positions published tick by tick until the track ends or jumps back.
        std::vector<double> seen;
        do {
            step();
            seen.push_back(controller->currentTime());
        } while (controller->status() == "Cued" && (seen.size() < 2 || seen.back() > seen[seen.size() - 2]));
        const std::size_t ended = seen.size() - (c.loop ? 2 : 1);  // the tick at or past the end point
        const double before = ended ? seen[ended - 1] : c.start;
        EXPECT_TRUE(ended == 0 || before < c.end - 0.02) << before;
        EXPECT_GE(before + tick, c.end - 0.02);
        EXPECT_TRUE(ended < 2 || std::abs(seen[0] - (c.start + tick)) < 1e-9) << seen[0];
        if (c.loop) {
            EXPECT_TRUE(controller->playing());
            EXPECT_NEAR(seen.back(), c.start + tick, 1e-9);
        } else {
            EXPECT_EQ(controller->status(), "Stopped");
            EXPECT_FALSE(controller->hasPlayback());
            EXPECT_FALSE(controller->selectedTrackID());
            EXPECT_TRUE(renders("reference-*.caf").isEmpty());
        }
        controller->stop();
    }
}

// Paused at or past its end point, the next tick ends or loops it; resuming there starts at the cue-in.
TEST_F(AudioControllerTest, PausedTrackAtItsEndPointEndsOnTheNextTickAndResumesAtCueIn) {
    for (bool loop : {true, false}) {
        LocalTrackRequest t = track("Paused", 6);
        t.cueIn = 1;
        t.cueOut = 3;
        t.loop = loop;
        play(t);
        run(0.5);
        controller->togglePlayback();
        EXPECT_FALSE(controller->playing());
        controller->seek(2.97);  // 10 ms before the end point
        run(0.5);
        EXPECT_DOUBLE_EQ(controller->currentTime(), 2.97);
        EXPECT_FALSE(controller->playing());
        EXPECT_EQ(controller->status(), "Paused");
        align();
        EXPECT_EQ(lastLeft(), 0.0f);

        controller->seek(2.99);
        step();
        if (!loop) {
            EXPECT_EQ(controller->status(), "Stopped");
            EXPECT_FALSE(controller->hasPlayback());
            continue;
        }
        EXPECT_EQ(controller->status(), "Paused");
        step();
        EXPECT_TRUE(controller->playing());
        EXPECT_NEAR(controller->currentTime(), 1 + tick, 1e-9);

        controller->togglePlayback();
        controller->seek(6);
        controller->togglePlayback();
        EXPECT_TRUE(controller->playing());
        step();
        EXPECT_NEAR(controller->currentTime(), 1 + tick, 1e-9);
        controller->stop();
    }

    // stop() while idle still announces "Stopped".
    QSignalSpy status(controller.get(), &AudioController::statusChanged);
    controller->stop();
    EXPECT_EQ(status.count(), 1);
}

// Idle, the transport does nothing and asks no music server; while rendering neither; a seek is clamped.
TEST_F(AudioControllerTest, TransportActsOnLoadedSourcesOnly) {
    controller->seek(12);
    controller->togglePlayback();
    EXPECT_EQ(controller->currentTime(), 0);
    EXPECT_FALSE(controller->playing());
    EXPECT_TRUE(music.log.empty());
    controller->playTrack(track("Seek", 4), root);
    controller->togglePlayback();
    EXPECT_TRUE(controller->busy());
    EXPECT_FALSE(controller->playing());
    waitIdle(*controller);
    EXPECT_TRUE(controller->playing());
    for (auto [to, at] : {std::pair{-3.0, 0.0}, {1000.0, 4.0}, {double(NAN), 0.0}, {2.5, 2.5}}) {
        controller->seek(to);
        EXPECT_EQ(controller->currentTime(), at) << to;
    }
    step();
    EXPECT_NEAR(controller->currentTime(), 2.5 + tick, 1e-9);
}

TEST_F(AudioControllerTest, VolumeIsLevelPlusTrimCappedAtFullFromTheFirstSample) {
    // A level set while idle applies from the very first sample of the next start (the left channel is 0.5).
    controller->setLevel(-30);
    LocalTrackRequest t = track("Trim", 4);
    t.trimDB = -6;
    play(t);
    run(0.1);
    const auto first = std::find_if(recorded[0].begin(), recorded[0].end(), [](float v) { return v != 0; });
    ASSERT_NE(first, recorded[0].end());
    EXPECT_NEAR(*first, 0.5 * 0.015849, 1e-6);
    EXPECT_NEAR(*std::max_element(recorded[0].begin(), recorded[0].end()), 0.5 * 0.015849, 1e-6);

    // A later change keeps the trim in the sum and fades over 30 ms (1440 frames) from the next frame.
    controller->setLevel(-20);
    const auto at = static_cast<std::size_t>(system->clock());
    run(0.1);
    align();
    EXPECT_NEAR(recorded[0][at + 719], 0.5 * (0.015849 + 0.050119) / 2, 1e-6);  // half-way
    EXPECT_NEAR(recorded[0][at + 1439], 0.5 * 0.050119, 1e-6);
    EXPECT_NEAR(lastLeft(), 0.5 * 0.050119, 1e-6);
    controller->setLevel(9);
    run(0.1);
    align();
    EXPECT_FLOAT_EQ(lastLeft(), 0.5f);
    EXPECT_FLOAT_EQ(lastRight(), -0.25f);
}

// A render that a stop or a newer play overtook publishes nothing and leaves no file.
TEST_F(AudioControllerTest, StopDuringTheRenderDeletesItAndPublishesNothing) {
    controller->playTrack(track("Abandoned", 3), root);
    EXPECT_TRUE(controller->busy());
    controller->stop();
    QSignalSpy status(controller.get(), &AudioController::statusChanged);
    QSignalSpy busy(controller.get(), &AudioController::busyChanged);
    QSignalSpy selected(controller.get(), &AudioController::selectedTrackIDChanged);
    QSignalSpy duration(controller.get(), &AudioController::durationChanged);
    QSignalSpy has(controller.get(), &AudioController::hasPlaybackChanged);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(renders("reference-*.caf").isEmpty());
    EXPECT_EQ(status.count() + busy.count() + selected.count() + duration.count() + has.count(), 0);
    EXPECT_EQ(controller->status(), "Stopped");
    system->pump(AudioEngine::tapBlockFrames);
    ASSERT_FALSE(recorded[0].empty());
    EXPECT_EQ(*std::max_element(recorded[0].begin(), recorded[0].end()), 0.0f);

    controller->playSignal(SignalSettings{.kind = SignalKind::pink});
    controller->stop();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(renders("signal-*.wav").isEmpty());

    const LocalTrackRequest b = track("B", 3);
    controller->playTrack(track("A", 3), root);
    play(b);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(controller->status(), "B");
    EXPECT_EQ(controller->selectedTrackID(), b.id);
    EXPECT_EQ(renders("reference-*.caf").size(), 1);
    controller->stop();
    EXPECT_TRUE(renders("reference-*.caf").isEmpty());
}

TEST_F(AudioControllerTest, StopAndShutDownCancelTheRenderInFlight) {
    for (bool shutDown : {false, true}) {
        std::atomic<bool> cancelSeen{false};
        controller = std::make_unique<AudioController>(AudioController::Setup{
            .music = &music,
            .render = [&](const std::string&, const FileProcessSettings&,
                          const FileProcessor::Cancelled& cancelled) -> Result<std::string> {
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!cancelled() && std::chrono::steady_clock::now() < giveUp)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                cancelSeen = cancelled();
                return Error{"posix", FileProcessor::cancelledCode, "The render was cancelled"};
            }});
        controller->playTrack(track("Long", 1), root);
        if (shutDown)
            controller.reset();
        else
            controller->stop();
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_TRUE(cancelSeen) << shutDown;
    }
}

// Ticks pan the next period by route or ping-pong side (0.1 s acts as 0.25 s); sync flashes 80 ms a second.
TEST_F(AudioControllerTest, TicksPanByRouteOrPingPongAndFlashForSync) {
    signal(SignalSettings{.kind = SignalKind::white, .seconds = 1});
    using Route = AudioController::Route;
    for (auto [route, left, right] :
         {std::tuple{Route::right, false, true}, {Route::both, true, true}, {Route::left, true, false}}) {
        controller->setRoute(route);
        step();
        align();
        EXPECT_EQ(lastLeft() != 0, left) << static_cast<int>(route);
        EXPECT_EQ(lastRight() != 0, right) << static_cast<int>(route);
    }
    controller->setPingPong(true);
    controller->setInterval(0.1);
    signal(SignalSettings{.kind = SignalKind::white, .seconds = 1});
    const std::int64_t start = system->clock();
    std::vector<std::pair<std::int64_t, bool>> rightFrom;  // period start, side R
    for (int i = 0; i < 60; ++i) {
        step();
        const bool right = (system->clock() - start) / 12000 % 2 == 1;
        EXPECT_EQ(controller->side(), right ? AudioController::Side::right : AudioController::Side::left)
            << i;
        EXPECT_FALSE(controller->flash());
        rightFrom.emplace_back(system->clock(), right);
    }
    step();
    align();
    ASSERT_GE(recorded[0].size(), static_cast<std::size_t>(rightFrom.back().first + period));
    for (const auto& [frame, right] : rightFrom) {
        EXPECT_EQ(recorded[0][frame + 500] != 0, !right) << frame;
        EXPECT_EQ(recorded[1][frame + 500] != 0, right) << frame;
    }

    for (bool sync : {true, false}) {
        signal(SignalSettings{.kind = SignalKind::sync, .seconds = 2}, sync);
        EXPECT_EQ(controller->status(), sync ? "A/V sync: visual check" : "Sync beep");
        EXPECT_DOUBLE_EQ(controller->duration(), 2);
        int flashes = 0;
        for (int i = 0; i < 200; ++i) {
            step();
            const double t = controller->currentTime();
            EXPECT_EQ(controller->flash(), sync && t - std::floor(t) < 0.08) << t;
            flashes += controller->flash();
        }
        EXPECT_EQ(flashes > 8, sync);
    }
    controller->playSignal(SignalSettings{.kind = SignalKind::sync, .seconds = 2}, true);
    waitIdle(*controller);
    step();
    controller->togglePlayback();
    step();
    EXPECT_FALSE(controller->flash()) << "paused";
}

// Signals and spoken IDs loop until stopped and their files go at the stop.
TEST_F(AudioControllerTest, RenderedAndSpokenFilesAreDeletedAtStop) {
    signal(SignalSettings{.kind = SignalKind::pink, .seconds = 1});
    EXPECT_EQ(controller->status(), "Pink noise");
    EXPECT_EQ(renders("signal-*.wav").size(), 1);
    run(3);
    EXPECT_TRUE(controller->playing());
    controller->stop();
    EXPECT_TRUE(renders("signal-*.wav").isEmpty());

    const QString folder = QString::fromStdString(TempFiles::directory());
    const QString voice = writeConstant(folder, "voice-1.caf", 1.5);
    controller->playVoice(voice);
    waitIdle(*controller);
    EXPECT_EQ(controller->status(), "Spoken source ID");
    EXPECT_DOUBLE_EQ(controller->duration(), 1.5);
    run(4);
    EXPECT_TRUE(controller->playing());
    EXPECT_FALSE(controller->selectedTrackID());
    controller->stop();
    EXPECT_FALSE(QFile::exists(voice));
}

TEST_F(AudioControllerTest, FailuresEndInTheStatus) {
    play(LocalTrackRequest{.title = "No file"});
    EXPECT_EQ(controller->status(), "Stopped");

    // An imported copy deleted from the storage folder.
    play(LocalTrackRequest{.title = "Kick Test", .filename = "gone.wav"});
    EXPECT_EQ(controller->status(), "The audio file of \u201CKick Test\u201D is missing.");
    EXPECT_FALSE(controller->hasPlayback());

    signal(SignalSettings{.kind = SignalKind::sine, .seconds = -1});
    EXPECT_EQ(controller->status(), "Enter finite signal values and a low-pass frequency above high-pass.");
    EXPECT_TRUE(renders("signal-*.wav").isEmpty());

    // A stream that will not start: said, and nothing is left loaded.
    system->failNextStart("The sound server refused the stream");
    signal(SignalSettings{.kind = SignalKind::pink, .seconds = 1});
    EXPECT_EQ(controller->status(), "The sound server refused the stream");
    EXPECT_FALSE(controller->hasPlayback());
    EXPECT_FALSE(controller->playing());

    // No output at all: every start says so and leaves no file.
    AudioHardware::install(std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{VirtualDevice{.name = "mic", .outputChannels = 0}}));
    const QString voice = writeConstant(QString::fromStdString(TempFiles::directory()), "voice-x.caf", 1);
    play(track("T", 1));
    EXPECT_EQ(controller->status(), "No audio output is available");
    signal(SignalSettings{});
    EXPECT_EQ(controller->status(), "No audio output is available");
    controller->playVoice(voice);
    waitIdle(*controller);
    EXPECT_EQ(controller->status(), "No audio output is available");
    EXPECT_FALSE(controller->hasPlayback());
    controller->stop();
    EXPECT_FALSE(QFile::exists(voice));
    EXPECT_TRUE(renders("*.wav").isEmpty());
}

// The server holds the start: a stop() meanwhile leaves nothing sounding, nothing published and no render
// once it comes back. A start that finds no output names the server that is not responding.
TEST_F(AudioControllerTest, AHeldStartGivesWayToAStopAndNoOutputNamesTheServer) {
    system->holdEngineCalls();
    controller->playSignal(SignalSettings{.kind = SignalKind::pink, .seconds = 1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return system->heldEngineCalls() == 1; }, 20000));
    EXPECT_TRUE(controller->busy());
    controller->stop();
    QSignalSpy status(controller.get(), &AudioController::statusChanged);
    QSignalSpy playing(controller.get(), &AudioController::playingChanged);
    QSignalSpy has(controller.get(), &AudioController::hasPlaybackChanged);
    system->releaseEngineCalls();
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(system->runningEngines(), 1) << "the worker starts nothing for a start given up";
    for (int i = 0; i < 2; ++i) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(status.count() + playing.count() + has.count(), 0);
    EXPECT_EQ(system->runningEngines(), 1) << "the recorder alone";
    EXPECT_TRUE(renders("signal-*.wav").isEmpty());
    run(0.2);
    EXPECT_EQ(*std::max_element(recorded[0].begin(), recorded[0].end()), 0.0f);

    system->setNotResponding("The PulseAudio server is not responding");
    system->removeDevice("out");
    signal(SignalSettings{.kind = SignalKind::pink, .seconds = 1});
    EXPECT_EQ(controller->status(), "The PulseAudio server is not responding");
    EXPECT_FALSE(controller->hasPlayback());
}

// Playback follows the stored output device from its next start, and the default when that device is gone.
TEST(AudioControllerOutput, PlaysOnTheStoredOutputDeviceAndFallsBackWhenItIsGone) {
    auto system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{VirtualDevice{.name = "default"}, VirtualDevice{.name = "chosen"}},
        period);
    for (const char* name : {"default", "chosen"}) system->connect(name, 0, 0, 0);
    AudioHardware::install(system);
    FakeMusicService music;
    AudioController controller(AudioController::Setup{.music = &music});
    controller.setLevel(0);
    for (auto [stored, heardOn] :
         {std::pair{system->idOf("chosen"), "chosen"}, {system->idOf("chosen") ^ 0x5A5A5A5Au, "default"}}) {
        QSettings().setValue(AudioController::outputDeviceKey, static_cast<qlonglong>(stored));
        auto recorder = system->makeEngine();
        EXPECT_EQ(recorder->bindInput(system->idOf(heardOn)), 0);
        float peak = 0;
        recorder->installTap([&](const AudioInputBlock& b) {
            for (std::int64_t i = 0; i < b.frameCount; ++i) peak = std::max(peak, std::abs(b.channels[0][i]));
        });
        ASSERT_TRUE(recorder->start());
        controller.playSignal(SignalSettings{.kind = SignalKind::sine});
        waitIdle(controller);
        ASSERT_TRUE(controller.playing()) << controller.status().toStdString();
        system->pump(8 * AudioEngine::tapBlockFrames);
        EXPECT_GT(peak, 0.5f) << heardOn;
        controller.stop();
    }
}

// A stereo source on a device with one output plays the average of its channels: a track with 0.5 on the
// left and −0.25 on the right reads 0.125 there; sent to one side, half of that side.
TEST(AudioControllerOutput, PlaysStereoOnADeviceWithOneOutputAsTheAverageOfItsChannels) {
    auto system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{VirtualDevice{.name = "speaker", .inputChannels = 1, .outputChannels = 1}},
        period);
    system->connect("speaker", 0, 0, 0);
    AudioHardware::install(system);
    auto recorder = system->makeEngine();
    ASSERT_EQ(recorder->bindInput(system->idOf("speaker")), 0);
    float last = 0;
    recorder->installTap([&](const AudioInputBlock& b) { last = b.channels[0][b.frameCount - 1]; });
    ASSERT_TRUE(recorder->start());
    setenv("TMPDIR", TestHome::freshDir("tmp").c_str(), 1);
    const QString root = QString::fromStdString(TestHome::freshDir("library"));
    writeConstant(root, "Split.wav", 2);
    FakeMusicService music;
    AudioController controller(
        AudioController::Setup{.music = &music, .outputDevice = system->idOf("speaker")});
    controller.setLevel(0);
    controller.playTrack({.id = Uuid::generate(), .title = "Split", .filename = "Split.wav"}, root);
    waitIdle(controller);
    ASSERT_TRUE(controller.playing()) << controller.status().toStdString();
    using Route = AudioController::Route;
    for (auto [route, expected] :
         {std::pair{Route::both, 0.125f}, {Route::left, 0.25f}, {Route::right, -0.125f}}) {
        controller.setRoute(route);
        controller.tick();
        system->pump(2 * AudioEngine::tapBlockFrames);
        EXPECT_EQ(last, expected) << static_cast<int>(route);
    }
    controller.stop();
}

}  // namespace quorvel
