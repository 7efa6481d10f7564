// The analyser and the routed generator together on a private JACK server killed and restarted at once.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QThreadPool>

#include "JackTestServer.h"
#include "RoutedSignalTesting.h"
#include "TestSignals.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

using TestSignals::peakBin;

TEST(ServerRestartJack, AnalyserAndRoutedGeneratorSurviveFiftyImmediateRestarts) {
    constexpr int restarts = 50;
    // A 2 × 2 loopback: the generator plays bin 85's centre (of 4096 at 48 kHz) on output 1 to input 1.
    const std::vector<std::string> loop{"--name", "qv-loop", "--capture", "2", "--playback", "2"};
    const SignalSettings tone{.kind = SignalKind::sine, .frequency = 85 * 48000.0 / 4096, .seconds = 1};
    JackTestServer server(JackTestServer::privateName("restart"));
    ASSERT_TRUE(server.start());
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"}));
    QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);

    MicAnalyzer analyser;
    RoutedSignal routed;
    RoutedSignalTesting::route(routed, "A", 1, 2, 0);
    auto startBoth = [&] {
        ASSERT_TRUE(server.startInterface(QUORVEL_JACK_INTERFACE, loop, "qv-loop:capture_2"));
        if (QSettings("Quorvel", "Quorvel").value(InterfacePicker::settingsKey).toLongLong() == 0) {
            InterfacePicker picker;
            for (const auto& d : picker.devices())
                if (d.name == "qv-loop") picker.setSelected(d.id);
            ASSERT_NE(picker.selected(), 0u);
            picker.save();
        }
        ASSERT_TRUE(RoutedSignalTesting::playAndWait(routed, tone));
        ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
        analyser.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return analyser.running(); }, 5000))
            << analyser.status().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return peakBin(analyser.spectrum()) == 85; }, 20000))
            << "captured nothing: peak at bin " << peakBin(analyser.spectrum());
    };

    startBoth();
    ASSERT_FALSE(HasFatalFailure());
    for (int i = 0; i < restarts; ++i) {
        SCOPED_TRACE("restart " + std::to_string(i + 1));
        server.kill();
        // A client opens at once (as an interface refresh would) while the dead server's clients may linger.
        (void)AudioHardware::system().devices();
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !analyser.running() && !routed.isPlaying(); }, 20000));
        EXPECT_EQ(analyser.status(), "The JACK server stopped");
        EXPECT_EQ(routed.status(), "The JACK server stopped");
        EXPECT_TRUE(analyser.spectrum().empty());
        startBoth();
        ASSERT_FALSE(HasFatalFailure());
    }
    analyser.stop();
    routed.stop();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel
