#pragma once
// The audio-device layer: a system object that lists devices and makes engines, and an engine that is
// bound to a device, reports its formats, captures through an input tap and plays through a render
// callback. Two implementations: LinuxAudioSystem (JACK, PulseAudio, ALSA) and VirtualAudioSystem (a
// scripted device table for tests).
//
// Device ids are stable, non-zero 32-bit values made from the API and the device name (DeviceIds.h), so
// a stored id keeps naming the same device when others come and go. 0 always means "the system default".
//
// Binding. An engine is bound to a device for output and for input separately. Binding checks only that
// the device exists; it never checks the direction's channels. A direction the device lacks reports a
// format with 0 channels, and it is start() that refuses to open a stream the device cannot carry. So an
// engine that only captures can be bound "output first, input second" to an input-only microphone and
// works, while an engine that plays to such a device learns from its output format (0 channels) that it
// cannot.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace quorvel {

// One device as the system lists it.
struct AudioDeviceInfo {
    std::uint32_t id = 0;     // stable, non-zero (DeviceIds.h)
    std::string name;         // as the API reports it; empty when it could not be read
    std::string api;          // "JACK", "PulseAudio", "ALSA", "Virtual"
    int inputChannels = 0;    // capture channels
    int outputChannels = 0;   // playback channels
    double sampleRateHz = 0;  // the rate an engine uses on this device
    // What the sound system calls the device, after its API: "PulseAudio:<sink, else source>",
    // "JACK:<client>", "ALSA:<device name>". It stays from run to run and, unlike the name, tells apart two
    // devices of one model; a choice stored with it finds its device again (AudioSystem::chosenDevice()).
    // Empty when the system has no such name.
    std::string key;

    bool operator==(const AudioDeviceInfo&) const = default;
};

// The format of one direction of an engine. channelCount 0 means the direction has no channels (no
// device, or a device without that direction); sampleRateHz 0 means no device at all.
struct DeviceFormat {
    int channelCount = 0;
    double sampleRateHz = 0;

    bool operator==(const DeviceFormat&) const = default;
};

// One block of captured input, as the tap receives it. Valid only during the tap call.
struct AudioInputBlock {
    const float* const* channels =
        nullptr;                  // one pointer per channel; null when the samples are not 32-bit float
    int channelCount = 0;         // all input channels of the device
    std::int64_t frameCount = 0;  // at least AudioEngine::tapBlockFrames
    std::int64_t sampleTime = 0;  // position of the first frame on the input's sample clock
    bool sampleTimeValid = true;  // false: sampleTime means nothing
};

// Audio thread only. Must not allocate, lock, log or wait.
using AudioTap = std::function<void(const AudioInputBlock& block)>;
// Audio thread only, same rules. Fills frameCount samples of each of channelCount planar channels.
using AudioRender = std::function<void(float* const* channels, int channelCount, std::int64_t frameCount)>;
// Called at most once per run, on a background thread (never the audio thread; the virtual system calls
// it on the thread that injects the fault). The engine has stopped delivering by then; its owner still
// calls stop(), and must not call it from inside the handler.
using AudioFailureHandler = std::function<void(const Error& failure)>;

// How the rendered channels meet the device's outputs.
enum class OutputLayout {
    // Buffer channel k sounds on the device's output k + 1; start() refuses a device with fewer outputs.
    exact,
    // The same on a device with enough outputs; on a device with one output, that output plays the average
    // of the channels, (L + R) / 2 for stereo: a centred signal keeps its level (as PulseAudio's and
    // PipeWire's own remixing kept it) and the sum never clips. For ordinary stereo playback; routed outputs
    // and capture always keep the device's own channels.
    mixToMono,
};

// Signed status codes of binding; 0 is success.
namespace AudioStatus {
inline constexpr std::int32_t ok = 0;
inline constexpr std::int32_t deviceNotFound = -ENODEV;  // no listed device has that id (-19)
inline constexpr std::int32_t engineRunning = -EBUSY;    // bind called while the engine runs (-16)
inline constexpr const char* errorDomain = "audio-device";
}  // namespace AudioStatus

// An audio engine: one thread at a time calls everything except the callbacks; it may be handed from
// thread to thread (a worker binds and starts it, the main thread stops it) as long as the calls never
// overlap. Binding, the formats and start() may wait on a sound server (seconds, when one does not answer):
// the application makes them off the main thread. stop() returns within a second whatever the servers do.
// The engine is stopped at creation; destroying it stops it.
class AudioEngine {
public:
    // Frames per tap block (at least; a block may be longer when the device's period does not divide it).
    static constexpr std::int64_t tapBlockFrames = 4096;
    // Most output channels a render callback may be asked for.
    static constexpr int maxOutputChannels = 64;

    virtual ~AudioEngine() = default;

    // Point the output or input direction at a device (0: the system default). Returns 0, or a non-zero
    // status: AudioStatus::deviceNotFound for an id no listed device has, engineRunning while running, or a
    // status the device itself reports. A refused binding leaves that direction's previous binding.
    virtual std::int32_t bindOutput(std::uint32_t deviceID) = 0;
    virtual std::int32_t bindInput(std::uint32_t deviceID) = 0;
    virtual std::uint32_t boundOutput() const = 0;
    virtual std::uint32_t boundInput() const = 0;

    // The bound device's formats, read from the system when called.
    virtual DeviceFormat inputFormat() = 0;
    virtual DeviceFormat outputFormat() = 0;

    // Installs the tap that receives every input block of all input channels (only while stopped). The
    // next start() opens the input direction.
    virtual void installTap(AudioTap tap) = 0;
    virtual void removeTap() = 0;
    virtual bool hasTap() const = 0;

    // Sets the render callback for channelCount output channels, 1...maxOutputChannels (only while
    // stopped), laid on the device's outputs as `layout` says. The next start() opens the output. The
    // render is always asked for channelCount channels, mixed down or not.
    virtual void setOutput(int channelCount, AudioRender render,
                           OutputLayout layout = OutputLayout::exact) = 0;
    virtual void clearOutput() = 0;
    virtual bool hasOutput() const = 0;

    // Called on a background thread when a running engine fails (sound server gone, device vanished).
    virtual void setFailureHandler(AudioFailureHandler handler) = 0;

    // Opens and starts the directions that have a tap or a render callback. On failure nothing runs and
    // the error's description says why.
    virtual Status start() = 0;
    // Stops and closes everything; harmless when stopped. Returns only when no callback runs any more.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // True for a device with a clock of its own. False when the clock moves only as its driver calls it
    // (VirtualAudioSystem::pump): a render may then wait for work of another thread without missing a
    // deadline, since time stands still meanwhile.
    virtual bool realtime() const { return true; }
};

// The machine's audio devices. One owner thread calls it, unless an implementation allows more: listing
// asks the sound servers, which may take seconds when one does not answer (LinuxAudioSystem lets any
// thread list, so that listing can be kept off the main thread).
class AudioSystem {
public:
    // Codes of a failed device list.
    static constexpr long listUnavailable = 1;  // the list could not be asked for
    static constexpr long listUnreadable = 2;   // the list changed or failed while it was read

    virtual ~AudioSystem() = default;

    // Every device in the system's order, inputs and outputs alike.
    virtual Result<std::vector<AudioDeviceInfo>> devices() = 0;
    // The default devices' ids; 0 when there is none.
    virtual std::uint32_t defaultInputDevice() = 0;
    virtual std::uint32_t defaultOutputDevice() = 0;
    // The id that a device chosen as `id` with `key` (AudioDeviceInfo::key; empty for a choice stored without
    // it) has now: the listed device with that key (of several, `id` when it is one of them), else `id`. Ids
    // follow names, and a name may move between two devices of one model as they come and go; the key does
    // not. May list the devices.
    virtual std::uint32_t chosenDevice(std::uint32_t id, const std::string& key) {
        if (key.empty()) return id;
        const auto listed = devices();
        if (!listed) return id;
        std::uint32_t found = 0;
        for (const AudioDeviceInfo& d : *listed)
            if (d.key == key && (found == 0 || d.id == id)) found = d.id;
        return found != 0 ? found : id;
    }
    // A new, stopped, unbound engine. Never waits.
    virtual std::unique_ptr<AudioEngine> makeEngine() = 0;

    // Our sentence naming the first sound server that is not responding now ("The PulseAudio server is not
    // responding"), whose devices may therefore be missing from the list; empty while every server answers.
    // For a start that finds no device. Any thread; never waits.
    virtual std::string notResponding() { return {}; }

    // The device-list-changed notice: `changed` runs whenever devices() may answer otherwise than before (a
    // device came or went, the defaults moved, a sound server went away or came back). It runs on a thread
    // of the system's, so it must return at once and must not call the system. Null ends the notices; no
    // earlier `changed` runs once this has returned. A system that cannot tell never calls it, and callers
    // list again when they need to.
    virtual void setDevicesChanged(std::function<void()> changed) { (void)changed; }
};

}  // namespace quorvel
