#include "platform/LinuxAudioSystem.h"

#include <alsa/asoundlib.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/AudioEngineBase.h"
#include "platform/AudioErrors.h"
#include "platform/DeviceIds.h"
#include "platform/JackClients.h"
#include "platform/Log.h"
#include "platform/PulseDevices.h"
#include "platform/PulseStream.h"
#include "platform/PulseWatch.h"
#include "platform/ServerThread.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// A running stream whose callbacks stop for this long has failed (a device unplugged under ALSA, a frozen
// sound server). Long enough that a loaded machine's scheduling hiccup is not taken for a failure.
constexpr auto stallLimit = 5s;
// How long a sound system's last good device list stands in for its lists while they fail: a query that
// fails once (a loaded machine, a server that does not answer for a moment) must not move a chosen device
// to another, while a server that is gone for good takes its devices with it.
constexpr auto keepListedFor = 10s;
// Frames per period asked of ALSA; JACK uses the server's period, PulseAudio PulseStream's.
constexpr unsigned int requestedPeriodFrames = 1024;
// How long a listing, and each step of opening and starting an ALSA stream, waits for ALSA (as JACK and
// PulseAudio wait), and how long closing an engine's ALSA streams may take, so that its stop() takes under
// a second.
constexpr auto answerWait = 5s;
constexpr auto closeWait = 750ms;

// ALSA's calls that may wait: its listing, and opening, starting and closing its streams. Through ALSA's
// PulseAudio plugin (ALSA's default device wherever PulseAudio or pipewire-pulse runs) they wait on that
// server with no time limit. Never destroyed (ServerThread.h).
ServerThread& alsaServer() {
    static auto* server = new ServerThread("ALSA");
    return *server;
}

enum class Api { jack, pulse, alsa };

struct ApiName {
    Api api;
    RtAudio::Api rtAudio;  // UNSPECIFIED for our own clients (JACK, PulseAudio)
    const char* shortName;
    const char* displayName;
};
constexpr std::array<ApiName, 3> knownApis{{{Api::jack, RtAudio::UNSPECIFIED, "jack", "JACK"},
                                            {Api::pulse, RtAudio::UNSPECIFIED, "pulse", "PulseAudio"},
                                            {Api::alsa, RtAudio::LINUX_ALSA, "alsa", "ALSA"}}};

const ApiName& nameOf(Api api) {
    for (const auto& a : knownApis)
        if (a.api == api) return a;
    return knownApis[0];
}

using AudioErrors::make;

// The thread of an API's calls, which also tells whether its server answers.
ServerThread& serverOf(Api api) {
    switch (api) {
        case Api::jack:
            return JackClients::server();
        case Api::pulse:
            return PulseDevices::server();
        default:
            return alsaServer();
    }
}

// What RtAudio said, for the log.
AudioErrors::Detail rtAudioSaid(const RtAudioError& e) { return {"RtAudio", e.getType(), e.what()}; }

// libasound prints its errors to stderr, e.g. "cannot find card" at every listing on a machine without a
// sound card; they go to the log. Called on whichever thread ALSA runs into the error.
void alsaMessage(const char* file, int line, const char* function, int err, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(text, sizeof text, format, args);
#pragma GCC diagnostic pop
    va_end(args);
    std::string message = std::string("ALSA lib ") + (file ? file : "") + ":" + std::to_string(line) + ":(" +
                          (function ? function : "") + ") " + text;
    if (err != 0) message += std::string(": ") + snd_strerror(err);
    Log::debug(Log::Area::audio, message);
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
    Api api = Api::jack;
    // PulseAudio's names of the sink and the source a PulseAudio device plays and captures through.
    std::string pulseSink;
    std::string pulseSource;
    // ALSA: RtAudio's name, and which of the devices of that name this is, in RtAudio's order.
    std::string rtName;
    int rtTwin = 0;
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

std::string describe(const std::vector<Entry>& entries) {
    std::string text;
    for (const auto& e : entries)
        text += (text.empty() ? "" : ", ") + e.info.name + " (" + e.info.api + " " +
                std::to_string(e.info.inputChannels) + "/" + std::to_string(e.info.outputChannels) + ")";
    return text.empty() ? "none" : text;
}

}  // namespace

struct LinuxAudioSystem::Backend {
    std::vector<Api> apis;  // fixed after construction
    // The name each device (by its key) was last listed under, so that twins keep their names as they come
    // and go (DeviceIds::tellApart), under namesMutex.
    std::mutex namesMutex;
    std::map<std::string, std::string> names;
    // The last list made, which engines bind and open from, under lastMutex.
    std::mutex lastMutex;
    std::shared_ptr<const Snapshot> last;
    // The last list logged, to log only changes. Any thread that lists.
    std::mutex logMutex;
    std::vector<std::pair<std::string, std::string>> logged;

