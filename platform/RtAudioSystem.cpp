#include "platform/RtAudioSystem.h"

#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include "platform/AudioEngineBase.h"
#include "platform/DeviceIds.h"
#include "platform/JackClients.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// A running stream whose callbacks stop for this long has failed (a device unplugged under ALSA). Long
// enough that a loaded machine's scheduling hiccup is not taken for a failure.
constexpr auto stallLimit = 5s;
// How long to wait for RtAudio to close a stream itself after the JACK server went away.
constexpr auto serverCloseWait = 3s;
// Frames per period asked of PulseAudio and ALSA; JACK uses the server's period.
constexpr unsigned int requestedPeriodFrames = 1024;

struct ApiName {
    RtAudio::Api api;
    const char* shortName;
    const char* displayName;
};
constexpr std::array<ApiName, 3> knownApis{{{RtAudio::UNIX_JACK, "jack", "JACK"},
                                            {RtAudio::LINUX_PULSE, "pulse", "PulseAudio"},
                                            {RtAudio::LINUX_ALSA, "alsa", "ALSA"}}};

const char* displayName(RtAudio::Api api) {
    for (const auto& a : knownApis)
        if (a.api == api) return a.displayName;
    return "audio";
}

Error failure(std::string description) { return Error{AudioStatus::errorDomain, 0, std::move(description)}; }

// RtAudio's error callback carries no user pointer, so the last error text of the process is kept here
// for the watcher that finds its stream stopped. Written on audio threads: a flag instead of a lock, and
// a text that is dropped when the flag is taken.
std::atomic_flag g_errorBusy = ATOMIC_FLAG_INIT;
char g_errorText[256] = {};

void onRtAudioError(RtAudioError::Type type, const std::string& text) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) return;
    if (g_errorBusy.test_and_set(std::memory_order_acquire)) return;
    std::snprintf(g_errorText, sizeof g_errorText, "%s", text.c_str());
    g_errorBusy.clear(std::memory_order_release);
}

std::string lastRtAudioError() {
    if (g_errorBusy.test_and_set(std::memory_order_acquire)) return {};
    std::string text = g_errorText;
    g_errorBusy.clear(std::memory_order_release);
    return text;
}

// When the JACK server goes away, RtAudio's shutdown callback starts a thread that closes the stream,
// then writes a notice to std::cerr from libjack's thread. Closing the client cancels that thread
// asynchronously (libjack's threads allow it anywhere), and a cancel that lands inside the stream
// insertion ends the program in std::terminate. Nothing of ours writes to std::cerr: once a JACK stream
// exists it is muted, which leaves the notice no time to be caught in.
void muteStandardErrorStream() {
    static std::once_flag once;
    std::call_once(once, [] { std::cerr.rdbuf(nullptr); });
}

double chooseRate(const RtAudio::DeviceInfo& info) {
    if (info.preferredSampleRate > 0) return info.preferredSampleRate;
    if (std::find(info.sampleRates.begin(), info.sampleRates.end(), 48000u) != info.sampleRates.end())
        return 48000;
    if (!info.sampleRates.empty()) return info.sampleRates.back();
    return 48000;
}

struct Entry {
    AudioDeviceInfo info;
    RtAudio::Api api = RtAudio::UNSPECIFIED;
};

struct Snapshot {
    std::vector<Entry> entries;
    std::uint32_t defaultInput = 0;
    std::uint32_t defaultOutput = 0;

    const Entry* find(std::uint32_t id) const {
        for (const auto& e : entries)
            if (e.info.id == id) return &e;
        return nullptr;
    }
};

}  // namespace

struct RtAudioSystem::Backend {
    std::vector<RtAudio::Api> apis;

