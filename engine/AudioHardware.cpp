#include "engine/AudioHardware.h"

#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {
std::shared_ptr<AudioSystem>& current() {
    static std::shared_ptr<AudioSystem> system;
    return system;
}
}  // namespace

namespace AudioHardware {

AudioSystem& system() {
    auto& s = current();
    if (!s) s = std::make_shared<LinuxAudioSystem>();
    return *s;
}

std::shared_ptr<AudioSystem> install(std::shared_ptr<AudioSystem> system) {
    auto previous = std::move(current());
    current() = std::move(system);
    return previous;
}

}  // namespace AudioHardware

}  // namespace quorvel