    // One API's devices, each with whether it is that API's default input and output.
    struct Part {
        std::vector<Entry> entries;
        std::vector<bool> defaultIn, defaultOut;

        // `key`: what the API calls the device (AudioDeviceInfo::key, without the API).
        Entry& add(Api api, const std::string& name, const std::string& key, int inputs, int outputs,
                   double rate, bool isDefaultIn, bool isDefaultOut) {
            Entry& e = entries.emplace_back();
            e.api = api;
            e.info = {0,
                      name,
                      nameOf(api).displayName,
                      inputs,
                      outputs,
                      rate,
                      std::string(nameOf(api).displayName) + ":" + key};
            defaultIn.push_back(isDefaultIn);
            defaultOut.push_back(isDefaultOut);
            return e;
        }
    };
    // Each API's last good list, and since when its lists fail. Any thread that lists, under keptMutex.
    struct Kept {
        Part part;
        std::optional<std::chrono::steady_clock::time_point> failingSince;
    };
    std::mutex keptMutex;
    std::array<std::optional<Kept>, knownApis.size()> kept;

    // A new list of every API's devices, which also becomes the last one (lastSnapshot()).
    Result<std::shared_ptr<const Snapshot>> snapshot() {
        Snapshot s;
        std::vector<bool> defaultIn, defaultOut;
        // Each API lists on a thread of its own, so that a server that does not answer costs one deadline,
        // not one per API (ALSA's default device goes through the PulseAudio server).
        struct Listed {
            Result<Part> part = Part{};
            bool stopped = false;
        };
        std::vector<std::future<Listed>> listings;
        for (Api api : apis)
            listings.push_back(std::async(std::launch::async, [api] {
                Listed listed;
                listed.part = list(api, listed.stopped);
                return listed;
            }));
        for (std::size_t a = 0; a < apis.size(); ++a) {
            const Api api = apis[a];
            auto [part, stopped] = listings[a].get();
            if (part) {
                remember(api, *part);
            } else if (stopped) {
                forget(api);  // a server known not to run has no devices, at once
                continue;
            } else if (std::optional<Part> standIn = recall(api)) {
                part = std::move(*standIn);
            } else {
                // Without a server, or with one that is not responding, an API has no devices; ALSA's
                // failure to read its list fails the list.
                if (api == Api::alsa && part.error().code == AudioSystem::listUnreadable) return part.error();
                continue;
            }
            for (std::size_t i = 0; i < part->entries.size(); ++i) {
                s.entries.push_back(part->entries[i]);
                defaultIn.push_back(part->defaultIn[i]);
                defaultOut.push_back(part->defaultOut[i]);
            }
        }
        std::vector<AudioDeviceInfo> infos;
        std::vector<std::string> keys;
        for (const auto& e : s.entries) {
            infos.push_back(e.info);
            keys.push_back(e.info.key);
        }
        std::unique_lock named(namesMutex);
        const std::vector<std::size_t> order = DeviceIds::tellApart(infos, keys, names);
        DeviceIds::assign(infos);
        for (const auto& info : infos)
            if (!info.key.empty()) names[info.key] = info.name;
        named.unlock();
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < infos.size(); ++i) {
            entries.push_back(std::move(s.entries[order[i]]));
            entries.back().info = infos[i];
            if (defaultIn[order[i]] && s.defaultInput == 0) s.defaultInput = infos[i].id;
            if (defaultOut[order[i]] && s.defaultOutput == 0) s.defaultOutput = infos[i].id;
        }
        s.entries = std::move(entries);
        logChanges(s);
        auto made = std::make_shared<const Snapshot>(std::move(s));
        std::lock_guard lock(lastMutex);
        last = made;
        return made;
    }

    // Our sentence for the first API whose server is not responding; empty while all answer. Any thread.
    std::string notResponding() {
        for (Api api : apis) {
            if (api == Api::jack ? JackClients::answering() : answering(serverOf(api))) continue;
            return api == Api::alsa
                       ? std::string("The ALSA devices are not responding")
                       : "The " + std::string(nameOf(api).displayName) + " server is not responding";
        }
        return {};
    }

    static bool answering(ServerThread& server) {
        std::lock_guard lock(server.mutex());
        return server.answering();
    }

    // The last list made, if any. Any thread.
    std::shared_ptr<const Snapshot> lastSnapshot() {
        std::lock_guard lock(lastMutex);
        return last;
    }

    // A device of the last list (with the list that holds it): `id`, or with 0 the default input or output.
    // A device missing from it may have come since, so then the devices are listed again. Null entry when
    // there is no such device.
    struct Found {
        std::shared_ptr<const Snapshot> snapshot;
        const Entry* entry = nullptr;
    };
    Found device(std::uint32_t id, bool input) {
        auto look = [&](const Snapshot& s) {
            return s.find(id != 0 ? id : (input ? s.defaultInput : s.defaultOutput));
        };
        if (std::shared_ptr<const Snapshot> s = lastSnapshot())
            if (const Entry* e = look(*s)) return {s, e};
        auto fresh = snapshot();
        if (!fresh) return {};
        return {*fresh, look(**fresh)};
    }

    // One API's devices; a failure sets `stopped` when the API's server is known not to run.
    static Result<Part> list(Api api, bool& stopped) {
        Part part;
        if (api == Api::jack) {
            auto listing = JackClients::list(&stopped);
            if (!listing) return make("The JACK server did not list its devices");
            // The server's own ports are the natural default; otherwise the first device with physical
            // ports that way (under PipeWire, which has no "system", a sink or a source rather than a
            // program), else the first that has any.
            auto pick = [&](bool input) -> std::string {
                const auto& ds = listing->devices;
                auto has = [&](const JackClients::Device& d) {
                    return (input ? d.captureChannels : d.playbackChannels) > 0;
                };
                for (const auto& d : ds)
                    if (d.name == "system" && has(d)) return d.name;
                for (const auto& d : ds)
                    if (has(d) && (input ? d.physicalCapture : d.physicalPlayback)) return d.name;
                for (const auto& d : ds)
                    if (has(d)) return d.name;
                return {};
            };
            const std::string in = pick(true), out = pick(false);
            for (const auto& d : listing->devices)
                part.add(api, d.name, d.name, d.captureChannels, d.playbackChannels, listing->sampleRateHz,
                         d.name == in, d.name == out);
            return part;
        }
        if (api == Api::pulse) {
            auto listing = PulseDevices::list();
            if (!listing) return make("The PulseAudio server did not list its devices");
            for (std::size_t i = 0; i < listing->devices.size(); ++i) {
                const PulseDevices::Device& d = listing->devices[i];
                Entry& e = part.add(api, d.name, d.sink.empty() ? d.source : d.sink, d.inputChannels,
                                    d.outputChannels, d.sampleRateHz,
                                    i == listing->defaultInput && d.inputChannels > 0,
                                    i == listing->defaultOutput && d.outputChannels > 0);
                e.pulseSink = d.sink;
                e.pulseSource = d.source;
            }
            return part;
        }
        auto listed = std::make_shared<Result<Part>>(std::move(part));
        if (!alsaServer().run("listing", std::chrono::steady_clock::now() + answerWait,
                              [listed, api] { *listed = listAlsa(api); }))
            return make("ALSA did not list its devices", {}, AudioSystem::listUnavailable);
        return std::move(*listed);
    }

    // ALSA's devices through RtAudio. The ALSA thread: opening a control device through ALSA's PulseAudio
    // plugin waits on that server with no time limit.
    static Result<Part> listAlsa(Api api) {
        Part part;
        try {
            RtAudio rt(nameOf(api).rtAudio);
            rt.showWarnings(false);
            const unsigned int count = rt.getDeviceCount();
            // RtAudio names a default device even when it has none; trust it only within the list.
            const unsigned int in = count > 0 ? rt.getDefaultInputDevice() : count;
            const unsigned int out = count > 0 ? rt.getDefaultOutputDevice() : count;
            for (unsigned int i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
                Entry& e = part.add(api, info.name, info.name, static_cast<int>(info.inputChannels),
                                    static_cast<int>(info.outputChannels), chooseRate(info),
                                    i == in && info.inputChannels > 0, i == out && info.outputChannels > 0);
                e.rtName = info.name;
                e.rtTwin = static_cast<int>(
                    std::count_if(part.entries.begin(), part.entries.end() - 1,
                                  [&](const Entry& other) { return other.rtName == info.name; }));
            }
        } catch (const RtAudioError& e) {
            return make("Cannot read the list of ALSA devices", rtAudioSaid(e), AudioSystem::listUnreadable);
        }
        return part;
    }

    void remember(Api api, const Part& part) {
        std::lock_guard lock(keptMutex);
        auto& k = kept[static_cast<std::size_t>(api)];
        if (k && k->failingSince)
            Log::info(Log::Area::audio, std::string(nameOf(api).displayName) + " lists its devices again");
        k = Kept{part, std::nullopt};
    }

    void forget(Api api) {
        std::lock_guard lock(keptMutex);
        auto& k = kept[static_cast<std::size_t>(api)];
        if (k)
            Log::info(Log::Area::audio, std::string(nameOf(api).displayName) +
                                            " is not running; its devices are no longer listed");
        k.reset();
    }

    // The last good list of `api`, standing in for failed lists until they have failed for keepListedFor.
    std::optional<Part> recall(Api api) {
        std::lock_guard lock(keptMutex);
        auto& k = kept[static_cast<std::size_t>(api)];
        if (!k) return std::nullopt;
        const std::string name = nameOf(api).displayName;
        const auto now = std::chrono::steady_clock::now();
        if (!k->failingSince) {
            k->failingSince = now;
            Log::info(Log::Area::audio,
                      name + " did not list its devices; its last list stands in for a while");
        } else if (now - *k->failingSince > keepListedFor) {
            Log::info(
                Log::Area::audio,
                name + " has not listed its devices for " +
                    std::to_string(
                        std::chrono::duration_cast<std::chrono::seconds>(now - *k->failingSince).count()) +
                    " s; they are no longer listed");
            k.reset();
            return std::nullopt;
        }
        return k->part;
    }

    void logChanges(const Snapshot& s) {
        std::vector<std::pair<std::string, std::string>> now;
        for (const auto& e : s.entries) now.emplace_back(e.info.api, e.info.name);
        std::lock_guard lock(logMutex);
        if (now == logged) return;
        logged = std::move(now);
        Log::info(Log::Area::audio, "Audio devices: " + describe(s.entries));
    }
};

