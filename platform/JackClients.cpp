#include "platform/JackClients.h"

#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/AudioErrors.h"
#include "platform/Log.h"
#include "platform/ServerThread.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Streams of the process at once (an engine has one while it runs: the analyser, the routed generator,
// stereo playback, a voice, a file preview, …).
constexpr std::size_t maxStreams = 32;
// How long an open waits for the streams of a dead server to be closed by their owners (whose watchers
// look every 50 ms); past it the open fails rather than let libjack delete the client under them.
constexpr auto deadClientWait = 5s;
// How long a listing, and each step of opening and starting a stream, waits for the server to answer (as
// PulseDevices::list).
constexpr auto answerWait = 5s;
// How long all of a stream's close waits for the server, so that an engine's stop() takes under a second.
// Unregistering a stream's ports and closing the client take milliseconds on a live server.
constexpr auto closeWait = 750ms;
// How long the process callback must stay silent after a shutdown told without a reason before the
// server counts as gone: about a hundred periods, so that a loaded machine's scheduling cannot fake a stop,
// and well within an engine's five-second watch for a stalled device.
constexpr auto silenceAfterNotice = 2s;

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

using Call = ServerThread::Call;
using CallBody = ServerThread::Body;

// The process's one client. Never destroyed: libjack's threads may reach it until the client is closed,
// and nothing orders that against static destruction; nor is the server thread ever stopped.
struct Shared {
    // The thread of every call to the server. Its mutex guards the bookkeeping below, and is never held
    // across a call to the server; its condition is notified when a user lets go or a call ends.
    ServerThread server{"JACK"};
    std::mutex& mutex = server.mutex();
    std::condition_variable& changed = server.changed();
    // Under mutex. Opened and closed only on the server thread; fixed while users > 0.
    jack_client_t* client = nullptr;
    std::string clientName;  // likewise
    int users = 0;           // under mutex: open streams
    bool active = false;     // under mutex: jack_activate done
    std::array<bool, maxStreams> reserved{};
    std::array<Slot, maxStreams> slots;
    bool stalled = false;  // under mutex: the client's streams stopped being called back; until it closes
    bool closesAtExit = false;  // under mutex: the exit handler is registered

    // Set by libjack's notification thread when the server goes (release, after `reason` and
    // `shutdownStatus`), or by gone() once a shutdown told without a reason is confirmed; read anywhere
    // (acquire). Cleared only when a new client opens, while nobody uses one.
    std::atomic<bool> serverGone{false};
    char reason[256] = {};
    std::atomic<int> shutdownStatus{0};
    // Process callbacks of the client so far: the audio thread counts, anyone reads (relaxed: only a
    // change matters).
    std::atomic<std::uint64_t> cycles{0};
    // A shutdown told without a reason and not yet decided (PipeWire's libjack tells one for any error its
    // server reports, and the server may go on running the client): when, as steady-clock ticks (0: none),
    // and the cycles then. Written by libjack's notification thread (`toldAt` last, release), decided by
    // gone(); cleared with serverGone.
    std::atomic<Clock::rep> toldAt{0};
    std::atomic<std::uint64_t> cyclesWhenTold{0};
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

// Whether the server of the process's client is gone. A shutdown told without a reason counts only once
// the process callback has stayed silent for silenceAfterNotice since; a callback run after it makes it a
// false notice. Any thread but the audio thread.
bool gone(Shared& s) {
    if (s.serverGone.load(std::memory_order_acquire)) return true;
    Clock::rep told = s.toldAt.load(std::memory_order_acquire);
    if (told == 0) return false;
    if (s.cycles.load(std::memory_order_relaxed) != s.cyclesWhenTold.load(std::memory_order_relaxed)) {
        if (s.toldAt.compare_exchange_strong(told, 0))
            Log::info(Log::Area::audio,
                      "JACK: told of a shutdown without a reason, but the server still runs " + s.clientName);
        return false;
    }
    if (Clock::now() - Clock::time_point(Clock::duration(told)) < silenceAfterNotice) return false;
    if (s.toldAt.compare_exchange_strong(told, 0)) s.serverGone.store(true, std::memory_order_release);
    return s.serverGone.load(std::memory_order_acquire);
}

// False while the server has not answered a call that is past its deadline, or the client stalled: then
// nothing else is asked of it. Under the mutex.
bool answering(Shared& s) { return s.server.answering() && !s.stalled; }

// Runs `body` on the server thread and waits for it until `deadline` (ServerThread::ask); false at once
// while the server is not answering. Under the mutex (`lock`).
bool ask(Shared& s, std::unique_lock<std::mutex>& lock, const char* what, Clock::time_point deadline,
         CallBody body) {
    if (s.stalled) {
        Log::debug(Log::Area::audio, std::string("JACK: not asked (") + what + "): the client stalled");
        return false;
    }
    return s.server.ask(lock, what, deadline, std::move(body));
}

// libjack's status bits, named, with what each means (jack/types.h).
std::string describeStatus(int status) {
    static constexpr std::pair<int, const char*> bits[] = {
        {JackFailure, "JackFailure (overall operation failed)"},
        {JackInvalidOption, "JackInvalidOption (invalid or unsupported option)"},
        {JackNameNotUnique, "JackNameNotUnique (client name not unique)"},
        {JackServerStarted, "JackServerStarted (server started)"},
        {JackServerFailed, "JackServerFailed (unable to connect to the server)"},
        {JackServerError, "JackServerError (communication error with the server)"},
        {JackNoSuchClient, "JackNoSuchClient (requested client does not exist)"},
        {JackLoadFailure, "JackLoadFailure (unable to load internal client)"},
        {JackInitFailure, "JackInitFailure (unable to initialize client)"},
        {JackShmFailure, "JackShmFailure (unable to access shared memory)"},
        {JackVersionError, "JackVersionError (protocol version does not match)"},
        {JackBackendError, "JackBackendError (backend error)"},
        {JackClientZombie, "JackClientZombie (client zombified)"},
    };
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(status));
    std::string text = std::string("status ") + hex;
    int named = 0;
    for (const auto& [bit, name] : bits)
        if (status & bit) text += (named++ ? ", " : ": ") + std::string(name);
    return text;
}

enum class Share { taken, noServer, deadClientOpen, notAnswering };

std::string failureText(Share share) {
    switch (share) {
        case Share::noServer:
            return "The JACK server is not running";
        case Share::deadClientOpen:
            return "The JACK server stopped and its streams are still closing";
        default:
            return "The JACK server is not responding";
    }
}

// Opens a client (the process holds none). The server thread.
jack_client_t* openClient(Shared& s, jack_status_t& status);
// Closes a client that nothing uses any more. The server thread.
void closeClient(Shared& s, jack_client_t* client, const std::string& name);

// Whether the process's client is to be let go: its server is gone, or its streams stalled. Under the mutex.
bool doomed(Shared& s) { return s.client && (gone(s) || s.stalled); }

// Closes the process's client if it is doomed and no stream uses it. The server thread, under `settle`
// (left locked).
void closeIfDoomed(Shared& s, std::unique_lock<std::mutex>& settle) {
    if (!doomed(s) || s.users > 0) return;
    jack_client_t* client = std::exchange(s.client, nullptr);
    const std::string name = s.clientName;
    s.active = false;
    settle.unlock();
    closeClient(s, client, name);
    settle.lock();
    s.stalled = false;
}

// At exit the process's client is closed while the server answers, so that the server sees it leave.
void closeAtExit() {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    if (!s.client || !answering(s)) return;
    const auto closing = s.server.post("closing the client at exit", true,
                                       [&s](const Call& call, std::unique_lock<std::mutex>& settle) {
                                           settle.lock();
                                           if (!s.client || s.users > 0 || call.abandoned) return;
                                           jack_client_t* client = std::exchange(s.client, nullptr);
                                           s.active = false;
                                           settle.unlock();
                                           jack_client_close(client);
                                           settle.lock();
                                       });
    (void)s.server.await(lock, *closing, Clock::now() + closeWait);
}

