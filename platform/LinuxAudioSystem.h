#pragma once
// The machine's audio devices: JACK (when a server runs) through our own client (JackClients.h), then
// PulseAudio (or PipeWire's PulseAudio side) through our own client (PulseDevices.h, PulseStream.h), then
// ALSA through RtAudio, listed in that order. Devices of one API that share a name are listed apart, the
// second as "<name> (2)", ordered by PulseAudio's sink (else source) name or by RtAudio's ALSA order
// (DeviceIds::tellApart); a unique name stays as it is. Ids hash the API and that name (DeviceIds.h). The
// default input and output are those of the first API that has such a device (under JACK the "system"
// client; under PulseAudio the server's default sink and source as RtAudio 5.2 ranked them; RtAudio's own
// ALSA default is only trusted when the API reports devices at all).
//
// Engines play and capture as 32-bit float, non-interleaved, at the device's rate (the server's under
// JACK). An output laid out with OutputLayout::mixToMono opens one channel on a device with one output,
// which plays the average of the rendered channels (AudioEngineBase.h). A JACK direction runs in one
// JackStream per run, whose ports are connected by exact name to the device's, so that buffer channel k
// reaches the device's k-th port and nothing else; it reports the server stopping and the device's client
// leaving. The PulseAudio directions run in one PulseStream per run, whose streams carry the devices' own
// channels in their own order and never move to another device; it reports the server stopping and a device
// going away. An ALSA direction is one RtAudio stream: an error on its audio thread ends it as a failure. A
// stall check covers any stream that stops calling back.
//
// Failures read as our own sentences naming the device or the server; what JACK, PulseAudio and RtAudio
// said goes to the log (AudioErrors.h). ALSA's own messages ("ALSA lib … cannot find card") go to the log
// (Log.h) instead of stderr.
//
// Every call that may wait on a sound server runs on that server's thread (ServerThread.h: JACK's, the
// PulseAudio server's, and ALSA's, whose default device goes through ALSA's PulseAudio plugin) and is waited
// for only until a deadline: five seconds for a listing and for each step of a start, 750 ms for a stop. A
// server that missed one is not responding (notResponding() names it) until it answers again: meanwhile its
// listings and starts fail at once, with "The JACK server is not responding", "The PulseAudio server is not
// responding" or, for an ALSA device, "The audio device <name> is not responding".
//
// A sound system whose list fails (a server that does not answer, a query that fails once) is listed as it
// was last listed, for ten seconds from the first failure, and says so in the log: a chosen device stays
// where it is. A device missing from a list that succeeded is gone at once, and so are the devices of a JACK
// server that our client saw stop.
//
// devices() lists every sound system and keeps what it lists as the last list. Binding, the formats, the
// default devices and a start take their devices from the last list, and list again only for a device that
// it lacks (it may have come since).
//
// Threads: any thread may list, at the same time as others; makeEngine() and the engines as AudioSystem and
// AudioEngine. Listing, binding, the formats, the defaults and a start may wait on a server up to their
// deadlines: keep them off the main thread. An engine's stop() returns within a second whatever its servers
// do. Each engine runs its callbacks on the APIs' audio threads and a watcher thread of its own while
// running.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class PulseWatch;
class ServerThread;

class LinuxAudioSystem : public AudioSystem {
public:
    // apis: the APIs to use, in order, by short name ("jack", "pulse", "alsa"); empty: all three (ALSA when
    // compiled into RtAudio).
    explicit LinuxAudioSystem(std::vector<std::string> apis = {});
    ~LinuxAudioSystem() override;

    Result<std::vector<AudioDeviceInfo>> devices() override;
    std::uint32_t defaultInputDevice() override;
    std::uint32_t defaultOutputDevice() override;
    std::unique_ptr<AudioEngine> makeEngine() override;
    std::string notResponding() override;
    std::uint32_t chosenDevice(std::uint32_t id, const std::string& key) override;
    // PulseAudio's changes (PulseWatch.h), and any sound server that answers again after it had not;
    // JACK's devices coming and going are not watched.
    void setDevicesChanged(std::function<void()> changed) override;

    struct Backend;

private:
    std::shared_ptr<Backend> backend_;
    std::unique_ptr<PulseWatch> pulseWatch_;
    std::vector<std::pair<ServerThread*, int>> answerWatches_;  // the servers' answering-again notices
};

}  // namespace quorvel