namespace {

class LinuxAudioEngine;

// One direction through RtAudio (ALSA). Shared by the engine and the calls on the ALSA thread that open,
// start and close it: a call the engine gave up on finishes with the stream whenever ALSA answers.
struct RtStream {
    // The engine whose callbacks the stream runs; null once the engine has let go of it. The callbacks count
    // themselves in `readers` before they read it and out when they are done (sequentially consistent, as
    // JACK's slots): once the engine has set it to null and seen no reader, no callback reaches the engine.
    std::atomic<LinuxAudioEngine*> engine{nullptr};
    std::atomic<int> readers{0};
    std::unique_ptr<RtAudio> rt;  // the ALSA thread's while a call runs, else the engine's
    std::string device;
    int channels = 0;
    unsigned int frames = 0;  // per period, as opened
    // An error reported on this stream's audio thread. Its type and text are written once, by whoever takes
    // errorTaken, before failed is set (release); they are read after failed (acquire).
    std::atomic_flag errorTaken = ATOMIC_FLAG_INIT;
    RtAudioError::Type errorType = RtAudioError::UNSPECIFIED;
    char errorText[256] = {};
    std::atomic<bool> failed{false};

    // Lets go of the engine: no callback reaches it once this returns. Any thread but the audio thread.
    void detach() {
        engine.store(nullptr);
        while (readers.load() != 0) std::this_thread::sleep_for(100us);
    }
};

// RtAudio's error callback carries no user pointer; the stream whose callback last ran on this thread
// is the one that failed. Set by our own audio callbacks, which run on the same thread as RtAudio's read
// and write. Errors reported on other threads (opening, closing) reach the caller by other ways.
thread_local RtStream* t_stream = nullptr;

void onRtAudioError(RtAudioError::Type type, const std::string& text) {
    RtStream* stream = t_stream;
    if (!stream || type == RtAudioError::DEBUG_WARNING) return;
    if (stream->errorTaken.test_and_set(std::memory_order_acquire)) return;
    stream->errorType = type;
    const std::size_t n = std::min(text.size(), sizeof stream->errorText - 1);
    std::memcpy(stream->errorText, text.data(), n);
    stream->errorText[n] = '\0';
    stream->failed.store(true, std::memory_order_release);
}

// The user's text of an RtAudio stream's failure; RtAudio's own, when it gave one, goes to the log.
std::string describeFailure(const RtStream& s) {
    if (s.errorText[0] == '\0') return "The audio stream of " + s.device + " stopped";
    return make("The audio stream of " + s.device + " failed", {"RtAudio", s.errorType, s.errorText})
        .description;
}

class LinuxAudioEngine : public AudioEngineBase {
public:
    explicit LinuxAudioEngine(std::shared_ptr<LinuxAudioSystem::Backend> backend)
        : backend_(std::move(backend)) {}
    ~LinuxAudioEngine() override { stop(); }

