#pragma once
// The process's one audio system, through which every engine object finds devices and makes its audio
// engines. The product uses LinuxAudioSystem over JACK, PulseAudio and ALSA; tests install a
// VirtualAudioSystem (or a LinuxAudioSystem limited to their JACK server) before they create model objects.
//
// The device menus (the Measure page's interface picker, the output menu) read the devices through
// listing(), which asks the system on a worker thread: a sound server may take seconds to answer.
//
// Threads: main thread only, unless a function says otherwise.
#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class DeviceListing;

namespace AudioHardware {

// The current system, made on first use.
AudioSystem& system();
// The same, for a worker to hold while it binds and starts engines (the system may be replaced meanwhile).
std::shared_ptr<AudioSystem> shared();

// For a start that found no device (none for the stored id, no input, no output): the system's sentence
// naming a sound server that is not responding, whose devices may be missing for that reason, else `ours`.
// Any thread; never waits.
std::string missingDevice(AudioSystem& system, std::string ours);

// Replaces the system and returns the previous one (null if none was made yet). Engines made by the old
// system keep using it, so the caller keeps it alive while they exist. The listing starts afresh.
std::shared_ptr<AudioSystem> install(std::shared_ptr<AudioSystem> system);

// The device list of the menus, made on first use.
DeviceListing& listing();

}  // namespace AudioHardware

// The current system's devices as the menus show them: the last listing at once, and a new one read on a
// worker thread when a menu asks, and whenever the system's change notice says the devices may differ. At
// most one listing runs at a time; one asked for meanwhile runs when it ends. A listing that a change
// notice has overtaken is dropped, as it may show a device that is gone, and read again; one of a system
// that has since been replaced is dropped.
//
// Threads: main thread only. It lives as long as the process: workers and notices post to it.
class DeviceListing : public QObject {
    Q_OBJECT
public:
    using Devices = std::vector<AudioDeviceInfo>;

    // The last listing: the devices, or why they could not be listed; absent until the first has come back.
    const std::optional<Result<Devices>>& latest() const { return latest_; }
    // The devices of the last listing that succeeded; empty until one has.
    const Devices& lastGood() const { return lastGood_; }

    // Lists the devices again on a worker thread; listed() follows. The first call also asks the system
    // for its change notices.
    void refresh();

signals:
    // A listing has come back; latest() holds it.
    void listed();

private:
    friend AudioSystem& AudioHardware::system();
    friend std::shared_ptr<AudioSystem> AudioHardware::install(std::shared_ptr<AudioSystem>);
    friend DeviceListing& AudioHardware::listing();

    DeviceListing() = default;
    // Asks `system` for change notices, once the menus use the listing.
    void watch(AudioSystem& system);
    void replaceSystem(AudioSystem* before, AudioSystem* after);
    void start();
    void finish(std::uint64_t generation, const Result<Devices>& result);
    void devicesChanged();

    std::optional<Result<Devices>> latest_;
    Devices lastGood_;
    std::uint64_t generation_ = 0;  // moves on with each change notice and each new system
    bool running_ = false;          // a listing is out on a worker
    bool again_ = false;            // list once more when it comes back
    bool watching_ = false;         // the menus use the listing: the system's notices are asked for
};

}  // namespace quorvel
