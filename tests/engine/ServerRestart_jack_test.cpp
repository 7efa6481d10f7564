// The analyser and the routed generator together on a private JACK server killed and restarted at once,
// and a private server that freezes: jackd, or PipeWire through its JACK side.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "JackFreezableServer.h"
#include "JackOpenLocked.h"
#include "JackServers.h"
#include "JackTestServer.h"
#include "LoopbackRecorder.h"
#include "PipeWireTestServer.h"
#include "QtPrinting.h"
#include "RoutedSignalTesting.h"
#include "TestSignals.h"
#include "Waits.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "platform/JackClients.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {

using TestSignals::peakBin;

// A 2 × 2 loopback on the private server.
const std::vector<std::string> loop{"--name", "qv-loop", "--capture", "2", "--playback", "2"};

// The generator plays bin 85's centre (of 4096 at 48 kHz) on output 1, and the analyser must hear it.
void playAndCapture(RoutedSignal& routed, MicAnalyzer& analyser) {
    const SignalSettings tone{.kind = SignalKind::sine, .frequency = 85 * 48000.0 / 4096, .seconds = 1};
    ASSERT_TRUE(RoutedSignalTesting::playAndWait(routed, tone));
    ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
    analyser.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return analyser.running(); }, 5000)) << analyser.status().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peakBin(analyser.spectrum()) == 85; }, 20000))
        << "captured nothing: peak at bin " << peakBin(analyser.spectrum());
}

// Kills the server `restarts` times, each time listing the devices at once (as an interface refresh
// would, while the dead server's clients may linger) and starting it again at once; both models must
// report the stop, and start again on the new server.
void restartRepeatedly(int restarts) {
    JackTestServer server(JackTestServer::privateName("restart"));
    ASSERT_TRUE(server.start());
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"}));
    QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    const int opensBefore = JackOpenLocked::opensWhileHeld();

    MicAnalyzer analyser;
    RoutedSignal routed;
    RoutedSignalTesting::route(routed, "A", 1, 2, 0);
    auto startBoth = [&] {
        ASSERT_TRUE(server.startInterface(QUORVEL_JACK_INTERFACE, loop, "qv-loop:capture_2"));
        if (QSettings("Quorvel", "Quorvel").value(InterfacePicker::settingsKey).toLongLong() == 0) {
            InterfacePicker picker;
            // The picker lists on a worker; the device is looked up here at once.
            if (auto listed = AudioHardware::system().devices())
                for (const auto& d : *listed)
                    if (d.name == "qv-loop") picker.setSelected(d.id);
            ASSERT_NE(picker.selected(), 0u);
            picker.save();
        }
        playAndCapture(routed, analyser);
        EXPECT_EQ(JackOpenLocked::clientsHeld(), 1) << "one client serves both";
    };

    startBoth();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    for (int i = 0; i < restarts; ++i) {
        SCOPED_TRACE("restart " + std::to_string(i + 1));
        // How far a run got, should the process die.
        std::fprintf(stderr, "restart %d\n", i + 1);
        server.kill();
        (void)AudioHardware::system().devices();
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !analyser.running() && !routed.isPlaying(); }, 20000));
        EXPECT_EQ(analyser.status(), "The JACK server stopped");
        EXPECT_EQ(routed.status(), "The JACK server stopped");
        EXPECT_TRUE(analyser.spectrum().empty());
        EXPECT_EQ(JackOpenLocked::clientsHeld(), 0) << "the dead server's client is closed";
        server.release();
        startBoth();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
    }
    EXPECT_EQ(JackOpenLocked::opensWhileHeld(), opensBefore) << "a client opened beside another";
    analyser.stop();
    routed.stop();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace

TEST(ServerRestartJack, AnalyserAndRoutedGeneratorSurviveFiftyImmediateRestarts) {
    QUORVEL_JACKD_ONLY(
        "restarts jackd; PipeWire's: KilledPipeWireIsReportedAsStoppedAndARestartedOnePlaysAgain");
    restartRepeatedly(50);
}

// libjack marks the server gone before it calls the shutdown callback; the later the callback, the longer
// an open elsewhere in the process would delete the clients still open.
TEST(ServerRestartJack, AnalyserAndRoutedGeneratorSurviveRestartsWithLateShutdownCallbacks) {
    QUORVEL_JACKD_ONLY("the late callback is jackd's libjack's (PipeWire's calls its own at once)");
    JackOpenLocked::delayShutdownCallbacks(std::chrono::milliseconds(20));
    restartRepeatedly(10);
    JackOpenLocked::delayShutdownCallbacks(std::chrono::milliseconds(0));
}