    DeviceFormat inputFormat() override { return format(true); }
    DeviceFormat outputFormat() override { return format(false); }

    Status start() override;
    void stop() override;
    bool isRunning() const override { return running_; }

private:
    std::int32_t checkDevice(std::uint32_t id) override {
        return backend_->device(id, false).entry ? AudioStatus::ok : AudioStatus::deviceNotFound;
    }

    DeviceFormat format(bool input) const {
        const auto found = backend_->device(input ? inputID_ : outputID_, input);
        if (!found.entry) return {};
        const AudioDeviceInfo& d = found.entry->info;
        return {input ? d.inputChannels : d.outputChannels, d.sampleRateHz};
    }

    Status open(const Entry& device, bool input, std::shared_ptr<RtStream>& slot);
    Status startRt(std::shared_ptr<RtStream>& slot);
    void close(std::shared_ptr<RtStream>& slot, std::chrono::steady_clock::time_point deadline);
    void closeAll();
    void watch();
    std::string check(std::chrono::steady_clock::time_point& lastProgress, std::uint64_t& lastCount);
    std::uint64_t xruns() const {
        return jack_.xruns() + pulse_.xruns() + rtXruns_.load(std::memory_order_relaxed);
    }
    std::uint64_t periods() const {
        return callbacks_.load(std::memory_order_relaxed) + jack_.periods() + pulse_.periods();
    }

    static int inputCallback(void*, void* in, unsigned int frames, double, RtAudioStreamStatus status,
                             void* stream);
    static int outputCallback(void* out, void*, unsigned int frames, double, RtAudioStreamStatus status,
                              void* stream);
    // What both of RtAudio's callbacks do first: count the period and its xrun. `engine` is null once the
    // stream has failed or its engine has let go of it.
    struct Entered {
        RtStream* stream;
        LinuxAudioEngine* engine = nullptr;
        Entered(void* userData, bool xrun);
        ~Entered() { stream->readers.fetch_sub(1); }
        Entered(const Entered&) = delete;
        Entered& operator=(const Entered&) = delete;
    };

    std::shared_ptr<LinuxAudioSystem::Backend> backend_;
    bool running_ = false;
    std::string description_;  // of the run, for the log
    std::string jackDevices_;  // the names of the run's JACK devices
    std::string stallDevice_;  // the device a stall is reported on: the input's, else the output's
    int openedOutputs_ = 0;    // the output channels the run opened on its device

    JackStream jack_;
    PulseStream pulse_;
    std::shared_ptr<RtStream> input_;  // ALSA's directions of the run
    std::shared_ptr<RtStream> output_;

    // Audio thread state, prepared before the streams start.
    TapCollector collector_;
    std::vector<const float*> inputPointers_;
    std::array<float*, maxOutputChannels> outputPointers_{};
    // Written by the audio threads, read by the watcher (relaxed: only progress and counts matter).
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<std::uint64_t> rtXruns_{0};

