#pragma once
// A scripted audio system for deterministic tests: a device table (names, channel counts, rates, default
// devices, binding refusals, list failures), each device's outputs looped to its inputs with a delay and
// gain per connection, test signals on inputs, and injectable faults (start failure, non-float input,
// invalid sample times, overflow, the server or a device going away). An output laid out with
// OutputLayout::mixToMono on a device with one output is mixed down as the real engines do it. Nothing
// runs by itself: pump()
// moves the clock, renders every running output, loops it back and feeds every running tap, all on the
// calling thread, which stands in for the audio thread.
//
// A sound server that does not answer is played by holding the engines' calls (binding, the formats,
// start()) where they begin until the test releases them, and by the sentence notResponding() gives.
//
// Threads: any thread, as the application binds and starts engines on workers while the test drives the
// clock on the main thread; one lock keeps the system's state, and pump() holds it while it renders and
// captures, so an engine's stop() returns only once no callback of it runs. The callbacks must not call
// the system. The device-list-changed notice runs on the thread that changes the list.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

struct VirtualDevice {
    std::string name;
    int inputChannels = 2;
    int outputChannels = 2;
    double sampleRateHz = 48000;
    std::int32_t bindStatus = 0;  // non-zero: every binding to this device is refused with this status
    bool nameUnreadable = false;  // listed with an empty name
};

class VirtualAudioSystem : public AudioSystem {
public:
    static constexpr const char* apiName = "Virtual";

    // periodFrames: the frames each simulated device period carries.
    explicit VirtualAudioSystem(std::vector<VirtualDevice> devices = {}, std::int64_t periodFrames = 1024);
    ~VirtualAudioSystem() override;

    // The device disappears; engines running on it fail with "The audio device <name> disappeared".
    void removeDevice(const std::string& name);
    // The device appears (again, as when its server comes back), at the end of the list.
    void addDevice(VirtualDevice device);
    // Default devices by name ("" for none).
    void setDefaults(const std::string& inputName, const std::string& outputName);
    // A non-zero code (AudioSystem::listUnavailable or listUnreadable) makes devices() fail.
    void setListFailure(long code);
    std::uint32_t idOf(const std::string& name) const;  // 0 when unknown

    // Output channel `output` of `device` reaches its input channel `input` delayFrames later, times gain
    // (channels counted from 0). Several connections to one input add up.
    void connect(const std::string& device, int output, int input, std::int64_t delayFrames,
                 float gain = 1.0f);
    // Adds signal(frame) to the device's input channel, frame counted on the system clock.
    void setInputSignal(const std::string& device, int input,
                        std::function<float(std::int64_t frame)> signal);

    // Faults.
    void failNextStart(std::string description);       // the next start() of any engine fails
    void setNonFloatInput(bool on);                    // taps get blocks without float data
    void setInvalidSampleTime(bool on);                // taps get blocks whose sample time is not valid
    void overflowNextPeriod();                         // the next period follows lost input
    void failRunningEngines(std::string description);  // the sound server goes away

    // Every engine's bindOutput(), bindInput(), inputFormat(), outputFormat() and start() waits where it
    // begins until releaseEngineCalls(), as on a server that does not answer; passEngineCalls(n) lets the
    // next n calls through (waiting or not) and holds on after them. Destroying the system releases them.
    // Calls on the thread that holds them pass: it stands for the main thread, which must never wait, so
    // such a call is one that heldEngineCalls() never counts.
    void holdEngineCalls();
    void passEngineCalls(int count);
    void releaseEngineCalls();
    int heldEngineCalls() const;  // calls waiting now
    // The sentence notResponding() gives; empty (at creation) while every server answers.
    void setNotResponding(std::string sentence);

    // Runs `frames` frames through every running engine, in periods.
    void pump(std::int64_t frames);
    std::int64_t clock() const;
    int runningEngines() const;

    Result<std::vector<AudioDeviceInfo>> devices() override;
    std::uint32_t defaultInputDevice() override;
    std::uint32_t defaultOutputDevice() override;
    std::unique_ptr<AudioEngine> makeEngine() override;
    std::string notResponding() override;
    // Told by removeDevice() and addDevice().
    void setDevicesChanged(std::function<void()> changed) override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvel
