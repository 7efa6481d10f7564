#include "platform/JackClients.h"

#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
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

// How long an open waits for the clients of a dead server to be closed by their owners (whose watchers
// look every 50 ms); past it the open fails rather than let libjack delete them under their owners.
constexpr auto doomedCloseWait = 5s;
// How long close() waits for a callback still inside the tap or render (never long: a period or so).
constexpr auto callbackExitWait = 2s;

void silent(const char*) {}

struct OpenClient {
    jack_client_t* client;
    std::uint64_t generation;
};

struct Registry {
    std::mutex mutex;  // held around every jack_client_open and jack_client_close of the process
    std::condition_variable closed;
    std::vector<OpenClient> open;
};

Registry& registry() {
    static Registry r;
    return r;
}

// Server deaths heard by any of our clients, raised by libjack's threads. A client opened when the count
// was lower is doomed (see JackClients.h). Acquire/release: a reader that sees a death also sees what the
// shutdown callback stored before it.
std::atomic<std::uint64_t> g_deaths{0};

bool doomedClientsLeft(const Registry& r) {
    const std::uint64_t deaths = g_deaths.load(std::memory_order_acquire);
    return std::any_of(r.open.begin(), r.open.end(),
                       [&](const OpenClient& c) { return c.generation < deaths; });
}

// Any thread. Null when no server answers, or when clients of a dead server stay open too long.
OpenClient openClient(const std::string& name) {
    static const bool quiet = [] {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
        return true;
    }();
    (void)quiet;
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    const auto deadline = std::chrono::steady_clock::now() + doomedCloseWait;
    while (doomedClientsLeft(r)) {
        if (std::chrono::steady_clock::now() > deadline) {
            Log::warning(Log::Area::audio,
                         "JACK: clients of a stopped server are still open; not opening " + name);
            return {nullptr, 0};
        }
        r.closed.wait_for(lock, 10ms);
    }
    const std::uint64_t generation = g_deaths.load(std::memory_order_acquire);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client) r.open.push_back({client, generation});
    return {client, generation};
}

// Any thread.
void closeClient(jack_client_t* client) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    jack_client_close(client);
    r.open.erase(
        std::remove_if(r.open.begin(), r.open.end(), [&](const OpenClient& c) { return c.client == client; }),
        r.open.end());
    r.closed.notify_all();
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

// The audio ports of `device`, in the server's order: its inputs (playback) or outputs (capture).
std::vector<std::string> devicePorts(jack_client_t* client, const std::string& device, bool playback) {
    std::vector<std::string> result;
    const std::string prefix = device + ":";
    for (auto& port : portNames(client, playback ? JackPortIsInput : JackPortIsOutput))
        if (port.rfind(prefix, 0) == 0) result.push_back(std::move(port));
    return result;
}

}  // namespace

namespace JackClients {

std::optional<Listing> list() {
    const OpenClient opened = openClient(uniqueClientName("list"));
    jack_client_t* client = opened.client;
    if (!client) return std::nullopt;
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
    closeClient(client);
    return listing;
}

std::string uniqueClientName(const char* role) {
    static std::atomic<int> counter{0};
    return std::string(jackClientPrefix) + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
           role;
}

}  // namespace JackClients

// libjack's callbacks. Each runs on a thread of libjack's that closing the client may cancel at any
// point: they only touch atomics and storage made beforehand.
struct JackCallbacks {
    static int process(jack_nframes_t frames, void* self) {
        static_cast<JackStream*>(self)->process(frames);
        return 0;
    }
    static void shutdown(jack_status_t, const char*, void* self) {
        static_cast<JackStream*>(self)->serverGone_.store(true, std::memory_order_release);
        g_deaths.fetch_add(1, std::memory_order_acq_rel);
    }
    static void clientRegistration(const char* name, int registered, void* self) {
        auto* stream = static_cast<JackStream*>(self);
        if (registered) return;
        // Comparing fixed strings neither allocates nor locks.
        for (const auto* d : {&stream->input_, &stream->output_})
            if (!d->device.empty() && d->device == name)
                stream->deviceGone_.store(true, std::memory_order_release);
    }
    static int xrun(void* self) {
        auto* stream = static_cast<JackStream*>(self);
        stream->xruns_.fetch_add(1, std::memory_order_relaxed);
        stream->xrunPending_.store(true, std::memory_order_release);
        return 0;
    }
};

Status JackStream::open(const Direction& input, const Direction& output) {
    close();
    input_ = input;
    output_ = output;
    name_ = JackClients::uniqueClientName("stream");
    periods_.store(0, std::memory_order_relaxed);
    xruns_.store(0, std::memory_order_relaxed);
    const OpenClient opened = openClient(name_);
    if (!opened.client) return Error{AudioStatus::errorDomain, 0, "The JACK server is not running"};
    auto* client = opened.client;
    client_ = client;
    generation_ = opened.generation;
    auto fail = [&](std::string text) -> Status {
        close();
        return Error{AudioStatus::errorDomain, 0, std::move(text)};
    };
    jack_set_process_callback(client, &JackCallbacks::process, this);
    jack_on_info_shutdown(client, &JackCallbacks::shutdown, this);
    jack_set_client_registration_callback(client, &JackCallbacks::clientRegistration, this);
    jack_set_xrun_callback(client, &JackCallbacks::xrun, this);
    auto makePorts = [&](int count, const char* prefix, unsigned long flags, std::vector<void*>& ports) {
        for (int k = 1; k <= count; ++k) {
            const std::string port = prefix + std::to_string(k);
            jack_port_t* p = jack_port_register(client, port.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
            if (!p) return false;
            ports.push_back(p);
        }
        return true;
    };
    if (!makePorts(input_.device.empty() ? 0 : input_.channels, "in_", JackPortIsInput, inputPorts_) ||
        !makePorts(output_.device.empty() ? 0 : output_.channels, "out_", JackPortIsOutput, outputPorts_))
        return fail("Cannot make the ports of the JACK stream");
    inputPointers_.assign(inputPorts_.size(), nullptr);
    outputPointers_.assign(outputPorts_.size(), nullptr);
    return Status::success();
}

std::int64_t JackStream::periodFrames() const {
    return client_ ? jack_get_buffer_size(static_cast<jack_client_t*>(client_)) : 0;
}

Status JackStream::start(Hooks hooks) {
    auto* client = static_cast<jack_client_t*>(client_);
    if (!client) return Error{AudioStatus::errorDomain, 0, "The JACK server is not running"};
    hooks_ = hooks;
    settlingPeriods_ = inputPorts_.empty() ? 0 : 1;
    connected_.store(false, std::memory_order_release);
    if (jack_activate(client) != 0) {
        close();
        return Error{AudioStatus::errorDomain, 0, "The JACK server refused to start the stream"};
    }
    if (Status s = connect(input_, true); !s) return s;
    if (Status s = connect(output_, false); !s) return s;
    connected_.store(true, std::memory_order_release);
    return Status::success();
}

Status JackStream::connect(const Direction& direction, bool input) {
    if (direction.device.empty()) return Status::success();
    auto* client = static_cast<jack_client_t*>(client_);
    const auto theirs = devicePorts(client, direction.device, !input);
    auto fail = [&](std::string text) -> Status {
        close();
        return Error{AudioStatus::errorDomain, 0, std::move(text)};
    };
    if (theirs.empty()) return fail("The audio device " + direction.device + " is no longer available");
    if (static_cast<int>(theirs.size()) < direction.channels)
        return fail("The audio device " + direction.device + " no longer has " +
                    std::to_string(direction.channels) + (input ? " inputs" : " outputs"));
    const auto& own = input ? inputPorts_ : outputPorts_;
    for (int k = 0; k < direction.channels; ++k) {
        const char* mine = jack_port_name(static_cast<jack_port_t*>(own[static_cast<std::size_t>(k)]));
        const std::string& other = theirs[static_cast<std::size_t>(k)];
        const int r =
            input ? jack_connect(client, other.c_str(), mine) : jack_connect(client, mine, other.c_str());
        if (r != 0 && r != EEXIST) return fail("Cannot connect to " + other);
    }
    return Status::success();
}

void JackStream::close() {
    auto* client = static_cast<jack_client_t*>(client_);
    if (!client) return;
    closing_.store(true);
    const auto deadline = std::chrono::steady_clock::now() + callbackExitWait;
    while (inProcess_.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    closeClient(client);
    client_ = nullptr;
    inputPorts_.clear();
    outputPorts_.clear();
    hooks_ = {};
    closing_.store(false);
    connected_.store(false, std::memory_order_release);
    serverGone_.store(false, std::memory_order_release);
    deviceGone_.store(false, std::memory_order_release);
    xrunPending_.store(false, std::memory_order_release);
}

bool JackStream::doomed() const {
    return client_ && (serverGone_.load(std::memory_order_acquire) ||
                       g_deaths.load(std::memory_order_acquire) > generation_);
}

// Audio thread.
void JackStream::process(std::uint32_t frames) {
    inProcess_.store(true);
    if (closing_.load()) {
        inProcess_.store(false);
        return;
    }
    periods_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t c = 0; c < outputPorts_.size(); ++c) {
        auto* out =
            static_cast<float*>(jack_port_get_buffer(static_cast<jack_port_t*>(outputPorts_[c]), frames));
        std::memset(out, 0, sizeof(float) * frames);
        outputPointers_[c] = out;
    }
    if (connected_.load(std::memory_order_acquire)) {
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
    inProcess_.store(false);
}

}  // namespace quorvel
