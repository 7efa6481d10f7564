#pragma once
// What the RtAudio layer needs of JACK beyond RtAudio: an exact device list (RtAudio matches client
// names as unanchored patterns, so "mic" would also count the ports of "mic2"), port connections made by
// exact name, and a watch that notices the server stopping or the device's client leaving (RtAudio keeps
// a stream running on silence when the client it is connected to goes away).
//
// Under JACK a "device" is a client with audio ports, in the order of its first port; its capture channels
// are its output ports and its playback channels its input ports. Clients of this program (named with
// jackClientPrefix) are not devices.
//
// Threads: one owner thread per object; JackWatch's flags may be read from any thread.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

namespace JackClients {

inline constexpr const char* jackClientPrefix = "quorvel-";

struct Device {
    std::string name;
    int captureChannels = 0;
    int playbackChannels = 0;
};

struct Listing {
    std::vector<Device> devices;
    double sampleRateHz = 0;
};

// The server's devices; nullopt when no server answers. Opens and closes a short-lived client.
std::optional<Listing> list();

// A client name for one of this program's streams, unique in the process.
std::string uniqueClientName(const char* role);

}  // namespace JackClients

// A JACK client that watches one run of an engine and makes its connections.
class JackWatch {
public:
    JackWatch() = default;
    ~JackWatch();
    JackWatch(const JackWatch&) = delete;
    JackWatch& operator=(const JackWatch&) = delete;

    // Opens the watching client and reports when any of `deviceNames` leaves. False: no server.
    bool open(const std::vector<std::string>& deviceNames);

    double sampleRateHz() const;
    // The index RtAudio gives the client `name` now, or -1.
    int rtAudioIndex(const std::string& name) const;
    // Audio ports of the client `client`, in the server's order: its inputs (playback) or outputs (capture).
    std::vector<std::string> ports(const std::string& client, bool playback) const;
    // Connects two ports by full name; false on failure.
    bool connect(const std::string& source, const std::string& destination);

    // Any thread.
    bool serverGone() const { return serverGone_.load(std::memory_order_acquire); }
    bool deviceGone() const { return deviceGone_.load(std::memory_order_acquire); }

private:
    static void onShutdown(void* self);
    static void onClientRegistration(const char* name, int registered, void* self);

    void* client_ = nullptr;            // jack_client_t
    std::vector<std::string> watched_;  // fixed while the client is active
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> deviceGone_{false};
};

}  // namespace quorvel
