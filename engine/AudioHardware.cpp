#include "engine/AudioHardware.h"

#include "core/MainThread.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel {

namespace {
std::shared_ptr<AudioSystem>& current() {
    static std::shared_ptr<AudioSystem> system;
    return system;
}
DeviceListing*& listingInstance() {
    static DeviceListing* listing = nullptr;
    return listing;
}
}  // namespace

namespace AudioHardware {

AudioSystem& system() {
    auto& s = current();
    if (!s) {
        s = std::make_shared<LinuxAudioSystem>();
        if (DeviceListing* listing = listingInstance()) listing->replaceSystem(nullptr, s.get());
    }
    return *s;
}

std::shared_ptr<AudioSystem> shared() {
    system();
    return current();
}

std::string missingDevice(AudioSystem& system, std::string ours) {
    std::string sentence = system.notResponding();
    return sentence.empty() ? ours : sentence;
}

std::shared_ptr<AudioSystem> install(std::shared_ptr<AudioSystem> system) {
    auto previous = std::move(current());
    current() = std::move(system);
    if (DeviceListing* listing = listingInstance()) listing->replaceSystem(previous.get(), current().get());
    return previous;
}

DeviceListing& listing() {
    DeviceListing*& listing = listingInstance();
    if (!listing) listing = new DeviceListing;  // never deleted (see the class)
    return *listing;
}

}  // namespace AudioHardware

void DeviceListing::refresh() {
    if (!watching_) {
        AudioSystem& system = AudioHardware::system();  // made first, or it would be watched twice
        watching_ = true;
        watch(system);
    }
    if (running_)
        again_ = true;
    else
        start();
}

void DeviceListing::watch(AudioSystem& system) {
    system.setDevicesChanged([this] { MainThread::post(this, [this] { devicesChanged(); }); });
}

void DeviceListing::replaceSystem(AudioSystem* before, AudioSystem* after) {
    if (watching_ && before) before->setDevicesChanged(nullptr);
    latest_.reset();
    lastGood_.clear();
    ++generation_;
    if (watching_ && after) watch(*after);
}

void DeviceListing::start() {
    running_ = true;
    again_ = false;
    AudioHardware::system();  // made here, on the main thread, if it was not yet
    MainThread::detach([this, system = current(), generation = generation_] {
        const Result<Devices> result = system->devices();
        MainThread::post(this, [this, generation, result] { finish(generation, result); });
    });
}

void DeviceListing::finish(std::uint64_t generation, const Result<Devices>& result) {
    running_ = false;
    if (generation == generation_) {
        latest_ = result;
        if (result) lastGood_ = *result;
        emit listed();
    }
    if (again_ && !running_) start();
}

void DeviceListing::devicesChanged() {
    ++generation_;
    if (running_)
        again_ = true;
    else
        start();
}

}  // namespace quorvel