// The process's client as a call needs it: a doomed one that nobody uses is closed, and one is opened
// when there is none; `status` is libjack's when an open fails. The server thread, under `settle` (left
// locked).
void ensureClient(Shared& s, std::unique_lock<std::mutex>& settle, jack_status_t& status) {
    closeIfDoomed(s, settle);
    if (s.client) return;
    settle.unlock();
    jack_client_t* client = openClient(s, status);
    settle.lock();
    if (!client) return;
    s.client = client;
    s.clientName = jack_get_client_name(client);
    if (!std::exchange(s.closesAtExit, true)) std::atexit(&closeAtExit);
}

// Waits until no stream uses the client of a dead server (their owners close them); false at `deadline`.
// Under the mutex (`lock`).
bool waitForDeadClient(Shared& s, std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    return s.changed.wait_until(lock, deadline, [&] {
        return !(s.client && s.users > 0 && s.serverGone.load(std::memory_order_acquire));
    });
}

struct Opened {
    Share share = Share::noServer;
    jack_status_t status{};
};

// Takes a share of the process's client, opening one if there is none, for a caller that still waits. The
// server thread, as a CallBody.
void openShared(Shared& s, Opened& opened, const Call& call, std::unique_lock<std::mutex>& settle) {
    settle.lock();
    ensureClient(s, settle, opened.status);
    if (!s.client) return;
    if (gone(s)) {
        opened.share = Share::deadClientOpen;  // a stream of the stopped server still holds it
        return;
    }
    if (call.abandoned) return;  // the client stays open for the next caller
    ++s.users;
    opened.share = Share::taken;
}

// Takes a share of the process's client, opening one if there is none. Under the mutex (`lock`).
Share take(Shared& s, std::unique_lock<std::mutex>& lock, jack_status_t& status) {
    if (!answering(s)) return Share::notAnswering;
    if (!waitForDeadClient(s, lock, Clock::now() + deadClientWait)) return Share::deadClientOpen;
    if (s.client && !gone(s)) {
        ++s.users;
        return Share::taken;
    }
    // A dead server's client is closed first, on the server thread.
    auto opened = std::make_shared<Opened>();
    if (!ask(s, lock, "opening a client", Clock::now() + answerWait,
             [&s, opened](const Call& call, std::unique_lock<std::mutex>& settle) {
                 openShared(s, *opened, call, settle);
             }))
        return Share::notAnswering;
    status = opened->status;
    return opened->share;
}

// Lets go of a share. The client stays open while its server lives; a doomed one is closed with its last
// user, on the server thread, waited for until `deadline` while the server answers. Under the mutex
// (`lock`).
void letGo(Shared& s, std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    s.changed.notify_all();
    if (--s.users > 0 || !doomed(s)) return;
    const auto call =
        s.server.post("closing the client", false, [&s](const Call&, std::unique_lock<std::mutex>& settle) {
            settle.lock();
            closeIfDoomed(s, settle);
        });
    if (answering(s)) (void)s.server.await(lock, *call, deadline);
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
        Shared& s = shared();
        s.cycles.fetch_add(1, std::memory_order_relaxed);
        // Read once a stream is in its slot: the client is then fixed, as that stream holds a share of it.
        std::optional<jack_nframes_t> frameTime;
        forEachStream([&](JackStream& stream) {
            if (!frameTime) frameTime = jack_last_frame_time(s.client);
            stream.process(frames, *frameTime);
        });
        return 0;
    }
    static void shutdown(jack_status_t status, const char* reason, void*) {
        Shared& s = shared();
        std::strncpy(s.reason, reason ? reason : "", sizeof s.reason - 1);
        s.shutdownStatus.store(status, std::memory_order_relaxed);
        s.serverGone.store(true, std::memory_order_release);
    }
    // jackd's libjack calls only the callback above when both are set; PipeWire's calls only this one, at
    // once when its connection to the server breaks, but also for any error its server reports, after
    // which the server may go on running the client: gone() decides by the process callback.
    static void connectionLost(void*) {
        Shared& s = shared();
        if (s.serverGone.load(std::memory_order_acquire)) return;
        std::strncpy(s.reason, "connection lost", sizeof s.reason - 1);
        s.cyclesWhenTold.store(s.cycles.load(std::memory_order_relaxed), std::memory_order_relaxed);
        s.toldAt.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
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

jack_client_t* openClient(Shared& s, jack_status_t& status) {
    static const bool quiet = [] {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
        return true;
    }();
    (void)quiet;
    // No client is open (only this thread opens and closes them), and libjack's threads of the last one are
    // gone: nothing reads these.
    s.serverGone.store(false, std::memory_order_relaxed);
    s.toldAt.store(0, std::memory_order_relaxed);
    s.reason[0] = '\0';
    s.shutdownStatus.store(0, std::memory_order_relaxed);
    for (Slot& slot : s.slots) slot.readers.store(0);
    const std::string name = std::string(JackClients::jackClientPrefix) + std::to_string(getpid());
    status = {};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) {
        Log::debug(Log::Area::audio, "JACK: cannot open client " + name + ": " + describeStatus(status));
        return nullptr;
    }
    jack_set_process_callback(client, &JackCallbacks::process, nullptr);
    jack_on_info_shutdown(client, &JackCallbacks::shutdown, nullptr);
    jack_on_shutdown(client, &JackCallbacks::connectionLost, nullptr);
    jack_set_client_registration_callback(client, &JackCallbacks::clientRegistration, nullptr);
    jack_set_xrun_callback(client, &JackCallbacks::xrun, nullptr);
    return client;
}

void closeClient(Shared& s, jack_client_t* client, const std::string& name) {
    jack_client_close(client);
    if (!s.serverGone.load(std::memory_order_acquire)) return;
    std::string why = s.reason;
    if (const int status = s.shutdownStatus.load(std::memory_order_relaxed); status != 0)
        why += "; " + describeStatus(status);
    Log::info(Log::Area::audio, "JACK: closed " + name + " after the server stopped (" + why + ")");
}

// The devices that `client` sees.
JackClients::Listing read(jack_client_t* client) {
    using JackClients::Device;
    JackClients::Listing listing;
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
    return listing;
}

// Our sentence for the user; libjack's status, when it gave one, is the code and goes to the log decoded.
Error streamError(std::string text, int status = 0) {
    if (status == 0) return AudioErrors::make(std::move(text));
    const std::string said = describeStatus(status);
    return AudioErrors::make(std::move(text), {"JACK", status, said}, status);
}

}  // namespace

