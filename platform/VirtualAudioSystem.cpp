#include "platform/VirtualAudioSystem.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/AudioEngineBase.h"
#include "platform/AudioErrors.h"
#include "platform/DeviceIds.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

struct Connection {
    int output = 0;
    int input = 0;
    std::int64_t delayFrames = 0;
    float gain = 1.0f;
};

struct Signal {
    int input = 0;
    std::function<float(std::int64_t)> generate;
};

struct DeviceState {
    explicit DeviceState(VirtualDevice d) : spec(std::move(d)) {}
    VirtualDevice spec;
    std::uint32_t id = 0;
    std::vector<Connection> connections;
    std::vector<Signal> signals;
    // Output history per output channel: frames historyStart ... clock + period of the period in progress.
    std::vector<std::vector<float>> history;
    std::int64_t historyStart = 0;
    std::vector<std::vector<float>> mix;    // this period's output, per output channel
    std::vector<std::vector<float>> input;  // this period's input, per input channel
    std::vector<const float*> inputPointers;
};

Error failure(std::string description) { return AudioErrors::make(std::move(description)); }

// Where the engines' calls wait while the test holds them. A call on the thread that holds them passes:
// that thread plays the main thread, which must never wait, and a call of its own shows as one that was not
// held rather than as a test that never ends.
class CallGate {
public:
    void enter() {
        std::unique_lock lock(mutex_);
        if (!holding_ || std::this_thread::get_id() == holder_) return;
        if (passes_ > 0) {
            --passes_;
            return;
        }
        ++waiting_;
        opened_.wait(lock, [this] { return !holding_ || passes_ > 0; });
        --waiting_;
        if (holding_) --passes_;
    }
    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
        holder_ = std::this_thread::get_id();
        passes_ = 0;
    }
    void pass(int count) {
        {
            std::lock_guard lock(mutex_);
            passes_ += std::max(count, 0);
        }
        opened_.notify_all();
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
            passes_ = 0;
        }
        opened_.notify_all();
    }
    int waiting() const {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool holding_ = false;
    std::thread::id holder_;
    int passes_ = 0;
    int waiting_ = 0;
};

}  // namespace

class VirtualEngine;

struct VirtualAudioSystem::State {
    // Guards everything below. Recursive: an engine's destructor stops it under the lock.
    std::recursive_mutex mutex;
    std::vector<DeviceState> devices;
    bool defaultsSet = false;
    std::string defaultInput;
    std::string defaultOutput;
    long listFailure = 0;
    std::int64_t period = 1024;
    std::int64_t clock = 0;
    std::string failNextStart;
    bool nonFloat = false;
    bool invalidTime = false;
    bool overflowNext = false;
    std::vector<VirtualEngine*> engines;
    std::function<void()> devicesChanged;
    std::string notResponding;
    // Has a lock of its own: calls wait in it without holding the state.
    CallGate gate;

    void assignIds() {
        std::vector<AudioDeviceInfo> infos;
        for (const auto& d : devices) infos.push_back(info(d));
        DeviceIds::assign(infos);
        for (std::size_t i = 0; i < devices.size(); ++i) devices[i].id = infos[i].id;
    }
    static AudioDeviceInfo info(const DeviceState& d) {
        AudioDeviceInfo i;
        i.id = d.id;
        i.name = d.spec.nameUnreadable ? std::string() : d.spec.name;
        i.api = apiName;
        i.inputChannels = d.spec.inputChannels;
        i.outputChannels = d.spec.outputChannels;
        i.sampleRateHz = d.spec.sampleRateHz;
        return i;
    }
    DeviceState* byName(const std::string& name) {
        for (auto& d : devices)
            if (d.spec.name == name) return &d;
        return nullptr;
    }
    DeviceState* byId(std::uint32_t id) {
        for (auto& d : devices)
            if (d.id == id) return &d;
        return nullptr;
    }
    DeviceState* defaultDevice(bool input) {
        if (defaultsSet) return byName(input ? defaultInput : defaultOutput);
        for (auto& d : devices)
            if ((input ? d.spec.inputChannels : d.spec.outputChannels) > 0) return &d;
        return nullptr;
    }
    // The device an engine direction bound to `id` uses now (0: the default).
    DeviceState* resolve(std::uint32_t id, bool input) { return id == 0 ? defaultDevice(input) : byId(id); }
    void fail(VirtualEngine* engine, const std::string& description);
};

class VirtualEngine : public AudioEngineBase {
public:
    using Lock = std::lock_guard<std::recursive_mutex>;

    explicit VirtualEngine(std::shared_ptr<VirtualAudioSystem::State> state) : s_(std::move(state)) {
        Lock lock(s_->mutex);
        s_->engines.push_back(this);
    }
    ~VirtualEngine() override {
        Lock lock(s_->mutex);
        stop();
        std::erase(s_->engines, this);
    }

    std::int32_t bindOutput(std::uint32_t deviceID) override {
        s_->gate.enter();
        return AudioEngineBase::bindOutput(deviceID);
    }
    std::int32_t bindInput(std::uint32_t deviceID) override {
        s_->gate.enter();
        return AudioEngineBase::bindInput(deviceID);
    }
    DeviceFormat inputFormat() override {
        s_->gate.enter();
        Lock lock(s_->mutex);
        return format(s_->resolve(inputID_, true), true);
    }
    DeviceFormat outputFormat() override {
        s_->gate.enter();
        Lock lock(s_->mutex);
        return format(s_->resolve(outputID_, false), false);
    }

    Status start() override {
        s_->gate.enter();
        Lock lock(s_->mutex);
        if (running_) return Status::success();
        if (!s_->failNextStart.empty()) {
            std::string description = std::move(s_->failNextStart);
            s_->failNextStart.clear();
            return failure(description);
        }
        inputDevice_.clear();
        outputDevice_.clear();
        if (tap_) {
            DeviceState* d = s_->resolve(inputID_, true);
            if (!d) return failure("No input device is available");
            if (d->spec.inputChannels < 1) return failure("The device " + d->spec.name + " has no inputs");
            collector_.prepare(d->spec.inputChannels, s_->period);
            inputDevice_ = d->spec.name;
        }
        if (render_) {
            DeviceState* d = s_->resolve(outputID_, false);
            if (!d) return failure("No output device is available");
            const Result<int> opened = prepareOutput(d->spec.name, d->spec.outputChannels);
            if (!opened) return opened.error();
            buffers_.assign(static_cast<std::size_t>(*opened),
                            std::vector<float>(static_cast<std::size_t>(s_->period)));
            pointers_.resize(buffers_.size());
            for (std::size_t c = 0; c < buffers_.size(); ++c) pointers_[c] = buffers_[c].data();
            outputDevice_ = d->spec.name;
        }
        running_ = true;
        return Status::success();
    }
    // Waits for a pump() under way, so that no callback runs once it returns.
    void stop() override {
        Lock lock(s_->mutex);
        running_ = false;
    }
    bool isRunning() const override { return running_; }
    bool realtime() const override { return false; }

    // pump() helpers, under the state's lock.
    bool running() const { return running_; }
    const std::string& inputDevice() const { return inputDevice_; }
    const std::string& outputDevice() const { return outputDevice_; }
    bool captures() const { return running_ && tap_ && !inputDevice_.empty(); }
    bool plays() const { return running_ && render_ && !outputDevice_.empty(); }
    void render(DeviceState& device, std::int64_t frames) {
        for (auto& b : buffers_) std::fill(b.begin(), b.begin() + frames, 0.0f);
        deviceRender()(pointers_.data(), static_cast<int>(pointers_.size()), frames);
        for (std::size_t c = 0; c < buffers_.size(); ++c)
            for (std::int64_t t = 0; t < frames; ++t) device.mix[c][t] += buffers_[c][t];
    }
    void capture(DeviceState& device, std::int64_t frames, TapCollector::Period flags) {
        collector_.push(device.inputPointers.data(), frames, flags, tap_);
    }
    void markFailed(const std::string& description) {
        running_ = false;
        if (failureHandler_) failureHandler_(failure(description));
    }

private:
    std::int32_t checkDevice(std::uint32_t id) override {
        Lock lock(s_->mutex);
        DeviceState* d = s_->byId(id);
        if (!d) return AudioStatus::deviceNotFound;
        return d->spec.bindStatus;
    }
    static DeviceFormat format(const DeviceState* d, bool input) {
        if (!d) return {};
        return {input ? d->spec.inputChannels : d->spec.outputChannels, d->spec.sampleRateHz};
    }

    std::shared_ptr<VirtualAudioSystem::State> s_;
    // Written under the state's lock; read by the engine's owner without it.
    std::atomic<bool> running_{false};
    std::string inputDevice_;
    std::string outputDevice_;
    TapCollector collector_;
    std::vector<std::vector<float>> buffers_;
    std::vector<float*> pointers_;
};

void VirtualAudioSystem::State::fail(VirtualEngine* engine, const std::string& description) {
    if (engine->running()) engine->markFailed(description);
}

VirtualAudioSystem::VirtualAudioSystem(std::vector<VirtualDevice> devices, std::int64_t periodFrames)
    : state_(std::make_shared<State>()) {
    state_->period = std::max<std::int64_t>(periodFrames, 1);
    for (auto& d : devices) state_->devices.push_back(DeviceState(std::move(d)));
    state_->assignIds();
}

// Engines may outlive the system; none of their calls may wait for a release that will never come.
VirtualAudioSystem::~VirtualAudioSystem() { state_->gate.release(); }

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}  // namespace

void VirtualAudioSystem::removeDevice(const std::string& name) {
    std::function<void()> changed;
    {
        Lock lock(state_->mutex);
        for (VirtualEngine* e : std::vector(state_->engines))
            if (e->running() && (e->inputDevice() == name || e->outputDevice() == name))
                state_->fail(e, "The audio device " + name + " disappeared");
        std::erase_if(state_->devices, [&](const DeviceState& d) { return d.spec.name == name; });
        state_->assignIds();
        changed = state_->devicesChanged;
    }
    if (changed) changed();
}

void VirtualAudioSystem::addDevice(VirtualDevice device) {
    std::function<void()> changed;
    {
        Lock lock(state_->mutex);
        state_->devices.push_back(DeviceState(std::move(device)));
        state_->assignIds();
        changed = state_->devicesChanged;
    }
    if (changed) changed();
}

void VirtualAudioSystem::setDevicesChanged(std::function<void()> changed) {
    Lock lock(state_->mutex);
    state_->devicesChanged = std::move(changed);
}

void VirtualAudioSystem::setDefaults(const std::string& inputName, const std::string& outputName) {
    Lock lock(state_->mutex);
    state_->defaultsSet = true;
    state_->defaultInput = inputName;
    state_->defaultOutput = outputName;
}

void VirtualAudioSystem::setListFailure(long code) {
    Lock lock(state_->mutex);
    state_->listFailure = code;
}

std::uint32_t VirtualAudioSystem::idOf(const std::string& name) const {
    Lock lock(state_->mutex);
    const DeviceState* d = state_->byName(name);
    return d ? d->id : 0;
}

void VirtualAudioSystem::connect(const std::string& device, int output, int input, std::int64_t delayFrames,
                                 float gain) {
    Lock lock(state_->mutex);
    DeviceState* d = state_->byName(device);
    assert(d);
    if (d) d->connections.push_back({output, input, std::max<std::int64_t>(delayFrames, 0), gain});
}

void VirtualAudioSystem::setInputSignal(const std::string& device, int input,
                                        std::function<float(std::int64_t)> signal) {
    Lock lock(state_->mutex);
    DeviceState* d = state_->byName(device);
    assert(d);
    if (d) d->signals.push_back({input, std::move(signal)});
}

void VirtualAudioSystem::failNextStart(std::string description) {
    Lock lock(state_->mutex);
    state_->failNextStart = std::move(description);
}
void VirtualAudioSystem::setNonFloatInput(bool on) {
    Lock lock(state_->mutex);
    state_->nonFloat = on;
}
void VirtualAudioSystem::setInvalidSampleTime(bool on) {
    Lock lock(state_->mutex);
    state_->invalidTime = on;
}
void VirtualAudioSystem::overflowNextPeriod() {
    Lock lock(state_->mutex);
    state_->overflowNext = true;
}

void VirtualAudioSystem::failRunningEngines(std::string description) {
    Lock lock(state_->mutex);
    for (VirtualEngine* e : std::vector(state_->engines)) state_->fail(e, description);
}

void VirtualAudioSystem::holdEngineCalls() { state_->gate.hold(); }
void VirtualAudioSystem::passEngineCalls(int count) { state_->gate.pass(count); }
void VirtualAudioSystem::releaseEngineCalls() { state_->gate.release(); }
int VirtualAudioSystem::heldEngineCalls() const { return state_->gate.waiting(); }

void VirtualAudioSystem::setNotResponding(std::string sentence) {
    Lock lock(state_->mutex);
    state_->notResponding = std::move(sentence);
}

std::string VirtualAudioSystem::notResponding() {
    Lock lock(state_->mutex);
    return state_->notResponding;
}

std::int64_t VirtualAudioSystem::clock() const {
    Lock lock(state_->mutex);
    return state_->clock;
}

int VirtualAudioSystem::runningEngines() const {
    Lock lock(state_->mutex);
    return static_cast<int>(std::count_if(state_->engines.begin(), state_->engines.end(),
                                          [](VirtualEngine* e) { return e->running(); }));
}

void VirtualAudioSystem::pump(std::int64_t frames) {
    State& s = *state_;
    Lock lock(s.mutex);
    while (frames > 0) {
        const std::int64_t n = std::min(frames, s.period);
        const auto engines = s.engines;
        for (auto& d : s.devices) {
            d.mix.assign(static_cast<std::size_t>(d.spec.outputChannels),
                         std::vector<float>(static_cast<std::size_t>(n)));
            d.input.assign(static_cast<std::size_t>(d.spec.inputChannels),
                           std::vector<float>(static_cast<std::size_t>(n)));
        }
        for (VirtualEngine* e : engines)
            if (e->plays())
                if (DeviceState* d = s.byName(e->outputDevice())) e->render(*d, n);
        for (auto& d : s.devices) {
            std::int64_t maxDelay = 0;
            for (const auto& c : d.connections) maxDelay = std::max(maxDelay, c.delayFrames);
            d.history.resize(d.mix.size());
            for (std::size_t c = 0; c < d.mix.size(); ++c) {
                auto& h = d.history[c];
                // Keep the history aligned with the clock even for channels added late.
                h.resize(static_cast<std::size_t>(s.clock - d.historyStart), 0.0f);
                h.insert(h.end(), d.mix[c].begin(), d.mix[c].end());
            }
            for (const auto& c : d.connections) {
                if (c.output < 0 || c.output >= d.spec.outputChannels || c.input < 0 ||
                    c.input >= d.spec.inputChannels)
                    continue;
                const auto& h = d.history[static_cast<std::size_t>(c.output)];
                for (std::int64_t t = 0; t < n; ++t) {
                    const std::int64_t source = s.clock + t - c.delayFrames;
                    if (source >= d.historyStart) d.input[c.input][t] += c.gain * h[source - d.historyStart];
                }
            }
            for (const auto& sig : d.signals)
                if (sig.input >= 0 && sig.input < d.spec.inputChannels)
                    for (std::int64_t t = 0; t < n; ++t) d.input[sig.input][t] += sig.generate(s.clock + t);
            d.inputPointers.resize(d.input.size());
            for (std::size_t c = 0; c < d.input.size(); ++c) d.inputPointers[c] = d.input[c].data();
            // Drop history no connection can reach any more.
            const std::int64_t keepFrom = s.clock + n - maxDelay;
            if (keepFrom > d.historyStart) {
                for (auto& h : d.history)
                    h.erase(h.begin(),
                            h.begin() + std::min<std::int64_t>(keepFrom - d.historyStart, h.size()));
                d.historyStart = keepFrom;
            }
        }
        TapCollector::Period flags{s.overflowNext, !s.invalidTime, !s.nonFloat};
        for (VirtualEngine* e : engines)
            if (e->captures())
                if (DeviceState* d = s.byName(e->inputDevice())) e->capture(*d, n, flags);
        s.overflowNext = false;
        s.clock += n;
        frames -= n;
    }
}

Result<std::vector<AudioDeviceInfo>> VirtualAudioSystem::devices() {
    Lock lock(state_->mutex);
    if (state_->listFailure != 0)
        return Error{AudioStatus::errorDomain, state_->listFailure, "The virtual device list failed"};
    std::vector<AudioDeviceInfo> list;
    for (const auto& d : state_->devices) list.push_back(State::info(d));
    return list;
}

std::uint32_t VirtualAudioSystem::defaultInputDevice() {
    Lock lock(state_->mutex);
    const DeviceState* d = state_->defaultDevice(true);
    return d ? d->id : 0;
}

std::uint32_t VirtualAudioSystem::defaultOutputDevice() {
    Lock lock(state_->mutex);
    const DeviceState* d = state_->defaultDevice(false);
    return d ? d->id : 0;
}

std::unique_ptr<AudioEngine> VirtualAudioSystem::makeEngine() {
    return std::make_unique<VirtualEngine>(state_);
}

}  // namespace quorvel
