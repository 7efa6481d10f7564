// The interface choice against the fixture's JACK server and its test interfaces.
#include <gtest/gtest.h>

#include <QSettings>

#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/RtAudioSystem.h"

namespace quorvel {

namespace {

class InterfacePickerJack : public ::testing::Test {
protected:
    void SetUp() override {
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
        QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    }
    static std::uint32_t idOf(const InterfacePicker& picker, const QString& name) {
        for (const auto& d : picker.devices())
            if (d.name == name) return d.id;
        return 0;
    }
    static void choose(InterfacePicker& picker, std::uint32_t id) {
        picker.setSelected(id);
        picker.save();
    }
};

}  // namespace

TEST_F(InterfacePickerJack, ChosenInterfaceBindsWithItsChannelCounts) {
    InterfacePicker picker;
    const std::uint32_t id = idOf(picker, "qv-sixtyfour");
    ASSERT_NE(id, 0u);
    choose(picker, id);
    EXPECT_EQ(InterfacePicker::identity(), "device:" + QString::number(id));
    auto engine = AudioHardware::system().makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*engine, true));
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{64, 48000}));
    EXPECT_EQ(engine->outputFormat(), (DeviceFormat{64, 48000}));
}

TEST_F(InterfacePickerJack, UnknownStoredIdIsRefusedWithItsStatus) {
    QSettings("Quorvel", "Quorvel").setValue(InterfacePicker::settingsKey, 12345);
    auto engine = AudioHardware::system().makeEngine();
    Status s = InterfacePicker::apply(*engine, true);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().description, "Selected interface unavailable or incompatible (-19)");
}

TEST_F(InterfacePickerJack, InputOnlyMicrophoneCapturesWhileARoutedEngineFindsNoOutputs) {
    InterfacePicker picker;
    const std::uint32_t mic = idOf(picker, "qv-mic");
    ASSERT_NE(mic, 0u);
    choose(picker, mic);

    auto capture = AudioHardware::system().makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*capture, true));
    EXPECT_EQ(capture->inputFormat(), (DeviceFormat{2, 48000}));
    capture->installTap([](const AudioInputBlock&) {});
    Status started = capture->start();
    EXPECT_TRUE(started) << started.error().description;
    capture->stop();

    auto routed = AudioHardware::system().makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*routed, false));
    EXPECT_EQ(routed->outputFormat().channelCount, 0);

    // Choosing a full interface afterwards works again.
    choose(picker, idOf(picker, "qv-sixteen"));
    ASSERT_TRUE(InterfacePicker::apply(*routed, false));
    EXPECT_EQ(routed->outputFormat().channelCount, 16);
}

TEST_F(InterfacePickerJack, OutputOnlyDeviceGivesTheMicrophoneNoChannels) {
    InterfacePicker picker;
    choose(picker, idOf(picker, "qv-speaker"));
    auto capture = AudioHardware::system().makeEngine();
    ASSERT_TRUE(InterfacePicker::apply(*capture, true));
    EXPECT_EQ(capture->inputFormat().channelCount, 0);
}

}  // namespace quorvel
