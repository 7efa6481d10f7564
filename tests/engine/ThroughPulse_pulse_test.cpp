// Player, analyser and routed generator through the private servers (pulseaudio, and PipeWire's PulseAudio
// side), recorded from the null sinks' monitors from the first sound on (the latency varies); dual mode
// compares two channels of one stream.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <tuple>

#include "FakeMusicService.h"
#include "LoopbackRecorder.h"
#include "PulseServers.h"
#include "RoutedSignalTesting.h"
#include "TestHome.h"
#include "TestSignals.h"
#include "ToneFile.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {

constexpr double rate = 48000;
constexpr const char* serverStopped = "The PulseAudio server stopped";
using PulseServers::monitorOf;
using TestSignals::peakBin;

// The fixture's sinks: listed name, PulseAudio name, channel map.
struct Sink {
    const char* name;
    const char* node;
    std::string map;
    int channels() const { return static_cast<int>(std::count(map.begin(), map.end(), ',')) + 1; }
};
const std::string surround = "front-left,front-right,front-center,lfe,rear-left,rear-right";
const std::vector<Sink> sinks{
    {"qv-stereo", "qv_stereo", "front-left,front-right"},
    {"qv-six", "qv_six", surround},
    {"qv-eight", "qv_eight", surround + ",side-left,side-right"},
    {"qv-sixteen", "qv_sixteen",
     "aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7,aux8,aux9,aux10,aux11,aux12,aux13,aux14,aux15"}};

// A player of the server's own (pacat, fed by sox) that sounds, on every channel c of a sink, a sine on the
// centre of bin(c) of a 4096-point FFT at 48 kHz; it asks for the sink's map and no remixing.
class ToneBank {
public:
    static int bin(int c) { return 40 + 6 * c; }

    explicit ToneBank(const Sink& sink) {
        const std::string channels = std::to_string(sink.channels());
        std::string synth = " synth 60";
        for (int c = 0; c < sink.channels(); ++c) synth += " sine " + std::to_string(bin(c) * rate / 4096);
        const std::string command = "sox -q -n -r 48000 -c " + channels +
                                    " -e floating-point -b 32 -t raw -" + synth +
                                    " vol 0.25 | exec pacat --raw --device=" + sink.node +
                                    " --format=float32le --rate=48000 --channels=" + channels +
                                    " --channel-map=" + sink.map + " --no-remix --no-remap";
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);  // a group of its own, to end both
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        if (posix_spawnp(&pid_, "sh", nullptr, &attributes, const_cast<char* const*>(argv), environ) != 0)
            pid_ = 0;
        posix_spawnattr_destroy(&attributes);
    }
    ~ToneBank() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    ToneBank(const ToneBank&) = delete;
    ToneBank& operator=(const ToneBank&) = delete;

private:
    pid_t pid_ = 0;
};

double rmsDB(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t t = from; t < to; ++t) sum += static_cast<double>(x[t]) * x[t];
    return 10 * std::log10(sum / static_cast<double>(to - from));
}

// The runs of silence inside a sounding recording ("frame+length, …"), to tell a gap from a level error.
std::string silences(const std::vector<float>& x) {
    std::string text;
    for (std::size_t t = 0; t < x.size();) {
        std::size_t end = t;
        while (end < x.size() && x[end] == 0) ++end;
        if (end - t > 8) text += std::to_string(t) + "+" + std::to_string(end - t) + " ";
        t = end + 1;
    }
    return text.empty() ? "none" : text;
}

