#include "platform/JackClients.h"

#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {

void silent(const char*) {}

jack_client_t* openClient(const std::string& name) {
    // libjack prints every failed connection attempt; the callers report failures themselves.
    static const bool quiet = [] {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
        return true;
    }();
    (void)quiet;
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

std::string clientOf(const char* port) {
    const char* colon = std::strchr(port, ':');
    return colon ? std::string(port, colon) : std::string();
}

bool ours(const std::string& client) { return client.rfind(JackClients::jackClientPrefix, 0) == 0; }

std::vector<std::string> portNames(jack_client_t* client, const char* type, unsigned long flags) {
    std::vector<std::string> names;
    if (const char** ports = jack_get_ports(client, nullptr, type, flags)) {
        for (const char** p = ports; *p; ++p) names.emplace_back(*p);
        jack_free(ports);
    }
    return names;
}

}  // namespace

namespace JackClients {

std::optional<Listing> list() {
    jack_client_t* client = openClient(uniqueClientName("list"));
    if (!client) return std::nullopt;
    Listing listing;
    listing.sampleRateHz = jack_get_sample_rate(client);
    auto count = [&](unsigned long flags, auto member) {
        for (const auto& port : portNames(client, JACK_DEFAULT_AUDIO_TYPE, flags)) {
            const std::string name = clientOf(port.c_str());
            if (name.empty() || ours(name)) continue;
            auto it = std::find_if(listing.devices.begin(), listing.devices.end(),
                                   [&](const Device& d) { return d.name == name; });
            if (it == listing.devices.end()) it = listing.devices.insert(it, Device{name});
            ++((*it).*member);
        }
    };
    // First the order of all audio ports, so that devices stand in the order of their first port.
    for (const auto& port : portNames(client, JACK_DEFAULT_AUDIO_TYPE, 0)) {
        const std::string name = clientOf(port.c_str());
        if (name.empty() || ours(name)) continue;
        if (std::none_of(listing.devices.begin(), listing.devices.end(),
                         [&](const Device& d) { return d.name == name; }))
            listing.devices.push_back(Device{name});
    }
    count(JackPortIsOutput, &Device::captureChannels);
    count(JackPortIsInput, &Device::playbackChannels);
    jack_client_close(client);
    return listing;
}

std::string uniqueClientName(const char* role) {
    static std::atomic<int> counter{0};
    return std::string(jackClientPrefix) + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
           role;
}

}  // namespace JackClients

JackWatch::~JackWatch() {
    if (client_) jack_client_close(static_cast<jack_client_t*>(client_));
}

bool JackWatch::open(const std::vector<std::string>& deviceNames) {
    watched_ = deviceNames;
    auto* client = openClient(JackClients::uniqueClientName("watch"));
    if (!client) return false;
    client_ = client;
    jack_on_shutdown(client, &JackWatch::onShutdown, this);
    jack_set_client_registration_callback(client, &JackWatch::onClientRegistration, this);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        client_ = nullptr;
        return false;
    }
    // A device that left between listing and now would never be reported.
    for (const auto& name : watched_)
        if (ports(name, true).empty() && ports(name, false).empty())
            deviceGone_.store(true, std::memory_order_release);
    return true;
}

double JackWatch::sampleRateHz() const {
    return client_ ? jack_get_sample_rate(static_cast<jack_client_t*>(client_)) : 0.0;
}

int JackWatch::rtAudioIndex(const std::string& name) const {
    if (!client_) return -1;
    // RtAudio numbers the runs of equal client names in the list of all ports of every type.
    int index = -1;
    std::string previous;
    for (const auto& port : portNames(static_cast<jack_client_t*>(client_), nullptr, 0)) {
        const std::string client = clientOf(port.c_str());
        if (client.empty() || client == previous) continue;
        previous = client;
        ++index;
        if (client == name) return index;
    }
    return -1;
}

std::vector<std::string> JackWatch::ports(const std::string& client, bool playback) const {
    std::vector<std::string> result;
    if (!client_) return result;
    const std::string prefix = client + ":";
    for (auto& port : portNames(static_cast<jack_client_t*>(client_), JACK_DEFAULT_AUDIO_TYPE,
                                playback ? JackPortIsInput : JackPortIsOutput))
        if (port.rfind(prefix, 0) == 0) result.push_back(std::move(port));
    return result;
}

bool JackWatch::connect(const std::string& source, const std::string& destination) {
    if (!client_) return false;
    const int r = jack_connect(static_cast<jack_client_t*>(client_), source.c_str(), destination.c_str());
    return r == 0 || r == EEXIST;
}

void JackWatch::onShutdown(void* self) {
    static_cast<JackWatch*>(self)->serverGone_.store(true, std::memory_order_release);
}

void JackWatch::onClientRegistration(const char* name, int registered, void* self) {
    auto* watch = static_cast<JackWatch*>(self);
    if (registered) return;
    for (const auto& watched : watch->watched_)
        if (watched == name) watch->deviceGone_.store(true, std::memory_order_release);
}

}  // namespace quorvel
