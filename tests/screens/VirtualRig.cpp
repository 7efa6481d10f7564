#include "VirtualRig.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThreadPool>
#include <cmath>

#include "AudioHardware.h"
#include "InterfacePicker.h"
#include "MicAnalyzer.h"

namespace {

// Uniform noise in ±0.3 as a function of the frame, so any stretch can be replayed later.
float noise(std::int64_t frame) {
    std::uint64_t z = static_cast<std::uint64_t>(frame) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<float>((static_cast<double>(z >> 11) / 9007199254740992.0 * 2.0 - 1.0) * 0.3);
}

}  // namespace

VirtualRig::VirtualRig() {
    VirtualDevice device;
    device.name = "Interface";
    system_ = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{device});
    system_->setInputSignal("Interface", 1, noise);
    system_->setInputSignal("Interface", 0, [](std::int64_t f) { return noise(f - 480); });
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