class ThroughPulse : public ::testing::Test {
protected:
    void SetUp() override {
        QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
        AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"pulse"}));
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    }
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }

    static std::uint32_t idOf(const std::string& name) { return deviceId(AudioHardware::system(), name); }
    // Stores the interface choice, as the Measure screen does; it applies at the next start.
    static void choose(const std::string& name) {
        QSettings("Quorvel", "Quorvel")
            .setValue(InterfacePicker::settingsKey, static_cast<qint64>(idOf(name)));
    }

    // Records `frames` frames of `monitor` from the first non-zero sample while `play` sounds; none if lost.
    static std::vector<std::vector<float>> record(const std::string& monitor, int channels,
                                                  std::int64_t frames, const std::function<void()>& play) {
        const std::int64_t slack = static_cast<std::int64_t>(rate);  // for the server's latency
        LoopbackRecorder recorder(AudioHardware::system(), idOf(monitor), frames + slack, channels);
        if (!recorder.bound() || !recorder.start()) return {};
        play();
        const bool full = QTest::qWaitFor([&] { return recorder.full(); }, 30000);
        recorder.stop();
        if (!full || !recorder.contiguous()) return {};
        std::size_t onset = recorder.channel(0).size();
        for (int c = 0; c < channels; ++c) {
            const auto& x = recorder.channel(c);
            onset = std::min<std::size_t>(
                onset, static_cast<std::size_t>(
                           std::find_if(x.begin(), x.end(), [](float v) { return v != 0; }) - x.begin()));
        }
        if (onset > static_cast<std::size_t>(slack)) return {};
        std::vector<std::vector<float>> out;
        for (int c = 0; c < channels; ++c)
            out.emplace_back(recorder.channel(c).begin() + static_cast<long>(onset),
                             recorder.channel(c).begin() + static_cast<long>(onset) + frames);
        return out;
    }
};

}  // namespace

TEST_F(ThroughPulse, AStoredInterfaceIdOutlivesAnotherSink) {
    choose(monitorOf("qv-six"));
    const std::string module = PulseServers::pactl(
        "load-module module-null-sink sink_name=qv_visitor sink_properties=device.description=qv-visitor");
    ASSERT_NE(idOf(monitorOf("qv-visitor")), 0u);
    PulseServers::pactl("unload-module " + module);
    ASSERT_EQ(idOf(monitorOf("qv-visitor")), 0u);
    auto engine = AudioHardware::system().makeEngine();
    ASSERT_TRUE(InterfacePicker::stored().apply(*engine, true, AudioHardware::system()));
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{6, 48000}));
}

// The interface and the output chosen on one of two devices of one model stay with it: when a twin whose
// server name sorts first appears, after a restart (listed afresh, the chosen one is "(2)"), and when the
// twin goes again. The picker's selection follows it, the interface binds its four outputs, and the player
// sounds on its monitor.
TEST_F(ThroughPulse, ChoicesStayWithTheirDeviceAsATwinComesAndGoes) {
    std::vector<std::string> modules;
    const std::shared_ptr<void> unload(nullptr, [&](void*) {
        for (const auto& m : modules) PulseServers::pactl("unload-module " + m);
    });
    auto load = [&](const std::string& sink, int channels) {
        modules.push_back(PulseServers::pactl("load-module module-null-sink sink_name=" + sink +
                                              " rate=48000 channels=" + std::to_string(channels) +
                                              " sink_properties=device.description=qv-solo"));
        return modules.back();
    };
    const std::string key = "PulseAudio:qv_solo_z";
    auto listedIn = [](InterfacePicker& picker, const QString& name) {
        AudioHardware::listing().refresh();
        return QTest::qWaitFor(
            [&] {
                return std::any_of(picker.devices().begin(), picker.devices().end(),
                                   [&](const InterfaceOption& d) { return d.name == name; });
            },
            10000);
    };
    auto outputsOf = [](InterfacePicker& picker) {
        for (const InterfaceOption& d : picker.devices())
            if (d.id == picker.selected()) return d.outputChannels;
        return -1;
    };
    load("qv_solo_z", 4);
    std::uint32_t chosen = 0;
    {
        InterfacePicker picker;
        ASSERT_TRUE(listedIn(picker, "qv-solo"));
        chosen = idOf("qv-solo");
        picker.setSelected(chosen);
        picker.save();
        QSettings().setValue(AudioController::outputDeviceKey, static_cast<qlonglong>(chosen));
        QSettings().setValue(AudioController::outputDeviceKeyKey, QString::fromStdString(key));
        const std::string newcomer = load("qv_solo_a", 2);
        ASSERT_TRUE(listedIn(picker, "qv-solo (2)"));
        EXPECT_EQ(picker.selected(), chosen) << "the device that was alone keeps its name and id";
        EXPECT_EQ(outputsOf(picker), 4);
    }

    // A restart: a system that has never listed them.
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"pulse"}));
    InterfacePicker picker;
    ASSERT_TRUE(listedIn(picker, "qv-solo (2)"));
    EXPECT_NE(picker.selected(), chosen) << "listed afresh, qv_solo_a takes the plain name";
    EXPECT_EQ(outputsOf(picker), 4);
    auto engine = InterfacePicker::stored().makeEngine(AudioHardware::system(), false);
    ASSERT_TRUE(engine);
    EXPECT_EQ((*engine)->outputFormat().channelCount, 4);
    FakeMusicService music;
    AudioController controller(AudioController::Setup{.clock = {}, .music = &music});
    const std::string monitor = PulseServers::pipewire() ? "qv-solo (2)" : "Monitor of qv-solo (2)";
    const auto x = record(monitor, 2, static_cast<std::int64_t>(0.2 * rate), [&] {
        controller.playSignal({.kind = SignalKind::sine, .frequency = 1000, .seconds = 2});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
        EXPECT_TRUE(controller.playing()) << controller.status().toStdString();
    });
    controller.stop();
    EXPECT_FALSE(x.empty()) << "nothing played on the chosen device";

    // The twin goes: the chosen device has the plain name (and id) again, and stays selected.
    PulseServers::pactl("unload-module " + modules.back());
    modules.pop_back();
    AudioHardware::listing().refresh();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return picker.devices().size() > 0 && idOf("qv-solo (2)") == 0; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker.selected() == idOf("qv-solo"); }, 10000));
    EXPECT_EQ(outputsOf(picker), 4);
}

TEST_F(ThroughPulse, StereoPlaybackOnTheSinkReadsBackFromItsMonitorInLevelAndSide) {
    FakeMusicService music;
    AudioController controller(
        AudioController::Setup{.clock = {}, .music = &music, .outputDevice = idOf("qv-stereo")});
    // A 1 kHz sine at −40 then −20 dB left, 0 dB right: RMS steps by 20 dB, the other side silent.
    struct Take {
        double levelDB;
        AudioController::Route route;
        int side;
    };
    double rms[3];
    std::string gaps[3];
    int i = 0;
    using Route = AudioController::Route;
    for (const Take take : {Take{-40, Route::left, 0}, Take{-20, Route::left, 0}, Take{0, Route::right, 1}}) {
        controller.setLevel(take.levelDB);
        controller.setRoute(take.route);
        const auto x = record(monitorOf("qv-stereo"), 2, static_cast<std::int64_t>(0.6 * rate), [&] {
            controller.playSignal({.kind = SignalKind::sine, .frequency = 1000, .seconds = 2});
            EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
            EXPECT_TRUE(controller.playing()) << controller.status().toStdString();
        });
        controller.stop();
        ASSERT_FALSE(x.empty()) << take.levelDB;
        const auto& sounding = x[static_cast<std::size_t>(take.side)];
        const auto& silent = x[static_cast<std::size_t>(1 - take.side)];
        gaps[i] = silences(sounding);
        rms[i++] = rmsDB(sounding, static_cast<std::size_t>(0.1 * rate), sounding.size());
        EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0; }))
            << take.levelDB;
    }
    EXPECT_NEAR(rms[1] - rms[0], 20, 0.05) << "silences: " << gaps[0] << "/ " << gaps[1];
    EXPECT_NEAR(rms[2] - rms[1], 20, 0.05) << "silences: " << gaps[1] << "/ " << gaps[2];
}

// On a mono sink the stereo player sounds as the average of its two channels: a centred signal at the level
// it has on each side of a stereo sink, one on the left only 6.02 dB lower; a track with a 0.25 sine on
// both sides at 20·log10(0.25/√2) = −15.05 dBFS RMS. Each RMS is over 0.5 s, a whole number of periods.
TEST_F(ThroughPulse, StereoPlaybackOnAMonoSinkKeepsTheLevelOfEachSide) {
    FakeMusicService music;
    auto rmsOn = [&](const std::string& sink, int channels,
                     const std::function<void(AudioController&)>& play) {
        AudioController controller(
            AudioController::Setup{.clock = {}, .music = &music, .outputDevice = idOf(sink)});
        const auto x = record(monitorOf(sink), channels, static_cast<std::int64_t>(0.6 * rate), [&] {
            play(controller);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
            EXPECT_TRUE(controller.playing()) << controller.status().toStdString();
        });
        controller.stop();
        return x.empty() ? std::nan("") : rmsDB(x[0], static_cast<std::size_t>(0.1 * rate), x[0].size());
    };
    using Route = AudioController::Route;
    auto sine = [](Route route) {
        return [route](AudioController& controller) {
            controller.setLevel(-20);
            controller.setRoute(route);
            controller.playSignal({.kind = SignalKind::sine, .frequency = 1000, .seconds = 2});
        };
    };
    const double stereo = rmsOn("qv-stereo", 2, sine(Route::both));
    const double centred = rmsOn("qv-mono", 1, sine(Route::both));
    const double left = rmsOn("qv-mono", 1, sine(Route::left));
    EXPECT_NEAR(centred - stereo, 0, 0.05) << stereo << " dB on each side of qv-stereo";
    EXPECT_NEAR(left - centred, -6.02, 0.05);

    const QString root = QString::fromStdString(TestHome::freshDir("library"));
    writeTone(root + "/tone.wav", 3);
    const double track = rmsOn("qv-mono", 1, [&](AudioController& controller) {
        controller.setLevel(0);
        controller.playTrack({.id = Uuid::generate(), .title = "Tone", .filename = "tone.wav"}, root);
    });
    EXPECT_NEAR(track, -15.05, 0.05);
}

TEST_F(ThroughPulse, AnalyserOnAMonitorShowsAPlayedToneAtItsBin) {
    // A half-scale sine on the centre of bin 85 (of 4096 at 48 kHz) on the sink's left channel.
    auto player = AudioHardware::system().makeEngine();
    ASSERT_EQ(player->bindOutput(idOf("qv-stereo")), 0);
    auto phase = std::make_shared<std::int64_t>(0);
    player->setOutput(2, [phase](float* const* channels, int, std::int64_t frames) {
        for (std::int64_t t = 0; t < frames; ++t, ++*phase)
            channels[0][t] = static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * 85 * static_cast<double>(*phase) / 4096));
    });
    ASSERT_TRUE(player->start());

    choose(monitorOf("qv-stereo"));
    MicAnalyzer analyser;
    analyser.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyser.running(); }, 5000)) << analyser.status().toStdString();
    EXPECT_EQ(analyser.channelCount(), 2);
    // 20·log10(0.5) ≈ −6.02 dBFS once a whole block holds the tone (a monitor may begin with silence): the
    // float sink passes the samples unchanged.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return peakBin(analyser.spectrum()) == 85 && std::abs(analyser.spectrum()[84].db + 6.02) < 0.05;
        },
        20000))
        << peakBin(analyser.spectrum()) << " "
        << (analyser.spectrum().empty() ? 0 : analyser.spectrum()[84].db);
    analyser.stop();
    player->stop();
}