// A server that stops calling back without going away is the device stalling, named as the user chose it.
// Whether the user stops first or the stall is reported first, stop() and a listing return while the server
// is still frozen (the listing with the devices it last had), a start fails at once, and once the server
// goes on the engine starts again.
TEST(ServerRestartJack, AFrozenServerIsTheDeviceStallingAndNeverHangsAStop) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    JackFreezableServer server;
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"jack"});
    auto engine = system.makeEngine();
    ASSERT_EQ(engine->bindInput(deviceId(system, server.device())), 0);
    std::atomic<int> blocks{0};
    std::mutex mutex;
    std::string failure;
    engine->installTap([&](const AudioInputBlock&) { ++blocks; });
    engine->setFailureHandler([&](const Error& e) {
        std::lock_guard lock(mutex);
        failure = e.description;
    });
    auto failed = [&] {
        std::lock_guard lock(mutex);
        return !failure.empty();
    };
    for (const bool stopFirst : {true, false}) {
        SCOPED_TRACE(stopFirst ? "stopped before the stall is seen" : "stopped after the stall is reported");
        blocks = 0;
        ASSERT_TRUE(engine->start());
        ASSERT_TRUE(pollUntil([&] { return blocks >= 2; }, std::chrono::seconds(30)));
        const auto listed = system.devices();
        ASSERT_TRUE(listed);
        server.freeze(true);
        if (!stopFirst) {
            ASSERT_TRUE(pollUntil(failed, std::chrono::seconds(60)));
            std::lock_guard lock(mutex);
            EXPECT_EQ(failure, "The audio device " + server.device() + " stopped delivering audio");
        }
        // A listing on another thread at the same time, as a page refreshing its menu would.
        Result<std::vector<AudioDeviceInfo>> listing = std::vector<AudioDeviceInfo>{};
        std::chrono::milliseconds listedAgain{};
        std::thread lister([&] { listedAgain = timeOf([&] { listing = system.devices(); }); });
        const auto stopped = timeOf([&] { engine->stop(); });
        lister.join();
        // Within a second, with room for a loaded machine: well below a listing's five-second deadline.
        EXPECT_LE(stopped, std::chrono::seconds(3));
        EXPECT_LE(listedAgain, std::chrono::seconds(6));
        ASSERT_TRUE(listing);
        EXPECT_EQ(*listing, *listed) << "the last devices stand in";
        Status started;
        const auto refused = timeOf([&] { started = engine->start(); });
        ASSERT_FALSE(started);
        EXPECT_EQ(started.error().description, "The JACK server is not responding");
        EXPECT_LE(refused, std::chrono::seconds(6));
        std::fprintf(stderr, "frozen server, %s: stop %lld ms, listing %lld ms, start refused in %lld ms\n",
                     stopFirst ? "stopped first" : "stall reported first",
                     static_cast<long long>(stopped.count()), static_cast<long long>(listedAgain.count()),
                     static_cast<long long>(refused.count()));

        server.freeze(false);
        // Once the server answers (and a stalled client is closed), the engine starts again.
        ASSERT_TRUE(pollUntil([] { return JackClients::answering(); }, std::chrono::seconds(30)));
        EXPECT_EQ(system.notResponding(), "");
        {
            std::lock_guard lock(mutex);
            failure.clear();
        }
        blocks = 0;
        ASSERT_TRUE(engine->start());
        ASSERT_TRUE(pollUntil([&] { return blocks >= 2; }, std::chrono::seconds(30)));
        engine->stop();
        EXPECT_FALSE(failed());
    }
}

// PipeWire killed while the analyser and the routed generator run through its JACK side on one of its
// sinks (output 1 to the monitor's channel 1): both say the server stopped (about two seconds after the
// kill, once its client is no longer called back), not that the device stalled, and both start again on
// the sink of a restarted PipeWire.
TEST(ServerRestartJack, KilledPipeWireIsReportedAsStoppedAndARestartedOnePlaysAgain) {
    QUORVEL_PIPEWIRE_ONLY("kills PipeWire; jackd's kills are the tests above");
    PipeWireTestServer server;
    ASSERT_TRUE(server.start());
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"}));
    // A sink's JACK ports come once the session manager has set the sink up, after it is listed.
    auto sinkId = [] { return deviceId(AudioHardware::system(), "qv-six"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinkId() != 0; }, 20000));
    const std::uint32_t sink = sinkId();
    QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, static_cast<qint64>(sink));
    MicAnalyzer analyser;
    RoutedSignal routed;
    RoutedSignalTesting::route(routed, "A", 1, 2, 0);
    auto startBoth = [&] { playAndCapture(routed, analyser); };
    startBoth();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    const auto killed = std::chrono::steady_clock::now();
    server.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !analyser.running() && !routed.isPlaying(); }, 20000));
    std::fprintf(stderr, "reported %lld ms after the kill\n",
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - killed)
                                            .count()));
    EXPECT_EQ(analyser.status(), "The JACK server stopped");
    EXPECT_EQ(routed.status(), "The JACK server stopped");
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 0) << "the dead server's client is closed";

    ASSERT_TRUE(server.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinkId() != 0; }, 20000));
    EXPECT_EQ(sinkId(), sink);
    startBoth();
    analyser.stop();
    routed.stop();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel
