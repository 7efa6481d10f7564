// The Measure page's interface menu over the virtual device: the device list comes from a worker, follows
// the system's notices, and a chosen device that is gone stays chosen by name.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "Listings.h"
#include "ScreenTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "screens/AnalyzerView.h"

namespace quorvel {

namespace {

struct InterfaceMenuTest : PageTest<AnalyzerView> {
    void open() {
        view = std::make_unique<AnalyzerView>(*m.analyzer);
        show({900, 1300});
    }
    QComboBox* menu() const { return child<QComboBox>("interfaces"); }
    QStringList entries() const {
        QStringList list;
        for (int i = 0; i < menu()->count(); ++i) list << menu()->itemText(i);
        return list;
    }
};

const QString interfaceLabel = "Interface \u00b7 Virtual \u00b7 4 in, 4 out";

}  // namespace

TEST_F(InterfaceMenuTest, AChosenDeviceThatIsGoneIsNamedAsUnavailableAndWorksAgainWhenItIsBack) {
    open();
    ASSERT_EQ(entries(), QStringList({"System default", interfaceLabel}));
    menu()->setCurrentIndex(1);

    // Gone (its server stopped): the menu follows the system's notice, and the choice stays, by name.
    m.system->removeDevice("Interface");
    settleListings();
    EXPECT_EQ(entries(), QStringList({"System default", "Interface \u2014 unavailable"}));
    EXPECT_EQ(menu()->currentIndex(), 1);
    view.reset();
    open();  // the next visit, or the next run, names it the same way
    EXPECT_EQ(menu()->currentText(), "Interface \u2014 unavailable");

    // Back: listed again under its id, still chosen, and capture starts on it.
    m.system->addDevice({.name = "Interface", .inputChannels = 4, .outputChannels = 4});
    settleListings();
    EXPECT_EQ(entries(), QStringList({"System default", interfaceLabel}));
    EXPECT_EQ(menu()->currentIndex(), 1);
    m.analyzer->start();
    SoundModels::events();
    EXPECT_TRUE(m.analyzer->running()) << m.analyzer->status().toStdString();
    m.analyzer->stop();

    // Stored by id alone (by an earlier version), a device that is gone is named by its id.
    QSettings().setValue(InterfacePicker::settingsKey, 4242);
    QSettings().remove(InterfacePicker::nameKey);
    view.reset();
    open();
    EXPECT_EQ(menu()->currentText(), "Audio device 4242 \u2014 unavailable");
}

TEST_F(InterfaceMenuTest, OpeningTheMenuListsTheDevicesAgain) {
    open();
    QSignalSpy listed(&AudioHardware::listing(), &DeviceListing::listed);
    menu()->showPopup();
    SoundModels::events();
    EXPECT_EQ(listed.count(), 1);
    menu()->hidePopup();
}

}  // namespace quorvel