    std::thread watcher_;
    std::mutex watcherMutex_;
    std::condition_variable watcherWake_;
    bool watcherQuit_ = false;
};

Status LinuxAudioEngine::start() {
    if (running_) return Status::success();
    // The devices of the last list (listed again only for a device missing from it); each stays with the
    // list that holds it until the start is over.
    LinuxAudioSystem::Backend::Found foundIn, foundOut;
    const Entry* in = nullptr;
    const Entry* out = nullptr;
    // A device that cannot be found may be one of a server that is not responding: then that is the reason.
    auto missing = [&](const char* text) {
        const std::string server = backend_->notResponding();
        return make(server.empty() ? text : server);
    };
    if (tap_) {
        foundIn = backend_->device(inputID_, true);
        in = foundIn.entry;
        if (!in) return missing("The input device is not available");
        if (in->info.inputChannels < 1) return make("The device " + in->info.name + " has no inputs");
    }
    if (render_) {
        foundOut = backend_->device(outputID_, false);
        out = foundOut.entry;
        if (!out) return missing("The output device is not available");
        const Result<int> opened = prepareOutput(out->info.name, out->info.outputChannels);
        if (!opened) return opened.error();
        openedOutputs_ = *opened;
    }
    stallDevice_ = in ? in->info.name : out ? out->info.name : std::string();
    description_.clear();
    for (const Entry* e : {in, out})
        if (e)
            description_ += (description_.empty() ? "" : ", ") + std::string(e == in ? "input " : "output ") +
                            e->info.name + " (" + e->info.api + ")";
    auto fail = [&](const Error& error) -> Status {
        closeAll();
        // What the library said is in the log already (AudioErrors.h).
        Log::warning(Log::Area::audio, "Cannot start " + description_ + ": " + error.description);
        return error;
    };

    const bool jackIn = in && in->api == Api::jack;
    const bool jackOut = out && out->api == Api::jack;
    if (jackIn || jackOut) {
        const JackStream::Direction jin{jackIn ? in->info.name : "", jackIn ? in->info.inputChannels : 0};
        const JackStream::Direction jout{jackOut ? out->info.name : "", jackOut ? openedOutputs_ : 0};
        jackDevices_ = jackIn ? in->info.name : out->info.name;
        if (jackIn && jackOut && in->info.name != out->info.name) jackDevices_ += ", " + out->info.name;
        if (Status s = jack_.open(jin, jout); !s) return fail(s.error());
        if (jackIn) collector_.prepare(in->info.inputChannels, jack_.periodFrames());
    }
    const bool pulseIn = in && in->api == Api::pulse;
    const bool pulseOut = out && out->api == Api::pulse;
    if (pulseIn || pulseOut) {
        // Starts at once: the streams deliver from the first period the server asks for.
        if (pulseIn) collector_.prepare(in->info.inputChannels, PulseStream::periodFrames);
        PulseStream::Direction pin, pout;
        if (pulseIn) pin = {in->info.name, in->pulseSource, in->info.inputChannels, in->info.sampleRateHz};
        if (pulseOut) pout = {out->info.name, out->pulseSink, openedOutputs_, out->info.sampleRateHz};
        if (Status s = pulse_.open(pin, pout, {&collector_, &tap_, &deviceRender()}); !s)
            return fail(s.error());
    }
    if (in && in->api == Api::alsa)
        if (Status s = open(*in, true, input_); !s) return fail(s.error());
    if (out && out->api == Api::alsa)
        if (Status s = open(*out, false, output_); !s) return fail(s.error());

    callbacks_.store(0, std::memory_order_relaxed);
    rtXruns_.store(0, std::memory_order_relaxed);
    for (auto* slot : {&input_, &output_})
        if (*slot)
            if (Status s = startRt(*slot); !s) return fail(s.error());
    if (jack_.isOpen())
        if (Status s = jack_.start({&collector_, &tap_, &deviceRender()}); !s) return fail(s.error());
    watcherQuit_ = false;
    watcher_ = std::thread([this] { watch(); });
    running_ = true;
    Log::info(Log::Area::audio, "Started " + description_);
    return Status::success();
}

namespace {

// The sentence for an ALSA device whose call passed its deadline (or that is not asked while ALSA is not
// responding).
Error notResponding(const std::string& device) {
    return make("The audio device " + device + " is not responding");
}

// Closes the stream's RtAudio object, whatever state it is in. The ALSA thread.
void closeRt(RtStream& stream) {
    if (!stream.rt) return;
    // A stream whose device has gone may refuse to stop or close; it is dropped all the same.
    try {
        if (stream.rt->isStreamRunning()) stream.rt->abortStream();
    } catch (const RtAudioError& e) {
        Log::debug(Log::Area::audio, std::string("Cannot stop a stream: ") + e.what());
    }
    try {
        if (stream.rt->isStreamOpen()) stream.rt->closeStream();
    } catch (const RtAudioError& e) {
        Log::debug(Log::Area::audio, std::string("Cannot close a stream: ") + e.what());
    }
    stream.rt.reset();
}

// Opens `stream` on `device` (its name, its twin of that name and its rate), with the callback of its
// direction. The ALSA thread.
Status openRt(RtStream& stream, const Entry& device, bool input, RtAudioCallback callback) {
    stream.rt = std::make_unique<RtAudio>(nameOf(device.api).rtAudio);
    stream.rt->showWarnings(false);
    RtAudio::StreamParameters parameters;
    parameters.nChannels = static_cast<unsigned int>(stream.channels);
    parameters.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_NONINTERLEAVED;
    // RtAudio opens by list position, and positions shift when devices come and go: look the name up again
    // now, as close to the open as possible (the device's twin of that name as listed).
    int index = -1;
    try {
        const unsigned int count = stream.rt->getDeviceCount();
        int twin = 0;
        for (unsigned int i = 0; i < count && index < 0; ++i)
            if (stream.rt->getDeviceInfo(i).name == device.rtName && twin++ == device.rtTwin)
                index = static_cast<int>(i);
    } catch (const RtAudioError&) {
        index = -1;
    }
    if (index < 0) {
        stream.rt.reset();
        return make("The audio device " + device.info.name + " is no longer available");
    }
    parameters.deviceId = static_cast<unsigned int>(index);
    stream.frames = requestedPeriodFrames;
    try {
        stream.rt->openStream(input ? nullptr : &parameters, input ? &parameters : nullptr, RTAUDIO_FLOAT32,
                              static_cast<unsigned int>(device.info.sampleRateHz), &stream.frames, callback,
                              &stream, &options, &onRtAudioError);
    } catch (const RtAudioError& e) {
        stream.rt.reset();
        return make("The audio device " + device.info.name + " could not be opened", rtAudioSaid(e));
    }
    if (!stream.rt->isStreamOpen()) {
        stream.rt.reset();
        return make("The audio device " + device.info.name + " could not be opened");
    }
    return Status::success();
}

}  // namespace

Status LinuxAudioEngine::open(const Entry& device, bool input, std::shared_ptr<RtStream>& slot) {
    auto stream = std::make_shared<RtStream>();
    stream->engine.store(this);
    stream->device = device.info.name;
    stream->channels = input ? device.info.inputChannels : openedOutputs_;
    auto opened = std::make_shared<Status>(Status::success());
    const bool answered = alsaServer().run(
        "opening a stream", std::chrono::steady_clock::now() + answerWait,
        [stream, opened, device, input] {
            *opened = openRt(*stream, device, input,
                             input ? &LinuxAudioEngine::inputCallback : &LinuxAudioEngine::outputCallback);
        },
        [stream] { closeRt(*stream); });
    if (!answered) {
        stream->detach();
        return notResponding(device.info.name);
    }
    if (!*opened) return *opened;
    slot = std::move(stream);
    if (input) {
        collector_.prepare(slot->channels, slot->frames);
        inputPointers_.assign(static_cast<std::size_t>(slot->channels), nullptr);
    }
    return Status::success();
}

Status LinuxAudioEngine::startRt(std::shared_ptr<RtStream>& slot) {
    const std::shared_ptr<RtStream> stream = slot;
    auto refused = std::make_shared<std::optional<Error>>();
    const bool answered = alsaServer().run(
        "starting a stream", std::chrono::steady_clock::now() + answerWait,
        [stream, refused] {
            try {
                stream->rt->startStream();
            } catch (const RtAudioError& e) {
                *refused =
                    make("The audio device " + stream->device + " could not be started", rtAudioSaid(e));
            }
        },
        [stream] { closeRt(*stream); });
    if (!answered) {
        // The ALSA thread closes it once the start returns; its callbacks no longer reach this engine.
        stream->detach();
        slot.reset();
        return notResponding(stream->device);
    }
    if (*refused) return **refused;
    return Status::success();
}

void LinuxAudioEngine::stop() {
    if (watcher_.joinable()) {
        {
            std::lock_guard lock(watcherMutex_);
            watcherQuit_ = true;
        }
        watcherWake_.notify_all();
        watcher_.join();
    }
    if (running_) {
        Log::info(Log::Area::audio, "Stopped " + description_ + " after " + std::to_string(periods()) +
                                        " periods, " + std::to_string(xruns()) + " xruns");
    }
    closeAll();
    running_ = false;
}

void LinuxAudioEngine::closeAll() {
    jack_.close();
    pulse_.close();
    const auto deadline = std::chrono::steady_clock::now() + closeWait;
    close(input_, deadline);
    close(output_, deadline);
}

void LinuxAudioEngine::close(std::shared_ptr<RtStream>& slot,
                             std::chrono::steady_clock::time_point deadline) {
    const std::shared_ptr<RtStream> stream = std::exchange(slot, nullptr);
    if (!stream || !stream->rt) return;
    // Through ALSA's PulseAudio plugin, stopping waits on that server: a close that does not end in time is
    // left to the ALSA thread, and the stream's callbacks no longer reach this engine.
    if (!alsaServer().runEventually("closing a stream", deadline, [stream] { closeRt(*stream); }))
        stream->detach();
}

void LinuxAudioEngine::watch() {
    auto lastProgress = std::chrono::steady_clock::now();
    std::uint64_t lastCount = 0;
    std::uint64_t loggedXruns = 0;
    for (;;) {
        {
            std::unique_lock lock(watcherMutex_);
            if (watcherWake_.wait_for(lock, 50ms, [this] { return watcherQuit_; })) return;
        }
        const std::string problem = check(lastProgress, lastCount);
        if (!problem.empty()) {
            Log::warning(Log::Area::audio, description_ + ": " + problem);
            if (failureHandler_) failureHandler_(make(problem));
            return;
        }
        if (const std::uint64_t x = xruns(); x != loggedXruns) {
            loggedXruns = x;
            Log::debug(Log::Area::audio, description_ + ": " + std::to_string(x) + " xruns so far");
        }
    }
}

std::string LinuxAudioEngine::check(std::chrono::steady_clock::time_point& lastProgress,
                                    std::uint64_t& lastCount) {
    if (jack_.doomed()) {
        // Closed at once: the process's next JACK client can open only once every stream of the dead one
        // has let it go (JackClients.h).
        jack_.close();
        return "The JACK server stopped";
    }
    if (jack_.deviceGone()) return "The audio device " + jackDevices_ + " disappeared";
    if (std::string problem = pulse_.failure(); !problem.empty()) return problem;
    for (const RtStream* s : {input_.get(), output_.get()}) {
        if (!s || !s->rt) continue;
        if (s->failed.load(std::memory_order_acquire)) return describeFailure(*s);
        if (!s->rt->isStreamOpen() || !s->rt->isStreamRunning()) return describeFailure(*s);
    }
    const std::uint64_t count = periods();
    const auto now = std::chrono::steady_clock::now();
    if (count != lastCount) {
        lastCount = count;
        lastProgress = now;
    } else if (now - lastProgress > stallLimit) {
        // A JACK server that stops calling back is taken as stopped: closing asks nothing more of it.
        jack_.stalled();
        return "The audio device " + stallDevice_ + " stopped delivering audio";
    }
    return {};
}

// After an error RtAudio would call back without end on a dead connection, so a failed stream is aborted.
LinuxAudioEngine::Entered::Entered(void* userData, bool xrun) : stream(static_cast<RtStream*>(userData)) {
    t_stream = stream;
    stream->readers.fetch_add(1);
    if (stream->failed.load(std::memory_order_acquire)) return;
    engine = stream->engine.load();
    if (!engine) return;
    engine->callbacks_.fetch_add(1, std::memory_order_relaxed);
    if (xrun) engine->rtXruns_.fetch_add(1, std::memory_order_relaxed);
}

// RtAudio's input thread.
int LinuxAudioEngine::inputCallback(void*, void* in, unsigned int frames, double, RtAudioStreamStatus status,
                                    void* stream) {
    const Entered entered(stream, status & RTAUDIO_INPUT_OVERFLOW);
    LinuxAudioEngine* engine = entered.engine;
    if (!engine) return 2;
    const auto* base = static_cast<const float*>(in);
    const std::size_t n = engine->inputPointers_.size();
    for (std::size_t c = 0; c < n; ++c) engine->inputPointers_[c] = base ? base + c * frames : nullptr;
    TapCollector::Period flags;
    flags.overflow = (status & RTAUDIO_INPUT_OVERFLOW) != 0;
    flags.floatSamples = base != nullptr;
    engine->collector_.push(engine->inputPointers_.data(), frames, flags, engine->tap_);
    return 0;
}

// RtAudio's output thread.
int LinuxAudioEngine::outputCallback(void* out, void*, unsigned int frames, double,
                                     RtAudioStreamStatus status, void* stream) {
    const Entered entered(stream, status & RTAUDIO_OUTPUT_UNDERFLOW);
    LinuxAudioEngine* engine = entered.engine;
    if (!engine) return 2;
    auto* base = static_cast<float*>(out);
    const int channels = static_cast<RtStream*>(stream)->channels;
    if (!base) return 0;
    std::memset(base, 0, sizeof(float) * frames * static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c)
        engine->outputPointers_[static_cast<std::size_t>(c)] = base + static_cast<std::size_t>(c) * frames;
    engine->deviceRender()(engine->outputPointers_.data(), channels, frames);
    return 0;
}

}  // namespace

