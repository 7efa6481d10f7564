// The Measure page's interface menu through a private server (pulseaudio, or PipeWire's PulseAudio side)
// that stops and comes back.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>

#include "Listings.h"
#include "PulseServers.h"
#include "engine/AudioHardware.h"
#include "engine/MicAnalyzer.h"
#include "platform/LinuxAudioSystem.h"
#include "screens/AnalyzerView.h"

namespace quorvel {

TEST(MeasureInterfacePulse, AChosenDeviceOfAStoppedServerIsNamedAsUnavailableAndCapturesOnceItIsBack) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"pulse"}));
    MicAnalyzer analyzer;
    AnalyzerView view(analyzer);
    view.show();
    auto* menu = view.findChild<QComboBox*>("interfaces");
    const QString name = QString::fromStdString(PulseServers::monitorOf("qv-six"));  // a device with inputs
    const auto row = [&] { return menu->findText(name + " \u00b7 PulseAudio", Qt::MatchStartsWith); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return row() > 0; }, 20000));
    menu->setCurrentIndex(row());

    // A listing may keep a sound system's last devices a while after it fails: the menu is opened until it
    // shows the stopped server's device as unavailable (each opening lists again).
    server.kill();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            menu->showPopup();
            menu->hidePopup();
            return menu->currentText() == name + " \u2014 unavailable";
        },
        30000))
        << menu->currentText().toStdString();

    // Back: the menu hears of it by itself, and capture starts on it once chosen again.
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return row() > 0 && menu->currentIndex() == row(); }, 30000))
        << menu->currentText().toStdString();
    menu->setCurrentIndex(0);
    menu->setCurrentIndex(row());
    analyzer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !analyzer.spectrum().empty(); }, 20000))
        << analyzer.status().toStdString();
    analyzer.stop();
    settleListings();
}

}  // namespace quorvel