namespace JackClients {

std::optional<Listing> list(bool* stopped) {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    if (stopped) *stopped = false;
    if (!answering(s)) {
        Log::debug(Log::Area::audio, "JACK: not listed: " + failureText(Share::notAnswering));
        return std::nullopt;
    }
    const auto deadline = Clock::now() + answerWait;
    if (!waitForDeadClient(s, lock, deadline)) {
        Log::warning(Log::Area::audio, "JACK: " + failureText(Share::deadClientOpen));
        if (stopped) *stopped = true;
        return std::nullopt;
    }
    struct Listed {
        std::optional<Listing> listing;
        bool sawStop = false;
    };
    auto listed = std::make_shared<Listed>();
    const bool answered =
        ask(s, lock, "listing", deadline, [&s, listed](const Call&, std::unique_lock<std::mutex>& settle) {
            settle.lock();
            listed->sawStop = s.client && gone(s);
            jack_status_t status{};
            ensureClient(s, settle, status);
            // A stopped server's client that a stream still holds lists nothing.
            jack_client_t* client = s.client && !gone(s) ? s.client : nullptr;
            settle.unlock();
            // The client stays open while this runs: only this thread closes it.
            if (client) listed->listing = read(client);
            settle.lock();
        });
    if (!answered) return std::nullopt;
    if (stopped) *stopped = !listed->listing && listed->sawStop;
    return std::move(listed->listing);
}

ServerThread& server() { return shared().server; }

bool answering() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    return answering(s);
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
    jack_status_t status{};
    if (const Share share = take(s, lock, status); share != Share::taken)
        return share == Share::noServer ? streamError(failureText(share), status)
                                        : streamError(failureText(share));
    const auto free = std::find(s.reserved.begin(), s.reserved.end(), false);
    if (free == s.reserved.end()) {
        letGo(s, lock, Clock::now() + closeWait);
        return streamError("Too many JACK streams at once");
    }
    *free = true;
    slot_ = static_cast<int>(free - s.reserved.begin());
    struct Made {
        std::vector<void*> inputs, outputs;
        bool all = false;
    };
    auto made = std::make_shared<Made>();
    const bool answered =
        ask(s, lock, "registering ports", Clock::now() + answerWait,
            [made, client = s.client, name = name_, inputs = input_.device.empty() ? 0 : input_.channels,
             outputs = output_.device.empty() ? 0 : output_.channels](const Call&,
                                                                      std::unique_lock<std::mutex>& settle) {
                auto makePorts = [&](int count, const char* kind, unsigned long flags,
                                     std::vector<void*>& ports) {
                    for (int k = 1; k <= count; ++k) {
                        const std::string port = name + kind + std::to_string(k);
                        jack_port_t* p =
                            jack_port_register(client, port.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
                        if (!p) return false;
                        ports.push_back(p);
                    }
                    return true;
                };
                made->all = makePorts(inputs, "-in_", JackPortIsInput, made->inputs) &&
                            makePorts(outputs, "-out_", JackPortIsOutput, made->outputs);
                settle.lock();
            });
    if (answered) {
        inputPorts_ = made->inputs;
        outputPorts_ = made->outputs;
    }
    if (!answered || !made->all) {
        lock.unlock();
        close();
        return streamError(answered ? "Cannot make the ports of the JACK stream"
                                    : failureText(Share::notAnswering));
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
    if (!isOpen()) return streamError("The JACK server is not running");
    Shared& s = shared();
    hooks_ = hooks;
    settlingPeriods_ = inputPorts_.empty() ? 0 : 1;
    clockKnown_ = false;
    inputLost_ = false;
    connected_.store(false, std::memory_order_release);
    bool answered = true;
    bool active = false;
    {
        std::unique_lock lock(s.mutex);
        if (!s.active)
            answered = ask(s, lock, "activating the client", Clock::now() + answerWait,
                           [&s, client = s.client](const Call&, std::unique_lock<std::mutex>& settle) {
                               const int r = jack_activate(client);
                               if (r != 0)
                                   Log::warning(Log::Area::audio,
                                                "JACK: jack_activate failed (" + std::to_string(r) + ")");
                               settle.lock();
                               if (r == 0) s.active = true;
                           });
        active = s.active;
    }
    if (!active) {
        close();
        return streamError(answered ? "The JACK server refused to start the stream"
                                    : failureText(Share::notAnswering));
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
    std::vector<std::string> own;
    for (int k = 0; k < direction.channels; ++k)
        own.emplace_back(jack_port_name(
            static_cast<jack_port_t*>((input ? inputPorts_ : outputPorts_)[static_cast<std::size_t>(k)])));
    auto failed = std::make_shared<std::string>();  // why, when it failed
    std::unique_lock lock(s.mutex);
    const bool answered =
        ask(s, lock, "connecting ports", Clock::now() + answerWait,
            [failed, client = s.client, direction, input, own](const Call&,
                                                               std::unique_lock<std::mutex>& settle) {
                const auto theirs = devicePorts(client, direction.device, !input);
                if (theirs.empty()) {
                    *failed = "The audio device " + direction.device + " is no longer available";
                } else if (static_cast<int>(theirs.size()) < direction.channels) {
                    *failed = "The audio device " + direction.device + " no longer has " +
                              std::to_string(direction.channels) + (input ? " inputs" : " outputs");
                } else {
                    for (std::size_t k = 0; k < own.size() && failed->empty(); ++k) {
                        const std::string& other = theirs[k];
                        const int r = input ? jack_connect(client, other.c_str(), own[k].c_str())
                                            : jack_connect(client, own[k].c_str(), other.c_str());
                        if (r != 0 && r != EEXIST) {
                            Log::warning(Log::Area::audio, "JACK: jack_connect " + own[k] + " and " + other +
                                                               " failed (" + std::to_string(r) + ")");
                            *failed = "Cannot connect to " + other;
                        }
                    }
                }
                settle.lock();
            });
    lock.unlock();
    if (answered && failed->empty()) return Status::success();
    close();
    return streamError(answered ? *failed : failureText(Share::notAnswering));
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
        const auto deadline = Clock::now() + closeWait;
        std::unique_lock lock(s.mutex);
        // A dead or stalled server's client drops its ports when it closes; asking now would fail or wait.
        std::vector<void*> ports = inputPorts_;
        ports.insert(ports.end(), outputPorts_.begin(), outputPorts_.end());
        if (!ports.empty() && !gone(s) && answering(s))
            (void)ask(s, lock, "unregistering ports", deadline,
                      [client = s.client, ports](const Call&, std::unique_lock<std::mutex>& settle) {
                          for (void* port : ports)
                              jack_port_unregister(client, static_cast<jack_port_t*>(port));
                          settle.lock();
                      });
        s.reserved[static_cast<std::size_t>(slot_)] = false;
        letGo(s, lock, deadline);
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

void JackStream::stalled() {
    if (!isOpen()) return;
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.stalled)
        Log::warning(Log::Area::audio, "JACK: " + s.clientName +
                                           " is no longer called back; it is let go as a stopped server's");
    s.stalled = true;
}

bool JackStream::doomed() const { return isOpen() && gone(shared()); }

std::string JackStream::describe() const {
    std::string text = shared().clientName + ":" + name_;
    if (!input_.device.empty()) text += ", " + std::to_string(input_.channels) + " in from " + input_.device;
    if (!output_.device.empty())
        text += ", " + std::to_string(output_.channels) + " out to " + output_.device;
    return text;
}

// Audio thread.
void JackStream::process(std::uint32_t frames, std::uint32_t frameTime) {
    periods_.fetch_add(1, std::memory_order_relaxed);
    // The server's frame clock moves on by one period per cycle. A period that does not follow the last one
    // came after cycles this client never saw (PipeWire's libjack skips the cycles of a client that is late,
    // and tells no xrun), or ran on another cycle's clock (a late callback reads the next cycle's time, and
    // the one after it reads that time again, with silence on a looped port): its input is dropped too.
    const bool clockJumped = clockKnown_ && frameTime != nextFrameTime_;
    clockKnown_ = true;
    nextFrameTime_ = frameTime + frames;
    const bool told = xrunPending_.exchange(false, std::memory_order_acq_rel);
    if (clockJumped && !told) xruns_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t c = 0; c < outputPorts_.size(); ++c) {
        auto* out =
            static_cast<float*>(jack_port_get_buffer(static_cast<jack_port_t*>(outputPorts_[c]), frames));
        std::memset(out, 0, sizeof(float) * frames);
        outputPointers_[c] = out;
    }
    if (!connected_.load(std::memory_order_acquire)) return;
    if (!inputPorts_.empty()) {
        if (clockJumped) {
            inputLost_ = true;
        } else {
            for (std::size_t c = 0; c < inputPorts_.size(); ++c)
                inputPointers_[c] = static_cast<const float*>(
                    jack_port_get_buffer(static_cast<jack_port_t*>(inputPorts_[c]), frames));
            TapCollector::Period flags;
            flags.overflow = told || inputLost_;
            inputLost_ = false;
            if (settlingPeriods_ > 0)
                --settlingPeriods_;
            else
                hooks_.collector->push(inputPointers_.data(), frames, flags, *hooks_.tap);
        }
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
