// The interface choice on the virtual audio system.
#include "engine/InterfacePicker.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

#include "Listings.h"
#include "engine/AudioHardware.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

class InterfacePickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{{.name = "Built-in"},
                                       {.name = "Interface", .inputChannels = 16, .outputChannels = 16},
                                       {.name = "USB mic", .inputChannels = 1, .outputChannels = 0},
                                       {.name = "Refusing", .bindStatus = -10851},
                                       {.name = "hidden", .nameUnreadable = true}});
        AudioHardware::install(system_);
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::nameKey);
    }
    static void store(const QVariant& value) {
        QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, value);
    }
    void choose(const std::string& device) { store(static_cast<qint64>(system_->idOf(device))); }

    std::shared_ptr<VirtualAudioSystem> system_;
};

}  // namespace

TEST_F(InterfacePickerTest, ListsDevicesInOrderAndSaveStoresTheChoiceForTheNextStart) {
    choose("Interface");
    InterfacePicker picker;
    EXPECT_EQ(picker.selected(), system_->idOf("Interface"));
    settleListings();
    ASSERT_EQ(picker.devices().size(), 5);
    EXPECT_EQ(picker.devices()[2].name, "USB mic");
    // The menus name each device with its sound system and channels.
    EXPECT_EQ(picker.devices()[2].label(), "USB mic \u00b7 Virtual \u00b7 1 in, 0 out");
    EXPECT_EQ(picker.devices()[1].label(), "Interface \u00b7 Virtual \u00b7 16 in, 16 out");
    const std::uint32_t hidden = picker.devices()[4].id;
    EXPECT_EQ(picker.devices()[4].name, "Audio device " + QString::number(hidden));
    EXPECT_EQ((InterfaceOption{7, "Box", {}, 2, 2}.label()), "Box") << "no system known: the name alone";
    EXPECT_TRUE(picker.message().isEmpty());

    // The identity follows the stored value only, not the selection before it is saved.
    const QString defaults = "default|" + QString::number(system_->idOf("Built-in")) + "|" +
                             QString::number(system_->idOf("Built-in"));
    QSignalSpy selected(&picker, &InterfacePicker::selectedChanged);
    picker.setSelected(0);
    picker.setSelected(0);
    EXPECT_EQ(selected.count(), 1);
    EXPECT_EQ(InterfacePicker::stored().identity(*system_),
              "device:" + QString::number(system_->idOf("Interface")));
    picker.save();
    EXPECT_EQ(picker.message(), "Applies to measurement and routed generator on next start.");
    EXPECT_EQ(InterfacePicker::stored().identity(*system_), defaults);
    picker.setSelected(hidden);
    picker.save();
    EXPECT_EQ(QSettings("Quorvel", "Quorvel").value(InterfacePicker::settingsKey).toLongLong(), hidden);
    EXPECT_EQ(InterfacePicker::stored().identity(*system_), "device:" + QString::number(hidden));
}

// apply() binds output, then input for a capture, stopping at the first refusal; a stored non-id means
// defaults in the picker and a refusal in apply().
TEST_F(InterfacePickerTest, ApplyBindsOutputThenInputAndStopsAtTheFirstRefusal) {
    auto engine = system_->makeEngine();
    EXPECT_TRUE(InterfacePicker::stored().apply(*engine, true, *system_))
        << "nothing stored: the defaults stay";
    EXPECT_EQ(engine->boundOutput(), 0u);

    choose("Interface");
    ASSERT_TRUE(InterfacePicker::stored().apply(*engine, false, *system_));
    EXPECT_EQ(engine->boundOutput(), system_->idOf("Interface"));
    EXPECT_EQ(engine->boundInput(), 0u) << "output only";
    ASSERT_TRUE(InterfacePicker::stored().apply(*engine, true, *system_));
    EXPECT_EQ(engine->boundInput(), system_->idOf("Interface"));

    // An input-only microphone binds for a capture, and has no outputs.
    choose("USB mic");
    ASSERT_TRUE(InterfacePicker::stored().apply(*engine, true, *system_));
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{1, 48000}));
    EXPECT_EQ(engine->outputFormat().channelCount, 0);

    choose("Refusing");
    engine->bindInput(0);
    Status refused = InterfacePicker::stored().apply(*engine, true, *system_);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, -10851);
    EXPECT_EQ(refused.error().description, "Selected interface unavailable or incompatible (-10851)");
    EXPECT_EQ(engine->boundInput(), 0u) << "the input is not touched after the output refused";

    for (qint64 bad : {qint64(4242), qint64(-5), qint64(4294967296LL)}) {
        store(bad);
        EXPECT_EQ(InterfacePicker().selected(), bad == 4242 ? 4242u : 0u) << bad;
        Status unknown = InterfacePicker::stored().apply(*engine, true, *system_);
        ASSERT_FALSE(unknown) << bad;
        EXPECT_EQ(unknown.error().description, "Selected interface unavailable or incompatible (-19)");
        EXPECT_EQ(InterfacePicker::stored().identity(*system_), "device:" + QString::number(bad));
    }
    store("not a number");
    EXPECT_EQ(InterfacePicker().selected(), 0u);
    EXPECT_TRUE(InterfacePicker::stored().apply(*engine, true, *system_));
    EXPECT_TRUE(InterfacePicker::stored().identity(*system_).startsWith("default|"));
}

TEST_F(InterfacePickerTest, FailedRefreshKeepsTheListAndItsNoteOutlivesTheNextSuccess) {
    InterfacePicker picker;
    settleListings();
    const auto before = picker.devices();
    ASSERT_EQ(before.size(), 5);
    system_->setListFailure(AudioSystem::listUnavailable);
    picker.refresh();
    settleListings();
    EXPECT_EQ(picker.message(), "Cannot enumerate interfaces");
    system_->setListFailure(AudioSystem::listUnreadable);
    picker.refresh();
    settleListings();
    EXPECT_EQ(picker.message(), "Cannot read interfaces");
    EXPECT_EQ(picker.devices(), before);

    system_->setListFailure(0);
    QSignalSpy changed(&picker, &InterfacePicker::devicesChanged);
    system_->removeDevice("Refusing");  // the system's notice lists again
    settleListings();
    picker.refresh();
    settleListings();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(picker.devices().size(), before.size() - 1);
    EXPECT_EQ(picker.message(), "Cannot read interfaces");
}

// The choice is stored with the device's name, so that a device that is gone (its server stopped, or it
// was unplugged) is still named, here and after a restart; stored by id alone, it is named by its id.
TEST_F(InterfacePickerTest, AChosenDeviceThatIsGoneKeepsItsName) {
    InterfacePicker picker;
    settleListings();
    picker.setSelected(system_->idOf("Interface"));
    picker.save();
    system_->removeDevice("Interface");
    settleListings();
    ASSERT_EQ(picker.devices().size(), 4);
    EXPECT_EQ(picker.selectedName(), "Interface");
    InterfacePicker restarted;
    restarted.save();  // saved again while gone: the name stays
    EXPECT_EQ(InterfacePicker().selectedName(), "Interface");

    store(qint64(4242));
    QSettings("Quorvel", "Quorvel").remove(InterfacePicker::nameKey);
    EXPECT_EQ(InterfacePicker().selectedName(), "Audio device 4242");
}

}  // namespace quorvel