    Result<Snapshot> snapshot() const {
        Snapshot s;
        std::vector<bool> defaultIn, defaultOut;
        auto add = [&](Entry e, bool isDefaultIn, bool isDefaultOut) {
            s.entries.push_back(std::move(e));
            defaultIn.push_back(isDefaultIn);
            defaultOut.push_back(isDefaultOut);
        };
        for (RtAudio::Api api : apis) {
            if (api == RtAudio::UNIX_JACK) {
                auto listing = JackClients::list();
                if (!listing) continue;
                // The server's own ports are the natural default; otherwise the first device that has them.
                auto pick = [&](bool input) -> std::string {
                    const auto& ds = listing->devices;
                    auto has = [&](const JackClients::Device& d) {
                        return (input ? d.captureChannels : d.playbackChannels) > 0;
                    };
                    for (const auto& d : ds)
                        if (d.name == "system" && has(d)) return d.name;
                    for (const auto& d : ds)
                        if (has(d)) return d.name;
                    return {};
                };
                const std::string in = pick(true), out = pick(false);
                for (const auto& d : listing->devices) {
                    Entry e;
                    e.api = api;
                    e.info = {0,
                              d.name,
                              displayName(api),
                              d.captureChannels,
                              d.playbackChannels,
                              listing->sampleRateHz};
                    add(std::move(e), d.name == in, d.name == out);
                }
                continue;
            }
            try {
                RtAudio rt(api);
                rt.showWarnings(false);
                const unsigned int count = rt.getDeviceCount();
                // RtAudio names a default device even when it has none; trust it only within the list.
                const unsigned int in = count > 0 ? rt.getDefaultInputDevice() : count;
                const unsigned int out = count > 0 ? rt.getDefaultOutputDevice() : count;
                for (unsigned int i = 0; i < count; ++i) {
                    const RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
                    Entry e;
                    e.api = api;
                    e.info = {0,
                              info.name,
                              displayName(api),
                              static_cast<int>(info.inputChannels),
                              static_cast<int>(info.outputChannels),
                              chooseRate(info)};
                    add(std::move(e), i == in && info.inputChannels > 0, i == out && info.outputChannels > 0);
                }
            } catch (const RtAudioError& e) {
                return Error{AudioStatus::errorDomain, AudioSystem::listUnreadable, e.what()};
            }
        }
        std::vector<AudioDeviceInfo> infos;
        for (const auto& e : s.entries) infos.push_back(e.info);
        DeviceIds::assign(infos);
        for (std::size_t i = 0; i < infos.size(); ++i) {
            s.entries[i].info.id = infos[i].id;
            if (defaultIn[i] && s.defaultInput == 0) s.defaultInput = infos[i].id;
            if (defaultOut[i] && s.defaultOutput == 0) s.defaultOutput = infos[i].id;
        }
        return s;
    }
};

namespace {

class RtAudioEngine : public AudioEngineBase {
public:
    explicit RtAudioEngine(std::shared_ptr<RtAudioSystem::Backend> backend) : backend_(std::move(backend)) {}
    ~RtAudioEngine() override { stop(); }

    DeviceFormat inputFormat() override { return format(true); }
    DeviceFormat outputFormat() override { return format(false); }

    Status start() override;
    void stop() override;
    bool isRunning() const override { return running_; }

private:
    struct Stream {
        std::unique_ptr<RtAudio> rt;
        bool jack = false;
        std::string client;  // our JACK client
        std::string device;
        int channels = 0;
    };

    std::int32_t checkDevice(std::uint32_t id) override {
        auto snapshot = backend_->snapshot();
        return snapshot && snapshot->find(id) ? AudioStatus::ok : AudioStatus::deviceNotFound;
    }

    DeviceFormat format(bool input) const {
        auto snapshot = backend_->snapshot();
        if (!snapshot) return {};
        const std::uint32_t bound = input ? inputID_ : outputID_;
        const Entry* e =
            snapshot->find(bound != 0 ? bound : (input ? snapshot->defaultInput : snapshot->defaultOutput));
        if (!e) return {};
        return {input ? e->info.inputChannels : e->info.outputChannels, e->info.sampleRateHz};
    }

    Status open(const Entry& device, bool input, Stream& stream);
    Status connectJack(const Stream& stream, bool input);
    void close(Stream& stream, bool serverGone);
    void watch();
    std::string check(std::chrono::steady_clock::time_point& lastProgress, std::uint64_t& lastCount);

    static int inputCallback(void*, void* in, unsigned int frames, double, RtAudioStreamStatus status,
                             void* self);
    static int outputCallback(void* out, void*, unsigned int frames, double, RtAudioStreamStatus, void* self);