TEST_F(ThroughPulse, RoutedGeneratorSoundsOnlyOnItsOutputsAndDualModeReadsNoDelayBetweenThem) {
    // Speaker A on output 3 and the electrical reference on output 6 of the 6-channel sink.
    choose("qv-six");
    RoutedSignal routed;
    RoutedSignalTesting::route(routed, "A", 3, 4, 6);
    ASSERT_TRUE(RoutedSignalTesting::playAndWait(routed, {.kind = SignalKind::pink, .seconds = 2}));
    ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
    EXPECT_EQ(routed.outputCount(), 6);

    const auto x = record(monitorOf("qv-six"), 6, static_cast<std::int64_t>(0.5 * rate), [] {});
    ASSERT_EQ(x.size(), 6u);
    for (int c = 0; c < 6; ++c) {
        const bool silent = std::all_of(x[c].begin(), x[c].end(), [](float v) { return v == 0; });
        EXPECT_EQ(silent, c != 2 && c != 5) << "output " << c + 1;
    }
    EXPECT_EQ(x[2], x[5]) << "the reference is a copy of speaker A";

    // Both channels travel in one stream: their relative timing is exact whatever the server's latency.
    choose(monitorOf("qv-six"));
    MicAnalyzer analyser;
    analyser.setDual(true);
    analyser.setMicChannel(2);
    analyser.setReferenceChannel(5);
    analyser.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyser.running(); }, 5000)) << analyser.status().toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return analyser.delayMS().has_value() && analyser.averages() >= 3; }, 30000))
        << analyser.status().toStdString();
    EXPECT_EQ(*analyser.delayMS(), 0.0);
    EXPECT_GT(analyser.correlation(), 0.99);
    ASSERT_FALSE(analyser.transfer().empty());
    for (const TransferBin& bin : analyser.transfer()) ASSERT_GT(bin.coherence, 0.99) << bin.hz << " Hz";
    analyser.stop();

    // Sixteen channels in one stream, speaker A on the last.
    choose("qv-sixteen");
    RoutedSignalTesting::route(routed, "A", 16, 1, 0);
    ASSERT_TRUE(RoutedSignalTesting::playAndWait(routed, {.kind = SignalKind::pink, .seconds = 2}));
    ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
    EXPECT_EQ(routed.outputCount(), 16);
    const auto y = record(monitorOf("qv-sixteen"), 16, static_cast<std::int64_t>(0.5 * rate), [] {});
    ASSERT_EQ(y.size(), 16u);
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(std::all_of(y[c].begin(), y[c].end(), [](float v) { return v == 0; }), c != 15)
            << "output " << c + 1;
    routed.stop();
}

TEST_F(ThroughPulse, AnalyserReadsAToneOnChannelNOfAnyChannelMapAsChannelN) {
    for (const Sink& sink : sinks) {
        ToneBank tones(sink);
        choose(monitorOf(sink.name));
        MicAnalyzer analyser;
        for (int c = 0; c < sink.channels(); ++c) {
            analyser.setMicChannel(c);
            analyser.start();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return peakBin(analyser.spectrum()) == ToneBank::bin(c); }, 20000))
                << sink.name << " channel " << c + 1 << ": peak at bin " << peakBin(analyser.spectrum())
                << ", " << analyser.status().toStdString();
            analyser.stop();
        }
    }
}

TEST_F(ThroughPulse, ServerKilledMidPlayAndMidCaptureGivesAStatusAndARestartedServerWorks) {
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    FakeMusicService music;
    AudioController controller(
        AudioController::Setup{.clock = {}, .music = &music, .outputDevice = idOf("qv-stereo")});
    choose(monitorOf("qv-stereo"));
    MicAnalyzer analyser;
    auto startBoth = [&] {
        controller.playSignal({.kind = SignalKind::pink, .seconds = 5});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
        ASSERT_TRUE(controller.playing()) << controller.status().toStdString();
        analyser.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !analyser.spectrum().empty(); }, 20000))
            << analyser.status().toStdString();
    };
    startBoth();
    ASSERT_FALSE(HasFatalFailure());

    server.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !analyser.running() && !controller.playing(); }, 20000));
    EXPECT_EQ(analyser.status(), serverStopped);
    EXPECT_EQ(controller.status(), serverStopped);

    // The same devices, with the same ids, on the restarted server.
    ASSERT_TRUE(server.start());
    startBoth();
    analyser.stop();
    controller.stop();
}

}  // namespace quorvel
