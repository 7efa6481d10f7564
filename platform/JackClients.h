#pragma once
// This program's JACK clients: the device list, and the stream through which an engine plays and
// captures on JACK devices (RtAudio's JACK backend is not used).
//
// Under JACK a "device" is a client with audio ports, in the order of its first port; its capture channels
// are its output ports and its playback channels its input ports. Clients of this program (named with
// jackClientPrefix) are not devices. Devices are found and connected by their exact client name.
//
// Opening and closing. Every client of the process opens and closes under one process-wide lock. Once a
// server has died, libjack's next jack_client_open tears down its process-wide state and deletes every
// client of the process that is still open, so a later jack_client_close of one of them would free it a
// second time. Hence a client opened before a server death is doomed: its stream's owner closes it as soon
// as it notices (JackStream::doomed()), and an open first waits until no doomed client is left.
//
// libjack's own messages are dropped rather than printed: they come from libjack's threads, which
// closing a client cancels asynchronously, and nothing there may hold a lock or an output stream.
//
// Threads: one owner thread per object unless stated.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class TapCollector;

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

// The server's devices; nullopt when no server answers. Opens and closes a short-lived client. Any thread.
std::optional<Listing> list();

// A client name for one of this program's clients, unique in the process. Any thread.
std::string uniqueClientName(const char* role);

}  // namespace JackClients

// One run of an engine's JACK directions: a client of this program with an input port per captured
// channel and an output port per played channel, each connected by exact name to the device's port of the
// same number. One process callback serves both directions.
class JackStream {
public:
    struct Direction {
        std::string device;  // the device's client name; empty: this direction is not used
        int channels = 0;
    };
    // What the process callback drives; fixed for the run and owned by the engine. Audio thread only
    // while the stream runs.
    struct Hooks {
        TapCollector* collector = nullptr;  // with the input
        const AudioTap* tap = nullptr;
        const AudioRender* render = nullptr;  // with the output
    };

    JackStream() = default;
    ~JackStream() { close(); }
    JackStream(const JackStream&) = delete;
    JackStream& operator=(const JackStream&) = delete;

    // Opens the client and registers its ports; nothing runs yet. On failure nothing stays open.
    Status open(const Direction& input, const Direction& output);
    // Frames of the server's period, for the collector (after open()).
    std::int64_t periodFrames() const;
    // Starts the callback and connects the ports (after open(); the collector prepared). The callback
    // delivers nothing until every connection is made, and drops the first captured period after that,
    // which may have run on the connections only partly made.
    Status start(Hooks hooks);
    // Closes the client; harmless when closed. Returns only when no callback runs any more. The owner
    // thread, or a watcher thread that the owner joins before it calls anything else.
    void close();
    bool isOpen() const { return client_ != nullptr; }

    // Any thread.
    // The server stopped (or died before this client noticed): close() now, before anything else opens.
    bool doomed() const;
    // A connected device's client left the server.
    bool deviceGone() const { return deviceGone_.load(std::memory_order_acquire); }
    // Process callbacks run so far, and periods that followed lost ones (xruns).
    std::uint64_t periods() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const { return xruns_.load(std::memory_order_relaxed); }

private:
    friend struct JackCallbacks;  // libjack's callbacks, with libjack's types
    void process(std::uint32_t frames);
    Status connect(const Direction& direction, bool input);

    void* client_ = nullptr;        // jack_client_t
    std::uint64_t generation_ = 0;  // server deaths noted before the client opened
    std::string name_;
    Direction input_;
    Direction output_;
    std::vector<void*> inputPorts_;   // jack_port_t, fixed while the client is open
    std::vector<void*> outputPorts_;  // likewise
    Hooks hooks_;

    // Audio thread state, sized in open().
    std::vector<const float*> inputPointers_;
    std::vector<float*> outputPointers_;
    int settlingPeriods_ = 0;

    // Set by start() once every port is connected (release), read by the callback (acquire).
    std::atomic<bool> connected_{false};
    // close() raises closing_ and then waits while inProcess_ is set; the callback sets inProcess_ and then
    // reads closing_. Both sequentially consistent, so one of the two always sees the other's store and
    // no callback is inside the tap or render once the client is closed (libjack may cancel its thread
    // anywhere, so nothing of ours must be running there).
    std::atomic<bool> closing_{false};
    std::atomic<bool> inProcess_{false};
    // Written by libjack's threads, read anywhere.
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> deviceGone_{false};
    std::atomic<bool> xrunPending_{false};
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::uint64_t> xruns_{0};
};

}  // namespace quorvel
