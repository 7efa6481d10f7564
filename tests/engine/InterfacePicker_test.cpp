#include "engine/InterfacePicker.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "engine/AudioHardware.h"
#include "engine/InputPicker.h"
#include "engine/MicrophonePermission.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

VirtualDevice device(std::string name, int in, int out, std::int32_t bindStatus = 0) {
    VirtualDevice d;
    d.name = std::move(name);
    d.inputChannels = in;
    d.outputChannels = out;
    d.bindStatus = bindStatus;
    return d;
}

class InterfacePickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VirtualDevice unnamed = device("hidden", 2, 2);
        unnamed.nameUnreadable = true;
        system_ = std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{device("Built-in", 2, 2), device("Interface", 16, 16),
                                       device("USB mic", 1, 0), device("Refusing", 2, 2, -10851), unnamed});
        AudioHardware::install(system_);
        settings().remove(InterfacePicker::settingsKey);
    }
    static QSettings settings() { return QSettings("Quorvel", "Quorvel"); }
    static void store(const QVariant& value) { settings().setValue(InterfacePicker::settingsKey, value); }

    std::shared_ptr<VirtualAudioSystem> system_;
};

}  // namespace

TEST_F(InterfacePickerTest, ListsDevicesInOrderWithAFallbackNameAndReadsTheStoredChoice) {
    store(static_cast<qint64>(system_->idOf("Interface")));
    InterfacePicker picker;
    EXPECT_EQ(picker.selected(), system_->idOf("Interface"));
    ASSERT_EQ(picker.devices().size(), 5);
    EXPECT_EQ(picker.devices()[0].name, "Built-in");
    EXPECT_EQ(picker.devices()[2].name, "USB mic");
    const std::uint32_t hidden = picker.devices()[4].id;
    EXPECT_EQ(picker.devices()[4].name, "Audio device " + QString::number(hidden));
    EXPECT_TRUE(picker.message().isEmpty());
}

TEST_F(InterfacePickerTest, SaveStoresTheChoiceAndIdentityFollowsTheStoredValueOnly) {
    InterfacePicker picker;
    EXPECT_EQ(picker.selected(), 0u);
    const QString defaults = "default|" + QString::number(system_->idOf("Built-in")) + "|" +
                             QString::number(system_->idOf("Built-in"));
    EXPECT_EQ(InterfacePicker::identity(), defaults);

    QSignalSpy selected(&picker, &InterfacePicker::selectedChanged);
    picker.setSelected(system_->idOf("Interface"));
    picker.setSelected(system_->idOf("Interface"));
    EXPECT_EQ(selected.count(), 1);
    EXPECT_EQ(InterfacePicker::identity(), defaults) << "not saved yet";

    picker.save();
    EXPECT_EQ(picker.message(), "Applies to measurement and routed generator on next start.");
    EXPECT_EQ(settings().value(InterfacePicker::settingsKey).toLongLong(), system_->idOf("Interface"));
    EXPECT_EQ(InterfacePicker::identity(), "device:" + QString::number(system_->idOf("Interface")));

    picker.setSelected(0);
    picker.save();
    EXPECT_EQ(InterfacePicker::identity(), defaults);
}

TEST_F(InterfacePickerTest, ApplyBindsOutputThenInputAndStopsAtTheFirstRefusal) {
    auto engine = system_->makeEngine();
    EXPECT_TRUE(InterfacePicker::apply(*engine, true)) << "nothing stored: the defaults stay";
    EXPECT_EQ(engine->boundOutput(), 0u);

    store(static_cast<qint64>(system_->idOf("Interface")));
    ASSERT_TRUE(InterfacePicker::apply(*engine, false));
    EXPECT_EQ(engine->boundOutput(), system_->idOf("Interface"));
    EXPECT_EQ(engine->boundInput(), 0u) << "output only";

    store(static_cast<qint64>(system_->idOf("Refusing")));
    Status refused = InterfacePicker::apply(*engine, true);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, -10851);
    EXPECT_EQ(refused.error().description, "Selected interface unavailable or incompatible (-10851)");
    EXPECT_EQ(engine->boundInput(), 0u) << "the input is not touched after the output refused";

    store(static_cast<qint64>(4242));
    Status unknown = InterfacePicker::apply(*engine, true);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().description, "Selected interface unavailable or incompatible (-19)");
}

TEST_F(InterfacePickerTest, InputOnlyMicrophoneBindsForCaptureButHasNoOutputs) {
    store(static_cast<qint64>(system_->idOf("USB mic")));
    auto capture = system_->makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*capture, true));
    EXPECT_EQ(capture->inputFormat(), (DeviceFormat{1, 48000}));

    auto routed = system_->makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*routed, false));
    EXPECT_EQ(routed->outputFormat().channelCount, 0);
}

TEST_F(InterfacePickerTest, StoredValuesThatAreNoDeviceIdMeanDefaultsInThePickerAndARefusalInApply) {
    auto engine = system_->makeEngine();
    for (qint64 bad : {qint64(-5), qint64(4294967296LL)}) {
        store(bad);
        InterfacePicker picker;
        EXPECT_EQ(picker.selected(), 0u) << bad;
        EXPECT_FALSE(InterfacePicker::apply(*engine, true)) << bad;
        EXPECT_EQ(InterfacePicker::identity(), "device:" + QString::number(bad));
    }
    store("not a number");
    InterfacePicker picker;
    EXPECT_EQ(picker.selected(), 0u);
    EXPECT_TRUE(InterfacePicker::apply(*engine, true));
}

TEST_F(InterfacePickerTest, FailedRefreshKeepsTheListAndItsNoteOutlivesTheNextSuccess) {
    InterfacePicker picker;
    const auto before = picker.devices();
    system_->setListFailure(AudioSystem::listUnavailable);
    picker.refresh();
    EXPECT_EQ(picker.message(), "Cannot enumerate interfaces");
    system_->setListFailure(AudioSystem::listUnreadable);
    picker.refresh();
    EXPECT_EQ(picker.message(), "Cannot read interfaces");
    EXPECT_EQ(picker.devices(), before);

    system_->setListFailure(0);
    system_->removeDevice("Refusing");
    QSignalSpy changed(&picker, &InterfacePicker::devicesChanged);
    picker.refresh();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(picker.devices().size(), before.size() - 1);
    EXPECT_EQ(picker.message(), "Cannot read interfaces");
}

TEST(InputPicker, RefreshOnlySetsTheGuidance) {
    InputPicker picker;
    EXPECT_TRUE(picker.status().isEmpty());
    picker.refresh();
    EXPECT_EQ(picker.status(),
              "Choose the input device in your system's sound settings; channel selection is below.");
    EXPECT_TRUE(picker.options().isEmpty());
    EXPECT_TRUE(picker.selected().isEmpty());
}

TEST(MicrophonePermission, GrantsLaterOnTheMainThread) {
    QObject context;
    int answers = 0;
    bool granted = false;
    MicrophonePermission::requestAccess(&context, [&](bool g) {
        ++answers;
        granted = g;
    });
    EXPECT_EQ(answers, 0) << "the answer never comes inside the request";
    QTRY_COMPARE(answers, 1);
    EXPECT_TRUE(granted);
}

}  // namespace quorvel