    std::shared_ptr<RtAudioSystem::Backend> backend_;
    bool running_ = false;

    Stream input_;
    Stream output_;
    std::unique_ptr<JackWatch> jackWatch_;

    // Audio thread state, prepared before the streams start.
    TapCollector collector_;
    std::vector<const float*> inputPointers_;
    std::array<float*, maxOutputChannels> outputPointers_{};
    // Written by the audio threads, read by the watcher (relaxed: only progress matters).
    std::atomic<std::uint64_t> callbacks_{0};
    // Under JACK the ports are connected one by one after the streams start: until all are, the callbacks
    // deliver nothing and render nothing (release by start(), acquire by the callbacks), and the input
    // also drops the period that may still have run on the old connections.
    std::atomic<bool> connected_{false};
    int settlingPeriods_ = 0;  // input audio thread only once started

    std::thread watcher_;
    std::mutex watcherMutex_;
    std::condition_variable watcherWake_;
    bool watcherQuit_ = false;
};

Status RtAudioEngine::start() {
    if (running_) return Status::success();
    auto snapshot = backend_->snapshot();
    if (!snapshot) return failure("Cannot list audio devices: " + snapshot.error().description);
    const Entry* in = nullptr;
    const Entry* out = nullptr;
    if (tap_) {
        in = snapshot->find(inputID_ != 0 ? inputID_ : snapshot->defaultInput);
        if (!in) return failure("The input device is not available");
        if (in->info.inputChannels < 1) return failure("The device " + in->info.name + " has no inputs");
    }
    if (render_) {
        out = snapshot->find(outputID_ != 0 ? outputID_ : snapshot->defaultOutput);
        if (!out) return failure("The output device is not available");
        if (out->info.outputChannels < outputChannels_)
            return failure("The device " + out->info.name + " has " +
                           std::to_string(out->info.outputChannels) + " outputs, " +
                           std::to_string(outputChannels_) + " were asked for");
    }
    std::vector<std::string> jackDevices;
    for (const Entry* e : {in, out})
        if (e && e->api == RtAudio::UNIX_JACK) jackDevices.push_back(e->info.name);
    if (!jackDevices.empty()) {
        jackWatch_ = std::make_unique<JackWatch>();
        if (!jackWatch_->open(jackDevices)) {
            jackWatch_.reset();
            return failure("The JACK server is not running");
        }
    }
    auto fail = [&](const Error& error) -> Status {
        close(input_, false);
        close(output_, false);
        jackWatch_.reset();
        return error;
    };
    if (in)
        if (Status s = open(*in, true, input_); !s) return fail(s.error());
    if (out)
        if (Status s = open(*out, false, output_); !s) return fail(s.error());
    callbacks_.store(0, std::memory_order_relaxed);
    connected_.store(jackDevices.empty(), std::memory_order_release);
    settlingPeriods_ = input_.jack ? 1 : 0;
    for (auto* stream : {&input_, &output_}) {
        if (!stream->rt) continue;
        try {
            stream->rt->startStream();
        } catch (const RtAudioError& e) {
            return fail(failure(e.what()));
        }
        if (stream->jack)
            if (Status s = connectJack(*stream, stream == &input_); !s) return fail(s.error());
    }
    connected_.store(true, std::memory_order_release);
    watcherQuit_ = false;
    watcher_ = std::thread([this] { watch(); });
    running_ = true;
    return Status::success();
}

Status RtAudioEngine::open(const Entry& device, bool input, Stream& stream) {
    stream = Stream{};
    stream.jack = device.api == RtAudio::UNIX_JACK;
    stream.device = device.info.name;
    stream.channels = input ? device.info.inputChannels : outputChannels_;
    stream.rt = std::make_unique<RtAudio>(device.api);
    stream.rt->showWarnings(false);

    RtAudio::StreamParameters parameters;
    parameters.nChannels = static_cast<unsigned int>(stream.channels);
    parameters.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_NONINTERLEAVED;
    double rate = device.info.sampleRateHz;
    int index = -1;
    if (stream.jack) {
        muteStandardErrorStream();
        // Ports are connected by exact name in connectJack(); RtAudio's own matching is by pattern.
        options.flags |= RTAUDIO_JACK_DONT_CONNECT;
        stream.client = JackClients::uniqueClientName(input ? "in" : "out");
        options.streamName = stream.client;
        index = jackWatch_->rtAudioIndex(device.info.name);
        rate = jackWatch_->sampleRateHz();
    } else {
        // Positions shift when devices come and go: look the name up again now.
        try {
            const unsigned int count = stream.rt->getDeviceCount();
            for (unsigned int i = 0; i < count && index < 0; ++i)
                if (stream.rt->getDeviceInfo(i).name == device.info.name) index = static_cast<int>(i);
        } catch (const RtAudioError&) {
            index = -1;
        }
    }
    if (index < 0) {
        stream = Stream{};
        return failure("The device " + device.info.name + " is no longer available");
    }
    parameters.deviceId = static_cast<unsigned int>(index);
    unsigned int frames = requestedPeriodFrames;
    try {
        stream.rt->openStream(input ? nullptr : &parameters, input ? &parameters : nullptr, RTAUDIO_FLOAT32,
                              static_cast<unsigned int>(rate), &frames,
                              input ? &RtAudioEngine::inputCallback : &RtAudioEngine::outputCallback, this,
                              &options, &onRtAudioError);
    } catch (const RtAudioError& e) {
        stream = Stream{};
        return failure(e.what());
    }
    if (input) {
        collector_.prepare(stream.channels, frames);
        inputPointers_.assign(static_cast<std::size_t>(stream.channels), nullptr);
    }
    return Status::success();
}

Status RtAudioEngine::connectJack(const Stream& stream, bool input) {
    const auto devicePorts = jackWatch_->ports(stream.device, !input);
    if (static_cast<int>(devicePorts.size()) < stream.channels)
        return failure("The device " + stream.device + " no longer has " + std::to_string(stream.channels) +
                       " ports");
    for (int k = 0; k < stream.channels; ++k) {
        const std::string own = stream.client + (input ? ":inport " : ":outport ") + std::to_string(k);
        const bool ok =
            input ? jackWatch_->connect(devicePorts[k], own) : jackWatch_->connect(own, devicePorts[k]);
        if (!ok) return failure("Cannot connect to " + devicePorts[k]);
    }
    return Status::success();
}

void RtAudioEngine::stop() {
    if (watcher_.joinable()) {
        {
            std::lock_guard lock(watcherMutex_);
            watcherQuit_ = true;
        }
        watcherWake_.notify_all();
        watcher_.join();
    }
    const bool serverGone = jackWatch_ && jackWatch_->serverGone();
    close(input_, serverGone);
    close(output_, serverGone);
    jackWatch_.reset();
    running_ = false;
}

void RtAudioEngine::close(Stream& stream, bool serverGone) {
    if (!stream.rt) return;
    if (stream.jack && serverGone) {
        // RtAudio closes a running stream itself, on a thread of its own, when the server shuts it down;
        // touching the stream meanwhile would race with that.
        const auto deadline = std::chrono::steady_clock::now() + serverCloseWait;
        while (stream.rt->isStreamOpen() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
    }
    try {
        if (stream.rt->isStreamRunning()) stream.rt->abortStream();
    } catch (const RtAudioError&) {
    }
    try {
        if (stream.rt->isStreamOpen()) stream.rt->closeStream();
    } catch (const RtAudioError&) {
    }
    stream = Stream{};
}

void RtAudioEngine::watch() {
    auto lastProgress = std::chrono::steady_clock::now();
    std::uint64_t lastCount = 0;
    for (;;) {
        {
            std::unique_lock lock(watcherMutex_);
            if (watcherWake_.wait_for(lock, 50ms, [this] { return watcherQuit_; })) return;
        }
        const std::string problem = check(lastProgress, lastCount);
        if (!problem.empty()) {
            if (failureHandler_) failureHandler_(failure(problem));
            return;
        }
    }
}

std::string RtAudioEngine::check(std::chrono::steady_clock::time_point& lastProgress,
                                 std::uint64_t& lastCount) {
    if (jackWatch_) {
        if (jackWatch_->serverGone()) return "The JACK server stopped";
        if (jackWatch_->deviceGone()) {
            std::string names = input_.jack ? input_.device : output_.device;
            if (input_.jack && output_.jack && input_.device != output_.device)
                names += ", " + output_.device;
            return "The audio device " + names + " disappeared";
        }
    }
    for (const Stream* s : {&input_, &output_}) {
        if (!s->rt) continue;
        if (!s->rt->isStreamOpen() || !s->rt->isStreamRunning()) {
            const std::string error = lastRtAudioError();
            return error.empty() ? "The audio stream of " + s->device + " stopped" : error;
        }
    }
    const std::uint64_t count = callbacks_.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (count != lastCount) {
        lastCount = count;
        lastProgress = now;
    } else if (now - lastProgress > stallLimit) {
        return "The audio device " + (input_.rt ? input_.device : output_.device) +
               " stopped delivering audio";
    }
    return {};
}

int RtAudioEngine::inputCallback(void*, void* in, unsigned int frames, double, RtAudioStreamStatus status,
                                 void* self) {
    auto* engine = static_cast<RtAudioEngine*>(self);
    engine->callbacks_.fetch_add(1, std::memory_order_relaxed);
    if (!engine->connected_.load(std::memory_order_acquire)) return 0;
    if (engine->settlingPeriods_ > 0) {
        --engine->settlingPeriods_;
        return 0;
    }
    const auto* base = static_cast<const float*>(in);
    const std::size_t n = engine->inputPointers_.size();
    for (std::size_t c = 0; c < n; ++c) engine->inputPointers_[c] = base ? base + c * frames : nullptr;
    TapCollector::Period flags;
    flags.overflow = (status & RTAUDIO_INPUT_OVERFLOW) != 0;
    flags.floatSamples = base != nullptr;
    engine->collector_.push(engine->inputPointers_.data(), frames, flags, engine->tap_);
    return 0;
}

int RtAudioEngine::outputCallback(void* out, void*, unsigned int frames, double, RtAudioStreamStatus,
                                  void* self) {
    auto* engine = static_cast<RtAudioEngine*>(self);
    engine->callbacks_.fetch_add(1, std::memory_order_relaxed);
    auto* base = static_cast<float*>(out);
    const int channels = engine->output_.channels;
    if (!base) return 0;
    std::memset(base, 0, sizeof(float) * frames * static_cast<std::size_t>(channels));
    if (!engine->connected_.load(std::memory_order_acquire)) return 0;
    for (int c = 0; c < channels; ++c)
        engine->outputPointers_[c] = base + static_cast<std::size_t>(c) * frames;
    engine->render_(engine->outputPointers_.data(), channels, frames);
    return 0;
}

}  // namespace

RtAudioSystem::RtAudioSystem(std::vector<std::string> apis) : backend_(std::make_shared<Backend>()) {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    auto isCompiled = [&](RtAudio::Api api) {
        return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
    };
    if (apis.empty())
        for (const auto& a : knownApis) apis.push_back(a.shortName);
    for (const auto& name : apis)
        for (const auto& a : knownApis)
            if (name == a.shortName && isCompiled(a.api)) backend_->apis.push_back(a.api);
}

RtAudioSystem::~RtAudioSystem() = default;

Result<std::vector<AudioDeviceInfo>> RtAudioSystem::devices() {
    auto snapshot = backend_->snapshot();
    if (!snapshot) return snapshot.error();
    std::vector<AudioDeviceInfo> list;
    for (const auto& e : snapshot->entries) list.push_back(e.info);
    return list;
}

std::uint32_t RtAudioSystem::defaultInputDevice() {
    auto snapshot = backend_->snapshot();
    return snapshot ? snapshot->defaultInput : 0;
}

std::uint32_t RtAudioSystem::defaultOutputDevice() {
    auto snapshot = backend_->snapshot();
    return snapshot ? snapshot->defaultOutput : 0;
}

std::unique_ptr<AudioEngine> RtAudioSystem::makeEngine() { return std::make_unique<RtAudioEngine>(backend_); }

}  // namespace quorvel
