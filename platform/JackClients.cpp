#include "platform/JackClients.h"

#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Log.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// Streams of the process at once (an engine has one while it runs: the analyser, the routed generator,
// stereo playback, a voice, a file preview, …).
constexpr std::size_t maxStreams = 32;
// How long an open waits for the streams of a dead server to be closed by their owners (whose watchers
// look every 50 ms); past it the open fails rather than let libjack delete the client under them.
constexpr auto deadClientWait = 5s;

void silent(const char*) {}

// One stream's place in the process callback. The callback, and libjack's notification thread, count
// themselves in `readers` before they read `stream` and out after they are done with it. close() empties
// `stream` and then waits for `readers` to be 0. All sequentially consistent: in the one order of these
// operations, a reader that still got the stream counted itself in before the stream was taken out, so
// close() sees it counted until it has left (its decrement releases, close()'s load acquires, so all it
// did with the stream happens before close() goes on); a reader that counted itself in later gets null.
struct Slot {
    std::atomic<JackStream*> stream{nullptr};
    std::atomic<int> readers{0};
};

// The process's one client. Never destroyed: libjack's threads may reach it until the client is closed,
// and nothing orders that against static destruction.
struct Shared {
    // Held around opening and closing the client, counting its users, reserving slots, and every libjack
    // call that asks the server (libjack does not serialise one client's requests on its socket).
    std::mutex mutex;
    std::condition_variable released;  // a user let go
    jack_client_t* client = nullptr;   // under mutex; fixed while users > 0
    std::string clientName;            // likewise
    int users = 0;                     // under mutex: open listings and streams
    bool active = false;               // under mutex: jack_activate done
    std::array<bool, maxStreams> reserved{};
    std::array<Slot, maxStreams> slots;

    // Set by libjack's notification thread when the server goes (release, after `reason`), read anywhere
    // (acquire). Cleared only when a new client opens, while nobody uses one.
    std::atomic<bool> serverGone{false};
    char reason[256] = {};
};

Shared& shared() {
    static Shared* s = new Shared;
    return *s;
}

// For libjack's callbacks, which reach a stream only through its slot. Closing the client cancels
// libjack's threads wherever they are, but the client closes only when no stream is left in a slot, so a
// tap or render is never cut off; a count of readers left behind is cleared before the next client opens.
template <typename Visit>
void forEachStream(Visit visit) {
    for (Slot& slot : shared().slots) {
        slot.readers.fetch_add(1);
        if (JackStream* stream = slot.stream.load()) visit(*stream);
        slot.readers.fetch_sub(1);
    }
}

enum class Share { taken, noServer, deadClientOpen };

// Opens the client (the process holds none). Under the mutex.
bool openClient(Shared& s);

// Takes a share of the process's client, opening it if there is none. Under the mutex (`lock`).
Share take(Shared& s, std::unique_lock<std::mutex>& lock) {
    const auto deadline = std::chrono::steady_clock::now() + deadClientWait;
    // A client whose server died is closed by its last user; until then nothing may open another.
    while (s.client && s.serverGone.load(std::memory_order_acquire)) {
        if (s.released.wait_until(lock, deadline) == std::cv_status::timeout && s.client &&
            s.serverGone.load(std::memory_order_acquire))
            return Share::deadClientOpen;
    }
    if (!s.client && !openClient(s)) return Share::noServer;
    ++s.users;
    return Share::taken;
}

// Lets go of a share; the last user closes the client. Under the mutex.
void letGo(Shared& s) {
    if (--s.users == 0) {
        jack_client_close(s.client);
        if (s.serverGone.load(std::memory_order_acquire))
            Log::info(Log::Area::audio, "JACK: closed " + s.clientName + " after the server stopped (" +
                                            std::string(s.reason) + ")");
        s.client = nullptr;
        s.active = false;
    }
    s.released.notify_all();
}

std::string failureText(Share share) {
    return share == Share::noServer ? "The JACK server is not running"
                                    : "The JACK server stopped and its streams are still closing";
}

std::string clientOf(const char* port) {
    const char* colon = std::strchr(port, ':');
    return colon ? std::string(port, colon) : std::string();
}

bool ours(const std::string& client) { return client.rfind(JackClients::jackClientPrefix, 0) == 0; }

std::vector<std::string> portNames(jack_client_t* client, unsigned long flags) {
    std::vector<std::string> names;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags)) {
        for (const char** p = ports; *p; ++p) names.emplace_back(*p);
        jack_free(ports);
    }
    return names;
}

// Where a port of a device stands among its channels, by its name: a device's playback channels are its
// "playback_…" ports, then its other inputs; its capture channels its "capture_…" ports, then its
// "monitor_…" ports, then its other outputs. Under PipeWire one JACK client holds every node of its name (a
// sink's playback and monitor ports beside a source's input and capture ports, in the order the nodes
// came); jackd's clients (system, and most others) name theirs "playback_<n>" and "capture_<n>" only.
int rankOf(const std::string& port, std::size_t nameAt, bool playback) {
    auto named = [&](const char* kind) { return port.compare(nameAt, std::strlen(kind), kind) == 0; };
    if (playback) return named("playback_") ? 0 : 1;
    return named("capture_") ? 0 : named("monitor_") ? 1 : 2;
}

// The audio ports of `device` in channel order: its inputs (playback) or outputs (capture), ranked by
// rankOf() and in the server's order within a rank.
std::vector<std::string> devicePorts(jack_client_t* client, const std::string& device, bool playback) {
    std::vector<std::string> ports;
    const std::string prefix = device + ":";
    for (auto& port : portNames(client, playback ? JackPortIsInput : JackPortIsOutput))
        if (port.rfind(prefix, 0) == 0) ports.push_back(std::move(port));
    std::vector<std::string> result;
    for (int rank = 0; rank < 3; ++rank)
        for (const auto& port : ports)
            if (rankOf(port, prefix.size(), playback) == rank) result.push_back(port);
    return result;
}

}  // namespace

struct JackCallbacks {
    static int process(jack_nframes_t frames, void*) {
        forEachStream([frames](JackStream& stream) { stream.process(frames); });
        return 0;
    }
    static void shutdown(jack_status_t, const char* reason, void*) {
        Shared& s = shared();
        std::strncpy(s.reason, reason ? reason : "", sizeof s.reason - 1);
        s.serverGone.store(true, std::memory_order_release);
    }
    // jackd's libjack calls only the callback above when both are set; PipeWire's calls only this one, at
    // once when its connection to the server breaks.
    static void connectionLost(void*) {
        Shared& s = shared();
        if (s.serverGone.load(std::memory_order_acquire)) return;
        std::strncpy(s.reason, "connection lost", sizeof s.reason - 1);
        s.serverGone.store(true, std::memory_order_release);
    }
    static void clientRegistration(const char* name, int registered, void*) {
        if (!registered) forEachStream([name](JackStream& stream) { stream.clientLeft(name); });
    }
    static int xrun(void*) {
        forEachStream([](JackStream& stream) { stream.xrun(); });
        return 0;
    }
};

namespace {

bool openClient(Shared& s) {
    static const bool quiet = [] {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
        return true;
    }();
    (void)quiet;
    // Nobody uses a client now, and libjack's threads of the last one are gone: nothing reads these.
    s.serverGone.store(false, std::memory_order_relaxed);
    s.reason[0] = '\0';
    for (Slot& slot : s.slots) slot.readers.store(0);
    s.clientName = std::string(JackClients::jackClientPrefix) + std::to_string(getpid());
    jack_status_t status{};
    s.client = jack_client_open(s.clientName.c_str(), JackNoStartServer, &status);
    if (!s.client) return false;
    s.clientName = jack_get_client_name(s.client);
    jack_set_process_callback(s.client, &JackCallbacks::process, nullptr);
    jack_on_info_shutdown(s.client, &JackCallbacks::shutdown, nullptr);
    jack_on_shutdown(s.client, &JackCallbacks::connectionLost, nullptr);
    jack_set_client_registration_callback(s.client, &JackCallbacks::clientRegistration, nullptr);
    jack_set_xrun_callback(s.client, &JackCallbacks::xrun, nullptr);
    return true;
}

}  // namespace

namespace JackClients {

std::optional<Listing> list() {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    if (const Share share = take(s, lock); share != Share::taken) {
        if (share == Share::deadClientOpen) Log::warning(Log::Area::audio, "JACK: " + failureText(share));
        return std::nullopt;
    }
    jack_client_t* client = s.client;
    Listing listing;
    listing.sampleRateHz = jack_get_sample_rate(client);
    auto count = [&](unsigned long flags, auto member) {
        for (const auto& port : portNames(client, flags)) {
            const std::string name = clientOf(port.c_str());
            if (name.empty() || ours(name)) continue;
            auto it = std::find_if(listing.devices.begin(), listing.devices.end(),
                                   [&](const Device& d) { return d.name == name; });
            if (it == listing.devices.end()) it = listing.devices.insert(it, Device{name});
            ++((*it).*member);
        }
    };
    // First the order of all audio ports, so that devices stand in the order of their first port.
    for (const auto& port : portNames(client, 0)) {
        const std::string name = clientOf(port.c_str());
        if (name.empty() || ours(name)) continue;
        if (std::none_of(listing.devices.begin(), listing.devices.end(),
                         [&](const Device& d) { return d.name == name; }))
            listing.devices.push_back(Device{name});
    }
    count(JackPortIsOutput, &Device::captureChannels);
    count(JackPortIsInput, &Device::playbackChannels);
    for (const auto& [flags, member] : {std::pair{JackPortIsOutput, &Device::physicalCapture},
                                        std::pair{JackPortIsInput, &Device::physicalPlayback}})
        for (const auto& port : portNames(client, flags | JackPortIsPhysical))
            for (auto& d : listing.devices)
                if (d.name == clientOf(port.c_str())) d.*member = true;
    letGo(s);
    return listing;
}

}  // namespace JackClients

Status JackStream::open(const Direction& input, const Direction& output) {
    close();
    static std::atomic<int> runs{0};
    input_ = input;
    output_ = output;
    name_ = "s" + std::to_string(++runs);
    periods_.store(0, std::memory_order_relaxed);
    xruns_.store(0, std::memory_order_relaxed);
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    if (const Share share = take(s, lock); share != Share::taken)
        return Error{AudioStatus::errorDomain, 0, failureText(share)};
    const auto free = std::find(s.reserved.begin(), s.reserved.end(), false);
    if (free == s.reserved.end()) {
        letGo(s);
        return Error{AudioStatus::errorDomain, 0, "Too many JACK streams at once"};
    }
    *free = true;
    slot_ = static_cast<int>(free - s.reserved.begin());
    auto makePorts = [&](int count, const char* kind, unsigned long flags, std::vector<void*>& ports) {
        for (int k = 1; k <= count; ++k) {
            const std::string port = name_ + kind + std::to_string(k);
            jack_port_t* p = jack_port_register(s.client, port.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
            if (!p) return false;
            ports.push_back(p);
        }
        return true;
    };
    if (!makePorts(input_.device.empty() ? 0 : input_.channels, "-in_", JackPortIsInput, inputPorts_) ||
        !makePorts(output_.device.empty() ? 0 : output_.channels, "-out_", JackPortIsOutput, outputPorts_)) {
        lock.unlock();
        close();
        return Error{AudioStatus::errorDomain, 0, "Cannot make the ports of the JACK stream"};
    }
    inputPointers_.assign(inputPorts_.size(), nullptr);
    outputPointers_.assign(outputPorts_.size(), nullptr);
    return Status::success();
}

std::int64_t JackStream::periodFrames() const {
    // The client stays the same while we hold a share of it.
    return isOpen() ? jack_get_buffer_size(shared().client) : 0;
}

Status JackStream::start(Hooks hooks) {
    if (!isOpen()) return Error{AudioStatus::errorDomain, 0, "The JACK server is not running"};
    Shared& s = shared();
    hooks_ = hooks;
    settlingPeriods_ = inputPorts_.empty() ? 0 : 1;
    connected_.store(false, std::memory_order_release);
    bool active = false;
    {
        std::lock_guard lock(s.mutex);
        if (!s.active && jack_activate(s.client) == 0) s.active = true;
        active = s.active;
    }
    if (!active) {
        close();
        return Error{AudioStatus::errorDomain, 0, "The JACK server refused to start the stream"};
    }
    // Everything the callback reads of this stream is written above; the store publishes it.
    s.slots[static_cast<std::size_t>(slot_)].stream.store(this);
    inSlot_ = true;
    if (Status r = connect(input_, true); !r) return r;
    if (Status r = connect(output_, false); !r) return r;
    connected_.store(true, std::memory_order_release);
    started_ = true;
    Log::info(Log::Area::audio, "Started JACK stream " + describe() + ", " + std::to_string(periodFrames()) +
                                    " frames at " + std::to_string(jack_get_sample_rate(s.client)) + " Hz");
    return Status::success();
}

Status JackStream::connect(const Direction& direction, bool input) {
    if (direction.device.empty()) return Status::success();
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    auto fail = [&](std::string text) -> Status {
        lock.unlock();
        close();
        return Error{AudioStatus::errorDomain, 0, std::move(text)};
    };
    const auto theirs = devicePorts(s.client, direction.device, !input);
    if (theirs.empty()) return fail("The audio device " + direction.device + " is no longer available");
    if (static_cast<int>(theirs.size()) < direction.channels)
        return fail("The audio device " + direction.device + " no longer has " +
                    std::to_string(direction.channels) + (input ? " inputs" : " outputs"));
    const auto& own = input ? inputPorts_ : outputPorts_;
    for (int k = 0; k < direction.channels; ++k) {
        const char* mine = jack_port_name(static_cast<jack_port_t*>(own[static_cast<std::size_t>(k)]));
        const std::string& other = theirs[static_cast<std::size_t>(k)];
        const int r =
            input ? jack_connect(s.client, other.c_str(), mine) : jack_connect(s.client, mine, other.c_str());
        if (r != 0 && r != EEXIST) return fail("Cannot connect to " + other);
    }
    return Status::success();
}

void JackStream::close() {
    if (!isOpen()) return;
    Shared& s = shared();
    Slot& slot = s.slots[static_cast<std::size_t>(slot_)];
    if (inSlot_) {
        slot.stream.store(nullptr);
        // A reader still inside is in the middle of one period or notification: never long, and nothing
        // cancels libjack's threads while this stream holds its share of the client.
        while (slot.readers.load() != 0) std::this_thread::sleep_for(100us);
        inSlot_ = false;
    }
    if (started_)
        Log::info(Log::Area::audio, "Stopped JACK stream " + describe() + " after " +
                                        std::to_string(periods()) + " periods, " + std::to_string(xruns()) +
                                        " xruns");
    {
        std::lock_guard lock(s.mutex);
        // A dead server's client drops its ports when it closes; asking the server now would only fail.
        if (!s.serverGone.load(std::memory_order_acquire))
            for (const auto* ports : {&inputPorts_, &outputPorts_})
                for (void* port : *ports) jack_port_unregister(s.client, static_cast<jack_port_t*>(port));
        s.reserved[static_cast<std::size_t>(slot_)] = false;
        letGo(s);
    }
    slot_ = -1;
    started_ = false;
    inputPorts_.clear();
    outputPorts_.clear();
    hooks_ = {};
    connected_.store(false, std::memory_order_release);
    deviceGone_.store(false, std::memory_order_release);
    xrunPending_.store(false, std::memory_order_release);
}

bool JackStream::doomed() const { return isOpen() && shared().serverGone.load(std::memory_order_acquire); }

std::string JackStream::describe() const {
    std::string text = shared().clientName + ":" + name_;
    if (!input_.device.empty()) text += ", " + std::to_string(input_.channels) + " in from " + input_.device;
    if (!output_.device.empty())
        text += ", " + std::to_string(output_.channels) + " out to " + output_.device;
    return text;
}

// Audio thread.
void JackStream::process(std::uint32_t frames) {
    periods_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t c = 0; c < outputPorts_.size(); ++c) {
        auto* out =
            static_cast<float*>(jack_port_get_buffer(static_cast<jack_port_t*>(outputPorts_[c]), frames));
        std::memset(out, 0, sizeof(float) * frames);
        outputPointers_[c] = out;
    }
    if (!connected_.load(std::memory_order_acquire)) return;
    if (!inputPorts_.empty()) {
        for (std::size_t c = 0; c < inputPorts_.size(); ++c)
            inputPointers_[c] = static_cast<const float*>(
                jack_port_get_buffer(static_cast<jack_port_t*>(inputPorts_[c]), frames));
        TapCollector::Period flags;
        flags.overflow = xrunPending_.exchange(false, std::memory_order_acq_rel);
        if (settlingPeriods_ > 0)
            --settlingPeriods_;
        else
            hooks_.collector->push(inputPointers_.data(), frames, flags, *hooks_.tap);
    }
    if (!outputPorts_.empty())
        (*hooks_.render)(outputPointers_.data(), static_cast<int>(outputPorts_.size()), frames);
}

// libjack's notification thread. Comparing fixed strings neither allocates nor locks.
void JackStream::clientLeft(const char* client) {
    for (const auto* d : {&input_, &output_})
        if (!d->device.empty() && d->device == client) deviceGone_.store(true, std::memory_order_release);
}

void JackStream::xrun() {
    xruns_.fetch_add(1, std::memory_order_relaxed);
    xrunPending_.store(true, std::memory_order_release);
}

}  // namespace quorvel
