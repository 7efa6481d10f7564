// The Measure page's interface menu through a private server (pulseaudio, or PipeWire's PulseAudio side)
// that stops and comes back.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThreadPool>

#include "PulseServers.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "platform/LinuxAudioSystem.h"
#include "screens/AnalyzerView.h"

namespace quorvel {

TEST(MeasureInterfacePulse, AChosenDeviceOfAStoppedServerIsNamedAsUnavailableAndCapturesOnceItIsBack) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"pulse"}));
    QSettings().remove(InterfacePicker::settingsKey);
    MicAnalyzer analyzer;
    auto view = std::make_unique<AnalyzerView>(analyzer);
    view->resize(900, 1300);
    view->show();
    auto* menu = view->findChild<QComboBox*>("interfaces");
    ASSERT_NE(menu, nullptr);
    // A device with inputs: the sink's monitor.
    const QString name = QString::fromStdString(PulseServers::monitorOf("qv-six"));
    const auto row = [&] {
        for (int i = 0; i < menu->count(); ++i)
            if (menu->itemText(i).startsWith(name + " \u00b7 PulseAudio")) return i;
        return -1;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return row() > 0; }, 20000));
    menu->setCurrentIndex(row());

    // A listing may keep a sound system's last devices for a while after a failure, so "Refresh devices" is
    // pressed until the stopped server's device is shown as unavailable.
    server.kill();
    auto* refresh = view->findChild<QPushButton*>("refreshDevices");
    const QString unavailable = name + " \u2014 unavailable";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            refresh->click();
            return menu->currentText() == unavailable;
        },
        30000))
        << menu->currentText().toStdString();
    EXPECT_EQ(menu->count(), 2) << "the system default, and the chosen device";

    // Back: the menu hears of it by itself, and capture starts on it once chosen again.
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return row() > 0; }, 30000)) << menu->currentText().toStdString();
    EXPECT_EQ(menu->currentIndex(), row());
    menu->setCurrentIndex(0);
    menu->setCurrentIndex(row());
    analyzer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !analyzer.spectrum().empty(); }, 20000))
        << analyzer.status().toStdString();
    analyzer.stop();
    view.reset();
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel
