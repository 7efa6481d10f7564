#pragma once
// The machine's audio devices through RtAudio: JACK (when a server runs), PulseAudio and ALSA, listed in
// that order. Ids hash the API and the device name (DeviceIds.h). The default input and output are those
// of the first API that has such a device (RtAudio's own default is only trusted when the API reports
// devices at all; under JACK the "system" client is the default).
//
// Engines open one RtAudio stream per direction, as 32-bit float, non-interleaved, at the device's rate
// (the server's under JACK). Under JACK the streams do not let RtAudio connect their ports: the engine
// connects them to the device's ports itself, by exact name, so that buffer channel k reaches the
// device's k-th port and nothing else. A JACK client of its own watches the server and the device while
// a stream runs; RtAudio's stream state and a stall check cover the other APIs.
//
// Threads: as AudioSystem and AudioEngine. Each engine runs its callbacks on the API's audio thread and
// a watcher thread of its own while running.
#include <memory>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class RtAudioSystem : public AudioSystem {
public:
    // apis: the APIs to use, in order, by RtAudio's short names ("jack", "pulse", "alsa"); empty: all three
    // (those compiled into RtAudio).
    explicit RtAudioSystem(std::vector<std::string> apis = {});
    ~RtAudioSystem() override;

    Result<std::vector<AudioDeviceInfo>> devices() override;
    std::uint32_t defaultInputDevice() override;
    std::uint32_t defaultOutputDevice() override;
    std::unique_ptr<AudioEngine> makeEngine() override;

    struct Backend;

private:
    std::shared_ptr<Backend> backend_;
};

}  // namespace quorvel
