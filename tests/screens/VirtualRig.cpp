#include "VirtualRig.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThreadPool>
#include <cmath>

#include "ScreenTesting.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"

namespace quorvel {

VirtualRig::VirtualRig() {
    VirtualDevice device;
    device.name = "Interface";
    system_ = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{device});
    system_->setInputSignal("Interface", 1, ScreenTesting::noise);
    system_->setInputSignal("Interface", 0, [](std::int64_t f) { return ScreenTesting::noise(f - 480); });
    AudioHardware::install(system_);
    QSettings().setValue(InterfacePicker::settingsKey, static_cast<qint64>(interfaceID()));
}

std::uint32_t VirtualRig::interfaceID() const { return system_->idOf("Interface"); }

void VirtualRig::events() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void VirtualRig::pump(int blocks) {
    for (int i = 0; i < blocks; ++i) {
        system_->pump(AudioEngine::tapBlockFrames);
        events();
    }
    events();
}

bool VirtualRig::measure(MicAnalyzer& analyzer, int maxBlocks) {
    events();
    for (int i = 0; i < maxBlocks; ++i) {
        if (!analyzer.spectrum().empty() && (!analyzer.dual() || analyzer.delayMS())) return true;
        pump(1);
    }
    return !analyzer.spectrum().empty() && (!analyzer.dual() || analyzer.delayMS());
}

}  // namespace quorvel