LinuxAudioSystem::LinuxAudioSystem(std::vector<std::string> apis) : backend_(std::make_shared<Backend>()) {
    static std::once_flag alsaQuiet;
    std::call_once(alsaQuiet, [] { snd_lib_error_set_handler(&alsaMessage); });
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    auto usable = [&](const ApiName& a) {
        return a.rtAudio == RtAudio::UNSPECIFIED ||
               std::find(compiled.begin(), compiled.end(), a.rtAudio) != compiled.end();
    };
    if (apis.empty())
        for (const auto& a : knownApis) apis.push_back(a.shortName);
    for (const auto& name : apis)
        for (const auto& a : knownApis)
            if (name == a.shortName && usable(a)) backend_->apis.push_back(a.api);
}

LinuxAudioSystem::~LinuxAudioSystem() { setDevicesChanged(nullptr); }

Result<std::vector<AudioDeviceInfo>> LinuxAudioSystem::devices() {
    auto snapshot = backend_->snapshot();
    if (!snapshot) return snapshot.error();
    std::vector<AudioDeviceInfo> list;
    for (const auto& e : (*snapshot)->entries) list.push_back(e.info);
    return list;
}

std::uint32_t LinuxAudioSystem::defaultInputDevice() {
    const auto found = backend_->device(0, true);
    return found.entry ? found.entry->info.id : 0;
}

std::uint32_t LinuxAudioSystem::defaultOutputDevice() {
    const auto found = backend_->device(0, false);
    return found.entry ? found.entry->info.id : 0;
}

std::unique_ptr<AudioEngine> LinuxAudioSystem::makeEngine() {
    return std::make_unique<LinuxAudioEngine>(backend_);
}

std::string LinuxAudioSystem::notResponding() { return backend_->notResponding(); }

std::uint32_t LinuxAudioSystem::chosenDevice(std::uint32_t id, const std::string& key) {
    if (key.empty()) return id;
    auto pick = [&](const Snapshot& s) {
        std::uint32_t found = 0;
        for (const Entry& e : s.entries)
            if (e.info.key == key && (found == 0 || e.info.id == id)) found = e.info.id;
        return found;
    };
    // The last list, unless it lacks the device: it may have come since.
    if (const auto last = backend_->lastSnapshot())
        if (const std::uint32_t found = pick(*last)) return found;
    const auto fresh = backend_->snapshot();
    const std::uint32_t found = fresh ? pick(**fresh) : 0;
    return found != 0 ? found : id;
}

void LinuxAudioSystem::setDevicesChanged(std::function<void()> changed) {
    pulseWatch_.reset();  // its last notice has run once this returns
    for (const auto& [server, handle] : answerWatches_) server->unwatch(handle);
    answerWatches_.clear();
    if (!changed) return;
    // A server that answers again may list devices it could not list meanwhile.
    for (Api api : backend_->apis) {
        ServerThread& server = serverOf(api);
        answerWatches_.emplace_back(&server, server.watch(changed));
    }
    if (std::find(backend_->apis.begin(), backend_->apis.end(), Api::pulse) != backend_->apis.end())
        pulseWatch_ = std::make_unique<PulseWatch>(std::move(changed));
}

}  // namespace quorvel
